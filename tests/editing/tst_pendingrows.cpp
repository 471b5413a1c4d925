// How pending rows look and what they tell assistive technology.
#include "EditorHarness.h"

#include <QStyledItemDelegate>

using namespace kvetest;

namespace {

QImage rowImage(ListView *list, int position)
{
    const QAbstractItemModel *model = list->model();
    const QRect rect = list->visualRect(model->index(position - 1, 0))
                           .united(list->visualRect(model->index(position - 1, 1)));
    return list->viewport()->grab(rect).toImage();
}

// Whether some pixel of the image's left `width` columns is within a small distance of `colour`.
bool hasColourNear(const QImage &image, int width, QColor colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) +
                    qAbs(c.blue() - colour.blue()) < 60)
                return true;
        }
    return false;
}

} // namespace

class tst_PendingRows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void drawnAndDescribed_data();
    void drawnAndDescribed();
};

void tst_PendingRows::drawnAndDescribed_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("light") << QApplication::palette();
    QPalette dark(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    QTest::newRow("dark") << dark;
    QPalette contrast(Qt::white, Qt::black);
    contrast.setColor(QPalette::Text, Qt::yellow);
    QTest::newRow("high contrast") << contrast;
}

// A pending unlink beside an unchanged row with the same ID and name: the same texts, drawn
// differently, with a mark in the text's colour; "pending link" and "pending unlink" on every
// column; with the plain delegate the two rows look alike, so the difference is all drawn.
void tst_PendingRows::drawnAndDescribed()
{
    QFETCH(QPalette, palette);
    Editor e;
    e.control->setPalette(palette);
    e.load({{"42", "Bob"}, {"7", "Al"}}, {{"42", "Bob"}});
    Editor::clickRow(e.lstSelectedEmployees, QStringLiteral("42"));
    QTest::mouseClick(e.cmdDelete, Qt::LeftButton);
    Editor::clickRow(e.lstEmployees, QStringLiteral("7"));
    QTest::mouseClick(e.cmdAdd, Qt::LeftButton);
    ListView *list = e.lstEmployees; // 42 (000042), 42 (000042D)
    QCOMPARE(Editor::codes(list), QStringList({"000042", "000042D"}));
    for (int i = 1; i <= 2; ++i)
        list->Item(i).setSelected(false);
    e.txtVendorID->setFocus();

    const QAbstractItemModel *model = list->model();
    const QAbstractItemModel *right = e.lstSelectedEmployees->model();
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(model->index(0, column).data(Qt::AccessibleDescriptionRole), QVariant());
        QCOMPARE(model->index(1, column).data(Qt::AccessibleDescriptionRole).toString(),
                 QStringLiteral("pending unlink"));
        QCOMPARE(right->index(0, column).data(Qt::AccessibleDescriptionRole).toString(),
                 QStringLiteral("pending link"));
    }
    QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("42"));

    const QImage unchanged = rowImage(list, 1);
    const QImage pending = rowImage(list, 2);
    QVERIFY(pending != unchanged);
    // Left of the moved-over ID only the mark is drawn.
    const int markArea = list->fontMetrics().height() * 5 / 8 + 2;
    QVERIFY(hasColourNear(pending, markArea, list->palette().color(QPalette::Text)));

    list->setItemDelegate(new QStyledItemDelegate(list));
    QCOMPARE(rowImage(list, 1), unchanged);
    QCOMPARE(rowImage(list, 2), unchanged);
}

QTEST_MAIN(tst_PendingRows)
#include "tst_pendingrows.moc"
