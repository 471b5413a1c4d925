#include "server/Store.h"

namespace vendoremp::server {

std::unique_ptr<Store> openStore(const std::string &database)
{
    if (database.starts_with("sqlite:")) {
        const std::string path = database.substr(7);
        if (path.empty())
            throw std::invalid_argument("sqlite: needs a file path, e.g. sqlite:vendoremp.db");
        return openSqliteStore(path);
    }
    if (database.starts_with("postgresql://") || database.starts_with("postgres://"))
        return openPostgresStore(database);
    throw std::invalid_argument("unknown database \"" + database +
                                "\": use sqlite:PATH or postgresql://...");
}

} // namespace vendoremp::server
