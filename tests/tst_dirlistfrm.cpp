// SPDX-License-Identifier: GPL-3.0-or-later
#include "layouttables.h"
#include "testhelpers.h"

#include "dirlistfrm.h"
#include "drives.h"
#include "filesystemboxes.h"
#include "label.h"
#include "listbox.h"
#include "textarea.h"
#include "twips.h"

#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_DirListFrm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void windowProperties();
    void labelsLieBeneathControls();
    void tabOrder();
    void accessKeys_data();
    void accessKeys();
    void menus();

    void folderChangeResets();
    void folderPathShowsOneSeparator();
    void clickShowsOpenFolder();
    void driveNotReady();
    void driveChangeOpensRememberedFolder();
    void getFolderGathersPlainFilesSorted();
    void getFolderBeforeAnyFolderGathersNothing();
    void getFolderLeavesOutNamesWithLineBreaks();
    void getFolderOnVanishedFolder();
    void captionWithAmpersand();
    void vanishedSubfolderInTree();
    void invalidUtf8NamesAreGathered();
    void saveOntoImmutableFileKeepsIt();

    void rightOne_data();
    void rightOne();
    void rightOneWithoutCurrentItem();
    void rightAllKeepsSelectedFirst();
    void rightAllWithBothEmpty();
    void leftOneReturnsToSortedPlace();
    void leftAll();
    void upDown_data();
    void upDown();
    void doubleClicks();

    void listFolder_data();
    void listFolder();
    void listFolderOfABigFolderReachesEveryName();
    void saveWritesBytes_data();
    void saveWritesBytes();
    void saveDialogSetUp();
    void saveCancelIsSilent();
    void saveFailures_data();
    void saveFailures();
    void saveTypedText();
    void lineSeparatorIsALineEnd();
    void saveOnFullDiskIsNotConfirmed();
    void namesKeepTheirBytesThroughTheWindow();

    void keysOnButtons_data();
    void keysOnButtons();
    void unmountedDrive_data();
    void unmountedDrive();
    void getFolderOnUnpluggedDrive();
    void hiddenFoldersLastAndDimmer();
    void busyCursorWhileGathering();
    void unreadableFolderLeavesWindowAsItWas();

    void helpAndAbout_data();
    void helpAndAbout();
    void exitCloses();

private:
    void openFolder(const QString& folder);
    QStringList items(const char* list);
    void click(const char* button);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DirListFrm> m_window;
};

void tst_DirListFrm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    Drives::setRootsForTesting({ u"/"_s });
    m_window = std::make_unique<DirListFrm>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void tst_DirListFrm::cleanup()
{
    m_window.reset();
    m_dir.reset();
}

void tst_DirListFrm::openFolder(const QString& folder)
{
    child<DirListBox>(m_window.get(), "Dir1")->setPath(folder);
}

QStringList tst_DirListFrm::items(const char* list)
{
    return child<ListBox>(m_window.get(), list)->items();
}

void tst_DirListFrm::click(const char* button)
{
    QTest::mouseClick(child<QPushButton>(m_window.get(), button), Qt::LeftButton);
}

void tst_DirListFrm::controls_data()
{
    addControlRows(listingControls());
}

void tst_DirListFrm::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, twipsRect);
    QFETCH(QString, caption);
    QFETCH(QString, tip);

    auto* control = m_window->findChild<QWidget*>(name);
    QVERIFY(control);
    QRect expected = twipRect(twipsRect.x(), twipsRect.y(), twipsRect.width(), twipsRect.height());
    if (twipsRect.width() < 0) {
        expected.setWidth(control->width());
        auto* label = qobject_cast<Label*>(control);
        QVERIFY(label->fontMetrics().horizontalAdvance(label->shownText()) <= label->contentsRect().width());
    }
    QCOMPARE(control->geometry(), expected);
    QCOMPARE(control->toolTip(), tip);
    if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), caption);
    else if (auto* label = qobject_cast<Label*>(control))
        QCOMPARE(label->Caption(), caption);
    QCOMPARE(control->isEnabled(), name != u"listDirCmd"_s);
}

void tst_DirListFrm::windowProperties()
{
    QCOMPARE(m_window->windowTitle(), u"Brenvale"_s);
    QCOMPARE(m_window->centralWidget()->size(), QSize(766, 550));
    QVERIFY(!m_window->windowIcon().isNull());
    QCOMPARE(m_window->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    QCOMPARE(m_window->font().pointSizeF(), 8.25);
    QCOMPARE(child<TextArea>(m_window.get(), "dirCntTxt")->font().pointSizeF(), 9.75);
    QCOMPARE(child<TextArea>(m_window.get(), "dirCntTxt")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QVERIFY(child<QPushButton>(m_window.get(), "cmdRightOne")->font().bold());
    QCOMPARE(child<QPushButton>(m_window.get(), "cmdRightOne")->font().pointSizeF(), 9.75);
    auto* path = child<Label>(m_window.get(), "Label1");
    QVERIFY(path->font().bold());
    QCOMPARE(path->palette().color(QPalette::Window), QColor(255, 255, 255));
    QVERIFY(path->frameShape() != QFrame::NoFrame);
    QVERIFY(child<Label>(m_window.get(), "lblCount")->frameShape() != QFrame::NoFrame);
    QVERIFY(child<ListBox>(m_window.get(), "lstAll")->Sorted());
    QVERIFY(!child<ListBox>(m_window.get(), "lstSelected")->Sorted());
    QVERIFY(!child<QPushButton>(m_window.get(), "cmdUp")->icon().isNull());
    QVERIFY(child<QPushButton>(m_window.get(), "cmdUp")->text().isEmpty());
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(m_window.get(), "lstAll"));

    // Moving the window to its design place puts the client area at (71, 130).
    m_window->moveToDesignPosition();
    QTRY_COMPARE(m_window->centralWidget()->mapToGlobal(QPoint(0, 0)), QPoint(71, 130));
}

void tst_DirListFrm::labelsLieBeneathControls()
{
    QWidget* client = m_window->centralWidget();
    const QObjectList stack = client->children();
    const auto at = [&](const char* name) { return stack.indexOf(child<QWidget>(m_window.get(), name)); };
    QVERIFY(at("Label3") < at("Dir1"));
    QVERIFY(at("Label4") < at("File1"));
    QVERIFY(at("Label2") < at("Drive1"));
    QVERIFY(at("Label5") < at("dirCntTxt"));
}

void tst_DirListFrm::tabOrder()
{
    const QStringList expected { u"lstAll"_s, u"lstSelected"_s, u"cmdRightOne"_s, u"cmdRightAll"_s,
        u"cmdLeftOne"_s, u"cmdLeftAll"_s, u"cmdUp"_s, u"cmdDown"_s, u"GetDirCmd"_s, u"dirCntTxt"_s,
        u"printDirCmd"_s, u"Drive1"_s, u"Dir1"_s, u"File1"_s, u"SavDir"_s, u"lstAll"_s };
    child<QWidget>(m_window.get(), "lstAll")->setFocus();
    QStringList seen { QApplication::focusWidget()->objectName() };
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.append(QApplication::focusWidget()->objectName());
    }
    // The disabled List Folder is skipped.
    QCOMPARE(seen, expected);
}

