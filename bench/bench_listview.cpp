// The list view at the size the control allows: 32,767 rows (KVE_BENCH_ROWS overrides).

#include "BenchRows.h"
#include "platform/ListView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;

namespace {

using kvebench::rowCount;

struct Employee
{
    QString id;
    QString name;
    QString code;
};

// IDs in a shuffled order, as a server need not send them sorted by the key.
const std::vector<Employee> &employees()
{
    static const std::vector<Employee> all = [] {
        std::vector<Employee> out;
        const int n = rowCount();
        std::vector<int> ids(n);
        for (int i = 0; i < n; ++i)
            ids[i] = 1 + i * 3;
        std::mt19937 random(20261208);
        std::shuffle(ids.begin(), ids.end(), random);
        static const char *const surnames[] = {"Smith",  "jones", "Brown",  "Taylor",  "wilson",
                                               "Davies", "Evans", "Thomas", "Roberts", "Walker"};
        for (int id : ids) {
            out.push_back({QString::number(id),
                           QStringLiteral("%1, Employee %2")
                               .arg(QLatin1String(surnames[id % 10]))
                               .arg(id % 977),
                           QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0'))});
        }
        return out;
    }();
    return all;
}

std::unique_ptr<ListView> shownList()
{
    auto list = std::make_unique<ListView>();
    // The control's column policy, so that the list shows what the control's lists show.
    list->hideColumnForGood(2);
    list->setSortIndicatorSection(2, 0);
    list->resize(265, 185);
    list->show();
    QCoreApplication::processEvents();
    return list;
}

// What a load does: every row added with both sub-items, keyed on the change code.
void load(ListView &list)
{
    const ListView::BulkUpdate bulk(&list);
    list.setSortKey(2);
    for (const Employee &e : employees()) {
        ListItem row = list.Add(e.id);
        row.setSubItems(1, e.name);
        row.setSubItems(2, e.code);
    }
}

void selectAlternateRows(ListView &list, int count)
{
    const ListView::BulkUpdate bulk(&list);
    list.setMultiSelect(true);
    for (int i = 1; i <= count && 2 * i <= list.Count(); ++i)
        list.Item(2 * i).setSelected(true);
}

int removalCount()
{
    return int(qint64(rowCount()) * 16000 / 32767);
}

void BM_LoadInBulk(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto list = shownList();
        state.ResumeTiming();
        load(*list);
        QCoreApplication::processEvents(); // the view lays itself out
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rowCount());
}
BENCHMARK(BM_LoadInBulk)->Unit(benchmark::kMillisecond);

void BM_WalkSelected(benchmark::State &state)
{
    auto list = shownList();
    load(*list);
    selectAlternateRows(*list, removalCount());
    for (auto _ : state) {
        int selected = 0;
        const int count = list->Count();
        for (int i = 1; i <= count; ++i)
            selected += list->Item(i).Selected() ? 1 : 0;
        benchmark::DoNotOptimize(selected);
    }
}
BENCHMARK(BM_WalkSelected)->Unit(benchmark::kMillisecond);

template <bool Bulk> void BM_RemoveSelectedFromLastDown(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto list = shownList();
        load(*list);
        selectAlternateRows(*list, removalCount());
        QCoreApplication::processEvents();
        state.ResumeTiming();
        {
            std::unique_ptr<ListView::BulkUpdate> bulk;
            if (Bulk)
                bulk = std::make_unique<ListView::BulkUpdate>(list.get());
            for (int i = list->Count(); i >= 1; --i) {
                if (list->Item(i).Selected())
                    list->Remove(i);
            }
        }
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (list->Count() != rowCount() - removalCount())
            state.SkipWithError("wrong number of rows left");
        list.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RemoveSelectedFromLastDown<true>)
    ->Name("BM_RemoveSelectedFromLastDown/bulk")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSelectedFromLastDown<false>)
    ->Name("BM_RemoveSelectedFromLastDown/single")
    ->Unit(benchmark::kMillisecond);

// 2 -> 1 -> 2, with one row selected (after a click) or half of them (after a move of many).
void BM_Rekey(benchmark::State &state)
{
    auto list = shownList();
    load(*list);
    if (state.range(0) == 1)
        list->Item(list->Count() / 2).setSelected(true);
    else
        selectAlternateRows(*list, removalCount());
    for (auto _ : state) {
        list->setSortKey(1);
        QCoreApplication::processEvents();
        list->setSortKey(2);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_Rekey)->ArgName("selected_one")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace
