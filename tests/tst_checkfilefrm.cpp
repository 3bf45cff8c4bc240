// SPDX-License-Identifier: GPL-3.0-or-later
#include "layouttables.h"
#include "testhelpers.h"

#include "checkfilefrm.h"
#include "label.h"
#include "textarea.h"
#include "twips.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>

#include <memory>

using namespace Qt::StringLiterals;

class tst_CheckFileFrm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName(u"Quorrel"_s); }
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowProperties();
    void tabOrderAndKeys();
    void menus();
    void welcomeText();
    void startUpMakesProgramFolderCurrent();

    void start_data();
    void start();
    void bareNamesAreFoundInProgramFolder();
    void missingLists_data();
    void missingLists();
    void unreadableListKeepsResult();
    void startTwiceGivesSameResult();
    void badLists_data();
    void badLists();
    void hugeList();
    void namesDifferingInOneByte();
    void enterOnStartButton_data();
    void enterOnStartButton();
    void caseVariantsThatAreNoFiles_data();
    void caseVariantsThatAreNoFiles();

    void messages_data();
    void messages();
    void exitCloses();

private:
    QString list(const QString& name, const QByteArray& bytes);
    void start(const QString& oldName, const QString& newName);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CheckFileFrm> m_window;
};

void tst_CheckFileFrm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<CheckFileFrm>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void tst_CheckFileFrm::cleanup()
{
    m_window.reset();
    m_dir.reset();
}

QString tst_CheckFileFrm::list(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(name);
    writeBytes(path, bytes);
    return path;
}

void tst_CheckFileFrm::start(const QString& oldName, const QString& newName)
{
    child<QLineEdit>(m_window.get(), "tOldDir")->setText(oldName);
    child<QLineEdit>(m_window.get(), "tNewDir")->setText(newName);
    QTest::mouseClick(child<QPushButton>(m_window.get(), "Command1"), Qt::LeftButton);
}

void tst_CheckFileFrm::controls_data()
{
    addControlRows(comparisonControls());
}

void tst_CheckFileFrm::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, twipsRect);
    QFETCH(QString, caption);
    QFETCH(QString, tip);
    auto* control = m_window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(
        control->geometry(), twipRect(twipsRect.x(), twipsRect.y(), twipsRect.width(), twipsRect.height()));
    QCOMPARE(control->toolTip(), tip);
    if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), caption);
    else if (auto* label = qobject_cast<Label*>(control); label && name != u"LblInfo"_s)
        QCOMPARE(label->Caption(), caption);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        QCOMPARE(edit->text(), QString());
}

void tst_CheckFileFrm::windowProperties()
{
    QCOMPARE(m_window->windowTitle(), u"Quorrel"_s);
    QCOMPARE(m_window->centralWidget()->size(), QSize(752, 545));
    QCOMPARE(m_window->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    auto* total = child<Label>(m_window.get(), "Label2");
    auto* added = child<Label>(m_window.get(), "Label3");
    QCOMPARE(total->palette().color(QPalette::Window), QColor(0, 192, 0));
    QCOMPARE(added->palette().color(QPalette::Window), QColor(255, 0, 0));
    QCOMPARE(total->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    QVERIFY(total->font().bold() && added->font().bold());
    QVERIFY(child<Label>(m_window.get(), "Label1")->font().bold());
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(
        child<QLineEdit>(m_window.get(), "tOldDir")->palette().color(QPalette::Base), QColor(255, 255, 255));
}

void tst_CheckFileFrm::tabOrderAndKeys()
{
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(m_window.get(), "tOldDir"));
    QStringList seen { QApplication::focusWidget()->objectName() };
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(
        seen, (QStringList { u"tOldDir"_s, u"tNewDir"_s, u"Command1"_s, u"NewFiletxt"_s, u"tOldDir"_s }));

    auto* startButton = child<QPushButton>(m_window.get(), "Command1");
    startButton->disconnect();
    QSignalSpy clicked(startButton, &QPushButton::clicked);
    QTest::keyClick(child<QLineEdit>(m_window.get(), "tOldDir"), Qt::Key_Return);
    QTest::keyClick(child<QLineEdit>(m_window.get(), "tNewDir"), Qt::Key_Return);
    QCOMPARE(clicked.count(), 0);
    QTest::keyClick(m_window.get(), 's', Qt::AltModifier);
    QTRY_COMPARE(clicked.count(), 1);

    // Ctrl+P prints while the menu is closed and the focus is in a name box.
    auto* print = child<QAction>(m_window.get(), "mnuPrntfldr");
    print->disconnect();
    QSignalSpy printed(print, &QAction::triggered);
    QTest::keyClick(child<QLineEdit>(m_window.get(), "tNewDir"), Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(printed.count(), 1);
}

void tst_CheckFileFrm::menus()
{
    const QList<QAction*> bar = m_window->menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->text(), u"&File"_s);
    QCOMPARE(bar.at(1)->text(), u"&Help"_s);
    QStringList file;
    for (QAction* item : bar.at(0)->menu()->actions())
        file << (item->isSeparator() ? item->objectName() + u"=-"_s
                                     : item->objectName() + u'=' + item->text());
    QCOMPARE(file,
        (QStringList { u"mnuPrgInfo=P&rogram Information"_s, u"mnuSeparOne=-"_s, u"mnuPrntfldr=&Print"_s,
            u"mnuSeparTwo=-"_s, u"mnuExit=E&xit"_s }));
    QCOMPARE(child<QAction>(m_window.get(), "mnuPrntfldr")->shortcut(), QKeySequence(u"Ctrl+P"_s));
    QStringList help;
    for (QAction* item : bar.at(1)->menu()->actions())
        help << item->objectName() + u'=' + item->text();
    QCOMPARE(help, (QStringList { u"mnuCntnts=&Contents"_s, u"mnuAbtt=A&bout"_s }));
}

void tst_CheckFileFrm::welcomeText()
{
    auto* info = child<Label>(m_window.get(), "LblInfo");
    const QStringList lines = info->Caption().split(u"\r\n"_s);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), u"Welcome to the Quorrel Version 2.0"_s);
    QCOMPARE(lines.at(2), u"If your game crashes after downloading families houses && other stuff."_s);
    QCOMPARE(lines.at(5), u"Please read the instructions in the enclosed readme file."_s);
    QVERIFY(info->shownText().contains(u"houses & other stuff"_s));
    QVERIFY(!info->shownText().contains(u"&&"_s));
}

void tst_CheckFileFrm::startUpMakesProgramFolderCurrent()
{
    QDir::setCurrent(m_dir->path());
    CheckFileFrm another;
    QCOMPARE(QDir::currentPath(), QCoreApplication::applicationDirPath());
}

void tst_CheckFileFrm::start_data()
{
    QTest::addColumn<QByteArray>("oldList");
    QTest::addColumn<QByteArray>("newList");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("added");
    const QByteArray saved = "a.dat\r\nb.dat\r\n\r\n\r\n";
    QTest::newRow("lists Brenvale saved") << saved << QByteArray("a.dat\r\nb.dat\r\nnew.iff\r\n\r\n\r\n")
                                          << u"        new.iff\r\n"_s << u"3"_s << u"1"_s;
    QTest::newRow("same list") << saved << saved << QString() << u"2"_s << u"0"_s;
    QTest::newRow("empty new list: 0, never -2") << saved << QByteArray() << QString() << u"0"_s << u"0"_s;
    QTest::newRow("empty old list") << QByteArray() << saved << u"        a.dat\r\n        b.dat\r\n"_s
                                    << u"2"_s << u"2"_s;
    QTest::newRow("FOUND reported") << saved << QByteArray("a.dat\r\nFOUND\r\n\r\n\r\n")
                                    << u"        FOUND\r\n"_s << u"2"_s << u"1"_s;
}