void tst_DirListFrm::accessKeys_data()
{
    QTest::addColumn<char>("key");
    QTest::addColumn<QString>("button");
    QTest::newRow("alt+g") << 'g' << u"GetDirCmd"_s;
    QTest::newRow("alt+s") << 's' << u"SavDir"_s;
    QTest::newRow("alt+p") << 'p' << u"printDirCmd"_s;
}

void tst_DirListFrm::accessKeys()
{
    QFETCH(char, key);
    QFETCH(QString, button);
    auto* target = m_window->findChild<QPushButton*>(button);
    // Catch the click before the handler runs anything modal.
    target->disconnect();
    QSignalSpy clicked(target, &QPushButton::clicked);
    QTest::keyClick(m_window.get(), key, Qt::AltModifier);
    QTRY_COMPARE(clicked.count(), 1);
}

void tst_DirListFrm::menus()
{
    const QList<QAction*> bar = m_window->menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->text(), u"&File"_s);
    QCOMPARE(bar.at(1)->text(), u"H&elp"_s);
    QCOMPARE(bar.at(0)->menu()->objectName(), u"mnuFil"_s);
    QCOMPARE(bar.at(1)->menu()->objectName(), u"mnuHlp"_s);
    QStringList file, help;
    for (QAction* item : bar.at(0)->menu()->actions())
        file << item->objectName() + u'=' + item->text();
    for (QAction* item : bar.at(1)->menu()->actions())
        help << item->objectName() + u'=' + item->text();
    QCOMPARE(file, QStringList { u"mnuExit=E&xit"_s });
    QCOMPARE(help, (QStringList { u"mnuCntnts=&Contents"_s, u"mnuAbtt=A&bout"_s }));

    // Alt+L does nothing while List Folder is disabled; Alt+E, not Alt+H, opens Help.
    QTest::keyClick(m_window.get(), 'e', Qt::AltModifier);
    QTRY_VERIFY(bar.at(1)->menu()->isVisible());
    bar.at(1)->menu()->hide();
}

void tst_DirListFrm::folderChangeResets()
{
    const QString first = m_dir->filePath(u"first"_s);
    const QString second = m_dir->filePath(u"second"_s);
    QDir().mkpath(first);
    QDir().mkpath(second);
    touchFiles(first, { u"b.dat"_s, u"a.dat"_s });

    openFolder(first);
    click("GetDirCmd");
    QCOMPARE(items("lstAll"), (QStringList { u"a.dat"_s, u"b.dat"_s }));
    child<ListBox>(m_window.get(), "lstAll")->setListIndex(0);
    click("cmdRightOne");
    click("listDirCmd");
    click("cmdRightAll");
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
    QVERIFY(!child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
    QCOMPARE(child<Label>(m_window.get(), "lblCount")->Caption(), u"1 files"_s);

    openFolder(second);
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), second + u'/');
    QCOMPARE(child<FileListBox>(m_window.get(), "File1")->Path(), second);
    QVERIFY(items("lstAll").isEmpty());
    QVERIFY(items("lstSelected").isEmpty());
    QCOMPARE(child<TextArea>(m_window.get(), "dirCntTxt")->Text(), QString());
    QCOMPARE(child<Label>(m_window.get(), "lblCount")->Caption(), QString());
    QVERIFY(child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
    QVERIFY(!child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
    // The folder gathered last is kept until the next Get Folder.
    QCOMPARE(m_window->folderPath(), first + u'/');
}

void tst_DirListFrm::folderPathShowsOneSeparator()
{
    // The root entry heads the tree; opening it opens the root folder itself.
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    tree->setCurrentRow(0);
    QTest::keyClick(tree, Qt::Key_Return);
    QCOMPARE(tree->Path(), u"/"_s);
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), u"/"_s);
    openFolder(m_dir->path());
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), m_dir->path() + u'/');
}

void tst_DirListFrm::clickShowsOpenFolder()
{
    QDir(m_dir->path()).mkdir(u"sub"_s);
    openFolder(m_dir->path());
    child<Label>(m_window.get(), "Label1")->setCaption(u"something else"_s);
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    QListWidgetItem* sub = tree->item(tree->count() - 1);
    QVERIFY(sub->text().endsWith(u"sub"_s));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(sub).center());
    QCOMPARE(tree->Path(), m_dir->path());
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), m_dir->path() + u'/');

    // Double-click opens the entry.
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(sub).center());
    QCOMPARE(tree->Path(), m_dir->filePath(u"sub"_s));
}

