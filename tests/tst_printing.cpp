#include "testhelpers.h"

#include "checkfilefrm.h"
#include "dates.h"
#include "dirlistfrm.h"
#include "drives.h"
#include "filesystemboxes.h"
#include "listbox.h"
#include "textarea.h"

#include <QAction>
#include <QDate>
#include <QDirIterator>
#include <QPrinterInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

// Printing goes through the real CUPS queue that the test command sets up. The PDF that Qt hands
// to CUPS is kept in the spool folder (PreserveJobFiles), and pdftotext reads it back.
class tst_Printing : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void brenvaleListing();
    void brenvaleBeforeAnyListing();
    void quorrelResult();
    void longListingTakesPages();
    void refusingQueue_data();
    void refusingQueue();
    void noPrinter();

private:
    QStringList spoolFiles() const;
    // The lines of the document printed by an action, read back from the queue.
    void print(const std::function<void()>& action, QStringList& lines);

    bool m_noPrinter = false;
    int m_pages = 0; // of the document printed last
    QTemporaryDir m_dir;
};

static const QString spoolFolder = u"/var/spool/cups"_s;

void tst_Printing::initTestCase()
{
    m_noPrinter = qEnvironmentVariableIsSet("BRENVALE_EXPECT_NO_PRINTER");
    if (m_noPrinter)
        return;
    if (QPrinterInfo::defaultPrinter().isNull())
        QFAIL("no default printer: run the test command, which sets up the cups-pdf queue");
    Drives::setRootsForTesting({ u"/"_s });
}

QStringList tst_Printing::spoolFiles() const
{
    return QDir(spoolFolder).entryList({ u"d*-001"_s }, QDir::Files);
}

void tst_Printing::print(const std::function<void()>& action, QStringList& lines)
{
    const QStringList before = spoolFiles();
    action();
    const auto added = [&] {
        QStringList now = spoolFiles();
        for (const QString& name : before)
            now.removeAll(name);
        return now;
    };
    QTRY_COMPARE_WITH_TIMEOUT(added().size(), 1, 20000);
    QProcess text;
    text.start(u"pdftotext"_s, { u"-layout"_s, spoolFolder + u'/' + added().first(), u"-"_s });
    QVERIFY(text.waitForFinished(20000));
    QCOMPARE(text.exitCode(), 0);
    const QString raw = QString::fromUtf8(text.readAllStandardOutput());
    m_pages = int(raw.count(u'\f'));
    // Compatibility decomposition undoes the ligatures (fi, ff) that pdftotext gives back.
    lines = raw.normalized(QString::NormalizationForm_KC).split(u'\n');
    for (QString& line : lines)
        line = line.simplified();
}

void tst_Printing::brenvaleListing()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    DirListFrm window;
    window.show();
    touchFiles(m_dir.path(), { u"first.dat"_s, u"second.dat"_s });
    child<DirListBox>(&window, "Dir1")->setPath(m_dir.path());
    QTest::mouseClick(child<QPushButton>(&window, "GetDirCmd"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&window, "cmdRightAll"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&window, "listDirCmd"), Qt::LeftButton);

    ModalAnswerer answer;
    QStringList lines;
    print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); }, lines);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(answer.boxes.isEmpty(), qPrintable(answer.boxes.value(0).prompt));
    const qsizetype date = lines.indexOf(u"Date created:- "_s + shortDateText(QDate::currentDate()));
    QVERIFY2(date >= 0, qPrintable(lines.join(u'|')));
    QCOMPARE(lines.at(date + 1), u"Folder Name:- "_s + m_dir.path() + u'/');
    QCOMPARE(lines.at(date + 2), QString());
    QCOMPARE(lines.at(date + 3), u"first.dat"_s);
    QCOMPARE(lines.at(date + 4), u"second.dat"_s);
    // The listing is unchanged by printing.
    QCOMPARE(child<TextArea>(&window, "dirCntTxt")->Text(), u"first.dat\r\nsecond.dat\r\n\r\n"_s);
}

void tst_Printing::brenvaleBeforeAnyListing()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    DirListFrm window;
    QStringList lines;
    print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); }, lines);
    if (QTest::currentTestFailed())
        return;
    const qsizetype date = lines.indexOf(u"Date created:- "_s + shortDateText(QDate::currentDate()));
    QVERIFY2(date >= 0, qPrintable(lines.join(u'|')));
    QCOMPARE(lines.at(date + 1), u"Folder Name:-"_s);
}