void tst_CheckFileFrm::start()
{
    QFETCH(QByteArray, oldList);
    QFETCH(QByteArray, newList);
    QFETCH(QString, result);
    QFETCH(QString, total);
    QFETCH(QString, added);
    list(u"old.TXT"_s, oldList);
    list(u"new.txt"_s, newList);
    child<TextArea>(m_window.get(), "NewFiletxt")->setText(u"earlier result"_s);
    ModalAnswerer answer;
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"NEW"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), result);
    QCOMPARE(child<Label>(m_window.get(), "Label2")->Caption(), total);
    QCOMPARE(child<Label>(m_window.get(), "Label3")->Caption(), added);
    QVERIFY(answer.boxes.isEmpty());
}

void tst_CheckFileFrm::bareNamesAreFoundInProgramFolder()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString oldPath = folder + u"/tst-quorrel-old.TXT"_s;
    const QString newPath = folder + u"/tst-quorrel-new.TXT"_s;
    writeBytes(oldPath, "a\r\n\r\n\r\n");
    writeBytes(newPath, "a\r\nb\r\n\r\n\r\n");
    auto tidy = qScopeGuard([&] {
        QFile::remove(oldPath);
        QFile::remove(newPath);
    });
    start(u"tst-quorrel-old"_s, u"tst-quorrel-new"_s);
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), u"        b\r\n"_s);
}

void tst_CheckFileFrm::missingLists_data()
{
    QTest::addColumn<bool>("oldExists");
    QTest::addColumn<bool>("newExists");
    QTest::addColumn<QString>("named");
    QTest::newRow("new missing") << true << false << u"new"_s;
    QTest::newRow("both missing: old named") << false << false << u"old"_s;
    QTest::newRow("old missing") << false << true << u"old"_s;
}

void tst_CheckFileFrm::missingLists()
{
    QFETCH(bool, oldExists);
    QFETCH(bool, newExists);
    QFETCH(QString, named);
    if (oldExists)
        list(u"old.txt"_s, "a\r\n");
    if (newExists)
        list(u"new.txt"_s, "a\r\n");
    child<Label>(m_window.get(), "Label2")->setCaption(u"7"_s);
    ModalAnswerer answer;
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).prompt, u"The file "_s + m_dir->filePath(named) + u" does not exist."_s);
    QCOMPARE(answer.boxes.at(0).title, u"Quorrel"_s);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Information);
    QCOMPARE(child<Label>(m_window.get(), "Label2")->Caption(), u"7"_s);

    // An empty box looks for ".txt"; a hidden list and a wildcard count as missing.
    list(u".hidden.txt"_s, "a\r\n");
    list(u"x.txt"_s, "a\r\n");
    for (const QString& typed : { QString(), m_dir->filePath(u".hidden"_s), m_dir->filePath(u"*"_s) }) {
        answer.boxes.clear();
        start(typed, m_dir->filePath(u"x"_s));
        QTRY_COMPARE(answer.boxes.size(), 1);
        QCOMPARE(answer.boxes.at(0).prompt, u"The file "_s + typed + u" does not exist."_s);
    }
}

void tst_CheckFileFrm::unreadableListKeepsResult()
{
    list(u"old.txt"_s, "a\r\n");
    QDir(m_dir->path()).mkdir(u"new.txt"_s);
    const QString target = list(u"real.txt"_s, "a\r\n");
    QFile::link(u"/proc/self/mem"_s, m_dir->filePath(u"mem.txt"_s));
    child<TextArea>(m_window.get(), "NewFiletxt")->setText(u"kept"_s);

    for (const QString& name : { u"new"_s, u"mem"_s }) {
        ModalAnswerer answer;
        start(m_dir->filePath(u"old"_s), m_dir->filePath(name));
        QTRY_COMPARE(answer.boxes.size(), 1);
        QCOMPARE(answer.boxes.at(0).title, u"Quorrel"_s);
        if (name == u"mem"_s) {
            QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
            QVERIFY2(answer.boxes.at(0).prompt.contains(u"mem.txt"_s), qPrintable(answer.boxes.at(0).prompt));
        }
        QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), u"kept"_s);
    }
    QVERIFY(QFile::exists(target));
}

