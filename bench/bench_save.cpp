// The save at its largest: SaveToDatabase building and posting about half the rows as inserts
// and the other half as one delete, to a loopback server that discards the body; the body alone;
// and the form encoding's throughput.
//
// KVE_BENCH_ROWS sets the row count (default 32767).

#include "http/HttpServer.h"
#include "platform/ListView.h"
#include "saving/Statements.h"
#include "saving/UrlEncode.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

using namespace KavriVendorEmp;

namespace {

int benchRows()
{
    const char *env = std::getenv("KVE_BENCH_ROWS");
    const int rows = env ? std::atoi(env) : 32767;
    return rows > 1 ? rows : 2;
}

QString code(int id, char suffix)
{
    return QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0')) + QLatin1Char(suffix);
}

void BM_SaveToDatabase(benchmark::State &state)
{
    vendoremp::http::Server server([](const vendoremp::http::Request &) {
        return vendoremp::http::Response{}; // 200, empty: nothing to show
    });
    const std::uint16_t port = server.listen("127.0.0.1", 0);

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
BENCHMARK(BM_SaveToDatabase)->Unit(benchmark::kMillisecond)->UseRealTime();

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

void BM_UrlEncode(benchmark::State &state)
{
    const QString statement = Statements::insertLink(12, QStringLiteral("101"));
    for (auto _ : state)
        benchmark::DoNotOptimize(formUrlEncode(statement));
    state.SetBytesProcessed(state.iterations() * statement.size());
}
BENCHMARK(BM_UrlEncode);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