void tst_DirListFrm::driveNotReady()
{
    const QString gone = m_dir->filePath(u"unmounted"_s);
    Drives::setRootsForTesting({ u"/"_s, gone });
    m_window = std::make_unique<DirListFrm>();
    m_window->show();
    openFolder(m_dir->path());
    touchFiles(m_dir->path(), { u"kept.dat"_s });
    click("GetDirCmd");

    auto* drives = child<DriveListBox>(m_window.get(), "Drive1");
    QCOMPARE(drives->count(), 2);
    ModalAnswerer answer;
    drives->setCurrentIndex(1);
    emit drives->activated(1);
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).prompt, u"Drive not ready"_s);
    QCOMPARE(answer.boxes.at(0).title, QCoreApplication::applicationName());
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::NoIcon);
    // The pick stays shown; everything else is as it was.
    QCOMPARE(drives->Drive(), gone);
    QCOMPARE(child<DirListBox>(m_window.get(), "Dir1")->Path(), m_dir->path());
    QCOMPARE(items("lstAll"), QStringList { u"kept.dat"_s });
    QCOMPARE(m_window->folderPath(), m_dir->path() + u'/');
}

void tst_DirListFrm::driveChangeOpensRememberedFolder()
{
    const QString volume = m_dir->filePath(u"volume"_s);
    QDir().mkpath(volume + u"/games/sims"_s);
    Drives::setRootsForTesting({ u"/"_s, volume });
    m_window = std::make_unique<DirListFrm>();
    auto* drives = child<DriveListBox>(m_window.get(), "Drive1");
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    openFolder(volume + u"/games/sims"_s);
    openFolder(u"/"_s);
    drives->setCurrentIndex(1);
    emit drives->activated(1);
    QCOMPARE(tree->Path(), volume + u"/games/sims"_s);
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), volume + u"/games/sims/"_s);
}

void tst_DirListFrm::getFolderGathersPlainFilesSorted()
{
    const QString folder = m_dir->path();
    touchFiles(folder, { u"b.dat"_s, u"A.dat"_s, u"a.dat"_s, u"C.iff"_s, u".hidden"_s });
    QDir(folder).mkdir(u"subfolder"_s);
    QFile::link(folder + u"/b.dat"_s, folder + u"/link-to-b"_s);
    QFile::link(folder + u"/nowhere"_s, folder + u"/broken-link"_s);
    QVERIFY(mkfifo(QFile::encodeName(folder + u"/pipe"_s).constData(), 0600) == 0);

    openFolder(folder);
    click("GetDirCmd");
    QCOMPARE(
        items("lstAll"), (QStringList { u"A.dat"_s, u"a.dat"_s, u"b.dat"_s, u"C.iff"_s, u"link-to-b"_s }));
    QCOMPARE(child<ListBox>(m_window.get(), "lstAll")->ListIndex(), -1);
    QCOMPARE(m_window->folderPath(), folder + u'/');
    QVERIFY(!child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
    QVERIFY(!child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());

    // An empty folder gathers nothing, and Get Folder is still used up.
    openFolder(folder + u"/subfolder"_s);
    click("GetDirCmd");
    QVERIFY(items("lstAll").isEmpty());
    QVERIFY(!child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
}

void tst_DirListFrm::getFolderBeforeAnyFolderGathersNothing()
{
    ModalAnswerer answer;
    click("GetDirCmd");
    QVERIFY(items("lstAll").isEmpty());
    QCOMPARE(m_window->folderPath(), QString());
    // The player is told how to open a folder.
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Information);
    QVERIFY2(answer.boxes.at(0).prompt.contains(u"Double-click a folder in the Folder tree"_s),
        qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
}

void tst_DirListFrm::getFolderLeavesOutNamesWithLineBreaks()
{
    touchFiles(m_dir->path(), { u"good.dat"_s, u"two\nlines.dat"_s, u"carriage\rreturn.dat"_s });
    openFolder(m_dir->path());
    ModalAnswerer answer;
    click("GetDirCmd");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QVERIFY2(answer.boxes.at(0).prompt.startsWith(u"2 file name"_s), qPrintable(answer.boxes.at(0).prompt));
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Information);
    QCOMPARE(items("lstAll"), QStringList { u"good.dat"_s });
}

void tst_DirListFrm::getFolderOnVanishedFolder()
{
    const QString folder = m_dir->filePath(u"vanishing"_s);
    QDir().mkpath(folder);
    touchFiles(folder, { u"a.dat"_s });
    openFolder(folder);
    QDir(folder).removeRecursively();

    ModalAnswerer answer;
    click("GetDirCmd");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(answer.boxes.at(0).title, QCoreApplication::applicationName());
    QVERIFY2(answer.boxes.at(0).prompt.contains(folder + u'/'), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(answer.boxes.at(0).prompt.contains(u"does not exist"_s));
    // Nothing half-done: no names, no folder recorded, and Get Folder can be tried again.
    QVERIFY(items("lstAll").isEmpty());
    QCOMPARE(m_window->folderPath(), QString());
    QVERIFY(child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
}

void tst_DirListFrm::captionWithAmpersand()
{
    const QString folder = m_dir->filePath(u"Mods & Stuff"_s);
    QDir().mkpath(folder);
    openFolder(folder);
    auto* path = child<Label>(m_window.get(), "Label1");
    QCOMPARE(path->Caption(), folder + u'/');
    QCOMPARE(path->shownText(), QString(folder + u'/').remove(u'&'));
    click("GetDirCmd");
    QCOMPARE(m_window->folderPath(), folder + u'/');
}

void tst_DirListFrm::vanishedSubfolderInTree()
{
    const QString gone = m_dir->filePath(u"gone"_s);
    QDir().mkpath(gone);
    openFolder(m_dir->path());
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    const int rows = tree->count();
    QDir(gone).removeRecursively();
    ModalAnswerer answer;
    tree->setCurrentRow(rows - 1);
    QTest::keyClick(tree, Qt::Key_Return);
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY(answer.boxes.at(0).prompt.contains(gone));
    QCOMPARE(tree->Path(), m_dir->path());
    QCOMPARE(tree->count(), rows - 1); // the tree shows the folder as it is now
}

void tst_DirListFrm::invalidUtf8NamesAreGathered()
{
    const QByteArray name = QFile::encodeName(m_dir->path()) + "/bad\xFF.iff";
    writeBytes(m_dir->filePath(u"good.iff"_s), "x");
    FILE* raw = std::fopen(name.constData(), "w");
    QVERIFY(raw);
    std::fclose(raw);
    openFolder(m_dir->path());
    click("GetDirCmd");
    QCOMPARE(items("lstAll").size(), 2);
    click("cmdRightAll");
    click("listDirCmd");
    const QString target = m_dir->filePath(u"list.TXT"_s);
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).title, u"Request Complete"_s);
    QCOMPARE(fileBytes(target).count("\r\n"), 4);
}

void tst_DirListFrm::saveOntoImmutableFileKeepsIt()
{
    const QString target = m_dir->filePath(u"held.TXT"_s);
    writeBytes(target, "kept.dat\r\n\r\n\r\n");
    if (QProcess::execute(u"chattr"_s, { u"+i"_s, target }) != 0)
        QSKIP("chattr +i is not available on this file system");
    auto unlock = qScopeGuard([&] { QProcess::execute(u"chattr"_s, { u"-i"_s, target }); });
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY(answer.boxes.at(0).prompt.contains(target));
    QCOMPARE(fileBytes(target), QByteArray("kept.dat\r\n\r\n\r\n"));
}

void tst_DirListFrm::rightOne_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("allAfter");
    QTest::addColumn<int>("currentAfter");
    QTest::newRow("middle: the next one becomes current") << 1 << QStringList { u"a"_s, u"c"_s } << 1;
    QTest::newRow("last: the new last becomes current") << 2 << QStringList { u"a"_s, u"b"_s } << 1;
    QTest::newRow("first") << 0 << QStringList { u"b"_s, u"c"_s } << 0;
}

void tst_DirListFrm::rightOne()
{
    QFETCH(int, current);
    QFETCH(QStringList, allAfter);
    QFETCH(int, currentAfter);
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    auto* selected = child<ListBox>(m_window.get(), "lstSelected");
    selected->AddItem(u"x"_s);
    all->AddItems({ u"c"_s, u"a"_s, u"b"_s });
    all->setListIndex(current);
    const QString moved = all->Text();
    click("cmdRightOne");
    QCOMPARE(all->items(), allAfter);
    QCOMPARE(all->ListIndex(), currentAfter);
    QCOMPARE(selected->items(), (QStringList { u"x"_s, moved }));
    QCOMPARE(selected->ListIndex(), 1);
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());

    // Moving the only item leaves All Files empty with no current item.
    all->Clear();
    all->AddItem(u"only"_s);
    all->setListIndex(0);
    click("cmdRightOne");
    QVERIFY(all->items().isEmpty());
    QCOMPARE(all->ListIndex(), -1);
    QCOMPARE(selected->Text(), u"only"_s);
}

void tst_DirListFrm::rightOneWithoutCurrentItem()
{
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    click("cmdRightOne"); // empty list
    QVERIFY(items("lstSelected").isEmpty());
    QVERIFY(!child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
    all->AddItems({ u"a"_s, u"b"_s });
    click("cmdRightOne"); // items, none current: no empty name is appended
    QVERIFY(items("lstSelected").isEmpty());
    QCOMPARE(all->items(), (QStringList { u"a"_s, u"b"_s }));
}

void tst_DirListFrm::rightAllKeepsSelectedFirst()
{
    child<ListBox>(m_window.get(), "lstSelected")->AddItem(u"x.dat"_s);
    child<ListBox>(m_window.get(), "lstAll")->AddItems({ u"b.dat"_s, u"a.dat"_s });
    click("cmdRightAll");
    QCOMPARE(items("lstSelected"), (QStringList { u"x.dat"_s, u"a.dat"_s, u"b.dat"_s }));
    QCOMPARE(child<ListBox>(m_window.get(), "lstSelected")->Text(), u"x.dat"_s);
    QVERIFY(items("lstAll").isEmpty());
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
}

void tst_DirListFrm::rightAllWithBothEmpty()
{
    click("cmdRightAll");
    QVERIFY(items("lstSelected").isEmpty());
    QCOMPARE(child<ListBox>(m_window.get(), "lstSelected")->ListIndex(), -1);
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
}

void tst_DirListFrm::leftOneReturnsToSortedPlace()
{
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    auto* selected = child<ListBox>(m_window.get(), "lstSelected");
    all->AddItems({ u"a.dat"_s, u"b.dat"_s, u"c.dat"_s });
    all->setListIndex(1);
    click("cmdRightOne"); // b.dat
    all->setListIndex(0);
    click("cmdRightOne"); // a.dat
    QCOMPARE(selected->items(), (QStringList { u"b.dat"_s, u"a.dat"_s }));

    selected->setListIndex(0);
    click("cmdLeftOne");
    QCOMPARE(all->items(), (QStringList { u"b.dat"_s, u"c.dat"_s }));
    QCOMPARE(all->Text(), u"b.dat"_s);
    QCOMPARE(selected->Text(), u"a.dat"_s);
    click("cmdLeftOne");
    QCOMPARE(all->items(), (QStringList { u"a.dat"_s, u"b.dat"_s, u"c.dat"_s }));
    QCOMPARE(all->ListIndex(), 0);
    QCOMPARE(selected->ListIndex(), -1);
    // Emptying Selected Files leaves List Folder enabled.
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
    click("cmdLeftOne"); // nothing left to move
    QCOMPARE(all->items().size(), 3);
}

void tst_DirListFrm::leftAll()
{
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    auto* selected = child<ListBox>(m_window.get(), "lstSelected");
    all->AddItems({ u"m"_s });
    selected->AddItems({ u"z"_s, u"a"_s, u"q"_s });
    click("cmdLeftAll");
    QCOMPARE(all->items(), (QStringList { u"a"_s, u"m"_s, u"q"_s, u"z"_s }));
    QCOMPARE(all->Text(), u"q"_s);
    QVERIFY(selected->items().isEmpty());
    QVERIFY(!child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());

    all->setListIndex(1);
    click("cmdLeftAll"); // Selected Files empty: nothing changes
    QCOMPARE(all->Text(), u"m"_s);
}

void tst_DirListFrm::upDown_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("currentAfter");
    const QStringList abc { u"a"_s, u"b"_s, u"c"_s };
    QTest::newRow("up from 2") << u"cmdUp"_s << abc << 2 << QStringList { u"a"_s, u"c"_s, u"b"_s } << 1;
    QTest::newRow("up on first") << u"cmdUp"_s << abc << 0 << abc << 0;
    QTest::newRow("up with none current") << u"cmdUp"_s << abc << -1 << abc << -1;
    QTest::newRow("down from 0") << u"cmdDown"_s << abc << 0 << QStringList { u"b"_s, u"a"_s, u"c"_s } << 1;
    QTest::newRow("down to the end") << u"cmdDown"_s << abc << 1 << QStringList { u"a"_s, u"c"_s, u"b"_s }
                                     << 2;
    QTest::newRow("down on last") << u"cmdDown"_s << abc << 2 << abc << 2;
    QTest::newRow("down with none current") << u"cmdDown"_s << abc << -1 << abc << -1;
    QTest::newRow("up on two") << u"cmdUp"_s << QStringList { u"a"_s, u"b"_s } << 1
                               << QStringList { u"b"_s, u"a"_s } << 0;
    QTest::newRow("down on two") << u"cmdDown"_s << QStringList { u"a"_s, u"b"_s } << 0
                                 << QStringList { u"b"_s, u"a"_s } << 1;
}

