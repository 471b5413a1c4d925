#pragma once

// The control's private part. Its members span the subsystem folders: each handler or routine is
// defined in the file named beside its declaration.

#include <KavriVendorEmp/VendorEmployee.h>

#include "platform/ListView.h"
#include "platform/Transfer.h"
#include "platform/XmlDocument.h"

#include <QFont>
#include <QLoggingCategory>
#include <QRect>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

QT_BEGIN_NAMESPACE
class QAction;
class QUndoStack;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
QT_END_NAMESPACE

Q_DECLARE_LOGGING_CATEGORY(lcVendorEmployee)

namespace KavriVendorEmp {

using platform::ListItem;
using platform::ListView;

class VendorEmployeePrivate
{
public:
    explicit VendorEmployeePrivate(VendorEmployee *q);
    ~VendorEmployeePrivate();
    Q_DISABLE_COPY(VendorEmployeePrivate)

    VendorEmployee *const q;
    // The private part of a control, for the library's own code and its tests.
    static VendorEmployeePrivate *get(VendorEmployee *control) { return control->d.get(); }

    // State fields, in their order.
    QString m_serverName;                              // stored server name
    std::int32_t m_vendorID = 0;                       // stored vendor ID
    std::int16_t m_nonSelectedCount = 0;               // non-selected count (from the document)
    std::int16_t m_selectedCount = 0;                  // selected count (from the document)
    std::int16_t m_progressCounter = 0;                // progress counter
    std::unique_ptr<platform::XmlDocument> m_document; // document reference, during a load

    // The vendor the shown lists were loaded for: a save writes statements for it, so that a
    // VendorID set after a load cannot turn one vendor's edits into another vendor's links.
    std::int32_t m_loadedVendorID = 0;

    // Why the last load or save failed; empty after one that worked.
    QString m_lastError;

    // Widgets (control/Layout.cpp builds them).
    QGroupBox *fraMain = nullptr;
    QPushButton *cmdCommit = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdAddAll = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QPushButton *cmdDelete = nullptr;
    QLabel *lblAllVendors = nullptr;
    QLabel *lblSelVendors = nullptr;
    ListView *lstEmployees = nullptr;
    ListView *lstSelectedEmployees = nullptr;
    QProgressBar *prbLoad = nullptr;
    QGroupBox *fraFind = nullptr;
    std::array<QRadioButton *, 2> optFind{}; // 0 "Name", 1 "ID"
    QLineEdit *txtVendorID = nullptr;
    QLineEdit *txtVendorName = nullptr;
    QGroupBox *Frame1 = nullptr;
    std::array<QRadioButton *, 2> optList{}; // 0 lstEmployees, 1 lstSelectedEmployees
    QPushButton *cmdFind = nullptr;
    QLabel *lblVersionNumber = nullptr;
    platform::Inet *Inet1 = nullptr;
    QMenu *mnuRemove = nullptr;
    QAction *mnuRemoveItems = nullptr;
    QButtonGroup *optFindGroup = nullptr;
    QButtonGroup *optListGroup = nullptr;

    // control/Layout.cpp
    struct DesignRect
    {
        QWidget *widget;
        QRect twips;
    };
    std::vector<DesignRect> m_design; // every widget's design rectangle, in twips
    qreal m_zoom = 1.0;
    QFont m_designFont; // the face the control was created with, before fitting
    void place(QWidget *widget, int left, int top, int width, int height);
    void placeAtZoom(QWidget *widget, const QRect &twips);
    void fitFont();
    void setZoom(qreal zoom);
    void createWidgets();
    void UserControl_Initialize();
    // control/Accessibility.cpp: names, descriptions and tooltips for assistive technology.
    void describeWidgets();
    // The lists' accessible names are their count labels' texts: called wherever those change.
    void syncListNames();
    // control/Appearance.cpp: palette and style changes at run time reach the find boxes'
    // colours and the fitted font.
    void followAppearance();
    // control/Handlers.cpp: binds every widget event to its handler.
    void connectHandlers();
    // control/VendorEmployee.cpp
    void setMousePointer(int pointer);

    // loading/LoadEmployees.cpp
    void LoadEmployees(std::int32_t vendorID, const QString &serverName);
    // loading/ListPopulation.cpp
    void ReadEmployeeCounts();
    void LoadNonSelectedEmployees();
    void LoadSelectedEmployees();

