// The save at its largest: SaveToDatabase building and posting about half the rows as inserts
// and the other half as one delete, to a loopback server that discards the body; the body alone;
// and the form encoding's throughput.
//
// KVE_BENCH_ROWS sets the row count (default 32767).

#include "http/HttpServer.h"
#include "platform/ListView.h"
#include "platform/Transfer.h"
#include "saving/Statements.h"
#include "saving/UrlEncode.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace KavriVendorEmp;

namespace {

int benchRows()
{
    const char *env = std::getenv("KVE_BENCH_ROWS");
    const int rows = env ? std::atoi(env) : 32767;
    return rows > 1 ? rows : 2;
}

// A sink on 127.0.0.1: reads each request, drops its body unparsed and answers 200 with an empty
// body, so that what is measured is the control and its transfer, not a server's form handling.
class DiscardServer
{
public:
    DiscardServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            listen(m_listener, 16) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            std::abort();
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~DiscardServer()
    {
        m_stopping = true;
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        m_acceptor.join();
        for (std::thread &t : m_connections)
            t.join();
    }
    std::uint16_t port() const { return m_port; }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            const int connection = accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            m_connections.emplace_back([connection] { serve(connection); });
        }
    }
    static void serve(int connection)
    {
        std::vector<char> buffer(1 << 20);
        std::string head;
        for (;;) {
            // Headers, then Content-Length bytes of body, dropped as they come.
            std::size_t bodyStart;
            while ((bodyStart = head.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = recv(connection, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    return close(connection), void();
                head.append(buffer.data(), std::size_t(n));
            }
            long long remaining = 0;
            if (const auto at = head.find("Content-Length:");
                at != std::string::npos && at < bodyStart)
                remaining = std::atoll(head.c_str() + at + 15);
            remaining -= static_cast<long long>(head.size() - bodyStart - 4);
            while (remaining > 0) {
                const ssize_t n = recv(connection, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    return close(connection), void();
                remaining -= n;
            }
            head.clear();
            static const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
            send(connection, answer, sizeof answer - 1, MSG_NOSIGNAL);
        }
    }

    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
};

QString code(int id, char suffix)
{
    return QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0')) + QLatin1Char(suffix);
}

void runSave(benchmark::State &state, std::uint16_t port)
{

    VendorEmployee control;
    control.setVendorID(QStringLiteral("12"));
    // The empty answer is no employee document: the lists stay empty and the server name stays.
    control.setServerName(QStringLiteral("http://127.0.0.1:%1").arg(port));

    auto *selected =
        control.findChild<platform::ListView *>(QStringLiteral("lstSelectedEmployees"));
    auto *employees = control.findChild<platform::ListView *>(QStringLiteral("lstEmployees"));
    const int rows = benchRows();
    const int inserts = rows / 2;
    {
        platform::ListView::BulkUpdate bulkSelected(selected);
        platform::ListView::BulkUpdate bulkEmployees(employees);
        for (int id = 1; id <= rows; ++id) {
            const bool insert = id <= inserts;
            platform::ListItem row = (insert ? selected : employees)->Add(QString::number(id));
            row.setSubItems(1, QStringLiteral("Employee %1").arg(id));
            row.setSubItems(2, code(id, insert ? 'N' : 'D'));
        }
    }

    for (auto _ : state)
        control.SaveToDatabase();
    state.counters["statements"] = inserts + 1;
}

void BM_SaveToDatabase(benchmark::State &state)
{
    DiscardServer server;
    runSave(state, server.port());
}
BENCHMARK(BM_SaveToDatabase)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same save to the project's own HTTP layer, which reads and keeps the whole body.
void BM_SaveToDatabaseHttpLayer(benchmark::State &state)
{
    vendoremp::http::Server server([](const vendoremp::http::Request &) {
        return vendoremp::http::Response{}; // 200, empty: nothing to show
    });
    runSave(state, server.listen("127.0.0.1", 0));
}
BENCHMARK(BM_SaveToDatabaseHttpLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PostBody(benchmark::State &state)
{
    const int rows = benchRows();
    const int inserts = rows / 2;
    QStringList ids;
    for (int id = 1; id <= rows; ++id)
        ids.append(QString::number(id));
    for (auto _ : state) {
        QStringList statements;
        statements.reserve(inserts + 1);
        for (int i = 0; i < inserts; ++i)
            statements.append(Statements::insertLink(12, ids.at(i)));
        statements.append(Statements::deleteLinks(12, ids.mid(inserts)));
        benchmark::DoNotOptimize(Statements::postBody(statements));
    }
}
BENCHMARK(BM_PostBody)->Unit(benchmark::kMillisecond);

// The transfer alone: the same body posted through the transfer component, for comparison.
void BM_PostOnly(benchmark::State &state)
{
    DiscardServer server;
    const QString url = QStringLiteral("http://127.0.0.1:%1/VendorEmployee.asp").arg(server.port());
    const int rows = benchRows();
    const int inserts = rows / 2;
    QStringList ids;
    QStringList statements;
    for (int id = 1; id <= rows; ++id)
        ids.append(QString::number(id));
    for (int i = 0; i < inserts; ++i)
        statements.append(Statements::insertLink(12, ids.at(i)));
    statements.append(Statements::deleteLinks(12, ids.mid(inserts)));
    const QByteArray body = Statements::postBody(statements);

    platform::Inet inet;
    for (auto _ : state) {
        inet.Execute(url, QStringLiteral("Post"), body,
                     QStringLiteral("Content-Type: application/x-www-form-urlencoded"));
        while (inet.StillExecuting())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_PostOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UrlEncode(benchmark::State &state)
{
    const QString statement = Statements::insertLink(12, QStringLiteral("101"));
    for (auto _ : state)
        benchmark::DoNotOptimize(formUrlEncode(statement));
    state.SetBytesProcessed(state.iterations() * statement.size());
}
BENCHMARK(BM_UrlEncode);

} // namespace
