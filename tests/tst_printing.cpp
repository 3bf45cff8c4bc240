// SPDX-License-Identifier: GPL-3.0-or-later
#include "testhelpers.h"

#include "checkfilefrm.h"
#include "dates.h"
#include "dirlistfrm.h"
#include "drives.h"
#include "filesystemboxes.h"
#include "listbox.h"
#include "printedpages.h"
#include "textarea.h"

#include <QAction>
#include <QDate>
#include <QPrinterInfo>
#include <QProcess>
#include <QScopeGuard>

using namespace Qt::StringLiterals;
using PrintedPages::Page;

// Printing goes through a private CUPS server that CTest starts for this test (CUPS_SERVER), with
// a cups-pdf queue as its default printer. Every document is read back from the job file the
// server received, and compared line by line, character by character, with what should be on paper.
class tst_Printing : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void brenvaleListing_data();
    void brenvaleListing();
    void quorrelResult_data();
    void quorrelResult();
    void longLineWraps_data();
    void longLineWraps();
    void longListingTakesPages();
    void refusingQueue_data();
    void refusingQueue();
    void defaultGone_data();
    void defaultGone();
    void noPrinter();

private:
    // Runs the action, which prints one document, and reads that document back into m_lines.
    void print(const std::function<void()>& action);
    QStringList expand(QStringList lines, const QString& folder) const;

    bool m_noPrinter = false;
    PrintedPages::Ruler m_ruler;
    QList<Page> m_pages; // of the document printed last
    QStringList m_lines;
};

void tst_Printing::initTestCase()
{
    m_noPrinter = qEnvironmentVariableIsSet("BRENVALE_EXPECT_NO_PRINTER");
    if (m_noPrinter)
        return;
    if (PrintedPages::spoolFolder().isEmpty() || !qEnvironmentVariableIsSet("CUPS_SERVER"))
        QFAIL(
            "CUPS_SERVER and BRENVALE_PRINT_SPOOL name no private print server: run the test through ctest");
    if (QPrinterInfo::defaultPrinter().isNull())
        QFAIL("the private print server has no default printer");
    Drives::setRootsForTesting({ u"/"_s });

    const QStringList before = PrintedPages::jobFiles();
    PrintedPages::printRuler();
    QString error;
    const QString job = PrintedPages::waitForNewJob(before, error);
    QVERIFY2(!job.isEmpty(), qPrintable(error));
    const QList<Page> pages = PrintedPages::readPages(job, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(PrintedPages::measureRuler(pages, m_ruler, error), qPrintable(error));
}

void tst_Printing::print(const std::function<void()>& action)
{
    m_pages.clear();
    m_lines.clear();
    const QStringList before = PrintedPages::jobFiles();
    action();
    QString error;
    const QString job = PrintedPages::waitForNewJob(before, error);
    QVERIFY2(!job.isEmpty(), qPrintable(error));
    m_pages = PrintedPages::readPages(job, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_lines = PrintedPages::documentLines(PrintedPages::pageLines(m_pages, m_ruler));
}

QStringList tst_Printing::expand(QStringList lines, const QString& folder) const
{
    for (QString& line : lines)
        line.replace(u"{date}"_s, shortDateText(QDate::currentDate())).replace(u"{folder}"_s, folder);
    return PrintedPages::visibleLines(lines);
}

void tst_Printing::brenvaleListing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("getFolder");
    QTest::addColumn<QString>("typed"); // into the listing box after List Folder, when not empty
    QTest::addColumn<QStringList>("paper");

    const QStringList heading { QString(), QString(), u"Date created:-  {date}"_s };
    QTest::newRow("two names") << QStringList { u"first.dat"_s, u"second.dat"_s } << true << QString()
                               << heading
            + QStringList { u"Folder Name:-  {folder}/"_s, QString(), u"first.dat"_s, u"second.dat"_s };
    QTest::newRow("runs of spaces and letters that ligate")
        << QStringList { u"a  two spaces.iff"_s, u"b fifty fluffy office.iff"_s, u"c    four.dat"_s } << true
        << QString()
        << heading
            + QStringList { u"Folder Name:-  {folder}/"_s, QString(), u"a  two spaces.iff"_s,
                  u"b fifty fluffy office.iff"_s, u"c    four.dat"_s };
    QTest::newRow("before any Get Folder") << QStringList { u"first.dat"_s } << false << QString()
                                           << heading + QStringList { u"Folder Name:-"_s };
    QTest::newRow("text typed into the listing")
        << QStringList { u"first.dat"_s } << true << u"my  own\r\n\r\n   words, kept\r\n"_s
        << heading
            + QStringList { u"Folder Name:-  {folder}/"_s, QString(), u"my  own"_s, QString(),
                  u"   words, kept"_s };
}

void tst_Printing::brenvaleListing()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    QFETCH(QStringList, files);
    QFETCH(bool, getFolder);
    QFETCH(QString, typed);
    QFETCH(QStringList, paper);

    QTemporaryDir folder;
    touchFiles(folder.path(), files);
    DirListFrm window;
    window.show();
    child<DirListBox>(&window, "Dir1")->setPath(folder.path());
    if (getFolder) {
        QTest::mouseClick(child<QPushButton>(&window, "GetDirCmd"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&window, "cmdRightAll"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&window, "listDirCmd"), Qt::LeftButton);
    }
    auto* listing = child<TextArea>(&window, "dirCntTxt");
    if (!typed.isEmpty())
        listing->setText(typed);
    const QString before = listing->Text();

    ModalAnswerer answer;
    print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(answer.boxes.isEmpty(), qPrintable(answer.boxes.value(0).prompt));
    QCOMPARE(m_lines, expand(paper, folder.path()));
    // Printing changes nothing on the screen.
    QCOMPARE(listing->Text(), before);
}

