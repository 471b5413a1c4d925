// KActionSelector moving 2,000 of 4,000 items from its available list to its selected list with
// its add button, both lists sorted, the view brought up to date. Between timed moves the lists
// are filled afresh, untimed (moving the items back would take longer than the move itself).
// KVE_BENCH_ROWS below 4,000 shrinks the list (the smoke run uses 200).

#include <KActionSelector>

#include <QApplication>
#include <QListWidget>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

int itemCount()
{
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue("KVE_BENCH_ROWS", &ok);
    return std::min(4000, ok && rows > 1 ? rows : 4000);
}

QToolButton *button(KActionSelector &selector, const QString &tip)
{
    for (QToolButton *b : selector.findChildren<QToolButton *>()) {
        if (b->toolTip() == tip)
            return b;
    }
    return nullptr;
}

void selectEvery(QListWidget *list, int step)
{
    list->clearSelection();
    for (int i = 0; i < list->count(); i += step)
        list->item(i)->setSelected(true);
}

void BM_Move2000Of4000(benchmark::State &state)
{
    const int n = itemCount();
    KActionSelector selector;
    selector.setAvailableInsertionPolicy(KActionSelector::Sorted);
    selector.setSelectedInsertionPolicy(KActionSelector::Sorted);
    selector.setButtonTooltip(QStringLiteral("add"), KActionSelector::ButtonAdd);
    selector.setButtonTooltip(QStringLiteral("remove"), KActionSelector::ButtonRemove);
    QListWidget *available = selector.availableListWidget();
    QListWidget *selected = selector.selectedListWidget();
    available->setSelectionMode(QAbstractItemView::ExtendedSelection);
    selected->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const auto fill = [&] {
        selected->clear();
        available->clear();
        for (int i = 1; i <= n; ++i)
            available->addItem(
                QStringLiteral("%1 Employee %2").arg(i, 6, 10, QLatin1Char('0')).arg(i));
    };
    selector.resize(600, 400);
    selector.show();
    QToolButton *add = button(selector, QStringLiteral("add"));
    if (!add) {
        state.SkipWithError("the add button was not found");
        return;
    }
    QCoreApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        fill();
        selectEvery(available, 2);
        add->setEnabled(true);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        add->click();
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (selected->count() != n / 2 || available->count() != n - n / 2)
            state.SkipWithError("wrong number of items moved");
        state.ResumeTiming();
    }
    state.counters["items"] = n;
}
BENCHMARK(BM_Move2000Of4000)
    ->Name("move_2000_of_4000/kactionselector")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