void tst_DirListFrm::upDown()
{
    QFETCH(QString, button);
    QFETCH(QStringList, before);
    QFETCH(int, current);
    QFETCH(QStringList, after);
    QFETCH(int, currentAfter);
    auto* selected = child<ListBox>(m_window.get(), "lstSelected");
    selected->AddItems(before);
    selected->setListIndex(current);
    QTest::mouseClick(m_window->findChild<QPushButton*>(button), Qt::LeftButton);
    QCOMPARE(selected->items(), after);
    QCOMPARE(selected->ListIndex(), currentAfter);
}

void tst_DirListFrm::doubleClicks()
{
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    auto* selected = child<ListBox>(m_window.get(), "lstSelected");
    all->AddItems({ u"a"_s, u"b"_s, u"c"_s });
    const QRect b = all->visualRect(all->model()->index(1, 0));
    QTest::mouseClick(all->viewport(), Qt::LeftButton, {}, b.center());
    QTest::mouseDClick(all->viewport(), Qt::LeftButton, {}, b.center());
    QCOMPARE(all->items(), (QStringList { u"a"_s, u"c"_s }));
    QCOMPARE(all->Text(), u"c"_s);
    QCOMPARE(selected->items(), QStringList { u"b"_s });
    QVERIFY(child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());

    const QRect back = selected->visualRect(selected->model()->index(0, 0));
    QTest::mouseClick(selected->viewport(), Qt::LeftButton, {}, back.center());
    QTest::mouseDClick(selected->viewport(), Qt::LeftButton, {}, back.center());
    QCOMPARE(all->items(), (QStringList { u"a"_s, u"b"_s, u"c"_s }));
    QCOMPARE(all->Text(), u"b"_s);
    QVERIFY(selected->items().isEmpty());
}

void tst_DirListFrm::listFolder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("count");
    QTest::newRow("two") << QStringList { u"first.dat"_s, u"second.dat"_s }
                         << u"first.dat\r\nsecond.dat\r\n\r\n"_s << u"2 files"_s;
    QTest::newRow("one") << QStringList { u"only.dat"_s } << u"only.dat\r\n\r\n"_s << u"1 files"_s;
    QTest::newRow("none") << QStringList() << u"\r\n"_s << u"0 files"_s;
}

void tst_DirListFrm::listFolder()
{
    QFETCH(QStringList, names);
    QFETCH(QString, text);
    QFETCH(QString, count);
    child<TextArea>(m_window.get(), "dirCntTxt")->setText(u"old text"_s);
    child<ListBox>(m_window.get(), "lstAll")->AddItems(names);
    click("cmdRightAll");
    click("listDirCmd");
    QCOMPARE(child<TextArea>(m_window.get(), "dirCntTxt")->Text(), text);
    QCOMPARE(child<Label>(m_window.get(), "lblCount")->Caption(), count);
    QVERIFY(!child<QPushButton>(m_window.get(), "listDirCmd")->isEnabled());
    QVERIFY(items("lstSelected").isEmpty());
}

void tst_DirListFrm::listFolderOfABigFolderReachesEveryName()
{
    QStringList names;
    for (int i = 0; i < 100000; ++i)
        names.append(u"Object_%1.iff"_s.arg(i, 6, 10, QChar(u'0')));
    child<ListBox>(m_window.get(), "lstAll")->AddItems(names);
    click("cmdRightAll");
    click("listDirCmd");
    auto* text = child<TextArea>(m_window.get(), "dirCntTxt");
    QCOMPARE(text->Text(), names.join(u"\r\n"_s) + u"\r\n\r\n"_s);
    QCOMPARE(child<Label>(m_window.get(), "lblCount")->Caption(), u"100000 files"_s);

    // The scroll bar counts every line: at each value the line at the top of the box is the line
    // of that number, and at the bottom the last name shows above the two empty lines.
    QScrollBar* bar = text->verticalScrollBar();
    const QString shown = text->toPlainText();
    for (const int value : { 1, 63, 64, 65, 50000, bar->maximum() }) {
        bar->setValue(value);
        QCoreApplication::processEvents();
        const int top = text->cursorForPosition(QPoint(2, 2)).position();
        QCOMPARE(int(shown.left(top).count(u'\n')), value);
    }
    const QPoint bottom(2, text->viewport()->height() - 2);
    QCOMPARE(text->cursorForPosition(bottom).position(), text->document()->characterCount() - 1);
    QTextCursor last = text->document()->find(names.last());
    QVERIFY(text->viewport()->rect().contains(text->cursorRect(last)));

    // Ctrl+A, Ctrl+C copies the lines with line feeds, as from a paragraph per line.
    text->setFocus();
    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), names.join(u'\n') + u"\n\n"_s);
}

