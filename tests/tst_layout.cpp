// SPDX-License-Identifier: GPL-3.0-or-later
#include "layouttables.h"
#include "testhelpers.h"

#include "checkfilefrm.h"
#include "dirlistfrm.h"
#include "drives.h"
#include "label.h"
#include "twips.h"

#include <QMainWindow>

#include <memory>

using namespace Qt::StringLiterals;

// What the screen shows: each control is painted at its design place in the window (run at 100%
// and, with QT_SCALE_FACTOR=2, at 200%), and no caption is cut off.
class tst_Layout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void controlsAtTheirPlaces_data();
    void controlsAtTheirPlaces();
    void captionsFit_data();
    void captionsFit();

private:
    QMainWindow* window(const QString& which);
    std::unique_ptr<DirListFrm> m_listing;
    std::unique_ptr<CheckFileFrm> m_comparison;
};

void tst_Layout::initTestCase()
{
    Drives::setRootsForTesting({ u"/"_s });
    m_listing = std::make_unique<DirListFrm>();
    m_comparison = std::make_unique<CheckFileFrm>();
    for (QMainWindow* shown :
        { static_cast<QMainWindow*>(m_listing.get()), static_cast<QMainWindow*>(m_comparison.get()) }) {
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
    }
    if (QWidget* focus = QApplication::focusWidget())
        focus->clearFocus(); // no blinking text cursor between two pictures
}

QMainWindow* tst_Layout::window(const QString& which)
{
    return which == u"Brenvale"_s ? static_cast<QMainWindow*>(m_listing.get()) : m_comparison.get();
}

void tst_Layout::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twipsRect");
    for (const auto& [window, rows] : { std::pair { u"Brenvale"_s, listingControls() },
             std::pair { u"Quorrel"_s, comparisonControls() } }) {
        for (const ControlRow& row : rows) {
            if (row.twips.width() > 0) // a label sized to its caption has no fixed size to paint
                QTest::newRow(qPrintable(window + u' ' + QString::fromLatin1(row.name)))
                    << window << QString::fromLatin1(row.name) << row.twips;
        }
    }
}

void tst_Layout::controlsAtTheirPlaces()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(QRect, twipsRect);
    QWidget* client = this->window(window)->centralWidget();
    auto* control = client->findChild<QWidget*>(name);
    QVERIFY(control);
    // A caption's lowest pixel lies under the box below it, so only the part above is compared.
    auto* caption = qobject_cast<Label*>(control);
    const int overlap = caption && caption->frameShape() == QFrame::NoFrame ? 15 : 0;
    const QRect place
        = twipRect(twipsRect.x(), twipsRect.y(), twipsRect.width(), twipsRect.height() - overlap);
    const QPixmap screen = client->grab(place);
    const QPixmap alone = control->grab(QRect(QPoint(0, 0), place.size()));
    QCOMPARE(screen.size(), alone.size());
    QCOMPARE(screen.toImage().convertToFormat(QImage::Format_RGB32),
        alone.toImage().convertToFormat(QImage::Format_RGB32));
}

void tst_Layout::captionsFit_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    for (const char* name :
        { "SavDir", "printDirCmd", "listDirCmd", "GetDirCmd", "cmdLeftAll", "cmdLeftOne", "cmdRightAll",
            "cmdRightOne", "Label5", "Label4", "Label3", "Label2", "lblPath", "lblSelected", "lblAll" })
        QTest::newRow(qPrintable(u"Brenvale "_s + QString::fromLatin1(name)))
            << u"Brenvale"_s << QString::fromLatin1(name);
    for (const char* name : { "Command1", "Label5", "Label4", "lblNewDir", "lblOldDir", "Label1" })
        QTest::newRow(qPrintable(u"Quorrel "_s + QString::fromLatin1(name)))
            << u"Quorrel"_s << QString::fromLatin1(name);
}

void tst_Layout::captionsFit()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    auto* control = this->window(window)->centralWidget()->findChild<QWidget*>(name);
    QVERIFY(control);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        const int text = button->fontMetrics().horizontalAdvance(button->text().remove(u'&'));
        QVERIFY2(text + 8 <= button->width(),
            qPrintable(u"%1 needs %2 of %3"_s.arg(name).arg(text).arg(button->width())));
        return;
    }
    auto* label = qobject_cast<Label*>(control);
    QVERIFY(label);
    // One line of text, narrowed at most a little where the stand-in font is wider than the design's.
    const int text = label->fontMetrics().horizontalAdvance(label->shownText());
    QVERIFY2(text * 85 / 100 <= label->contentsRect().width() - 2,
        qPrintable(u"%1 needs %2 of %3"_s.arg(name).arg(text).arg(label->contentsRect().width())));
    QVERIFY(label->fontMetrics().height() <= label->height() + 1);
}

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
