#include "server/ConnectionPool.h"
#include "server/Store.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <string_view>

namespace vendoremp::server {

namespace {

constexpr int busyTimeoutMs = 5000;

// A name must show something: the control's parser drops blank-only text, and an empty field
// stops its load.
constexpr const char *schema = R"sql(
CREATE TABLE IF NOT EXISTS employees (
    ID INTEGER PRIMARY KEY,
    name TEXT NOT NULL CHECK (trim(name, ' ' || char(9) || char(10) || char(13)) <> ''),
    active INTEGER NOT NULL DEFAULT 1 CHECK (active IN (0, 1))
);
CREATE TABLE IF NOT EXISTS vendors (
    ID INTEGER PRIMARY KEY,
    name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorEmployeeCrossReference (
    VendorID INTEGER NOT NULL REFERENCES vendors (ID),
    EmployeeID INTEGER NOT NULL REFERENCES employees (ID),
    RecordLastUpdated TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now')),
    PRIMARY KEY (VendorID, EmployeeID)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS VendorEmployeeCrossReference_EmployeeID
    ON VendorEmployeeCrossReference (EmployeeID);
CREATE TABLE IF NOT EXISTS VendorEmployeeAudit (
    ID INTEGER PRIMARY KEY,
    ChangedAt TEXT NOT NULL,
    UserName TEXT NOT NULL,
    ClientAddress TEXT NOT NULL,
    VendorID INTEGER NOT NULL,
    EmployeeID INTEGER NOT NULL,
    Action TEXT NOT NULL CHECK (Action IN ('link', 'unlink'))
);
CREATE INDEX IF NOT EXISTS VendorEmployeeAudit_Pair
    ON VendorEmployeeAudit (VendorID, EmployeeID);
)sql";

constexpr const char *sqlVendorExists = "SELECT 1 FROM vendors WHERE ID = ?1";
// Both in key order, walked side by side: one pass over each table, where a query per list
// would look up every employee in the links (or every link in the employees) and sort.
constexpr const char *sqlEmployees = "SELECT ID, name, active <> 0 FROM employees ORDER BY ID";
constexpr const char *sqlLinkedIds = "SELECT EmployeeID FROM VendorEmployeeCrossReference "
                                     "WHERE VendorID = ?1 ORDER BY EmployeeID";
constexpr const char *sqlEmployeeExists = "SELECT 1 FROM employees WHERE ID = ?1";
constexpr const char *sqlLinkOne =
    "INSERT INTO VendorEmployeeCrossReference (VendorID, EmployeeID) VALUES (?1, ?2) "
    "ON CONFLICT DO NOTHING";
constexpr const char *sqlUnlinkOne =
    "DELETE FROM VendorEmployeeCrossReference WHERE VendorID = ?1 AND EmployeeID = ?2";
// Many employee IDs go as one JSON array, one statement for all of them: a statement per ID
// costs its own round through the engine, and evaluating the time stamp's default for every row
// as much again. Below kArrayFrom IDs the statement per ID is the cheaper.
constexpr std::size_t kArrayFrom = 16;
constexpr const char *sqlNow = "SELECT strftime('%Y-%m-%d %H:%M:%f', 'now')";
constexpr const char *sqlMissingEmployees =
    "SELECT j.value FROM json_each(?1) j WHERE NOT EXISTS ("
    "SELECT 1 FROM employees e WHERE e.ID = j.value)";
// The WHERE keeps the parser from taking ON CONFLICT for the ON of a join.
constexpr const char *sqlLinkArray =
    "INSERT INTO VendorEmployeeCrossReference (VendorID, EmployeeID, RecordLastUpdated) "
    "SELECT ?1, j.value, ?3 FROM json_each(?2) j WHERE true ON CONFLICT DO NOTHING "
    "RETURNING EmployeeID";
constexpr const char *sqlUnlinkArray =
    "DELETE FROM VendorEmployeeCrossReference WHERE VendorID = ?1 AND EmployeeID IN ("
    "SELECT j.value FROM json_each(?2) j) RETURNING EmployeeID";
constexpr const char *sqlAuditOne =
    "INSERT INTO VendorEmployeeAudit (ChangedAt, UserName, ClientAddress, VendorID, EmployeeID, "
    "Action) VALUES (strftime('%Y-%m-%d %H:%M:%f', 'now'), ?1, ?2, ?3, ?4, ?5)";
constexpr const char *sqlAuditArray =
    "INSERT INTO VendorEmployeeAudit (ChangedAt, UserName, ClientAddress, VendorID, EmployeeID, "
    "Action) SELECT ?6, ?1, ?2, ?3, j.value, ?5 FROM json_each(?4) j";
constexpr const char *sqlAnyEmployee = "SELECT 1 FROM employees LIMIT 1";
constexpr const char *sqlSeedVendor = "INSERT INTO vendors (ID, name) VALUES (?1, ?2)";
constexpr const char *sqlSeedEmployee =
    "INSERT INTO employees (ID, name, active) VALUES (?1, ?2, ?3)";
constexpr const char *sqlSeedLink =
    "INSERT INTO VendorEmployeeCrossReference (VendorID, EmployeeID) VALUES (?1, ?2)";

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) !=
            SQLITE_OK)
            throw StoreError(std::string("sqlite: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &start()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return *this;
    }
    Statement &bind(int index, std::int64_t value)
    {
        check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    Statement &bind(int index, std::string_view text)
    {
        check(sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    /// Binds without a copy: the text must outlive the statement's run.
    Statement &bindStatic(int index, std::string_view text)
    {
        check(sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_STATIC,
                                  SQLITE_UTF8));
        return *this;
    }
    /// True while there is a row to read.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const std::string message = sqlite3_errmsg(m_db);
        sqlite3_reset(m_stmt);
        throw StoreError("sqlite: " + message);
    }
    /// Runs a statement that returns no row; gives the number of rows it changed.
    std::int64_t run()
    {
        while (step()) {
        }
        return sqlite3_changes64(m_db);
    }
    /// Whether the query gives a row; the statement is reset at once, so that it holds no
    /// snapshot open (which would keep the WAL from being checkpointed).
    bool exists()
    {
        const bool row = step();
        sqlite3_reset(m_stmt);
        return row;
    }
    /// Ends a query early, so that it holds no snapshot open.
    void reset() { sqlite3_reset(m_stmt); }
    std::int64_t int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isInteger(int column) const
    {
        return sqlite3_column_type(m_stmt, column) == SQLITE_INTEGER;
    }
    /// Valid until the next step.
    std::string_view text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return data ? std::string_view(data, std::size_t(sqlite3_column_bytes(m_stmt, column)))
                    : std::string_view();
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            throw StoreError(std::string("sqlite: ") + sqlite3_errmsg(m_db));
    }
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

class Connection
{
public:
    explicit Connection(const std::string &path)
    {
        const int rc = sqlite3_open_v2(
            path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
            nullptr);
        if (rc != SQLITE_OK) {
            const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
            sqlite3_close(m_db);
            throw StoreError("sqlite: cannot open " + path + ": " + message);
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
        try {
            exec("PRAGMA journal_mode = WAL");
            exec("PRAGMA synchronous = NORMAL"); // durable enough in WAL mode, and much faster
            exec("PRAGMA foreign_keys = ON");
        } catch (...) {
            sqlite3_close(m_db);
            throw;
        }
    }
    ~Connection()
    {
        m_statements.clear();
        sqlite3_close(m_db);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void rollback() noexcept
    {
        // SQLite has already rolled back when a failure ended the transaction; then this fails.
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    void exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : sqlite3_errmsg(m_db);
            sqlite3_free(error);
            throw StoreError("sqlite: " + message);
        }
    }

    /// Prepared once per connection, reused for every request.
    Statement &statement(const char *sql)
    {
        auto it = m_statements.find(sql);
        if (it == m_statements.end())
            it = m_statements.emplace(sql, std::make_unique<Statement>(m_db, sql)).first;
        return it->second->start();
    }

private:
    sqlite3 *m_db = nullptr;
    std::map<const char *, std::unique_ptr<Statement>> m_statements;
};

using Transaction = server::Transaction<Connection>;

// Resets a query when it goes out of scope, however the scope is left.
class Running
{
public:
    explicit Running(Statement &statement) : m_statement(statement) {}
    ~Running() { m_statement.reset(); }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
    Statement *operator->() const { return &m_statement; }

private:
    Statement &m_statement;
};

// "[1,2,3]"
std::string jsonArray(std::span<const std::int64_t> ids)
{
    std::string text;
    text.reserve(2 + ids.size() * 8);
    text += '[';
    char buffer[24];
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i)
            text += ',';
        text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, ids[i]).ptr);
    }
    text += ']';
    return text;
}