void tst_DirListFrm::saveWritesBytes_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("list");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("two names: 27 bytes") << QStringList { u"first.dat"_s, u"second.dat"_s } << true
                                         << QByteArray("first.dat\r\nsecond.dat\r\n\r\n\r\n");
    QTest::newRow("no names: 4 bytes") << QStringList() << true << QByteArray("\r\n\r\n");
    QTest::newRow("empty text box: 2 bytes") << QStringList() << false << QByteArray("\r\n");
    QTest::newRow("blanks and commas kept")
        << QStringList { u" my file, 1.iff"_s } << true << QByteArray(" my file, 1.iff\r\n\r\n\r\n");
}

void tst_DirListFrm::saveWritesBytes()
{
    QFETCH(QStringList, names);
    QFETCH(bool, list);
    QFETCH(QByteArray, bytes);
    child<ListBox>(m_window.get(), "lstAll")->AddItems(names);
    click("cmdRightAll");
    if (list)
        click("listDirCmd");
    const QString target = m_dir->filePath(u"old.TXT"_s);
    writeBytes(target, "an older list that is replaced without a question\r\n");

    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(fileBytes(target), bytes);
    QCOMPARE(answer.boxes.at(0).prompt, u"Directory "_s + target + u" Saved"_s);
    QCOMPARE(answer.boxes.at(0).title, u"Request Complete"_s);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Information);
    QVERIFY(
        QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size() == 1); // no temporary left behind
}

void tst_DirListFrm::saveDialogSetUp()
{
    ModalAnswerer answer(m_dir->filePath(u"typed"_s));
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.dialogs, 1);
    QCOMPARE(answer.dialogFolder, QCoreApplication::applicationDirPath());
    QCOMPARE(answer.dialogFileName, u".TXT"_s);
    QCOMPARE(answer.dialogSuffix, u"TXT"_s);
    QCOMPARE(answer.dialogFilters.size(), 2);
    QVERIFY(answer.dialogFilters.at(0).startsWith(u"Text Files (*.TXT)"_s));
    QVERIFY(answer.dialogFilters.at(1).startsWith(u"All files (*.*)"_s));
    QVERIFY(!answer.dialogConfirmsOverwrite);
    // A name typed without an extension gets .TXT.
    QCOMPARE(fileBytes(m_dir->filePath(u"typed.TXT"_s)), QByteArray("\r\n"));
}

void tst_DirListFrm::saveCancelIsSilent()
{
    ModalAnswerer answer({}, true);
    click("SavDir");
    QTRY_COMPARE(answer.dialogs, 1);
    QTest::qWait(50);
    QVERIFY(answer.boxes.isEmpty());
}

void tst_DirListFrm::saveFailures_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << u"<dir>/no/such/folder/list.TXT"_s << u"does not exist"_s;
    QTest::newRow("a place nobody may write") << u"/proc/brenvale-list.TXT"_s << u""_s;
    QTest::newRow("disk full") << u"<dir>/full.TXT"_s << u"No space left on device"_s;
}

void tst_DirListFrm::saveFailures()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    target.replace(u"<dir>"_s, m_dir->path());
    if (target.endsWith(u"full.TXT"_s))
        QVERIFY(QFile::link(u"/dev/full"_s, target));
    child<TextArea>(m_window.get(), "dirCntTxt")->setText(u"a.dat\r\n\r\n"_s);

    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    const SeenBox& box = answer.boxes.at(0);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.prompt.contains(target), qPrintable(box.prompt));
    QVERIFY2(box.prompt.contains(reason), qPrintable(box.prompt));
    QVERIFY(!box.prompt.contains(u"Saved"_s));
    QCOMPARE(child<TextArea>(m_window.get(), "dirCntTxt")->Text(), u"a.dat\r\n\r\n"_s);
}

void tst_DirListFrm::saveTypedText()
{
    child<TextArea>(m_window.get(), "dirCntTxt")->setFocus();
    QTest::keyClicks(child<TextArea>(m_window.get(), "dirCntTxt"), u"typed"_s);
    QTest::keyClick(child<TextArea>(m_window.get(), "dirCntTxt"), Qt::Key_Return);
    QTest::keyClicks(child<TextArea>(m_window.get(), "dirCntTxt"), u"more"_s);
    const QString target = m_dir->filePath(u"typed.TXT"_s);
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(fileBytes(target), QByteArray("typed\r\nmore\r\n"));
}