void tst_Printing::quorrelResult()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    writeBytes(m_dir.filePath(u"old.txt"_s), "a.dat\r\n\r\n\r\n");
    writeBytes(m_dir.filePath(u"new.txt"_s), "a.dat\r\nadded.iff\r\nmore.iff\r\n\r\n\r\n");
    CheckFileFrm window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    child<QLineEdit>(&window, "tOldDir")->setText(m_dir.filePath(u"old"_s));
    child<QLineEdit>(&window, "tNewDir")->setText(m_dir.filePath(u"new"_s));
    QTest::mouseClick(child<QPushButton>(&window, "Command1"), Qt::LeftButton);
    child<QLineEdit>(&window, "tNewDir")->setText(u"typed later"_s);

    QStringList lines;
    print([&] { QTest::keyClick(child<QLineEdit>(&window, "tOldDir"), Qt::Key_P, Qt::ControlModifier); },
        lines);
    if (QTest::currentTestFailed())
        return;
    const qsizetype date = lines.indexOf(u"Date Created:- "_s + shortDateText(QDate::currentDate()));
    QVERIFY2(date >= 0, qPrintable(lines.join(u'|')));
    QCOMPARE(lines.at(date + 1), u"New Files in this folder"_s);
    QCOMPARE(lines.at(date + 2), u"Folder Name:- typed later"_s);
    QCOMPARE(lines.at(date + 3), QString());
    QCOMPARE(lines.at(date + 4), u"added.iff"_s);
    QCOMPARE(lines.at(date + 5), u"more.iff"_s);
    QVERIFY(!lines.contains(u"a.dat"_s));
}

void tst_Printing::longListingTakesPages()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    DirListFrm window;
    QStringList names;
    for (int i = 0; i < 150; ++i)
        names << u"file%1.dat"_s.arg(i, 3, 10, QChar(u'0'));
    child<ListBox>(&window, "lstAll")->AddItems(names);
    QTest::mouseClick(child<QPushButton>(&window, "cmdRightAll"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&window, "listDirCmd"), Qt::LeftButton);
    QStringList lines;
    print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); }, lines);
    if (QTest::currentTestFailed())
        return;
    for (const QString& name : names)
        QVERIFY2(lines.contains(name), qPrintable(name));
    QVERIFY(m_pages > 1);
}

void tst_Printing::refusingQueue_data()
{
    QTest::addColumn<QString>("refuse");
    QTest::addColumn<QString>("allow");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not accepting jobs") << u"cupsreject"_s << u"cupsaccept"_s << u"not accepting"_s;
    QTest::newRow("stopped") << u"cupsdisable"_s << u"cupsenable"_s << u"stopped"_s;
}

void tst_Printing::refusingQueue()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    QFETCH(QString, refuse);
    QFETCH(QString, allow);
    QFETCH(QString, reason);
    const QString queue = QPrinterInfo::defaultPrinter().printerName();
    QCOMPARE(QProcess::execute(refuse, { queue }), 0);
    auto restore = qScopeGuard([&] { QProcess::execute(allow, { queue }); });

    CheckFileFrm window;
    child<TextArea>(&window, "NewFiletxt")->setText(u"        kept.iff\r\n"_s);
    const QStringList before = spoolFiles();
    ModalAnswerer answer;
    child<QAction>(&window, "mnuPrntfldr")->trigger();
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY2(answer.boxes.at(0).prompt.contains(reason), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(answer.boxes.at(0).prompt.contains(queue));
    QCOMPARE(spoolFiles(), before);
    QCOMPARE(child<TextArea>(&window, "NewFiletxt")->Text(), u"        kept.iff\r\n"_s);
}

void tst_Printing::noPrinter()
{
    if (!m_noPrinter)
        QSKIP("runs with BRENVALE_EXPECT_NO_PRINTER, against a print server that is not there");
    DirListFrm listing;
    listing.show();
    ModalAnswerer answer;
    QTest::mouseClick(child<QPushButton>(&listing, "printDirCmd"), Qt::LeftButton);
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(answer.boxes.at(0).title, QCoreApplication::applicationName());
    QVERIFY2(answer.boxes.at(0).prompt.contains(u"No printer"_s), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(listing.isVisible());

    CheckFileFrm comparison;
    comparison.show();
    child<QAction>(&comparison, "mnuPrntfldr")->trigger();
    QTRY_COMPARE(answer.boxes.size(), 2);
    QVERIFY(answer.boxes.at(1).prompt.contains(u"No printer"_s));
    QVERIFY(comparison.isVisible());
}

QTEST_MAIN(tst_Printing)
#include "tst_printing.moc"