void tst_CheckFileFrm::startTwiceGivesSameResult()
{
    list(u"old.txt"_s, "a\r\n\r\n\r\n");
    list(u"new.txt"_s, "a\r\nb\r\nc\r\n\r\n\r\n");
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    const QString first = child<TextArea>(m_window.get(), "NewFiletxt")->Text();
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), first);
    QCOMPARE(child<Label>(m_window.get(), "Label3")->Caption(), u"2"_s);
}

void tst_CheckFileFrm::badLists_data()
{
    QTest::addColumn<QByteArray>("newList");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("message");
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131 + 7) % 256));
    QTest::newRow("binary garbage") << garbage << u"kept"_s << u"binary data"_s;
    QTest::newRow("invalid UTF-8 names")
        << QByteArray("a.dat\r\nbad\xFF\xFE.iff\r\n\r\n\r\n")
        << u"        bad"_s + QChar(0xDCFF) + QChar(0xDCFE) + u".iff\r\n"_s << QString();
}

void tst_CheckFileFrm::badLists()
{
    QFETCH(QByteArray, newList);
    QFETCH(QString, result);
    QFETCH(QString, message);
    list(u"old.txt"_s, "a.dat\r\n\r\n\r\n");
    list(u"new.txt"_s, newList);
    child<TextArea>(m_window.get(), "NewFiletxt")->setText(u"kept"_s);
    ModalAnswerer answer;
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), result);
    if (message.isEmpty()) {
        QVERIFY(answer.boxes.isEmpty());
        return;
    }
    QTRY_COMPARE(answer.boxes.size(), 1);
    QVERIFY2(answer.boxes.at(0).prompt.contains(message), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(answer.boxes.at(0).prompt.contains(m_dir->filePath(u"new.txt"_s)));
}

void tst_CheckFileFrm::hugeList()
{
    // 200 MB: a million names of 200 bytes, compared against itself plus one new name.
    QByteArray bytes;
    bytes.reserve(200 * 1000 * 1000 + 64);
    const QByteArray filler(186, 'x');
    for (int i = 0; i < 1000 * 1000; ++i)
        bytes.append(filler).append(QByteArray::number(100000000 + i)).append(".iff\r\n");
    list(u"old.txt"_s, bytes);
    bytes.append("latest.iff\r\n");
    list(u"new.txt"_s, bytes);
    bytes.clear();
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), u"        latest.iff\r\n"_s);
    QCOMPARE(child<Label>(m_window.get(), "Label2")->Caption(), u"1000001"_s);
    QCOMPARE(child<Label>(m_window.get(), "Label3")->Caption(), u"1"_s);
}

void tst_CheckFileFrm::namesDifferingInOneByte()
{
    // Names from Windows zips: é and è in an 8-bit code page, neither valid UTF-8.
    list(u"old.txt"_s, "Caf\xE9.dat\r\nsame.dat\r\n\r\n\r\n");
    list(u"new.txt"_s, "Caf\xE9.dat\r\nCaf\xE8.dat\r\nsame.dat\r\n\r\n\r\n");
    start(m_dir->filePath(u"old"_s), m_dir->filePath(u"new"_s));
    const QString result = child<TextArea>(m_window.get(), "NewFiletxt")->Text();
    QCOMPARE(result, u"        Caf"_s + QChar(0xDCE8) + u".dat\r\n"_s);
    QCOMPARE(child<Label>(m_window.get(), "Label3")->Caption(), u"1"_s);
}

void tst_CheckFileFrm::enterOnStartButton_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("starts");
    QTest::newRow("Enter on Start") << u"Command1"_s << int(Qt::Key_Return) << true;
    QTest::newRow("keypad Enter on Start") << u"Command1"_s << int(Qt::Key_Enter) << true;
    QTest::newRow("Space on Start") << u"Command1"_s << int(Qt::Key_Space) << true;
    QTest::newRow("Esc on Start") << u"Command1"_s << int(Qt::Key_Escape) << false;
    QTest::newRow("Enter in the old name") << u"tOldDir"_s << int(Qt::Key_Return) << false;
    QTest::newRow("Enter in the new name") << u"tNewDir"_s << int(Qt::Key_Return) << false;
}