void tst_Printing::quorrelResult_data()
{
    QTest::addColumn<QByteArray>("oldList");
    QTest::addColumn<QByteArray>("newList");
    QTest::addColumn<bool>("start");
    QTest::addColumn<QString>("typedLater"); // into tNewDir after Start, when not empty
    QTest::addColumn<QStringList>("paper");

    const QStringList heading { QString(), QString(), QString(), u"Date Created:-  {date}"_s,
        u"New Files in this folder"_s };
    QTest::newRow("new names") << QByteArray("a.dat\r\n\r\n\r\n")
                               << QByteArray("a.dat\r\nadded.iff\r\nfifth  file.iff\r\n\r\n\r\n") << true
                               << QString()
                               << heading
            + QStringList { u"Folder Name:-  {folder}/new"_s, QString(), u"        added.iff"_s,
                  u"        fifth  file.iff"_s };
    QTest::newRow("no new names") << QByteArray("a.dat\r\n\r\n\r\n") << QByteArray("a.dat\r\n\r\n\r\n")
                                  << true << QString()
                                  << heading + QStringList { u"Folder Name:-  {folder}/new"_s };
    QTest::newRow("before any comparison") << QByteArray() << QByteArray() << false << QString()
                                           << heading + QStringList { u"Folder Name:-  {folder}/new"_s };
    QTest::newRow("list name typed after the comparison")
        << QByteArray("a.dat\r\n\r\n\r\n") << QByteArray("a.dat\r\nmore.iff\r\n\r\n\r\n") << true
        << u"typed  later"_s
        << heading + QStringList { u"Folder Name:-  typed  later"_s, QString(), u"        more.iff"_s };
}

