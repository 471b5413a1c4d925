#include "TestDatabase.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QUrl>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace kvetest {

namespace {

QString postgresBaseUrl()
{
    return qEnvironmentVariable("KVE_TEST_POSTGRES_URL");
}

// One connection, one query: a NULL result on failure, with the reason in error.
PGresult *pgExec(PGconn *conn, const QString &sql, QString &error)
{
    PGresult *result = PQexec(conn, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        PQclear(result);
        return nullptr;
    }
    return result;
}

PGconn *pgConnect(const QString &url, QString &error)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQfinish(conn);
        return nullptr;
    }
    PQsetNoticeProcessor(
        conn, [](void *, const char *) {}, nullptr);
    return conn;
}

QString sqliteFile(const QString &argument)
{
    return argument.mid(int(qstrlen("sqlite:")));
}

} // namespace

TestDatabase::~TestDatabase()
{
    release();
    if (m_kind == Kind::Postgres && !m_postgresName.isEmpty()) {
        QString error;
        if (PGconn *conn = pgConnect(postgresBaseUrl(), error)) {
            PQclear(pgExec(
                conn, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_postgresName),
                error));
            PQfinish(conn);
        }
    }
}

QString TestDatabase::postgresUnavailable()
{
    if (postgresBaseUrl().isEmpty())
        return QStringLiteral("KVE_TEST_POSTGRES_URL is not set: these tests need a PostgreSQL "
                              "cluster (tools/test starts a throwaway one and sets it)");
    return {};
}

bool TestDatabase::create(Kind kind)
{
    m_kind = kind;
    if (kind == Kind::Sqlite) {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary folder");
            return false;
        }
        m_argument = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("test.sqlite"));
        return true;
    }
    const QString base = postgresBaseUrl();
    if (base.isEmpty()) {
        m_error = postgresUnavailable();
        return false;
    }
    PGconn *conn = pgConnect(base, m_error);
    if (!conn) {
        m_error = QStringLiteral("PostgreSQL at %1 cannot be reached: %2").arg(base, m_error);
        return false;
    }
    const QString name = QStringLiteral("kve_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QRandomGenerator::global()->generate64(), 0, 36);
    PGresult *result = pgExec(conn, QStringLiteral("CREATE DATABASE %1").arg(name), m_error);
    PQclear(result);
    PQfinish(conn);
    if (!result)
        return false;
    m_postgresName = name;
    QUrl url(base);
    url.setPath(QLatin1Char('/') + name);
    m_argument = url.toString();
    return true;
}

QVariant TestDatabase::scalar(const QString &sql)
{
    m_error.clear();
    if (m_kind == Kind::Sqlite) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(sqliteFile(m_argument).toUtf8().constData(), &db, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_close(db);
            return {};
        }
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt *stmt = nullptr;
        QVariant value;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                if (sqlite3_column_type(stmt, 0) == SQLITE_INTEGER)
                    value = qint64(sqlite3_column_int64(stmt, 0));
                else if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
                    value = QString::fromUtf8(
                        reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
            } else if (rc != SQLITE_DONE) {
                m_error = QString::fromUtf8(sqlite3_errmsg(db));
            }
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return value;
    }
    PGconn *conn = pgConnect(m_argument, m_error);
    if (!conn)
        return {};
    QVariant value;
    if (PGresult *result = pgExec(conn, sql, m_error)) {
        if (PQntuples(result) > 0 && !PQgetisnull(result, 0, 0)) {
            const QString text = QString::fromUtf8(PQgetvalue(result, 0, 0));
            bool isNumber = false;
            const qint64 number = text.toLongLong(&isNumber);
            value = isNumber ? QVariant(number) : QVariant(text);
        }
        PQclear(result);
    }
    PQfinish(conn);
    return value;
}

bool TestDatabase::hold(const QString &sql)
{
    release();
    m_error.clear();
    if (m_kind == Kind::Sqlite) {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(sqliteFile(m_argument).toUtf8().constData(), &db, SQLITE_OPEN_READWRITE,
                        nullptr);
        char *message = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
            m_error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
            sqlite3_free(message);
            sqlite3_close(db);
            return false;
        }
        m_held = db;
        return true;
    }
    PGconn *conn = pgConnect(m_argument, m_error);
    if (!conn)
        return false;
    PGresult *result = pgExec(conn, sql, m_error);
    PQclear(result);
    if (!result) {
        PQfinish(conn);
        return false;
    }
    m_held = conn;
    return true;
}

void TestDatabase::release()
{
    if (!m_held)
        return;
    if (m_kind == Kind::Sqlite) {
        sqlite3_exec(static_cast<sqlite3 *>(m_held), "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(static_cast<sqlite3 *>(m_held));
    } else {
        PQfinish(static_cast<PGconn *>(m_held));
    }
    m_held = nullptr;
}

} // namespace kvetest
