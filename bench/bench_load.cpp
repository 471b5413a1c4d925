// A load at the row limit, end to end: setServerName fetches a document of 32,767 employees
// (16,384 not linked, 16,383 linked) from a loopback server, parses it and fills both lists.
//
// Each timed step is the ServerName put plus the event processing that brings both views up to
// date. The control is shown, so the views really lay out and paint what the load gave them.

#include "BenchRows.h"
#include "platform/ListView.h"
#include "support/FixtureServer.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>

using KavriVendorEmp::VendorEmployee;
using KavriVendorEmp::platform::ListView;

namespace {

using kvebench::rowCount;

QList<QPair<QString, QString>> employees(int first, int count)
{
    QList<QPair<QString, QString>> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int id = first + i;
        list.append({QString::number(id), QStringLiteral("Employee Number %1").arg(id)});
    }
    return list;
}

void BM_LoadThroughServerName(benchmark::State &state)
{
    const int rows = rowCount();
    const int nonSelected = (rows + 1) / 2;
    const int selected = rows - nonSelected;
    // IDs interleaved between the lists, in no sorted order within the document.
    kvetest::FixtureServer server;
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(nonSelected, selected, employees(100000, nonSelected),
                                              employees(200000, selected)));

    VendorEmployee control;
    control.resize(control.sizeHint());
    control.show();
    control.setVendorID(QStringLiteral("12"));
    auto *lstEmployees = control.findChild<ListView *>(QStringLiteral("lstEmployees"));
    auto *lstSelectedEmployees =
        control.findChild<ListView *>(QStringLiteral("lstSelectedEmployees"));

    for (auto _ : state) {
        control.setServerName(server.baseUrl());
        QCoreApplication::processEvents();
        if (lstEmployees->Count() != nonSelected || lstSelectedEmployees->Count() != selected)
            throw std::runtime_error("the load did not fill both lists");
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_LoadThroughServerName)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