    // The rows one move carried: their texts, and their change codes before and after the move.
    // A code is kept as what follows the ID's base code (ChangeCode::suffixOf), so that a move of
    // thousands of rows copies no code and the history stays small; only a code before of another
    // form is kept whole, apart. The code after is always a base code and its suffix: the move
    // made it.
    struct MovedRows
    {
        struct Row
        {
            QString id, name;
            char16_t suffixBefore = 0;
            char16_t suffixAfter = 0;
        };
        std::vector<Row> rows;
        std::vector<std::pair<std::size_t, QString>> otherCodesBefore; // by row, ascending

        void add(const QString &id, const QString &name, const QString &codeBefore,
                 const QString &codeAfter);
        bool hasCode(std::size_t row, const QString &code, bool before) const;
        bool pendingBefore(std::size_t row) const;
        bool pendingAfter(std::size_t row) const { return rows[row].suffixAfter != 0; }

    private:
        const QString &otherCodeBefore(std::size_t row) const;
    };

    // editing/Rows.cpp
    ListItem CopyEmployeeRow(const QString &id, const QString &name, const QString &sourceCode,
                             ListView *target);
    // Gives a row moved to `target` as it is (ListView::TakeRows) the change code it takes on
    // there, and adds the row as the move carried it to `moved`.
    void RecodeMovedRow(ListItem &row, ListView *target, MovedRows &moved);
    void RefreshCountLabels();
    // editing/Moves.cpp
    void cmdAdd_Click();
    void cmdDelete_Click();
    void lstEmployees_DblClick();
    void lstSelectedEmployees_DblClick();
    void lstSelectedEmployees_MouseUp(int button, int shift, int x, int y);
    void mnuRemoveItems_Click();
    // editing/MoveAll.cpp
    void cmdAddAll_Click();
    void cmdRemoveAll_Click();
    // editing/Keyboard.cpp: keys that stand for a button, a double-click or the popup menu.
    void lstEmployees_KeyDown(int key, int shift);
    void lstSelectedEmployees_KeyDown(int key, int shift);
    void txtFind_ReturnPressed();
    // Opens mnuRemove under the current row of lstSelectedEmployees.
    void showRemoveMenuAtCurrentRow();
    // editing/DragDrop.cpp: a drop of the other list's rows is that direction's move-all.
    void lstEmployees_DragDrop(const QString &source);
    void lstSelectedEmployees_DragDrop(const QString &source);
    // editing/Selection.cpp
    void lstEmployees_Click();
    void lstSelectedEmployees_Click();
    void lstEmployees_ColumnClick(int index);
    void lstSelectedEmployees_ColumnClick(int index);
    // editing/Find.cpp
    void cmdFind_Click();
    void optFind_Click(int index);
    void txtVendorID_Change();
    void txtVendorName_Change();

    // saving/Commit.cpp
    void cmdCommit_Click();
    // True when the save worked: nothing to post, or the post completed (state 12).
    bool SaveToDatabase();
    // saving/PostCompletion.cpp
    void Inet1_StateChanged(int state);

    // --- Pending changes, the history of moves, find next -------------------------------------
    // editing/PendingRows.cpp: the counts of pending links (rows in lstSelectedEmployees) and
    // unlinks (rows in lstEmployees), kept by every move and zeroed by a load; and the drawing
    // and description of pending rows.
    int m_pendingLinks = 0;
    int m_pendingUnlinks = 0;
    int m_shownLinks = 0; // the counts pendingChangesChanged and the commit tooltip last told
    int m_shownUnlinks = 0;
    QString m_idleCommitTip; // the commit button's tooltip while nothing is pending
    void setUpPendingRows();
    void countMove(const ListView *target, const MovedRows &moved);
    // Tells the host and the commit tooltip of changed counts; run when a handler ends, so that
    // a host's slot never runs in the middle of a move.
    void settlePendingChanges();
    // editing/History.cpp: every move that went through, for undo and redo.
    QUndoStack *m_history = nullptr;
    bool m_replaying = false; // an undo or redo is running the reverse or the same move
    void setUpHistory();
    // Called by each move with the rows it carried: counts them and keeps the move.
    void recordMove(ListView *source, ListView *target, bool allSelected, MovedRows moved);
    // A load starts afresh: no history, nothing pending.
    void forgetEdits();
    // editing/FindNext.cpp: F3 and Shift+F3; direction +1 next, -1 previous.
    void setUpFindAgain();
    void findAgain(int direction);
};

} // namespace KavriVendorEmp
