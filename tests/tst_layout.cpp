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
    for (QMainWindow* shown : { static_cast<QMainWindow*>(m_listing.get()), static_cast<QMainWindow*>(m_comparison.get()) }) {
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

static void addControls(const QString& window, std::initializer_list<std::pair<const char*, QRect>> controls)
{
    for (const auto& [name, rect] : controls)
        QTest::newRow(qPrintable(window + u' ' + QString::fromLatin1(name))) << window << QString::fromLatin1(name) << rect;
}

void tst_Layout::controlsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twipsRect");
    addControls(u"Brenvale"_s,
        { { "SavDir", { 7560, 6840, 1215, 375 } }, { "File1", { 360, 4440, 2895, 1260 } }, { "Dir1", { 360, 2160, 2895, 1890 } },
            { "Drive1", { 360, 1320, 2175, 315 } }, { "printDirCmd", { 9120, 6840, 1215, 375 } },
            { "listDirCmd", { 5760, 6840, 1215, 375 } }, { "dirCntTxt", { 3720, 3120, 7095, 3495 } },
            { "GetDirCmd", { 4200, 6840, 1215, 375 } }, { "cmdDown", { 10920, 2160, 435, 435 } },
            { "cmdUp", { 10920, 1560, 435, 435 } }, { "cmdLeftAll", { 6960, 2400, 576, 336 } },
            { "cmdLeftOne", { 6960, 2040, 576, 336 } }, { "cmdRightAll", { 6960, 1680, 576, 336 } },
            { "cmdRightOne", { 6960, 1320, 576, 336 } }, { "lstSelected", { 7800, 1320, 2940, 1425 } },
            { "lstAll", { 3720, 1320, 2940, 1425 } }, { "Label5", { 6360, 2880, 1935, 240 } },
            { "Image1", { 360, 360, 480, 480 } }, { "Label4", { 360, 4200, 375, 240 } }, { "Label3", { 360, 1920, 735, 240 } },
            { "Label2", { 360, 1080, 615, 240 } }, { "lblPath", { 2640, 240, 1095, 255 } }, { "Label1", { 2640, 600, 8535, 255 } },
            { "lblCount", { 1080, 6120, 1215, 255 } } });
    addControls(u"Quorrel"_s,
        { { "tNewDir", { 6000, 840, 2535, 285 } }, { "tOldDir", { 2880, 840, 2535, 285 } },
            { "NewFiletxt", { 2880, 2040, 5655, 4335 } }, { "Command1", { 5160, 7080, 1215, 495 } },
            { "Image1", { 240, 600, 480, 480 } }, { "Label2", { 9360, 3240, 855, 255 } }, { "Label5", { 9240, 4560, 1455, 240 } },
            { "Label4", { 9120, 3000, 1455, 240 } }, { "Label3", { 9480, 4800, 855, 255 } },
            { "lblNewDir", { 6000, 600, 1815, 240 } }, { "lblOldDir", { 2880, 600, 1815, 240 } },
            { "Label1", { 3960, 1800, 3135, 240 } }, { "LblInfo", { 240, 2760, 2175, 3015 } } });
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
    const QRect place = twipRect(twipsRect.x(), twipsRect.y(), twipsRect.width(), twipsRect.height());
    const QPixmap screen = client->grab(place);
    const QPixmap alone = control->grab(QRect(QPoint(0, 0), place.size()));
    QCOMPARE(screen.size(), alone.size());
    QCOMPARE(screen.toImage().convertToFormat(QImage::Format_RGB32), alone.toImage().convertToFormat(QImage::Format_RGB32));
}

void tst_Layout::captionsFit_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    for (const char* name : { "SavDir", "printDirCmd", "listDirCmd", "GetDirCmd", "cmdLeftAll", "cmdLeftOne", "cmdRightAll",
             "cmdRightOne", "Label5", "Label4", "Label3", "Label2", "lblPath", "lblSelected", "lblAll" })
        QTest::newRow(qPrintable(u"Brenvale "_s + QString::fromLatin1(name))) << u"Brenvale"_s << QString::fromLatin1(name);
    for (const char* name : { "Command1", "Label5", "Label4", "lblNewDir", "lblOldDir", "Label1" })
        QTest::newRow(qPrintable(u"Quorrel "_s + QString::fromLatin1(name))) << u"Quorrel"_s << QString::fromLatin1(name);
}

void tst_Layout::captionsFit()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    auto* control = this->window(window)->centralWidget()->findChild<QWidget*>(name);
    QVERIFY(control);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        const int text = button->fontMetrics().horizontalAdvance(button->text().remove(u'&'));
        QVERIFY2(text + 8 <= button->width(), qPrintable(u"%1 needs %2 of %3"_s.arg(name).arg(text).arg(button->width())));
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