class Steps final : public SaveSteps
{
public:
    Steps(Connection &connection, const Actor &actor) : m_connection(connection), m_actor(actor)
    {
    }

    std::vector<std::int64_t> missingVendors(std::span<const std::int64_t> ids) override
    {
        std::vector<std::int64_t> missing;
        for (std::int64_t id : ids) {
            if (!m_connection.statement(sqlVendorExists).bind(1, id).exists())
                missing.push_back(id);
        }
        return missing;
    }

    std::vector<std::int64_t> missingEmployees(std::span<const std::int64_t> ids) override
    {
        std::vector<std::int64_t> missing;
        if (ids.size() < kArrayFrom) {
            for (std::int64_t id : ids) {
                if (!m_connection.statement(sqlEmployeeExists).bind(1, id).exists())
                    missing.push_back(id);
            }
            return missing;
        }
        const std::string array = jsonArray(ids);
        const Running query(m_connection.statement(sqlMissingEmployees).bindStatic(1, array));
        while (query->step())
            missing.push_back(query->int64(0));
        std::sort(missing.begin(), missing.end());
        return missing;
    }

    std::int64_t apply(const Batch &batch) override
    {
        const char *action = batch.link ? "link" : "unlink";
        std::int64_t changed = 0;
        if (batch.employeeIds.size() < kArrayFrom) {
            for (std::int64_t id : batch.employeeIds) {
                if (m_connection.statement(batch.link ? sqlLinkOne : sqlUnlinkOne)
                        .bind(1, batch.vendorId)
                        .bind(2, id)
                        .run() == 0)
                    continue;
                ++changed;
                m_connection.statement(sqlAuditOne)
                    .bind(1, m_actor.user)
                    .bind(2, m_actor.address)
                    .bind(3, batch.vendorId)
                    .bind(4, id)
                    .bind(5, action)
                    .run();
            }
            return changed;
        }
        if (m_now.empty()) { // one time stamp for what the save writes by array
            const Running clock(m_connection.statement(sqlNow));
            if (!clock->step())
                throw StoreError("sqlite: no current time");
            m_now = clock->text(0);
        }
        const std::string ids = jsonArray(batch.employeeIds);
        std::vector<std::int64_t> done;
        {
            Statement &statement = batch.link ? m_connection.statement(sqlLinkArray)
                                                    .bind(1, batch.vendorId)
                                                    .bindStatic(2, ids)
                                                    .bindStatic(3, m_now)
                                              : m_connection.statement(sqlUnlinkArray)
                                                    .bind(1, batch.vendorId)
                                                    .bindStatic(2, ids);
            const Running rows(statement);
            while (rows->step())
                done.push_back(rows->int64(0));
        }
        if (done.empty())
            return 0;
        std::sort(done.begin(), done.end());
        const std::string doneIds = jsonArray(done);
        m_connection.statement(sqlAuditArray)
            .bind(1, m_actor.user)
            .bind(2, m_actor.address)
            .bind(3, batch.vendorId)
            .bindStatic(4, doneIds)
            .bind(5, action)
            .bindStatic(6, m_now)
            .run();
        return std::int64_t(done.size());
    }

private:
    Connection &m_connection;
    const Actor &m_actor;
    std::string m_now;
};

