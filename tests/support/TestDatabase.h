#pragma once

// A database of its own for one test: a SQLite file in a temporary folder, or a fresh database
// in the PostgreSQL cluster named by KVE_TEST_POSTGRES_URL. Queried directly, without the server,
// so that a test sees what the database really holds.

#include <QString>
#include <QTemporaryDir>
#include <QVariant>

namespace kvetest {

class TestDatabase
{
public:
    enum class Kind
    {
        Sqlite,
        Postgres,
    };

    TestDatabase() = default;
    ~TestDatabase(); // drops a PostgreSQL database
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    /// Why the PostgreSQL tests cannot run here; empty when they can.
    static QString postgresUnavailable();

    bool create(Kind kind);
    QString error() const { return m_error; }

    /// The --database argument of the server.
    QString serverArgument() const { return m_argument; }
    Kind kind() const { return m_kind; }

    /// The first column of the first row of a query, or an invalid QVariant (see error()).
    /// Integers come back as qint64, everything else as text.
    QVariant scalar(const QString &sql);
    /// Runs a statement and holds the connection (and whatever lock it took) until release().
    bool hold(const QString &sql);
    void release();

private:
    Kind m_kind = Kind::Sqlite;
    QTemporaryDir m_dir;
    QString m_argument;
    QString m_postgresName;
    QString m_error;
    void *m_held = nullptr; // sqlite3* or PGconn*
};

} // namespace kvetest