void tst_Printing::quorrelResult()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    QFETCH(QByteArray, oldList);
    QFETCH(QByteArray, newList);
    QFETCH(bool, start);
    QFETCH(QString, typedLater);
    QFETCH(QStringList, paper);

    QTemporaryDir folder;
    writeBytes(folder.filePath(u"old.txt"_s), oldList);
    writeBytes(folder.filePath(u"new.txt"_s), newList);
    CheckFileFrm window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    child<QLineEdit>(&window, "tOldDir")->setText(folder.filePath(u"old"_s));
    child<QLineEdit>(&window, "tNewDir")->setText(folder.filePath(u"new"_s));
    ModalAnswerer answer;
    if (start)
        QTest::mouseClick(child<QPushButton>(&window, "Command1"), Qt::LeftButton);
    if (!typedLater.isEmpty())
        child<QLineEdit>(&window, "tNewDir")->setText(typedLater);

    print([&] { QTest::keyClick(child<QLineEdit>(&window, "tOldDir"), Qt::Key_P, Qt::ControlModifier); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(answer.boxes.isEmpty(), qPrintable(answer.boxes.value(0).prompt));
    QCOMPARE(m_lines, expand(paper, folder.path()));
}

void tst_Printing::longLineWraps_data()
{
    QTest::addColumn<bool>("inQuorrel"); // as a new name of Quorrel's result, else typed in Brenvale
    QTest::addColumn<QString>("line"); // as it is printed, before wrapping
    QTest::addColumn<QString>("indent"); // of every continued line

    QString letters;
    for (int i = 0; letters.size() < 300; ++i)
        letters += u"fi%1fl_"_s.arg(i, 3, 10, QChar(u'0'));
    letters.truncate(300);
    QString spaced;
    for (int i = 0; spaced.size() < 300; ++i)
        spaced += u"Sim  family %1 "_s.arg(i);
    spaced.truncate(299);
    spaced += u'x';
    // Mostly spaces, so that the breaks fall inside runs of spaces.
    QString gaps;
    while (gaps.size() < 300)
        gaps += u"ab"_s + QString(18, u' ');
    gaps.truncate(299);
    gaps += u'z';
    QCOMPARE(letters.size(), 300);
    QCOMPARE(spaced.size(), 300);

    QTest::newRow("300 letters in Quorrel's result")
        << true << QString(8, u' ') + letters << QString(12, u' ');
    QTest::newRow("300 characters and spaces in Quorrel's result")
        << true << QString(8, u' ') + spaced << QString(12, u' ');
    QTest::newRow("300 characters, breaks among spaces, in Quorrel's result")
        << true << QString(8, u' ') + gaps << QString(12, u' ');
    QTest::newRow("300 characters, breaks among spaces, typed in Brenvale's listing")
        << false << gaps << QString(4, u' ');
    QTest::newRow("300 letters typed in Brenvale's listing") << false << letters << QString(4, u' ');
    QTest::newRow("300 characters and spaces typed in Brenvale's listing")
        << false << spaced << QString(4, u' ');
}

void tst_Printing::longLineWraps()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    QFETCH(bool, inQuorrel);
    QFETCH(QString, line);
    QFETCH(QString, indent);

    QStringList heading;
    if (inQuorrel) {
        QTemporaryDir folder;
        writeBytes(folder.filePath(u"old.txt"_s), "a.dat\r\n\r\n\r\n");
        writeBytes(folder.filePath(u"new.txt"_s), line.trimmed().toUtf8() + "\r\n\r\n\r\n");
        CheckFileFrm window;
        child<QLineEdit>(&window, "tOldDir")->setText(folder.filePath(u"old"_s));
        child<QLineEdit>(&window, "tNewDir")->setText(folder.filePath(u"new"_s));
        QTest::mouseClick(child<QPushButton>(&window, "Command1"), Qt::LeftButton);
        print([&] { child<QAction>(&window, "mnuPrntfldr")->trigger(); });
        heading = expand({ QString(), QString(), QString(), u"Date Created:-  {date}"_s,
                             u"New Files in this folder"_s, u"Folder Name:-  {folder}/new"_s },
            folder.path());
    } else {
        DirListFrm window;
        child<TextArea>(&window, "dirCntTxt")->setText(line + u"\r\n"_s);
        print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); });
        heading = expand({ QString(), QString(), u"Date created:-  {date}"_s, u"Folder Name:-"_s }, {});
    }
    if (QTest::currentTestFailed())
        return;

    heading.append(QString()); // between the heading and the text
    QCOMPARE(m_lines.mid(0, heading.size()), heading);
    const QStringList printed = m_lines.mid(heading.size());
    QVERIFY2(printed.size() > 1, qPrintable(printed.join(u'|')));
    // The first printed line starts the line as it stands; every next one carries on after an
    // indent, and together they give back every character.
    QString joined = printed.first();
    for (const QString& continued : printed.mid(1)) {
        QVERIFY2(continued.startsWith(indent) && continued.size() > indent.size(), qPrintable(continued));
        joined += continued.mid(indent.size());
    }
    QCOMPARE(joined, line);
    QCOMPARE(PrintedPages::wordOutsideMargins(m_pages, 10), QString());
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
    print([&] { QTest::mouseClick(child<QPushButton>(&window, "printDirCmd"), Qt::LeftButton); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(m_pages.size() > 1);
    QCOMPARE(PrintedPages::wordOutsideMargins(m_pages, 10), QString());
    QCOMPARE(m_lines,
        expand(
            QStringList { QString(), QString(), u"Date created:-  {date}"_s, u"Folder Name:-"_s, QString() }
                + names,
            {}));
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
    const QStringList before = PrintedPages::jobFiles();
    ModalAnswerer answer;
    child<QAction>(&window, "mnuPrntfldr")->trigger();
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY2(answer.boxes.at(0).prompt.contains(reason), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(answer.boxes.at(0).prompt.contains(queue));
    QCOMPARE(PrintedPages::jobFiles(), before);
    QCOMPARE(child<TextArea>(&window, "NewFiletxt")->Text(), u"        kept.iff\r\n"_s);
}

void tst_Printing::defaultGone_data()
{
    QTest::addColumn<QString>("variable"); // that names the user's own default, or empty for the server's
    QTest::addColumn<QString>("message");
    QTest::newRow("user's default named by LPDEST")
        << u"LPDEST"_s << u"The default printer Gone cannot be found."_s;
    QTest::newRow("user's default named by PRINTER")
        << u"PRINTER"_s << u"The default printer Gone cannot be found."_s;
    QTest::newRow("server's default removed, another queue left")
        << QString() << u"No printer is chosen as the default."_s;
}

// A queue named Gone is made the default and then removed, as when a printer is taken away.
void tst_Printing::defaultGone()
{
    if (m_noPrinter)
        QSKIP("runs where a printer is installed");
    QFETCH(QString, variable);
    QFETCH(QString, message);
    const QString queue = QPrinterInfo::defaultPrinter().printerName();
    QCOMPARE(QProcess::execute(u"lpadmin"_s, { u"-p"_s, u"Gone"_s, u"-E"_s, u"-v"_s, u"cups-pdf:/"_s }), 0);
    auto restore = qScopeGuard([&] {
        if (!variable.isEmpty())
            qunsetenv(variable.toLatin1().constData());
        QProcess::execute(u"lpadmin"_s, { u"-x"_s, u"Gone"_s });
        QProcess::execute(u"lpadmin"_s, { u"-d"_s, queue });
    });
    if (variable.isEmpty())
        QCOMPARE(QProcess::execute(u"lpadmin"_s, { u"-d"_s, u"Gone"_s }), 0);
    else
        qputenv(variable.toLatin1().constData(), "Gone");
    QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), u"Gone"_s);
    QCOMPARE(QProcess::execute(u"lpadmin"_s, { u"-x"_s, u"Gone"_s }), 0);

    const QStringList before = PrintedPages::jobFiles();
    DirListFrm listing;
    listing.show();
    CheckFileFrm comparison;
    comparison.show();
    ModalAnswerer answer;
    QTest::mouseClick(child<QPushButton>(&listing, "printDirCmd"), Qt::LeftButton);
    QTRY_COMPARE(answer.boxes.size(), 1);
    child<QAction>(&comparison, "mnuPrntfldr")->trigger();
    QTRY_COMPARE(answer.boxes.size(), 2);
    for (const SeenBox& box : answer.boxes) {
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(box.prompt.startsWith(message), qPrintable(box.prompt));
    }
    QCOMPARE(PrintedPages::jobFiles(), before);
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
    QVERIFY2(answer.boxes.at(0).prompt.startsWith(u"No printer is installed."_s),
        qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(listing.isVisible());

    CheckFileFrm comparison;
    comparison.show();
    child<QAction>(&comparison, "mnuPrntfldr")->trigger();
    QTRY_COMPARE(answer.boxes.size(), 2);
    QVERIFY(answer.boxes.at(1).prompt.startsWith(u"No printer is installed."_s));
    QVERIFY(comparison.isVisible());
}

QTEST_MAIN(tst_Printing)
#include "tst_printing.moc"