class SqliteStore final : public Store
{
public:
    explicit SqliteStore(const std::string &path)
        : m_path(path), m_pool([path] { return std::make_unique<Connection>(path); })
    {
        auto connection = m_pool.acquire();
        Transaction tx(*connection, "BEGIN IMMEDIATE");
        connection->exec(schema);
        tx.commit();
        // Saves need the JSON functions, built in since SQLite 3.38: better refused at start
        // than at the first save.
        try {
            connection->statement(sqlMissingEmployees);
        } catch (const StoreError &e) {
            throw StoreError(std::string(e.what()) + " (this SQLite lacks the JSON functions)");
        }
    }

    bool vendorEmployees(std::int64_t vendorId, EmployeeDocumentWriter &document) override
    {
        auto connection = m_pool.acquire();
        Transaction tx(*connection, "BEGIN"); // one snapshot for the counts and both lists
        if (!connection->statement(sqlVendorExists).bind(1, vendorId).exists())
            return false;
        {
            const Running employees(connection->statement(sqlEmployees));
            const Running links(connection->statement(sqlLinkedIds).bind(1, vendorId));
            // A link whose employee ID is no integer names no employee.
            std::int64_t linkedId = 0;
            const auto nextLink = [&] {
                while (links->step()) {
                    if (links->isInteger(0)) {
                        linkedId = links->int64(0);
                        return true;
                    }
                }
                return false;
            };
            bool haveLink = nextLink();
            while (employees->step()) {
                const std::int64_t id = employees->int64(0);
                while (haveLink && linkedId < id)
                    haveLink = nextLink(); // a link to no employee
                if (haveLink && linkedId == id) {
                    document.addSelected(id, employees->text(1));
                    haveLink = nextLink();
                } else if (employees->int64(2) != 0) {
                    document.addNonSelected(id, employees->text(1));
                }
            }
        }
        tx.commit();
        return true;
    }

