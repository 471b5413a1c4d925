#pragma once

// Where the vendors, employees and their links live. One small interface, two databases:
// SQLite in a file (the default, one machine) and PostgreSQL (several server processes sharing
// one database). Every call is safe from any thread; each holds a connection only while it runs.

#include "server/EmployeeDocument.h"
#include "server/StatementChecker.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendoremp::server {

/// The database failed (cannot open, a query failed, the disk is full...). Nothing was changed.
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Who makes a change, for the audit trail.
struct Actor
{
    std::string user;    // empty when no login is asked
    std::string address; // the client's IP address
};

struct ApplyResult
{
    bool applied = false;      // false: refused, nothing changed
    std::string refusal;       // why, when refused
    std::int64_t linked = 0;   // links that did not exist before
    std::int64_t unlinked = 0; // links that existed and were removed
};

struct SeedData
{
    struct Vendor
    {
        std::int64_t id;
        std::string name;
    };
    struct Person
    {
        std::int64_t id;
        std::string name;
        bool active;
    };
    struct Link
    {
        std::int64_t vendorId;
        std::int64_t employeeId;
    };
    std::vector<Vendor> vendors;
    std::vector<Person> employees;
    std::vector<Link> links;
};

class Store
{
public:
    virtual ~Store() = default;

    /// Adds the vendor's employees to the document, read in one consistent snapshot: as
    /// non-selected every active employee not linked to the vendor, as selected every employee
    /// linked to it, each by ID. False, adding nothing, for an unknown vendor.
    /// @throws StoreError
    virtual bool vendorEmployees(std::int64_t vendorId, EmployeeDocumentWriter &document) = 0;

    /// Applies the changes in order in one transaction: all or nothing. Linking a linked pair and
    /// unlinking an unlinked one change nothing. A change naming a vendor or an employee the
    /// database does not hold refuses the whole post. Every link made and every link removed is
    /// written to the audit trail in the same transaction, with the actor.
    /// @throws StoreError (nothing applied)
    virtual ApplyResult apply(std::span<const LinkChange> changes, const Actor &actor) = 0;

    /// Returns once the database has answered a query that a save would wait for too.
    /// @throws StoreError
    virtual void ping() = 0;

    /// Fills a database that holds no employee yet; returns false, changing nothing, otherwise.
    /// @throws StoreError
    virtual bool seed(const SeedData &data) = 0;

    /// For the log: the database kind and where it is, without any password.
    virtual std::string describe() const = 0;
};

/// "sqlite:PATH" or a PostgreSQL connection URI ("postgresql://..." or "postgres://...").
/// Opens the database and creates the schema when it is missing.
/// @throws std::invalid_argument for any other text, StoreError when the database cannot be used
std::unique_ptr<Store> openStore(const std::string &database);

std::unique_ptr<Store> openSqliteStore(const std::string &path);
std::unique_ptr<Store> openPostgresStore(const std::string &uri);

// What every backend does the same way; the backends only run the statements.

/// Consecutive changes of one kind for one vendor: one statement each, order kept.
struct Batch
{
    bool link;
    std::int64_t vendorId;
    std::vector<std::int64_t> employeeIds;
};
std::vector<Batch> batches(std::span<const LinkChange> changes);

/// The steps of a save inside the backend's transaction.
class SaveSteps
{
public:
    virtual ~SaveSteps() = default;
    /// Of these IDs (distinct, ascending), the ones the database does not hold, ascending.
    virtual std::vector<std::int64_t> missingVendors(std::span<const std::int64_t> ids) = 0;
    virtual std::vector<std::int64_t> missingEmployees(std::span<const std::int64_t> ids) = 0;
    /// Applies one batch and writes an audit row for each link it really changed; returns how
    /// many it changed.
    virtual std::int64_t apply(const Batch &batch) = 0;
};

/// Refuses a post naming an unknown ID with the first one met going through the post, each
/// change's vendor before its employees; otherwise applies the batches in order. The caller
/// commits when the result says applied.
ApplyResult applySave(std::span<const LinkChange> changes, SaveSteps &steps);

/// Rolls back unless committed, so every early return and every throw leaves nothing applied.
/// The connection has exec(const char *) and rollback(), which must not throw.
template <class Connection> class Transaction
{
public:
    Transaction(Connection &connection, const char *begin) : m_connection(connection)
    {
        m_connection.exec(begin);
    }
    ~Transaction()
    {
        if (!m_done)
            m_connection.rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit()
    {
        m_connection.exec("COMMIT");
        m_done = true;
    }

private:
    Connection &m_connection;
    bool m_done = false;
};

} // namespace vendoremp::server