void tst_CheckFileFrm::enterOnStartButton()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(bool, starts);
    list(u"old.txt"_s, "a\r\n\r\n\r\n");
    list(u"new.txt"_s, "a\r\nb\r\n\r\n\r\n");
    child<QLineEdit>(m_window.get(), "tOldDir")->setText(m_dir->filePath(u"old"_s));
    child<QLineEdit>(m_window.get(), "tNewDir")->setText(m_dir->filePath(u"new"_s));
    auto* target = m_window->findChild<QWidget*>(focus);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(target, Qt::Key(key), modifiers);
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), starts ? u"        b\r\n"_s : QString());
}

void tst_CheckFileFrm::caseVariantsThatAreNoFiles_data()
{
    QTest::addColumn<QString>("impostor");
    QTest::newRow("a folder") << u"folder"_s;
    QTest::newRow("a broken link") << u"broken link"_s;
}

void tst_CheckFileFrm::caseVariantsThatAreNoFiles()
{
    // Typed as Q1, the list is q1.txt; Q1.TXT comes first in code-point order but is no file.
    QFETCH(QString, impostor);
    list(u"q0.txt"_s, "a\r\n\r\n\r\n");
    list(u"q1.txt"_s, "a\r\nnew.package\r\n\r\n\r\n");
    if (impostor == u"folder"_s)
        QVERIFY(QDir(m_dir->path()).mkdir(u"Q1.TXT"_s));
    else
        QVERIFY(QFile::link(m_dir->filePath(u"nowhere"_s), m_dir->filePath(u"Q1.TXT"_s)));
    ModalAnswerer answer;
    start(m_dir->filePath(u"Q0"_s), m_dir->filePath(u"Q1"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "NewFiletxt")->Text(), u"        new.package\r\n"_s);
    QVERIFY(answer.boxes.isEmpty());
}

void tst_CheckFileFrm::messages_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("program information")
        << u"mnuPrgInfo"_s << u"Quorrel Version 2.0"_s
        << QStringList { u"Before running this program please read the enclosed readme file."_s,
               u"First you have to run the Brenvale.exe to make the folder lists"_s,
               u"text files. This program will search these file lists for new files added "_s,
               u"to the Sims Folders."_s, u"Please read the enclosed readme file for instructions."_s,
               u"No more crashes! Happy Siming!"_s, QString() };
    QTest::newRow("help") << u"mnuCntnts"_s << u"Help for Quorrel Version 2.0"_s
                          << QStringList { u"Are your Sims tired of crashing and exiting to Desktop?"_s,
                                 u"Or your computer locking up your Sims. Here is the solution"_s,
                                 u"to get those Sims up and running."_s,
                                 u"Detailed help is provided in the enclosed readme file."_s,
                                 u"This program works with Brenvale."_s, u"*"_s, QString() };
    QTest::newRow("about") << u"mnuAbtt"_s << u"Quorrel Version 2.0"_s
                           << QStringList { u"*"_s, u"February 2005"_s, QString() };
}

void tst_CheckFileFrm::messages()
{
    QFETCH(QString, item);
    QFETCH(QString, title);
    QFETCH(QStringList, lines);
    ModalAnswerer answer;
    child<QAction>(m_window.get(), item.toLatin1().constData())->trigger();
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).title, title);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Information);
    const QStringList shown = answer.boxes.at(0).prompt.split(u"\r\n"_s);
    QCOMPARE(shown.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i) == u"*"_s)
            QVERIFY(!shown.at(i).isEmpty());
        else
            QCOMPARE(shown.at(i), lines.at(i));
    }
    if (item == u"mnuCntnts"_s)
        QVERIFY(shown.at(5).startsWith(u"For futher help e-mail me at "_s) && shown.at(5).endsWith(u'.'));
}

void tst_CheckFileFrm::exitCloses()
{
    child<QAction>(m_window.get(), "mnuExit")->trigger();
    QVERIFY(!m_window->isVisible());
}

QTEST_MAIN(tst_CheckFileFrm)
#include "tst_checkfilefrm.moc"