    void ping() override
    {
        auto connection = m_pool.acquire();
        Transaction tx(*connection, "BEGIN IMMEDIATE"); // waits as a save would
        connection->statement(sqlAnyEmployee).exists();
    }

    ApplyResult apply(std::span<const LinkChange> changes, const Actor &actor) override
    {
        if (changes.empty()) {
            ApplyResult nothing;
            nothing.applied = true;
            return nothing;
        }
        auto connection = m_pool.acquire();
        // IMMEDIATE takes the write lock up front, so the checks still hold at commit.
        Transaction tx(*connection, "BEGIN IMMEDIATE");
        Steps steps(*connection, actor);
        ApplyResult result = applySave(changes, steps);
        if (result.applied)
            tx.commit();
        return result;
    }

    bool seed(const SeedData &data) override
    {
        auto connection = m_pool.acquire();
        Transaction tx(*connection, "BEGIN IMMEDIATE");
        if (connection->statement(sqlAnyEmployee).exists())
            return false;
        for (const auto &v : data.vendors)
            connection->statement(sqlSeedVendor).bind(1, v.id).bind(2, v.name).run();
        for (const auto &e : data.employees)
            connection->statement(sqlSeedEmployee)
                .bind(1, e.id)
                .bind(2, e.name)
                .bind(3, std::int64_t(e.active))
                .run();
        for (const auto &l : data.links)
            connection->statement(sqlSeedLink).bind(1, l.vendorId).bind(2, l.employeeId).run();
        tx.commit();
        return true;
    }

    std::string describe() const override { return "sqlite:" + m_path; }

private:
    std::string m_path;
    ConnectionPool<Connection> m_pool;
};

} // namespace

std::unique_ptr<Store> openSqliteStore(const std::string &path)
{
    return std::make_unique<SqliteStore>(path);
}

} // namespace vendoremp::server
