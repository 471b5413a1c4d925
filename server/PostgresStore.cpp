#include "server/ConnectionPool.h"
#include "server/Store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>

namespace vendoremp::server {

namespace {

constexpr const char *schema = R"sql(
CREATE TABLE IF NOT EXISTS employees (
    id BIGINT PRIMARY KEY,
    name TEXT NOT NULL CHECK (btrim(name, E' \t\r\n') <> ''),
    active BOOLEAN NOT NULL DEFAULT TRUE
);
CREATE TABLE IF NOT EXISTS vendors (
    id BIGINT PRIMARY KEY,
    name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorEmployeeCrossReference (
    VendorID BIGINT NOT NULL REFERENCES vendors (id),
    EmployeeID BIGINT NOT NULL REFERENCES employees (id),
    RecordLastUpdated TIMESTAMPTZ NOT NULL DEFAULT now(),
    PRIMARY KEY (VendorID, EmployeeID)
);
CREATE INDEX IF NOT EXISTS VendorEmployeeCrossReference_EmployeeID
    ON VendorEmployeeCrossReference (EmployeeID);
CREATE TABLE IF NOT EXISTS VendorEmployeeAudit (
    ID BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    ChangedAt TIMESTAMPTZ NOT NULL DEFAULT now(),
    UserName TEXT NOT NULL,
    ClientAddress TEXT NOT NULL,
    VendorID BIGINT NOT NULL,
    EmployeeID BIGINT NOT NULL,
    Action TEXT NOT NULL CHECK (Action IN ('link', 'unlink'))
);
CREATE INDEX IF NOT EXISTS VendorEmployeeAudit_Pair
    ON VendorEmployeeAudit (VendorID, EmployeeID);
)sql";

// Serialises schema creation and seeding between server processes starting together; a large
// seed may hold it for longer than a request would wait for a lock.
constexpr const char *lockSetup =
    "SET LOCAL lock_timeout = 0; SELECT pg_advisory_xact_lock(7406513)";

struct Prepared
{
    const char *name;
    const char *sql;
};

constexpr Prepared vendorExists{"vendor_exists", "SELECT 1 FROM vendors WHERE id = $1::bigint"};
constexpr Prepared nonSelected{
    "non_selected", "SELECT e.id, e.name FROM employees e WHERE e.active AND NOT EXISTS ("
                    "SELECT 1 FROM VendorEmployeeCrossReference x WHERE x.VendorID = $1::bigint "
                    "AND x.EmployeeID = e.id) ORDER BY e.id"};
constexpr Prepared selected{
    "selected", "SELECT e.id, e.name FROM VendorEmployeeCrossReference x JOIN employees e "
                "ON e.id = x.EmployeeID WHERE x.VendorID = $1::bigint ORDER BY e.id"};
constexpr Prepared missingVendor{"missing_vendor",
                                 "SELECT t.id FROM unnest($1::bigint[]) AS t(id) WHERE NOT EXISTS ("
                                 "SELECT 1 FROM vendors v WHERE v.id = t.id) ORDER BY t.id"};
constexpr Prepared missingEmployee{
    "missing_employee", "SELECT t.id FROM unnest($1::bigint[]) AS t(id) WHERE NOT EXISTS ("
                        "SELECT 1 FROM employees e WHERE e.id = t.id) ORDER BY t.id"};
// Rows go in key order, so that two posts touching the same links cannot wait on each other
// in a circle. Each writes an audit row for every link it really changed; the count of those
// is the count of changes.
constexpr Prepared link{
    "link", "WITH done AS (INSERT INTO VendorEmployeeCrossReference "
            "(VendorID, EmployeeID, RecordLastUpdated) "
            "SELECT $1::bigint, t.id, now() FROM unnest($2::bigint[]) AS t(id) "
            "GROUP BY t.id ORDER BY t.id ON CONFLICT DO NOTHING RETURNING EmployeeID) "
            "INSERT INTO VendorEmployeeAudit (UserName, ClientAddress, VendorID, EmployeeID, "
            "Action) SELECT $3::text, $4::text, $1::bigint, EmployeeID, 'link' FROM done "
            "ORDER BY EmployeeID"};
constexpr Prepared unlink{
    "unlink", "WITH done AS (DELETE FROM VendorEmployeeCrossReference WHERE "
              "VendorID = $1::bigint AND EmployeeID = ANY ($2::bigint[]) RETURNING EmployeeID) "
              "INSERT INTO VendorEmployeeAudit (UserName, ClientAddress, VendorID, EmployeeID, "
              "Action) SELECT $3::text, $4::text, $1::bigint, EmployeeID, 'unlink' FROM done "
              "ORDER BY EmployeeID"};
constexpr Prepared pingQuery{"ping", "SELECT 1 FROM VendorEmployeeCrossReference LIMIT 1"};
constexpr Prepared allPrepared[] = {vendorExists,    nonSelected, selected, missingVendor,
                                    missingEmployee, link,        unlink,   pingQuery};

// A failure that a second attempt of the same transaction may not meet again.
bool isTransient(const std::string &sqlState)
{
    return sqlState == "40001" /* serialization_failure */ ||
           sqlState == "40P01" /* deadlock_detected */;
}

class PgError : public StoreError
{
public:
    PgError(const std::string &message, std::string sqlState)
        : StoreError(message), m_sqlState(std::move(sqlState))
    {
    }
    const std::string &sqlState() const { return m_sqlState; }

private:
    std::string m_sqlState;
};

class Result
{
public:
    explicit Result(PGresult *result) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(Result &&other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;

    int rows() const { return PQntuples(m_result); }
    /// Valid while the result lives.
    std::string_view text(int row, int column) const
    {
        return std::string_view(PQgetvalue(m_result, row, column),
                                std::size_t(PQgetlength(m_result, row, column)));
    }
    std::int64_t int64(int row, int column) const
    {
        const std::string_view value = text(row, column);
        std::int64_t n = 0;
        std::from_chars(value.data(), value.data() + value.size(), n);
        return n;
    }
    std::int64_t affected() const
    {
        const char *n = PQcmdTuples(m_result);
        std::int64_t count = 0;
        std::from_chars(n, n + std::strlen(n), count);
        return count;
    }

private:
    PGresult *m_result;
};

std::string idArray(std::span<const std::int64_t> ids)
{
    std::string text = "{";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i)
            text += ',';
        text += std::to_string(ids[i]);
    }
    text += '}';
    return text;
}

// COPY's text format: backslash escapes for the characters that delimit rows and columns.
void appendCopyText(std::string &out, const std::string &text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

class Connection
{
public:
    explicit Connection(const std::string &uri) : m_conn(PQconnectdb(uri.c_str()))
    {
        if (!m_conn)
            throw StoreError("postgresql: out of memory");
        if (PQstatus(m_conn) != CONNECTION_OK) {
            const std::string message = PQerrorMessage(m_conn);
            PQfinish(m_conn);
            throw StoreError("postgresql: cannot connect: " + trimmed(message));
        }
        // "relation already exists, skipping" and the like are not worth a log line.
        PQsetNoticeProcessor(
            m_conn, [](void *, const char *) {}, nullptr);
        if (PQsetClientEncoding(m_conn, "UTF8") != 0) {
            PQfinish(m_conn);
            throw StoreError("postgresql: the server cannot speak UTF-8");
        }
        // A request waits at most this long for another's lock (the SQLite store's busy
        // timeout), and no statement runs unbounded; past either, the request fails with 500.
        try {
            exec("SET lock_timeout = '5s'; SET statement_timeout = '120s'");
        } catch (...) {
            PQfinish(m_conn);
            throw;
        }
    }
    ~Connection() { PQfinish(m_conn); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool healthy() const { return PQstatus(m_conn) == CONNECTION_OK; }

    // An idle connection the database has closed since (a restart, an administrator) still says
    // CONNECTION_OK until it reads; its farewell or the end is waiting on the socket, where an
    // idle connection that is still open has nothing.
    bool openAndIdle() const
    {
        if (!healthy())
            return false;
        pollfd waiting{PQsocket(m_conn), POLLIN, 0};
        return ::poll(&waiting, 1, 0) == 0;
    }

    void rollback() noexcept
    {
        if (healthy())
            PQclear(PQexec(m_conn, "ROLLBACK"));
    }

    void prepareAll()
    {
        for (const Prepared &p : allPrepared)
            check(PQprepare(m_conn, p.name, p.sql, 0, nullptr), PGRES_COMMAND_OK);
    }

    Result exec(const char *sql) { return check(PQexec(m_conn, sql), PGRES_COMMAND_OK, true); }

    Result run(const Prepared &p, std::initializer_list<std::string> params)
    {
        std::vector<const char *> values;
        for (const std::string &param : params)
            values.push_back(param.c_str());
        return check(
            PQexecPrepared(m_conn, p.name, int(values.size()), values.data(), nullptr, nullptr, 0),
            PGRES_TUPLES_OK, true);
    }

    void copy(const char *sql, const std::string &data)
    {
        check(PQexec(m_conn, sql), PGRES_COPY_IN);
        constexpr std::size_t chunk = 1 << 20;
        for (std::size_t at = 0; at < data.size(); at += chunk) {
            const std::size_t n = std::min(chunk, data.size() - at);
            if (PQputCopyData(m_conn, data.data() + at, int(n)) != 1)
                throw StoreError("postgresql: " + trimmed(PQerrorMessage(m_conn)));
        }
        if (PQputCopyEnd(m_conn, nullptr) != 1)
            throw StoreError("postgresql: " + trimmed(PQerrorMessage(m_conn)));
        check(PQgetResult(m_conn), PGRES_COMMAND_OK);
        while (PGresult *extra = PQgetResult(m_conn))
            PQclear(extra);
    }

private:
    static std::string trimmed(std::string s)
    {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
            s.pop_back();
        return s;
    }

    // anySuccess: a query with rows and a command without both pass.
    Result check(PGresult *raw, ExecStatusType expected, bool anySuccess = false)
    {
        Result result(raw);
        const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
        const bool ok = status == expected ||
                        (anySuccess && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK));
        if (!ok) {
            const char *state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
            const std::string message = raw ? PQresultErrorMessage(raw) : PQerrorMessage(m_conn);
            throw PgError("postgresql: " + trimmed(message), state ? state : "");
        }
        return result;
    }

    PGconn *m_conn;
};

using Pool = ConnectionPool<Connection>;

using Transaction = server::Transaction<Connection>;

std::vector<std::int64_t> column(const Result &result)
{
    std::vector<std::int64_t> out;
    out.reserve(std::size_t(result.rows()));
    for (int row = 0; row < result.rows(); ++row)
        out.push_back(result.int64(row, 0));
    return out;
}

class Steps final : public SaveSteps
{
public:
    Steps(Connection &connection, const Actor &actor) : m_connection(connection), m_actor(actor)
    {
    }

    std::vector<std::int64_t> missingVendors(std::span<const std::int64_t> ids) override
    {
        return column(m_connection.run(missingVendor, {idArray(ids)}));
    }
    std::vector<std::int64_t> missingEmployees(std::span<const std::int64_t> ids) override
    {
        return column(m_connection.run(missingEmployee, {idArray(ids)}));
    }
    std::int64_t apply(const Batch &batch) override
    {
        return m_connection
            .run(batch.link ? link : unlink,
                 {std::to_string(batch.vendorId), idArray(batch.employeeIds), m_actor.user,
                  m_actor.address})
            .affected();
    }

private:
    Connection &m_connection;
    const Actor &m_actor;
};

class PostgresStore final : public Store
{
public:
    explicit PostgresStore(const std::string &uri)
        : m_uri(uri), m_pool([uri] {
              auto c = std::make_unique<Connection>(uri);
              c->prepareAll();
              return c;
          })
    {
        // The statements can only be prepared once the tables exist.
        Connection setup(uri);
        Transaction tx(setup, "BEGIN");
        setup.exec(lockSetup);
        setup.exec(schema);
        tx.commit();
    }

    bool vendorEmployees(std::int64_t vendorId, EmployeeDocumentWriter &document) override
    {
        return withConnection([&](Connection &c) {
            Transaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
            const std::string vendor = std::to_string(vendorId);
            if (c.run(vendorExists, {vendor}).rows() == 0)
                return false;
            const Result left = c.run(nonSelected, {vendor});
            const Result right = c.run(selected, {vendor});
            tx.commit();
            // Written only once the transaction is through, so that an attempt that failed has
            // added nothing.
            for (int row = 0; row < left.rows(); ++row)
                document.addNonSelected(left.int64(row, 0), left.text(row, 1));
            for (int row = 0; row < right.rows(); ++row)
                document.addSelected(right.int64(row, 0), right.text(row, 1));
            return true;
        });
    }

    void ping() override
    {
        withConnection([](Connection &c) { c.run(pingQuery, {}); });
    }

    ApplyResult apply(std::span<const LinkChange> changes, const Actor &actor) override
    {
        if (changes.empty()) {
            ApplyResult nothing;
            nothing.applied = true;
            return nothing;
        }
        return withConnection([&](Connection &c) {
            Transaction tx(c, "BEGIN");
            Steps steps(c, actor);
            ApplyResult result = applySave(changes, steps);
            if (result.applied)
                tx.commit();
            return result;
        });
    }

    bool seed(const SeedData &data) override
    {
        return withConnection([&](Connection &c) {
            Transaction tx(c, "BEGIN");
            c.exec(lockSetup);
            if (Result any = c.exec("SELECT 1 FROM employees LIMIT 1"); any.rows() > 0)
                return false;
            std::string rows;
            for (const auto &v : data.vendors) {
                rows += std::to_string(v.id) + '\t';
                appendCopyText(rows, v.name);
                rows += '\n';
            }
            c.copy("COPY vendors (id, name) FROM STDIN", rows);
            rows.clear();
            for (const auto &e : data.employees) {
                rows += std::to_string(e.id) + '\t';
                appendCopyText(rows, e.name);
                rows += e.active ? "\tt\n" : "\tf\n";
            }
            c.copy("COPY employees (id, name, active) FROM STDIN", rows);
            rows.clear();
            for (const auto &l : data.links)
                rows += std::to_string(l.vendorId) + '\t' + std::to_string(l.employeeId) + '\n';
            c.copy("COPY VendorEmployeeCrossReference (VendorID, EmployeeID) FROM STDIN", rows);
            tx.commit();
            return true;
        });
    }

    std::string describe() const override
    {
        // Keep the password out of the log.
        PQconninfoOption *options = PQconninfoParse(m_uri.c_str(), nullptr);
        std::string where = "postgresql:";
        if (options) {
            for (PQconninfoOption *o = options; o->keyword; ++o) {
                if (o->val && *o->val &&
                    (!std::strcmp(o->keyword, "host") || !std::strcmp(o->keyword, "port") ||
                     !std::strcmp(o->keyword, "dbname") || !std::strcmp(o->keyword, "user")))
                    where += std::string(" ") + o->keyword + "=" + o->val;
            }
            PQconninfoFree(options);
        }
        return where;
    }

private:
    // Runs one transaction, again when PostgreSQL broke it off for a deadlock or a
    // serialization failure; a connection that was lost is not handed out again.
    template <class Work> std::invoke_result_t<Work, Connection &> withConnection(Work work)
    {
        constexpr int attempts = 4;
        for (int attempt = 1;; ++attempt) {
            Pool::Lease lease = acquireHealthy();
            try {
                return work(*lease);
            } catch (const PgError &e) {
                if (!lease->healthy())
                    lease.discard();
                if (attempt == attempts || !isTransient(e.sqlState()))
                    throw;
            } catch (...) {
                if (!lease->healthy())
                    lease.discard();
                throw;
            }
        }
    }

    Pool::Lease acquireHealthy()
    {
        // Past as many as the pool keeps idle, the connection was just opened and is taken as it
        // stands, so that something waiting on a fresh one cannot keep this loop opening more.
        for (std::size_t discarded = 0;; ++discarded) {
            Pool::Lease lease = m_pool.acquire();
            if (lease->openAndIdle() || (discarded > Pool::defaultMaxIdle && lease->healthy()))
                return lease;
            lease.discard(); // the server went away since; the next one is opened afresh
        }
    }

    std::string m_uri;
    Pool m_pool;
};

} // namespace

std::unique_ptr<Store> openPostgresStore(const std::string &uri)
{
    return std::make_unique<PostgresStore>(uri);
}

} // namespace vendoremp::server
