// Editing at the row limit: ">>" and "<<" of 16,000 selected rows out of 32,767, the undo of
// such a ">>" (at most twice the ">>" itself), a click in a list while 16,000 rows are selected,
// and a name search that matches only the last row.
//
// Each timed step is the handler plus the event processing that brings the view up to date.

#include "BenchRows.h"
#include "control/VendorEmployee_p.h"
#include "editing/ChangeCode.h"
#include "platform/ListView.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUndoStack>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

using KavriVendorEmp::VendorEmployee;
using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;

namespace {

using kvebench::rowCount;

// 16,000 of 32,767, scaled to the row count.
int selectedCount(int rows)
{
    return int(qint64(rows) * 16000 / 32767);
}

struct Editor
{
    std::unique_ptr<VendorEmployee> control = std::make_unique<VendorEmployee>();
    ListView *lstEmployees = control->findChild<ListView *>(QStringLiteral("lstEmployees"));
    ListView *lstSelectedEmployees =
        control->findChild<ListView *>(QStringLiteral("lstSelectedEmployees"));
    QPushButton *cmdAddAll = control->findChild<QPushButton *>(QStringLiteral("cmdAddAll"));
    QPushButton *cmdRemoveAll = control->findChild<QPushButton *>(QStringLiteral("cmdRemoveAll"));
    QPushButton *cmdFind = control->findChild<QPushButton *>(QStringLiteral("cmdFind"));

    // The left-hand list filled the way a load fills it, every `name(i)` on row i.
    template <typename Name> explicit Editor(int rows, Name name)
    {
        control->show();
        {
            const ListView::BulkUpdate bulk(lstEmployees);
            for (int i = 1; i <= rows; ++i) {
                ListItem item = lstEmployees->Add(QString::number(100000 + i));
                item.setSubItems(1, name(i));
                item.setSubItems(2, KavriVendorEmp::ChangeCode::baseCode(item.Text()));
            }
            lstEmployees->setSortKey(2);
            lstSelectedEmployees->setSortKey(2);
        }
        settle();
    }

    // Marks `count` rows: spread evenly over the list (as by Ctrl-clicks), or one block in the
    // middle of it (as by a Shift-click).
    static void selectRows(ListView *list, int count, bool block = false)
    {
        const ListView::BulkUpdate bulk(list);
        list->setMultiSelect(true);
        const int rows = list->Count();
        const int first = (rows - count) / 2 + 1;
        for (int i = 1; i <= rows; ++i) {
            const bool marked = block ? i >= first && i < first + count
                                      : qint64(i) * count / rows != qint64(i - 1) * count / rows;
            if (marked)
                list->Item(i).setSelected(true);
        }
    }

    static void settle() { QCoreApplication::processEvents(); }
};

QString plainName(int i)
{
    return QStringLiteral("Employee %1").arg(i);
}

void BM_AddAll(benchmark::State &state)
{
    Editor e(rowCount(), plainName);
    Editor::selectRows(e.lstEmployees, selectedCount(e.lstEmployees->Count()), state.range(0));
    Q_EMIT e.lstEmployees->Click(); // enables ">>"
    const int selected = selectedCount(e.lstEmployees->Count());
    for (auto _ : state) {
        e.cmdAddAll->click();
        Editor::settle();
        state.PauseTiming();
        if (e.lstSelectedEmployees->Count() != selected)
            state.SkipWithError("wrong number of rows moved");
        e.cmdRemoveAll->click(); // the moved rows stay selected, so this restores the start
        Editor::settle();
        state.ResumeTiming();
    }
}

void BM_RemoveAll(benchmark::State &state)
{
    Editor e(rowCount(), plainName);
    Editor::selectRows(e.lstEmployees, selectedCount(e.lstEmployees->Count()), state.range(0));
    Q_EMIT e.lstEmployees->Click();
    e.cmdAddAll->click();
    Editor::settle();
    const int selected = e.lstSelectedEmployees->Count();
    if (selected != selectedCount(e.lstEmployees->Count() + selected))
        state.SkipWithError("wrong number of rows moved");
    for (auto _ : state) {
        e.cmdRemoveAll->click();
        Editor::settle();
        state.PauseTiming();
        if (e.lstSelectedEmployees->Count() != 0)
            state.SkipWithError("rows left behind");
        e.cmdAddAll->click();
        Editor::settle();
        state.ResumeTiming();
    }
}

// Undoing ">>": the reverse move of exactly the rows it carried, found again among the target's
// rows. To be set beside BM_AddAll with the same argument.
void BM_UndoAddAll(benchmark::State &state)
{
    Editor e(rowCount(), plainName);
    Editor::selectRows(e.lstEmployees, selectedCount(e.lstEmployees->Count()), state.range(0));
    Q_EMIT e.lstEmployees->Click();
    QUndoStack *history = KavriVendorEmp::VendorEmployeePrivate::get(e.control.get())->m_history;
    const int selected = selectedCount(e.lstEmployees->Count());
    e.cmdAddAll->click();
    Editor::settle();
    for (auto _ : state) {
        history->undo();
        Editor::settle();
        state.PauseTiming();
        if (e.lstSelectedEmployees->Count() != 0)
            state.SkipWithError("rows left behind");
        history->redo();
        Editor::settle();
        if (e.lstSelectedEmployees->Count() != selected)
            state.SkipWithError("wrong number of rows moved again");
        state.ResumeTiming();
    }
}

// The Click handler of the list holding 16,000 selected rows: the walk stops at the second one.
void BM_ClickInListWithSelectedRows(benchmark::State &state)
{
    Editor e(rowCount(), plainName);
    Editor::selectRows(e.lstEmployees, selectedCount(e.lstEmployees->Count()));
    for (auto _ : state) {
        Q_EMIT e.lstEmployees->Click();
        Editor::settle();
    }
}

// A click in the other list: its Click handler clears all 16,000 selected rows.
void BM_ClickClearingOtherList(benchmark::State &state)
{
    Editor e(rowCount(), plainName);
    const int selected = selectedCount(e.lstEmployees->Count());
    Editor::selectRows(e.lstEmployees, selected);
    Q_EMIT e.lstEmployees->Click();
    e.cmdAddAll->click(); // right: 16,000 selected rows; left: the rest
    Editor::settle();
    for (auto _ : state) {
        Q_EMIT e.lstEmployees->Click();
        Editor::settle();
        state.PauseTiming();
        Editor::selectRows(e.lstSelectedEmployees, selected);
        Editor::settle();
        state.ResumeTiming();
    }
}

void BM_FindByNameOnLastRow(benchmark::State &state)
{
    const int rows = rowCount();
    Editor e(rows,
             [rows](int i) { return i == rows ? QStringLiteral("Jane Nesmith") : plainName(i); });
    e.control->findChild<QRadioButton *>(QStringLiteral("optFind(0)"))->setChecked(true);
    e.control->findChild<QLineEdit *>(QStringLiteral("txtVendorName"))
        ->setText(QStringLiteral("smi"));
    for (auto _ : state) {
        e.cmdFind->click();
        Editor::settle();
    }
    if (e.lstEmployees->SelectedItem().Text() != QString::number(100000 + rows))
        state.SkipWithError("the last row was not found");
}

// block:0 rows spread over the list, block:1 one block of rows.
BENCHMARK(BM_AddAll)
    ->ArgName("block")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RemoveAll)
    ->ArgName("block")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_UndoAddAll)
    ->ArgName("block")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ClickInListWithSelectedRows)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickClearingOtherList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindByNameOnLastRow)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