void tst_DirListFrm::lineSeparatorIsALineEnd()
{
    // Shift+Enter makes a line separator in the text box; on disk it is a line end like Enter.
    auto* text = child<TextArea>(m_window.get(), "dirCntTxt");
    text->setFocus();
    QTest::keyClicks(text, u"first.dat"_s);
    QTest::keyClick(text, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(text, u"second.dat"_s);
    QTest::keyClick(text, Qt::Key_Return);
    const QString target = m_dir->filePath(u"typed.TXT"_s);
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(fileBytes(target), QByteArray("first.dat\r\nsecond.dat\r\n\r\n"));
}

void tst_DirListFrm::saveOnFullDiskIsNotConfirmed()
{
    TmpfsMount volume;
    SKIP_UNLESS_MOUNTED(volume);
    const QString target = volume.filePath(u"old.TXT"_s);
    const QByteArray old = "old.dat\r\n\r\n\r\n";
    writeBytes(target, old);
    volume.fill();
    touchFiles(m_dir->path(), { u"a.package"_s, u"b.package"_s });
    openFolder(m_dir->path());
    click("GetDirCmd");
    click("cmdRightAll");
    click("listDirCmd");
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY2(answer.boxes.at(0).prompt.contains(target), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY2(answer.boxes.at(0).prompt.contains(u"No space left on device"_s),
        qPrintable(answer.boxes.at(0).prompt));
    QCOMPARE(fileBytes(target), old);
}

void tst_DirListFrm::namesKeepTheirBytesThroughTheWindow()
{
    // Two names made on Windows in an 8-bit code page differ only in a byte that is not UTF-8.
    const QByteArray folder = QFile::encodeName(m_dir->path());
    for (const char* name : { "/Caf\xE9.dat", "/Caf\xE8.dat", "/plain.dat" }) {
        FILE* raw = std::fopen((folder + name).constData(), "w");
        QVERIFY(raw);
        std::fclose(raw);
    }
    openFolder(m_dir->path());
    click("GetDirCmd");
    QCOMPARE(items("lstAll").size(), 3);
    QCOMPARE(QSet<QString>(items("lstAll").cbegin(), items("lstAll").cend()).size(), 3);
    click("cmdRightAll");
    click("listDirCmd");
    QCOMPARE(child<Label>(m_window.get(), "lblCount")->Caption(), u"3 files"_s);
    const QString target = m_dir->filePath(u"list.TXT"_s);
    ModalAnswerer answer(target);
    click("SavDir");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).title, u"Request Complete"_s);
    const QByteArray saved = fileBytes(target);
    QVERIFY2(saved.contains("\r\nCaf\xE9.dat\r\n") || saved.startsWith("Caf\xE9.dat\r\n"), saved.constData());
    QVERIFY2(saved.contains("\r\nCaf\xE8.dat\r\n") || saved.startsWith("Caf\xE8.dat\r\n"), saved.constData());
    QCOMPARE(saved.size(), qsizetype(sizeof("Caf\xE9.dat\r\nCaf\xE8.dat\r\nplain.dat\r\n\r\n\r\n") - 1));
}

void tst_DirListFrm::keysOnButtons_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("clicks");
    QTest::newRow("Enter") << int(Qt::Key_Return) << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << true;
    QTest::newRow("Esc") << int(Qt::Key_Escape) << false;
}

void tst_DirListFrm::keysOnButtons()
{
    QFETCH(int, key);
    QFETCH(bool, clicks);
    touchFiles(m_dir->path(), { u"a.dat"_s });
    openFolder(m_dir->path());
    auto* getFolder = child<QPushButton>(m_window.get(), "GetDirCmd");
    getFolder->setFocus();
    QCOMPARE(QApplication::focusWidget(), getFolder);
    const Qt::KeyboardModifiers modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(getFolder, Qt::Key(key), modifiers);
    QCOMPARE(items("lstAll"), clicks ? QStringList { u"a.dat"_s } : QStringList());
    QCOMPARE(getFolder->isEnabled(), !clicks);
}

void tst_DirListFrm::unmountedDrive_data()
{
    QTest::addColumn<bool>("mountPointLeft");
    QTest::newRow("mount point left behind") << true;
    QTest::newRow("mount point gone") << false;
}

void tst_DirListFrm::unmountedDrive()
{
    QFETCH(bool, mountPointLeft);
    // The real volumes: the drive list reads the mount table, not a list made up for the test.
    Drives::useSystemRoots();
    m_window = std::make_unique<DirListFrm>();
    m_window->show();
    openFolder(m_dir->path());

    // Plugged in after the window opened.
    TmpfsMount stick;
    SKIP_UNLESS_MOUNTED(stick);
    touchFiles(stick.path(), { u"on the stick.dat"_s });
    auto* drives = child<DriveListBox>(m_window.get(), "Drive1");
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    const auto pick = [drives](const QString& root) {
        drives->showPopup();
        const int row = drives->findText(root);
        QVERIFY2(row >= 0, qPrintable(root + u" is not in the drive list"_s));
        drives->view()->setCurrentIndex(drives->model()->index(row, 0));
        QTest::keyClick(drives->view(), Qt::Key_Return);
    };
    pick(stick.path());
    QCOMPARE(tree->Path(), stick.path());
    click("GetDirCmd");
    QCOMPARE(items("lstAll"), QStringList { u"on the stick.dat"_s });

    // Pulled out while the window shows it.
    stick.unmount();
    if (!mountPointLeft)
        QVERIFY(QDir(stick.path()).removeRecursively());
    pick(u"/"_s);
    QCOMPARE(tree->Path(), m_dir->path()); // the folder last opened on "/"
    ModalAnswerer answer;
    // The drive list still offers the stick until it is read again; picking it says it is not ready.
    drives->setCurrentIndex(drives->findText(stick.path()));
    emit drives->activated(drives->currentIndex());
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).prompt, u"Drive not ready"_s);
    QCOMPARE(tree->Path(), m_dir->path());
    // Read again, the list no longer offers it, but keeps showing the pick.
    drives->showPopup();
    drives->hidePopup();
    QCOMPARE(drives->Drive(), stick.path());
    QCOMPARE(drives->findText(stick.path()), drives->count() - 1);
}

void tst_DirListFrm::getFolderOnUnpluggedDrive()
{
    Drives::useSystemRoots();
    m_window = std::make_unique<DirListFrm>();
    m_window->show();
    TmpfsMount stick;
    SKIP_UNLESS_MOUNTED(stick);
    touchFiles(stick.path(), { u"on the stick.dat"_s });
    auto* drives = child<DriveListBox>(m_window.get(), "Drive1");
    drives->showPopup();
    drives->hidePopup();
    drives->setCurrentIndex(drives->findText(stick.path()));
    emit drives->activated(drives->currentIndex());
    QCOMPARE(child<DirListBox>(m_window.get(), "Dir1")->Path(), stick.path());

    // Pulled out with the window on it: the empty mount point is no drive to list.
    stick.unmount();
    ModalAnswerer answer;
    click("GetDirCmd");
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY2(answer.boxes.at(0).prompt.contains(u"not ready"_s), qPrintable(answer.boxes.at(0).prompt));
    QVERIFY(items("lstAll").isEmpty());
    QCOMPARE(m_window->folderPath(), QString());
    QVERIFY(child<QPushButton>(m_window.get(), "GetDirCmd")->isEnabled());
}

void tst_DirListFrm::hiddenFoldersLastAndDimmer()
{
    for (const QString& name : { u"Zeta"_s, u".wine"_s, u"alpha"_s, u".local"_s })
        QDir().mkpath(m_dir->filePath(name));
    touchFiles(m_dir->path(), { u".hidden.package"_s, u"shown.package"_s });
    openFolder(m_dir->path());
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    QStringList entries;
    for (int row = tree->count() - 4; row < tree->count(); ++row)
        entries.append(tree->item(row)->text().trimmed());
    QCOMPARE(entries, (QStringList { u"alpha"_s, u"Zeta"_s, u".local"_s, u".wine"_s }));
    const QColor normal = tree->item(tree->count() - 3)->foreground().color();
    const QColor hidden = tree->item(tree->count() - 1)->foreground().color();
    QVERIFY2(hidden.lightness() > normal.lightness(), qPrintable(hidden.name() + u" vs "_s + normal.name()));

    // A hidden folder opens like any other; Get Folder still gathers no hidden file.
    tree->setCurrentRow(tree->count() - 1);
    QTest::keyClick(tree, Qt::Key_Return);
    QCOMPARE(tree->Path(), m_dir->filePath(u".wine"_s));
    openFolder(m_dir->path());
    click("GetDirCmd");
    QCOMPARE(items("lstAll"), QStringList { u"shown.package"_s });
}

void tst_DirListFrm::busyCursorWhileGathering()
{
    touchFiles(m_dir->path(), { u"a.dat"_s, u"with\nbreak.dat"_s });
    openFolder(m_dir->path());
    QList<int> shapes;
    auto* all = child<ListBox>(m_window.get(), "lstAll");
    const auto seen = [&shapes] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shapes.append(cursor ? int(cursor->shape()) : -1);
    };
    connect(all->model(), &QAbstractItemModel::modelReset, all, seen);
    ModalAnswerer answer;
    int shapeUnderBox = -2;
    QTimer::singleShot(0, all, [&shapeUnderBox] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shapeUnderBox = cursor ? int(cursor->shape()) : -1;
    });
    click("GetDirCmd");
    QCOMPARE(shapes, QList<int> { int(Qt::WaitCursor) });
    // The box about the left-out name came after the work: no busy cursor over it.
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(shapeUnderBox, -1);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void tst_DirListFrm::unreadableFolderLeavesWindowAsItWas()
{
    const QString locked = m_dir->filePath(u"locked"_s);
    QDir().mkpath(locked);
    touchFiles(m_dir->path(), { u"kept.dat"_s });
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0) == 0);
    auto unlock = qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0700); });
    if (QDir(locked).entryList().size() > 0 || QDir(locked).isReadable())
        QSKIP("this user reads every folder (root): the case runs again as an unprivileged user");

    openFolder(m_dir->path());
    click("GetDirCmd");
    auto* tree = child<DirListBox>(m_window.get(), "Dir1");
    QStringList before;
    for (int row = 0; row < tree->count(); ++row)
        before.append(tree->item(row)->text());
    const auto found = tree->findItems(u"locked"_s, Qt::MatchEndsWith);
    QCOMPARE(found.size(), 1);
    ModalAnswerer answer;
    tree->setCurrentItem(found.at(0));
    QTest::keyClick(tree, Qt::Key_Return);
    QTRY_COMPARE(answer.boxes.size(), 1);
    QCOMPARE(answer.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY2(answer.boxes.at(0).prompt.contains(locked), qPrintable(answer.boxes.at(0).prompt));
    QCOMPARE(tree->Path(), m_dir->path());
    QStringList after;
    for (int row = 0; row < tree->count(); ++row)
        after.append(tree->item(row)->text());
    QCOMPARE(after, before);
    QCOMPARE(child<Label>(m_window.get(), "Label1")->Caption(), m_dir->path() + u'/');
    QCOMPARE(child<FileListBox>(m_window.get(), "File1")->files(), QStringList { u"kept.dat"_s });
    QCOMPARE(items("lstAll"), QStringList { u"kept.dat"_s });
}

void tst_DirListFrm::helpAndAbout_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("endsWithLineEnd");
    QTest::addColumn<int>("lines");
    QTest::newRow("contents")
        << u"mnuCntnts"_s << u"Help for Brenvale 2.0"_s
        << u"When your Sims game crash, it's not fun.\r\nNow there's help to get the game back up and "
           u"running.\r\n"
           "Detailed help is provided in the enclosed readme file.\r\nFor futher help e-mail me at "_s
        << true << 4;
    QTest::newRow("about") << u"mnuAbtt"_s << u"Brenvale 2.0"_s << QString() << true << 2;
}

void tst_DirListFrm::helpAndAbout()
{
    QFETCH(QString, item);
    QFETCH(QString, title);
    QFETCH(QString, start);
    QFETCH(bool, endsWithLineEnd);
    QFETCH(int, lines);
    ModalAnswerer answer;
    m_window->findChild<QAction*>(item)->trigger();
    QTRY_COMPARE(answer.boxes.size(), 1);
    const SeenBox& box = answer.boxes.at(0);
    QCOMPARE(box.title, title);
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.prompt.startsWith(start));
    QCOMPARE(box.prompt.endsWith(u"\r\n"_s), endsWithLineEnd);
    QCOMPARE(box.prompt.count(u"\r\n"_s), lines);
    if (item == u"mnuAbtt"_s)
        QVERIFY(box.prompt.endsWith(u"\r\nFebruary 2005\r\n"_s)); // the third line is empty
}

void tst_DirListFrm::exitCloses()
{
    child<TextArea>(m_window.get(), "dirCntTxt")->setText(u"unsaved\r\n"_s);
    ModalAnswerer answer;
    child<QAction>(m_window.get(), "mnuExit")->trigger();
    QVERIFY(!m_window->isVisible());
    QVERIFY(answer.boxes.isEmpty());
}

QTEST_MAIN(tst_DirListFrm)
#include "tst_dirlistfrm.moc"
