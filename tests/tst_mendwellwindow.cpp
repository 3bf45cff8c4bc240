// SPDX-License-Identifier: GPL-3.0-or-later
#include "bisect.h"
#include "listsfolder.h"
#include "mainwindow.h"
#include "mendtree.h"
#include "pretendgame.h"
#include "printedpages.h"
#include "testhelpers.h"

#include <QComboBox>
#include <QDateTime>
#include <QDirIterator>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtEndian>
#include <QTreeView>
#include <QTreeWidget>
#include <zip.h>

#include <cmath>
#include <functional>
#include <signal.h>

using namespace Qt::StringLiterals;

namespace {

// Answers the modal dialogs a click opens, each with the next step given, in order; what each
// dialog said is kept in `seen`.
class Answerer : public QObject
{
public:
    using Step = std::function<void(QWidget*)>;
    explicit Answerer(QList<Step> steps)
        : m_steps(std::move(steps))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }
    QStringList seen;
    QWidget* last = nullptr;
    bool dialogShowsHidden = false;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            seen.append(box->windowTitle() + u": "_s + box->text());
        else
            seen.append(modal->windowTitle());
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
            dialogShowsHidden = dialog->filter().testFlag(QDir::Hidden);
        last = modal;
        // A dialog nobody expected is closed, so a failing test ends instead of waiting forever.
        if (m_steps.isEmpty())
            modal->close();
        else
            m_steps.takeFirst()(modal);
    }
    QTimer m_timer;
    QList<Step> m_steps;
};

Answerer::Step press(QMessageBox::StandardButton which)
{
    return [which](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(which))
            box->button(which)->click();
        else
            modal->close();
    };
}

// Types a path into Qt's own file dialog and presses its accept button, as a player would.
Answerer::Step typePath(const QString& path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    };
}

// As typePath, after choosing the next kind of file in the dialog's list of kinds with the keyboard.
Answerer::Step typePathAsNextKind(const QString& path)
{
    return [path](QWidget* modal) {
        if (auto* kinds = modal->findChild<QComboBox*>(u"fileTypeCombo"_s))
            QTest::keyClick(kinds, Qt::Key_Down);
        typePath(path)(modal);
    };
}

// What the changes view shows, row by row in its order: "kind|path|group|flags".
QStringList shownRows(MainWindow& window)
{
    auto* view = child<QTreeView>(&window, "grdChanges");
    const QAbstractItemModel* model = view->model();
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c : { ChangesModel::KindColumn, ChangesModel::PathColumn, ChangesModel::GroupColumn,
                 ChangesModel::FlagsColumn })
            cells.append(model->index(r, c).data().toString());
        rows.append(cells.join(u'|'));
    }
    return rows;
}

// Clicks a button as a player does, scrolled into view first where the screen is smaller than the window.
void click(QWidget* window, const char* name)
{
    auto* button = child<QPushButton>(window, name);
    // A player's click comes after the window has laid out what it just showed.
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (auto* scroller = window->findChild<QScrollArea*>(u"scrClient"_s))
        scroller->ensureWidgetVisible(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Whether the window is busy, as the player sees it: the progress bar shows.
bool working(MainWindow& window)
{
    return child<QProgressBar>(&window, "prgWork")->isVisibleTo(&window);
}

QStringList shownPaths(MainWindow& window)
{
    auto* view = child<QTreeView>(&window, "grdChanges");
    QStringList paths;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        paths.append(view->model()->index(r, ChangesModel::PathColumn).data().toString());
    return paths;
}

QList<QByteArray> steps(const char* text)
{
    return text[0] ? QByteArray(text).split('\n') : QList<QByteArray>();
}

// A file as a player would check it came back: its bytes, time and permissions.
struct FileState
{
    QByteArray bytes;
    qint64 modifiedNs = 0;
    quint32 mode = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
};

QMap<QByteArray, FileState> filesBelow(const QByteArray& root)
{
    QMap<QByteArray, FileState> files;
    QDirIterator it(
        QFile::decodeName(root), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray path = QFile::encodeName(it.next());
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            continue;
        files.insert(path.sliced(root.size() + 1),
            { tree::readAll(path), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                quint32(st.st_mode) });
    }
    return files;
}

QStringList pathsOf(const QMap<QByteArray, FileState>& files)
{
    QStringList paths;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        paths.append(QString::fromUtf8(it.key()));
    return paths;
}

// Chooses the rows of the changes view whose path is one of those given, as a player's Ctrl+click does.
void chooseRows(MainWindow& window, const QStringList& paths)
{
    auto* view = child<QTreeView>(&window, "grdChanges");
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        const QModelIndex index = view->model()->index(r, ChangesModel::PathColumn);
        if (!paths.contains(index.data().toString()))
            continue;
        view->scrollTo(index);
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, Qt::ControlModifier, view->visualRect(index).center());
    }
}

QStringList listItems(MainWindow& window, const char* name)
{
    auto* list = child<QListWidget>(&window, name);
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->item(i)->text());
    return items;
}

// Runs the command line on the test's data, as a player in a terminal beside the window would. "+PATH"
// instead writes a new file into the folder; FOLDER and SINCE stand for the folder and the snapshot.
void runCommandLine(const QStringList& commands, const QByteArray& root, const QString& since)
{
    for (const QString& command : commands) {
        if (command.startsWith(u'+')) {
            tree::write(root, command.mid(1).toUtf8(), "DBPF " + command.mid(1).toUtf8());
            continue;
        }
        QStringList arguments = command.split(u' ');
        arguments.replaceInStrings(u"FOLDER"_s, QFile::decodeName(root));
        arguments.replaceInStrings(u"SINCE"_s, since);
        QProcess process;
        process.start(QStringLiteral(MENDWELL_EXECUTABLE), arguments);
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
            qPrintable(command + u": "_s + QString::fromUtf8(process.readAllStandardError())));
    }
}

// The files of `before` that are not in the folder now.
QStringList filesOutSince(const QMap<QByteArray, FileState>& before, const QByteArray& root)
{
    QStringList out = pathsOf(before);
    for (const QString& path : pathsOf(filesBelow(root)))
        out.removeOne(path);
    return out;
}

std::optional<mending::BisectSession> storedSession(const QByteArray& root)
{
    return mending::BisectStore(mending::BisectStore::defaultPath()).load(QFile::decodeName(root));
}

// A tree of many small files in many folders, made once: big enough that a scan of it lasts.
void makeBigTree(const QByteArray& root, int files)
{
    for (int i = 0; i < files; ++i) {
        if (i % 100 == 0)
            ::mkdir((root + "/d" + QByteArray::number(i / 100)).constData(), 0755);
        const QByteArray path = root + "/d" + QByteArray::number(i / 100) + "/f" + QByteArray::number(i);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        ::close(fd);
    }
}

}

namespace {

// A package of one resource (type, group and instance all given), as The Sims 4 writes them: the
// header, the resource's bytes, then an index that stores no field once.
QByteArray onePackage(quint32 type, quint64 instance)
{
    QByteArray bytes(96, '\0');
    const auto put = [&bytes](qsizetype at, quint32 word) { qToLittleEndian(word, bytes.data() + at); };
    const auto append = [&bytes, &put](quint32 word) {
        bytes.resize(bytes.size() + 4);
        put(bytes.size() - 4, word);
    };
    bytes.replace(0, 4, "DBPF");
    put(4, 2);
    put(8, 1);
    bytes += "data";
    const quint32 index = quint32(bytes.size());
    for (quint32 word :
        { 0u, type, 0u, quint32(instance >> 32), quint32(instance), 96u, 4u | 0x80000000u, 4u, 0x10000u })
        append(word);
    put(36, 1);
    put(44, quint32(bytes.size()) - index);
    put(60, 3);
    put(64, index);
    return bytes;
}

// A script mod holding one module compiled for the game's Python (3.7: its magic number is 3394).
void writeScriptMod(const QByteArray& path, const char* module)
{
    QVERIFY(QDir().mkpath(QFileInfo(QFile::decodeName(path)).absolutePath()));
    int error = 0;
    zip_t* archive = ::zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY(archive);
    static const char compiled[16] = { 0x42, 0x0d, 0x0d, 0x0a };
    zip_source_t* source = ::zip_source_buffer(archive, compiled, sizeof compiled, 0);
    QVERIFY(::zip_file_add(archive, module, source, ZIP_FL_OVERWRITE) >= 0);
    QVERIFY(::zip_close(archive) == 0);
}

// What the real command line writes for these arguments.
QByteArray commandOutput(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(MENDWELL_EXECUTABLE), arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

}

class tst_MendwellWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pickFolder_data();
    void pickFolder();
    void detectedFolder();
    void takeAndDeleteSnapshots_data();
    void takeAndDeleteSnapshots();
    void changesView_data();
    void changesView();
    void sortAndFilter_data();
    void sortAndFilter();
    void countsInThePlayersDigits();
    void insideTheMods();
    void exportFile_data();
    void exportFile();
    void folderList();
    void cancel_data();
    void cancel();
    void printChanges();
    void keys_data();
    void keys();
    void moveOutAndBack_data();
    void moveOutAndBack();
    void refusedWhileGameRuns_data();
    void refusedWhileGameRuns();
    void cacheQuestion_data();
    void cacheQuestion();
    void takenPlaceReported();
    void cancelMove_data();
    void cancelMove();
    void fiftyFifty_data();
    void fiftyFifty();
    void fiftyFiftyAtAGlance_data();
    void fiftyFiftyAtAGlance();
    void stopAsksFirst_data();
    void stopAsksFirst();
    void columnsFit_data();
    void columnsFit();
    void otherWindowFollows();
    void staleWindowActsOnTruth_data();
    void staleWindowActsOnTruth();
    void refreshesWhenChangedBeneath_data();
    void refreshesWhenChangedBeneath();
    void interruptedMovesFinished();
    void killedMoveFinished();

private:
    // The new files of a 50/50 case: group g is a loose file, or a new folder of two files for odd g.
    QList<QStringList> makeGroups(int count);
    // Starts the 50/50 through Find the culprit, answering its question.
    void startFiftyFifty(MainWindow& window);
    // Opens the game folder and remembers it as it is; false when either step failed.
    bool openAndRemember(MainWindow& window);
    // Opens the folder, remembers it, then applies the later steps and asks what changed.
    void rememberThenCompare(MainWindow& window, const QList<QByteArray>& later);
    void waitForWork(MainWindow& window, int timeoutMs = 30000);
    // Three new mods since a snapshot, compared; the snapshot's number for the command line.
    QString threeNewMods(MainWindow& window);
    QByteArray storeFolder() const { return m_data.path() + "/mendwell/snapshots"; }

    tree::Folder m_home;
    tree::Folder m_data;
    std::unique_ptr<tree::Folder> m_folder; // the game folder of one test
    QByteArray m_root; // its canonical path
    tree::Folder m_big;
    PrintedPages::Ruler m_ruler;
    bool m_rulerMeasured = false;
};

void tst_MendwellWindow::initTestCase()
{
    qputenv("HOME", m_home.path());
    qputenv("XDG_DATA_HOME", m_data.path());
    makeBigTree(m_big.path(), 60000);
}

void tst_MendwellWindow::init()
{
    m_folder = std::make_unique<tree::Folder>();
    // The quarantine goes beside the game folder: inside the test's own folder, then.
    QVERIFY(QDir().mkpath(QFile::decodeName(m_folder->path() + "/Mods")));
    m_root = mending::canonicalFolder(m_folder->path() + "/Mods");
    QProcess::execute(u"rm"_s, { u"-rf"_s, QFile::decodeName(storeFolder()) });
}

void tst_MendwellWindow::cleanup()
{
    m_folder.reset();
}

void tst_MendwellWindow::waitForWork(MainWindow& window, int timeoutMs)
{
    QSignalSpy ended(&window, &MainWindow::workEnded);
    if (working(window))
        QVERIFY(ended.wait(timeoutMs));
}

bool tst_MendwellWindow::openAndRemember(MainWindow& window)
{
    if (!window.openFolder(QFile::decodeName(m_root)))
        return false;
    QSignalSpy ended(&window, &MainWindow::workEnded);
    click(&window, "cmdRemember");
    return ended.wait(30000);
}

void tst_MendwellWindow::rememberThenCompare(MainWindow& window, const QList<QByteArray>& later)
{
    QVERIFY(openAndRemember(window));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    tree::apply(m_root, later);
    click(&window, "cmdWhatChanged");
    QVERIFY(ended.wait(30000));
}

void tst_MendwellWindow::pickFolder_data()
{
    QTest::addColumn<QByteArray>("folder"); // below the made-up home
    QTest::newRow("plain folder") << QByteArray("Documents/Electronic Arts/The Sims 4/Mods");
    QTest::newRow("inside a Proton prefix, below dot-folders")
        << QByteArray(".local/share/Steam/steamapps/compatdata/1222670/pfx/drive_c/users/steamuser/Documents/"
                      "Electronic Arts/The Sims 4/Mods");
    QTest::newRow("inside a Wine prefix")
        << QByteArray(".wine/drive_c/users/ann/Documents/EA Games/The Sims 2/Downloads");
}

void tst_MendwellWindow::pickFolder()
{
    QFETCH(QByteArray, folder);
    const QByteArray path = m_home.path() + '/' + folder;
    tree::write(m_home.path(), folder + "/a.package", "DBPF");
    const auto cleanHome = qScopeGuard([&] {
        QProcess::execute(
            u"rm"_s, { u"-rf"_s, QFile::decodeName(m_home.path() + '/' + folder.split('/').first()) });
    });
    MainWindow window;
    window.show();
    Answerer answer({ typePath(QFile::decodeName(path)) });
    click(&window, "cmdOtherFolder");
    QCOMPARE(answer.seen, QStringList { u"Choose the game folder"_s });
    QVERIFY2(answer.dialogShowsHidden, "the folder dialog hides dot-folders");
    // A game folder the core detects shows with its game and kind before the path; the box's tip
    // has the whole path, which a narrow box cuts.
    const QString shown = child<QComboBox>(&window, "cboFolder")->currentText();
    QVERIFY2(shown.endsWith(QFile::decodeName(mending::canonicalFolder(path))), qPrintable(shown));
    const QString tip = child<QComboBox>(&window, "cboFolder")->toolTip();
    QVERIFY2(tip.startsWith(QFile::decodeName(mending::canonicalFolder(path)) + u'\n'), qPrintable(tip));
    QVERIFY(child<QPushButton>(&window, "cmdRemember")->isEnabled());
    QCOMPARE(child<QTreeWidget>(&window, "lstSnapshots")->topLevelItemCount(), 0);
}

void tst_MendwellWindow::detectedFolder()
{
    const QByteArray mods = m_home.path() + "/Documents/Electronic Arts/The Sims 4/Mods";
    tree::write(m_home.path(), "Documents/Electronic Arts/The Sims 4/Mods/a.package", "DBPF");
    const auto cleanHome = qScopeGuard([this] {
        QProcess::execute(u"rm"_s, { u"-rf"_s, QFile::decodeName(m_home.path() + "/Documents") });
    });
    if (mending::findGameFolders().isEmpty())
        QSKIP("this build's core detects no game folders yet");
    MainWindow window;
    auto* folders = child<QComboBox>(&window, "cboFolder");
    QStringList texts;
    for (int i = 0; i < folders->count(); ++i)
        texts.append(folders->itemText(i));
    QCOMPARE(texts, QStringList { u"The Sims 4  ·  Mods  ·  native  ·  "_s + QFile::decodeName(mods) });
    // The first folder found is opened at once.
    QVERIFY(child<QComboBox>(&window, "cboFolder")
                ->toolTip()
                .startsWith(QFile::decodeName(mending::canonicalFolder(mods)) + u'\n'));
    QVERIFY(child<QPushButton>(&window, "cmdRemember")->isEnabled());
}

void tst_MendwellWindow::takeAndDeleteSnapshots_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("labelsLeft"); // newest first
    QTest::newRow("No keeps the snapshot") << QMessageBox::No << QStringList { u"second"_s, u"first"_s };
    QTest::newRow("Yes deletes it") << QMessageBox::Yes << QStringList { u"first"_s };
}

void tst_MendwellWindow::takeAndDeleteSnapshots()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, labelsLeft);
    tree::apply(m_root, steps("file|Mods/a.package|DBPF\nfile|Mods/deep/b.package|DBPF\nfile|.hidden|x"));
    MainWindow window;
    window.show();
    QVERIFY(window.openFolder(QFile::decodeName(m_root)));
    auto* list = child<QTreeWidget>(&window, "lstSnapshots");
    for (const char* label : { "first", "second" }) {
        child<QLineEdit>(&window, "txtLabel")->setText(QString::fromLatin1(label));
        QSignalSpy ended(&window, &MainWindow::workEnded);
        click(&window, "cmdRemember");
        QVERIFY(ended.wait(30000));
        // Snapshots taken within one clock tick would tie on time; the newest must still be first.
        QTest::qWait(5);
    }
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(1), u"second"_s);
    QCOMPARE(list->topLevelItem(0)->text(2), u"3"_s);
    QCOMPARE(list->topLevelItem(1)->text(1), u"first"_s);
    // The store on disk holds what the list shows.
    const mending::SnapshotStore store(storeFolder());
    QCOMPARE(store.list(m_root).size(), 2);
    const mending::Snapshot kept = mending::readSnapshotFile(store.list(m_root).first().path);
    QCOMPARE(kept.label, QByteArray("second"));
    QCOMPARE(kept.files.size(), 3);
    QCOMPARE(kept.files.at(0).path, QByteArray(".hidden"));

    list->setCurrentItem(list->topLevelItem(0));
    Answerer answerer({ press(answer) });
    click(&window, "cmdDelete");
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(answerer.seen.first().startsWith(u"Delete snapshot: Forget the snapshot taken "_s),
        qPrintable(answerer.seen.first()));
    QStringList labels;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        labels.append(list->topLevelItem(i)->text(1));
    QCOMPARE(labels, labelsLeft);
    QStringList onDisk;
    for (const mending::StoredSnapshot& stored : store.list(m_root))
        onDisk.append(QString::fromUtf8(stored.info.label));
    QCOMPARE(onDisk, labelsLeft);
}

void tst_MendwellWindow::changesView_data()
{
    QTest::addColumn<QList<QByteArray>>("before");
    QTest::addColumn<QList<QByteArray>>("later");
    QTest::addColumn<QStringList>("rows"); // kind|path|group|flags, in path order

    QTest::newRow("nothing changed") << steps("file|a.package|DBPF") << steps("") << QStringList();
    QTest::newRow("added, changed and removed")
        << steps("file|a.package|DBPF\nfile|b.package|DBPF\nfile|sub/c.package|DBPF")
        << steps("file|a.package|DBPF and more\nrm|b.package\nfile|sub/new.package|DBPFx")
        << QStringList { u"Changed|a.package|a.package|"_s, u"Removed|b.package|b.package|"_s,
               u"Added|sub/new.package|sub/new.package|"_s };
    QTest::newRow("moved across folders")
        << steps("file|one/hair.package|DBPF hair\nfile|two/other.package|DBPF")
        << steps("mv|one/hair.package|two/hair.package")
        << QStringList { u"Moved|two/hair.package|two/hair.package|"_s };
    QTest::newRow("a new folder is one group")
        << steps("file|old.package|DBPF")
        << steps("file|NiceHair/hair.package|DBPF1\nfile|NiceHair/sub/hair_b.package|DBPF2")
        << QStringList { u"Added|NiceHair/hair.package|NiceHair/ (whole folder)|"_s,
               u"Added|NiceHair/sub/hair_b.package|NiceHair/ (whole folder)|"_s };
    QTest::newRow("files of one name are one group")
        << steps("file|old.package|DBPF")
        << steps("file|Author_Mod.package|DBPF1\nfile|Author_Mod.ts4script|PK\x03\x04zz")
        << QStringList { u"Added|Author_Mod.package|Author_Mod.* (same name)|"_s,
               u"Added|Author_Mod.ts4script|Author_Mod.* (same name)|Script cannot load"_s };
    QTest::newRow("suspects, each beside a clean file")
        << steps("file|old.package|DBPF")
        << steps("file|empty.package|\nfile|fine.package|DBPFfine\nfile|broken.package|XXXXdata\n"
                 "file|script.ts4script|not a zip\nfile|good.ts4script|PK\x03\x04zz\n"
                 "file|left.zip|PK\x03\x04\nfile|Sofa (1).package|DBPFsofa\nfile|Sofa.package|DBPFsofa2")
        << QStringList { u"Added|broken.package|broken.package|Not a package"_s,
               u"Added|empty.package|empty.package|Empty file"_s, u"Added|fine.package|fine.package|"_s,
               u"Added|good.ts4script|good.ts4script|Script cannot load"_s,
               u"Added|left.zip|left.zip|Archive not unpacked"_s,
               u"Added|script.ts4script|script.ts4script|Not a script mod"_s,
               u"Added|Sofa (1).package|Sofa (1).package|Second download"_s,
               u"Added|Sofa.package|Sofa.package|"_s };
    QTest::newRow("noise is marked, never flagged")
        << steps("file|old.package|DBPF") << steps("file|lastException.txt|log\nfile|mod.cfg|")
        << QStringList { u"Added|lastException.txt|lastException.txt|Written by mods"_s,
               u"Added|mod.cfg|mod.cfg|Written by mods"_s };
    QTest::newRow("a name that is not UTF-8 shows a replacement mark")
        << steps("file|old.package|DBPF") << steps("file|caf\xe9.package|DBPF")
        << QStringList { u"Added|caf\uFFFD.package|caf\uFFFD.package|"_s };
}

void tst_MendwellWindow::changesView()
{
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, later);
    QFETCH(QStringList, rows);
    tree::apply(m_root, before);
    MainWindow window;
    window.show();
    rememberThenCompare(window, later);
    QCOMPARE(shownRows(window), rows);
    QVERIFY(child<QLabel>(&window, "lblSince")->text().startsWith(u"Since the snapshot of "_s));
}

void tst_MendwellWindow::sortAndFilter_data()
{
    QTest::addColumn<int>("sortColumn"); // -1: as the window starts (by path)
    QTest::addColumn<bool>("twice"); // click the column's title twice: descending
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("kind"); // index in cboKind
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("counts");

    const QString all
        = u"Added 4 · Changed 1 · Removed 1 · Moved 0 · Suspect 1 · Noise 1   —   showing %1 of 6"_s;
    QTest::newRow("by path, letter case ignored")
        << -1 << false << QString() << 0
        << QStringList { u"b.package"_s, u"Big.package"_s, u"c.package"_s, u"empty.package"_s,
               u"gone.package"_s, u"notes.txt"_s }
        << all.arg(6);
    QTest::newRow("by size, as numbers") << int(ChangesModel::SizeColumn) << false << QString() << 0
                                         << QStringList { u"empty.package"_s, u"notes.txt"_s, u"b.package"_s,
                                                u"gone.package"_s, u"c.package"_s, u"Big.package"_s }
                                         << all.arg(6);
    QTest::newRow("by size, largest first")
        << int(ChangesModel::SizeColumn) << true << QString() << 0
        << QStringList { u"Big.package"_s, u"c.package"_s, u"gone.package"_s, u"b.package"_s, u"notes.txt"_s,
               u"empty.package"_s }
        << all.arg(6);
    QTest::newRow("by kind") << int(ChangesModel::KindColumn) << false << QString() << 0
                             << QStringList { u"Big.package"_s, u"c.package"_s, u"empty.package"_s,
                                    u"notes.txt"_s, u"b.package"_s, u"gone.package"_s }
                             << all.arg(6);
    QTest::newRow("by date") << int(ChangesModel::DateColumn) << false << QString() << 0
                             << QStringList { u"gone.package"_s, u"b.package"_s, u"c.package"_s,
                                    u"empty.package"_s, u"notes.txt"_s, u"Big.package"_s }
                             << all.arg(6);
    QTest::newRow("text, letter case ignored, flags included")
        << -1 << false << u"I"_s << 0 << QStringList { u"Big.package"_s, u"empty.package"_s, u"notes.txt"_s }
        << all.arg(3);
    QTest::newRow("added only") << -1 << false << QString() << 1
                                << QStringList { u"Big.package"_s, u"c.package"_s, u"empty.package"_s,
                                       u"notes.txt"_s }
                                << all.arg(4);
    QTest::newRow("removed only") << -1 << false << QString() << 3 << QStringList { u"gone.package"_s }
                                  << all.arg(1);
    QTest::newRow("suspect files") << -1 << false << QString() << 5 << QStringList { u"empty.package"_s }
                                   << all.arg(1);
    QTest::newRow("noise") << -1 << false << QString() << 6 << QStringList { u"notes.txt"_s } << all.arg(1);
    QTest::newRow("text and kind together")
        << -1 << false << u"package"_s << 1
        << QStringList { u"Big.package"_s, u"c.package"_s, u"empty.package"_s } << all.arg(3);
    QTest::newRow("a flag's words") << -1 << false << u"empty file"_s << 0
                                    << QStringList { u"empty.package"_s } << all.arg(1);
}

void tst_MendwellWindow::sortAndFilter()
{
    QFETCH(int, sortColumn);
    QFETCH(bool, twice);
    QFETCH(QString, filter);
    QFETCH(int, kind);
    QFETCH(QStringList, paths);
    QFETCH(QString, counts);
    tree::apply(m_root,
        steps("file|b.package|DBPF12\nfile|gone.package|DBPF1234\ntime|gone.package|1000000000000000000\n"
              "time|b.package|1100000000000000000"));
    MainWindow window;
    window.show();
    rememberThenCompare(window,
        steps("rm|gone.package\nfile|b.package|DBPF123\ntime|b.package|1200000000000000000\n"
              "file|c.package|DBPF123456\ntime|c.package|1300000000000000000\nfile|empty.package|\n"
              "time|empty.package|1400000000000000000\nfile|notes.txt|n\ntime|notes.txt|1500000000000000000\n"
              "file|Big.package|DBPF12345678901234\ntime|Big.package|1600000000000000000"));
    auto* view = child<QTreeView>(&window, "grdChanges");
    if (sortColumn >= 0) {
        QHeaderView* header = view->header();
        const QPoint title(header->sectionViewportPosition(sortColumn) + header->sectionSize(sortColumn) / 2,
            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
        if (twice)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
    }
    QTest::keyClicks(child<QLineEdit>(&window, "txtFilter"), filter);
    child<QComboBox>(&window, "cboKind")->setCurrentIndex(kind);
    QCOMPARE(shownPaths(window), paths);
    QCOMPARE(child<QLabel>(&window, "lblCounts")->text(), counts);
}

// Counts are written one way everywhere: grouped as the player's locale groups digits.
void tst_MendwellWindow::countsInThePlayersDigits()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    MainWindow window;
    window.show();
    QList<QByteArray> added;
    for (int i = 0; i < 1001; ++i)
        added.append("file|Set/Mod" + QByteArray::number(i) + ".package|DBPF" + QByteArray::number(i));
    rememberThenCompare(window, added);
    QLocale::setDefault(QLocale::c());
    QVERIFY2(child<QLabel>(&window, "lblCounts")->text().startsWith(u"Added 1,001 · Changed 0"_s),
        qPrintable(child<QLabel>(&window, "lblCounts")->text()));
    QVERIFY2(child<QLabel>(&window, "lblCounts")->text().endsWith(u"showing 1,001 of 1,001"_s),
        qPrintable(child<QLabel>(&window, "lblCounts")->text()));
}

// Clashing packages and the game's error report, shown beside the changes in the command line's own
// words; the 50/50 then starts from the new script mod that the report names.
void tst_MendwellWindow::insideTheMods()
{
    MainWindow window;
    window.show();
    QVERIFY(openAndRemember(window));
    // The hint follows the screen: a snapshot is chosen, so only the question is left to ask.
    QCOMPARE(child<QLabel>(&window, "lblSince")->text(), u"Ask what changed since the chosen snapshot."_s);
    const QString since
        = child<QTreeWidget>(&window, "lstSnapshots")->topLevelItem(0)->data(0, Qt::UserRole).toString();
    writeScriptMod(m_root + "/Clock/Clock.ts4script", "clock/hooks.pyc");
    tree::write(m_root, "Hair/Hair.package", onePackage(0x034AEECB, 7));
    tree::write(m_root, "Hair/Hair copy.package", onePackage(0x034AEECB, 7));
    tree::write(m_root + "/..", "lastException.txt",
        "<?xml version=\"1.0\" ?><root>\n<report><createtime>2026-12-07 21:04:11</createtime><desyncdata>"
        "[clock] Error while ticking&#13;&#10;Traceback (most recent call last):&#13;&#10;  File "
        "\"C:\\Users\\Dev\\src\\clock\\hooks.py\", line 3, in tick&#13;&#10;AttributeError: x"
        "</desyncdata></report></root>");

    QString shown;
    QSignalSpy ended(&window, &MainWindow::workEnded);
    {
        Answerer answer({ [&shown](QWidget* dialog) {
            shown = dialog->findChild<QPlainTextEdit*>(u"txtInside"_s)->toPlainText();
            dialog->close();
        } });
        click(&window, "cmdInside");
        QVERIFY(ended.wait(30000));
    }
    const QString folder = QFile::decodeName(m_root);
    const QByteArray words = commandOutput({ u"conflicts"_s, folder }) + '\n'
        + commandOutput({ u"errors"_s, folder, u"--since"_s, since });
    QVERIFY2(words.contains("Hair copy.package") && words.contains("Clock/Clock.ts4script  (new since"),
        words.constData());
    QCOMPARE(shown, QString::fromUtf8(words));

    click(&window, "cmdWhatChanged");
    QVERIFY(ended.wait(30000));
    // The changes view flags a new package that clashes, once a pair, as diff notes it.
    const QStringList clashing = shownRows(window).filter(u"Clashes with another mod"_s);
    QCOMPARE(clashing.size(), 1);
    QVERIFY2(clashing.first().contains(u"Hair/Hair"_s), qPrintable(clashing.first()));
    startFiftyFifty(window);
    QVERIFY2(child<QLabel>(&window, "lblSuggestion")->isVisible()
            && child<QLabel>(&window, "lblSuggestion")->text().contains(u"Clock/Clock.ts4script"_s),
        qPrintable(child<QLabel>(&window, "lblSuggestion")->text()));
}

void tst_MendwellWindow::exportFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asText"); // the second kind of file chosen in the dialog
    QTest::addColumn<QString>("saved"); // the file's name as saved
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QByteArray>("bytes"); // {root} and {taken} stand for the folder and the snapshot's time

    const QByteArray later = "added,\"a, b.package\",,5,2001-09-09 01:46:40,\"a, b.package\",,\r\n"
                             "changed,caf\xe9.package,,7,2004-01-10 13:37:04,caf\xe9.package,,\r\n"
                             "added,empty.package,,0,2001-09-09 01:46:40,empty.package,zero-bytes,"
                             "empty (0 bytes): an unfinished or broken download\r\n"
                             "moved,there/keep.package,here/keep.package,4,2001-09-09 01:46:40,there/,,\r\n";
    QTest::newRow("csv, every row, exact bytes")
        << u"changes.csv"_s << false << u"changes.csv"_s << QString()
        << QByteArray("kind,path,old path,size,modified,group,flags,reasons\r\n" + later);
    QTest::newRow("csv of the filtered rows")
        << u"changes.csv"_s << false << u"changes.csv"_s << u"empty"_s
        << QByteArray("kind,path,old path,size,modified,group,flags,reasons\r\n"
                      "added,empty.package,,0,2001-09-09 01:46:40,empty.package,zero-bytes,"
                      "empty (0 bytes): an unfinished or broken download\r\n");
    QTest::newRow("text with flags below their file")
        << u"changes.txt"_s << false << u"changes.txt"_s << QString()
        << QByteArray("Mendwell: what changed in {root}\r\n"
                      "Since: snapshot of {taken}\r\n"
                      "4 files: 2 added, 1 changed, 0 removed, 1 moved; 1 suspect, 0 noise\r\n"
                      "\r\n"
                      "Added    a, b.package  5 bytes  2001-09-09 01:46:40\r\n"
                      "Changed  caf\xe9.package  7 bytes  2004-01-10 13:37:04  (was 4 bytes  2001-09-09 "
                      "01:46:40)\r\n"
                      "Added    empty.package  0 bytes  2001-09-09 01:46:40\r\n"
                      "         ! Empty file - empty (0 bytes): an unfinished or broken download\r\n"
                      "Moved    there/keep.package  (was here/keep.package)  4 bytes  2001-09-09 01:46:40  "
                      "group: there/\r\n");
    QTest::newRow("a name without a suffix is saved as CSV")
        << u"changes"_s << false << u"changes.csv"_s << u"a, b"_s
        << QByteArray("kind,path,old path,size,modified,group,flags,reasons\r\n"
                      "added,\"a, b.package\",,5,2001-09-09 01:46:40,\"a, b.package\",,\r\n");
    QTest::newRow("plain text chosen, no suffix typed")
        << u"changes"_s << true << u"changes.txt"_s << u"a, b"_s
        << QByteArray("Mendwell: what changed in {root}\r\n"
                      "Since: snapshot of {taken}\r\n"
                      "1 file: 1 added, 0 changed, 0 removed, 0 moved; 0 suspect, 0 noise\r\n"
                      "\r\n"
                      "Added    a, b.package  5 bytes  2001-09-09 01:46:40\r\n");
}

void tst_MendwellWindow::exportFile()
{
    QFETCH(QString, name);
    QFETCH(bool, asText);
    QFETCH(QString, saved);
    QFETCH(QString, filter);
    QFETCH(QByteArray, bytes);
    tree::apply(m_root,
        steps("file|caf\xe9.package|DBPF\ntime|caf\xe9.package|1000000000000000000\n"
              "file|here/keep.package|DBPF\ntime|here/keep.package|1000000000000000000"));
    MainWindow window;
    window.show();
    rememberThenCompare(window,
        steps("file|caf\xe9.package|DBPFxyz\ntime|caf\xe9.package|1073741824000000000\n"
              "mv|here/keep.package|there/keep.package\nfile|a, b.package|DBPF!\n"
              "time|a, "
              "b.package|1000000000000000000\nfile|empty.package|\ntime|empty.package|1000000000000000000"));
    QTest::keyClicks(child<QLineEdit>(&window, "txtFilter"), filter);
    const mending::SnapshotStore store(storeFolder());
    const qint64 taken = store.list(m_root).first().info.takenNs;

    QTemporaryDir out;
    Answerer answer({ asText ? typePathAsNextKind(out.filePath(name)) : typePath(out.filePath(name)) });
    click(&window, "cmdExport");
    QCOMPARE(answer.seen, QStringList { u"Export the changes"_s });
    bytes.replace("{root}", m_root)
        .replace("{taken}",
            QDateTime::fromMSecsSinceEpoch(taken / 1000000).toString(u"yyyy-MM-dd HH:mm"_s).toUtf8());
    QCOMPARE(fileBytes(out.filePath(saved)), bytes);
}

void tst_MendwellWindow::folderList()
{
    tree::apply(m_root, steps("file|kept.iff|x\nfile|sub/inside.iff|x\nfile|new.iff|x"));
    QTemporaryDir lists;
    // Brenvale lists the files at the top of a folder only: sub/inside.iff is beyond what it can tell.
    writeBytes(lists.filePath(u"list.txt"_s), "kept.iff\r\ngone.iff\r\n\r\n\r\n");
    MainWindow window;
    window.show();
    QVERIFY(window.openFolder(QFile::decodeName(m_root)));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    // The dialog opens where Brenvale saves its lists.
    QString opensIn;
    Answerer answer({ [&opensIn, path = lists.filePath(u"list.txt"_s)](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
            opensIn = dialog->directory().absolutePath();
        typePath(path)(modal);
    } });
    click(&window, "cmdFolderList");
    QVERIFY(ended.wait(30000));
    QCOMPARE(opensIn, QDir(listsFolder()).absolutePath());
    QCOMPARE(
        shownRows(window), (QStringList { u"Removed|gone.iff|gone.iff|"_s, u"Added|new.iff|new.iff|"_s }));
    QVERIFY2(child<QLabel>(&window, "lblSince")->text().contains(u"top-level names only"_s),
        qPrintable(child<QLabel>(&window, "lblSince")->text()));
    // Another folder starts afresh: the changes of this one are not shown as its own.
    QTemporaryDir other;
    QVERIFY(window.openFolder(other.path()));
    QCOMPARE(shownRows(window), QStringList());
    QVERIFY(!child<QPushButton>(&window, "cmdExport")->isEnabled());
}

void tst_MendwellWindow::cancel_data()
{
    QTest::addColumn<bool>("compare"); // cancel a comparison; else the taking of a snapshot
    QTest::newRow("taking a snapshot") << false;
    QTest::newRow("a comparison") << true;
}

void tst_MendwellWindow::cancel()
{
    QFETCH(bool, compare);
    MainWindow window;
    window.show();
    QVERIFY(window.openFolder(QFile::decodeName(m_big.path())));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    const mending::SnapshotStore store(storeFolder());
    QStringList before;
    if (compare) {
        click(&window, "cmdRemember");
        QVERIFY(ended.wait(60000));
        tree::write(m_big.path(), "d1/added.package", "DBPF");
        click(&window, "cmdWhatChanged");
        QVERIFY(ended.wait(60000));
        before = shownRows(window);
        QCOMPARE(before, QStringList { u"Added|d1/added.package|d1/added.package|"_s });
        tree::write(m_big.path(), "d2/second.package", "DBPF");
        ended.clear();
    }
    const auto removeAdded = qScopeGuard([this] {
        ::unlink((m_big.path() + "/d1/added.package").constData());
        ::unlink((m_big.path() + "/d2/second.package").constData());
    });
    const qsizetype kept = store.list().size();
    const QString since = child<QLabel>(&window, "lblSince")->text();

    click(&window, compare ? "cmdWhatChanged" : "cmdRemember");
    QVERIFY(working(window));
    auto* cancelButton = child<QPushButton>(&window, "cmdCancel");
    QVERIFY(cancelButton->isVisible() && cancelButton->isEnabled());
    QVERIFY(child<QProgressBar>(&window, "prgWork")->isVisible());
    // A comparison knows how many files the snapshot held: the bar counts towards them.
    if (compare) {
        const QString expected = QLocale().toString(60000);
        QVERIFY2(child<QProgressBar>(&window, "prgWork")->text().endsWith(u" of about "_s + expected),
            qPrintable(child<QProgressBar>(&window, "prgWork")->text()));
        QVERIFY2(child<QLabel>(&window, "lblStatus")->text().contains(u" of about %1 files"_s.arg(expected)),
            qPrintable(child<QLabel>(&window, "lblStatus")->text()));
    }
    QVERIFY(!child<QPushButton>(&window, "cmdRemember")->isEnabled());
    // The window answers while the scan runs: the filter still takes what is typed.
    QTest::keyClicks(child<QLineEdit>(&window, "txtFilter"), u"x"_s);
    QTest::mouseClick(cancelButton, Qt::LeftButton);
    QVERIFY(ended.wait(60000));

    QCOMPARE(child<QLabel>(&window, "lblStatus")->text(),
        compare ? u"Cancelled: the changes shown are those of before."_s
                : u"Cancelled: no snapshot was saved."_s);
    QCOMPARE(store.list().size(), kept);
    QCOMPARE(QDir(QFile::decodeName(storeFolder())).entryList(QDir::Files | QDir::Hidden).size(), kept);
    child<QLineEdit>(&window, "txtFilter")->clear();
    QCOMPARE(shownRows(window), before);
    QCOMPARE(child<QLabel>(&window, "lblSince")->text(), since);
    QVERIFY(!child<QPushButton>(&window, "cmdCancel")->isVisible());
    QVERIFY(child<QPushButton>(&window, "cmdRemember")->isEnabled());
}

void tst_MendwellWindow::printChanges()
{
    if (PrintedPages::spoolFolder().isEmpty() || QPrinterInfo::defaultPrinter().isNull())
        QSKIP("needs the private print server: run through ctest");
    // A ruler in the window's printing font gives the place of every line and space.
    if (!m_rulerMeasured) {
        const QStringList jobs = PrintedPages::jobFiles();
        Printer ruler;
        ruler.setFontName(u"DejaVu Sans Mono"_s);
        ruler.setFontSize(9);
        ruler.Print(u"M"_s + QString(PrintedPages::rulerSpaces, u' ') + u"M"_s);
        for (int line = 1; line < PrintedPages::rulerLastLine; ++line)
            ruler.Print();
        ruler.Print(u"M"_s);
        ruler.EndDoc();
        QString error;
        const QString job = PrintedPages::waitForNewJob(jobs, error);
        QVERIFY2(!job.isEmpty(), qPrintable(error));
        QVERIFY2(PrintedPages::measureRuler(PrintedPages::readPages(job, error), m_ruler, error),
            qPrintable(error));
        m_rulerMeasured = true;
    }
    tree::apply(m_root, steps("file|keep.package|DBPF\ntime|keep.package|1000000000000000000"));
    MainWindow window;
    window.show();
    rememberThenCompare(window,
        steps("file|office fluff.package|\ntime|office fluff.package|1000000000000000000\n"
              "file|keep.package|DBPFnew\ntime|keep.package|1000000001000000000"));
    const qint64 taken = mending::SnapshotStore(storeFolder()).list(m_root).first().info.takenNs;

    const QStringList jobs = PrintedPages::jobFiles();
    Answerer answer({ press(QMessageBox::Ok) });
    click(&window, "cmdPrint");
    QString error;
    const QString job = PrintedPages::waitForNewJob(jobs, error);
    QVERIFY2(!job.isEmpty(), qPrintable(error));
    QVERIFY2(answer.seen.isEmpty(), qPrintable(answer.seen.value(0)));
    const QStringList paper
        = PrintedPages::documentLines(PrintedPages::pageLines(PrintedPages::readPages(job, error), m_ruler));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList expected { u"Mendwell: what changed in "_s + QFile::decodeName(m_root),
        u"Since: snapshot of "_s
            + QDateTime::fromMSecsSinceEpoch(taken / 1000000).toString(u"yyyy-MM-dd HH:mm"_s),
        u"2 files: 1 added, 1 changed, 0 removed, 0 moved; 1 suspect, 0 noise"_s, QString(),
        u"Changed  keep.package  7 bytes  2001-09-09 01:46:41  (was 4 bytes  2001-09-09 01:46:40)"_s,
        u"Added    office fluff.package  0 bytes  2001-09-09 01:46:40"_s,
        u"         ! Empty file - empty (0 bytes): an unfinished or broken download"_s };
    QCOMPARE(paper, expected);
}

void tst_MendwellWindow::keys_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("effect"); // "snapshot", "compare" or the name of the control given the focus

    QTest::newRow("Alt+R remembers the folder") << QKeySequence(u"Alt+R"_s) << u"snapshot"_s;
    QTest::newRow("Ctrl+R remembers the folder") << QKeySequence(u"Ctrl+R"_s) << u"snapshot"_s;
    QTest::newRow("Alt+W asks what changed") << QKeySequence(u"Alt+W"_s) << u"compare"_s;
    QTest::newRow("F5 asks what changed") << QKeySequence(u"F5"_s) << u"compare"_s;
    QTest::newRow("Alt+G goes to the game folder") << QKeySequence(u"Alt+G"_s) << u"cboFolder"_s;
    QTest::newRow("Alt+L goes to the label") << QKeySequence(u"Alt+L"_s) << u"txtLabel"_s;
    QTest::newRow("Alt+T goes to the filter") << QKeySequence(u"Alt+T"_s) << u"txtFilter"_s;
    QTest::newRow("Ctrl+F goes to the filter") << QKeySequence(u"Ctrl+F"_s) << u"txtFilter"_s;
    QTest::newRow("Alt+K goes to the kind") << QKeySequence(u"Alt+K"_s) << u"cboKind"_s;
}

void tst_MendwellWindow::keys()
{
    QFETCH(QKeySequence, key);
    QFETCH(QString, effect);
    tree::apply(m_root, steps("file|a.package|DBPF"));
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(openAndRemember(window));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    child<QTreeView>(&window, "grdChanges")->setFocus();
    const mending::SnapshotStore store(storeFolder());

    QTest::keySequence(&window, key);
    if (effect == u"snapshot"_s) {
        QVERIFY(ended.wait(30000));
        QCOMPARE(store.list(m_root).size(), 2);
    } else if (effect == u"compare"_s) {
        QVERIFY(ended.wait(30000));
        QVERIFY(child<QLabel>(&window, "lblSince")->text().startsWith(u"Since the snapshot of "_s));
    } else {
        QVERIFY(QApplication::focusWidget());
        QCOMPARE(QApplication::focusWidget()->objectName(), effect);
        // Moving the focus starts no work.
        QCOMPARE(ended.size(), 0);
    }
}

void tst_MendwellWindow::moveOutAndBack_data()
{
    QTest::addColumn<QStringList>("chosen"); // rows chosen before the click; none: every row shown
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("moved");

    const QStringList all { u"Hair.package"_s, u"Set/chair.package"_s, u"Set/deep/table.package"_s,
        u"kept.package"_s };
    QTest::newRow("every added and changed file") << QStringList() << QString() << all;
    QTest::newRow("only the chosen rows") << QStringList { u"Hair.package"_s, u"kept.package"_s } << QString()
                                          << QStringList { u"Hair.package"_s, u"kept.package"_s };
    QTest::newRow("the rows the filter shows")
        << QStringList() << u"table"_s << QStringList { u"Set/deep/table.package"_s };
    QTest::newRow("a removed row chosen moves nothing of it") << QStringList { u"gone.package"_s,
        u"Hair.package"_s } << QString() << QStringList { u"Hair.package"_s };
}

void tst_MendwellWindow::moveOutAndBack()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, filter);
    QFETCH(QStringList, moved);
    tree::apply(m_root, steps("file|kept.package|DBPF old\nfile|gone.package|DBPF\nfile|old/a.package|DBPF"));
    MainWindow window;
    window.show();
    rememberThenCompare(window,
        steps("file|Hair.package|DBPF hair\ntime|Hair.package|1500000000123456789\n"
              "file|Set/chair.package|DBPF chair\nfile|Set/deep/table.package|DBPF table\n"
              "file|kept.package|DBPF changed\nrm|gone.package"));
    QCOMPARE(::chmod((m_root + "/Hair.package").constData(), 0600), 0);
    QCOMPARE(::chmod((m_root + "/Set/deep/table.package").constData(), 0751), 0);
    const QMap<QByteArray, FileState> before = filesBelow(m_root);

    QTest::keyClicks(child<QLineEdit>(&window, "txtFilter"), filter);
    chooseRows(window, chosen);
    auto* moveOut = child<QPushButton>(&window, "cmdMoveOut");
    QCOMPARE(
        moveOut->text(), chosen.isEmpty() ? u"&Move the new files out"_s : u"&Move the chosen files out"_s);
    QSignalSpy ended(&window, &MainWindow::workEnded);
    Answerer none({});
    QTest::mouseClick(moveOut, Qt::LeftButton);
    QVERIFY(ended.wait(30000));
    QCOMPARE(none.seen, QStringList());

    // Gone from the game folder, and in the quarantine beside it with their bytes.
    const QString quarantine = mending::quarantineFolderFor(QFile::decodeName(m_root));
    auto* batches = child<QComboBox>(&window, "cboBatch");
    QCOMPARE(batches->count(), 2);
    const QString batch = batches->itemData(1).toString();
    QVERIFY2(batches->itemText(1).endsWith(moved.size() == 1 ? u"1 file"_s : u"%1 files"_s.arg(moved.size())),
        qPrintable(batches->itemText(1)));
    const QMap<QByteArray, FileState> stored
        = filesBelow(QFile::encodeName(quarantine + u'/' + batch + u"/Mods"_s));
    QCOMPARE(pathsOf(stored), moved);
    QMap<QByteArray, FileState> left = before;
    for (const QString& path : moved) {
        QCOMPARE(stored.value(path.toUtf8()).bytes, before.value(path.toUtf8()).bytes);
        left.remove(path.toUtf8());
    }
    QCOMPARE(pathsOf(filesBelow(m_root)), pathsOf(left));
    // Where they went is said, and the view shows the folder as it is now.
    QVERIFY2(child<QLabel>(&window, "lblStatus")->text().contains(quarantine),
        qPrintable(child<QLabel>(&window, "lblStatus")->text()));
    QVERIFY(child<QLabel>(&window, "lblQuarantine")->text().contains(quarantine));
    // Files kept in the quarantine are not taken for lost: added or changed, they show as moved out.
    child<QLineEdit>(&window, "txtFilter")->clear();
    const QStringList rows = shownRows(window);
    for (const QString& path : moved)
        QVERIFY2(rows.filter(u"Moved out|"_s + path + u'|').size() == 1, qPrintable(rows.join(u" / "_s)));
    QCOMPARE(rows.filter(u"Removed|gone.package|"_s).size(), 1);

    click(&window, "cmdPutBack");
    QVERIFY(ended.wait(30000));
    QCOMPARE(none.seen, QStringList());
    const QMap<QByteArray, FileState> after = filesBelow(m_root);
    QCOMPARE(pathsOf(after), pathsOf(before));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QCOMPARE(after.value(it.key()).bytes, it->bytes);
        QCOMPARE(after.value(it.key()).modifiedNs, it->modifiedNs);
        QCOMPARE(after.value(it.key()).mode, it->mode);
    }
    QVERIFY(!QFileInfo::exists(quarantine));
    QCOMPARE(batches->count(), 0);
    QVERIFY(!child<QPushButton>(&window, "cmdPutBack")->isEnabled());
    QCOMPARE(shownRows(window).filter(u"Moved out|"_s), QStringList());
}

void tst_MendwellWindow::refusedWhileGameRuns_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("moving out") << u"cmdMoveOut"_s;
    QTest::newRow("putting back") << u"cmdPutBack"_s;
    QTest::newRow("starting the 50/50") << u"cmdCulprit"_s;
    QTest::newRow("answering a round") << u"cmdWorks"_s;
}

void tst_MendwellWindow::refusedWhileGameRuns()
{
    QFETCH(QString, action);
    tree::apply(m_root, steps("file|old.package|DBPF"));
    MainWindow window;
    window.show();
    rememberThenCompare(window, steps("file|a.package|DBPF a\nfile|b.package|DBPF b"));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    if (action == u"cmdPutBack"_s) {
        click(&window, "cmdMoveOut");
        QVERIFY(ended.wait(30000));
    } else if (action == u"cmdWorks"_s) {
        startFiftyFifty(window);
    }
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    const QString quarantine = mending::quarantineFolderFor(QFile::decodeName(m_root));
    const QMap<QByteArray, FileState> outBefore = filesBelow(QFile::encodeName(quarantine));

    PretendGame game;
    QVERIFY(game.running());
    Answerer answer({ press(QMessageBox::Ok) });
    click(&window, action.toLatin1().constData());
    QTRY_COMPARE(answer.seen.size(), 1);
    QVERIFY2(answer.seen.first().startsWith(
                 u"Close the game first: The Sims 4 is running (TS4_x64.exe, process "_s)
            && answer.seen.first().endsWith(u"Nothing was moved."_s),
        qPrintable(answer.seen.first()));
    QVERIFY(!working(window));
    QCOMPARE(filesBelow(m_root), before);
    QCOMPARE(filesBelow(QFile::encodeName(quarantine)), outBefore);
}

void tst_MendwellWindow::cacheQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("Yes moves the cache along") << QMessageBox::Yes;
    QTest::newRow("No leaves it") << QMessageBox::No;
}

void tst_MendwellWindow::cacheQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    const QByteArray cache = m_folder->path() + "/localthumbcache.package";
    tree::write(m_folder->path(), "localthumbcache.package", "DBPF thumbnails");
    tree::apply(m_root, steps("file|old.package|DBPF"));
    MainWindow window;
    window.show();
    rememberThenCompare(window, steps("file|new.package|DBPF new"));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    Answerer answerer({ press(answer) });
    click(&window, "cmdMoveOut");
    QVERIFY(ended.wait(30000));
    QCOMPARE(answerer.seen.size(), 1);
    QVERIFY2(
        answerer.seen.first().startsWith(
            u"Move the game's cache too?: The game keeps a cache beside the folder (localthumbcache.package)."_s),
        qPrintable(answerer.seen.first()));
    QVERIFY(!QFileInfo::exists(QFile::decodeName(m_root + "/new.package")));
    QCOMPARE(QFileInfo::exists(QFile::decodeName(cache)), answer == QMessageBox::No);
    const QString batch = child<QComboBox>(&window, "cboBatch")->itemData(1).toString();
    const QByteArray storedCache = QFile::encodeName(mending::quarantineFolderFor(QFile::decodeName(m_root))
        + u'/' + batch + u"/beside Mods/localthumbcache.package"_s);
    QCOMPARE(QFileInfo::exists(QFile::decodeName(storedCache)), answer == QMessageBox::Yes);

    click(&window, "cmdPutBack");
    QVERIFY(ended.wait(30000));
    QCOMPARE(tree::readAll(cache), QByteArray("DBPF thumbnails"));
    QCOMPARE(tree::readAll(m_root + "/new.package"), QByteArray("DBPF new"));
}

void tst_MendwellWindow::takenPlaceReported()
{
    tree::apply(m_root, steps("file|old.package|DBPF"));
    MainWindow window;
    window.show();
    rememberThenCompare(window, steps("file|a.package|DBPF first\nfile|b.package|DBPF b"));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    click(&window, "cmdMoveOut");
    QVERIFY(ended.wait(30000));
    // The player downloads the file again while the first copy is out.
    tree::write(m_root, "a.package", "DBPF second");
    Answerer answer({ press(QMessageBox::Ok) });
    click(&window, "cmdPutBack");
    QVERIFY(ended.wait(30000));
    QCOMPARE(answer.seen.size(), 1);
    QVERIFY2(answer.seen.first().startsWith(
                 u"Some files stayed where they were: Put 1 file back into the game folder. "
                 "Nothing was overwritten; these stayed where they were:\n\n"
                 "a.package: a file of that name is already at "_s),
        qPrintable(answer.seen.first()));
    QCOMPARE(tree::readAll(m_root + "/a.package"), QByteArray("DBPF second"));
    QCOMPARE(tree::readAll(m_root + "/b.package"), QByteArray("DBPF b"));
    const QString batch = child<QComboBox>(&window, "cboBatch")->itemData(1).toString();
    QCOMPARE(tree::readAll(QFile::encodeName(mending::quarantineFolderFor(QFile::decodeName(m_root)) + u'/'
                 + batch + u"/Mods/a.package"_s)),
        QByteArray("DBPF first"));
    QVERIFY(child<QPushButton>(&window, "cmdPutBack")->isEnabled());
}

void tst_MendwellWindow::cancelMove_data()
{
    QTest::addColumn<bool>("back"); // cancel putting back; else moving out
    QTest::newRow("moving out") << false;
    QTest::newRow("putting back") << true;
}

void tst_MendwellWindow::cancelMove()
{
    QFETCH(bool, back);
    // Loose files in a folder that was there before: each moves on its own, so the move lasts.
    tree::apply(m_root, steps("file|CC/old.package|DBPF"));
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(openAndRemember(window));
    QSignalSpy ended(&window, &MainWindow::workEnded);
    const int files = 3000;
    for (int i = 0; i < files; ++i)
        tree::write(m_root, "CC/item" + QByteArray::number(i) + ".package", "DBPF " + QByteArray::number(i));
    click(&window, "cmdWhatChanged");
    QVERIFY(ended.wait(30000));
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    const QString quarantine = mending::quarantineFolderFor(QFile::decodeName(m_root));
    if (back) {
        click(&window, "cmdMoveOut");
        QVERIFY(ended.wait(60000));
        QCOMPARE(pathsOf(filesBelow(m_root)), QStringList { u"CC/old.package"_s });
    }

    click(&window, back ? "cmdPutBack" : "cmdMoveOut");
    QVERIFY(working(window));
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(ended.wait(60000));
    QVERIFY2(child<QLabel>(&window, "lblStatus")->text().startsWith(u"Cancelled. "_s),
        qPrintable(child<QLabel>(&window, "lblStatus")->text()));

    // Every file is in one place, the folder or the quarantine, with its bytes.
    const QMap<QByteArray, FileState> in = filesBelow(m_root);
    QMap<QByteArray, FileState> out;
    const QList<mending::QuarantineBatch> batches = mending::Quarantine(QFile::decodeName(m_root)).batches();
    for (const mending::QuarantineBatch& batch : batches) {
        const QMap<QByteArray, FileState> stored = filesBelow(QFile::encodeName(batch.path) + "/Mods");
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            QVERIFY2(!out.contains(it.key()), it.key().constData());
            out.insert(it.key(), *it);
        }
    }
    QCOMPARE(in.size() + out.size(), before.size());
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QVERIFY2(in.contains(it.key()) != out.contains(it.key()), it.key().constData());
        QCOMPARE((in.contains(it.key()) ? in : out).value(it.key()).bytes, it->bytes);
    }
    // Stopped before the end: some files did not move.
    QVERIFY(back ? !out.isEmpty() : in.size() > 1);
    // What is still out can be put back whole.
    if (!out.isEmpty()) {
        click(&window, "cmdPutBack");
        QVERIFY(ended.wait(60000));
    }
    QCOMPARE(filesBelow(m_root), before);
}

QList<QStringList> tst_MendwellWindow::makeGroups(int count)
{
    QList<QStringList> groups;
    for (int g = 0; g < count; ++g) {
        const QString name = u"Mod%1"_s.arg(QString::number(g).rightJustified(2, u'0'));
        const QStringList files = g % 2 == 0
            ? QStringList { name + u".package"_s }
            : QStringList { name + u"/one.package"_s, name + u"/sub/two.package"_s };
        for (const QString& file : files)
            tree::write(m_root, file.toUtf8(), "DBPF " + file.toUtf8());
        groups.append(files);
    }
    return groups;
}

void tst_MendwellWindow::startFiftyFifty(MainWindow& window)
{
    QSignalSpy ended(&window, &MainWindow::workEnded);
    Answerer answer({ press(QMessageBox::Yes) });
    click(&window, "cmdCulprit");
    // Another program's test may run a "game" on this machine at the same time: the box then says so.
    QVERIFY2(ended.wait(30000), qPrintable(answer.seen.join(u" | "_s)));
    QCOMPARE(answer.seen.size(), 1);
    QVERIFY2(answer.seen.first().startsWith(u"Find the culprit: "_s), qPrintable(answer.seen.first()));
}

void tst_MendwellWindow::fiftyFifty_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("culprit"); // -1: the game is broken whatever is out
    QTest::addColumn<bool>("reopen"); // close the window and open it again between rounds
    QTest::addColumn<bool>("byKeys"); // answer with Alt+A and Alt+B

    QTest::newRow("1 group") << 1 << 0 << false << false;
    QTest::newRow("2 groups, first") << 2 << 0 << false << false;
    QTest::newRow("2 groups, last") << 2 << 1 << false << true;
    QTest::newRow("3 groups, middle") << 3 << 1 << false << false;
    QTest::newRow("5 groups, last") << 5 << 4 << false << false;
    QTest::newRow("8 groups, first, reopened each round") << 8 << 0 << true << false;
    QTest::newRow("9 groups, middle, by keys") << 9 << 4 << false << true;
    QTest::newRow("13 groups, one before last, reopened") << 13 << 11 << true << false;
    QTest::newRow("not among the new files") << 4 << -1 << false << false;
    QTest::newRow("not among the new files, reopened") << 3 << -1 << true << false;
}

void tst_MendwellWindow::fiftyFifty()
{
    QFETCH(int, groups);
    QFETCH(int, culprit);
    QFETCH(bool, reopen);
    QFETCH(bool, byKeys);
    tree::apply(m_root, steps("file|old.package|DBPF old\nfile|Old/keep.package|DBPF keep"));
    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(openAndRemember(*window));
    const QList<QStringList> made = makeGroups(groups);
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    startFiftyFifty(*window);

    QVERIFY(child<QWidget>(window.get(), "pnlFiftyFifty")->isVisible());
    const int bound = groups == 1 ? 1 : 2 + int(std::ceil(std::log2(groups)));
    QCOMPARE(child<QLabel>(window.get(), "lblRound")->text(), u"Round 1 of at most %1"_s.arg(bound));
    int answers = 0;
    while (child<QPushButton>(window.get(), "cmdWorks")->isVisible()) {
        QVERIFY2(answers < bound, "more rounds than 2 + ceil(log2 G)");
        // What the panel lists as out is what is out of the folder.
        QStringList out = pathsOf(before);
        for (const QString& path : pathsOf(filesBelow(m_root)))
            out.removeOne(path);
        QStringList listed = listItems(*window, "lstOut");
        listed.sort();
        QCOMPARE(listed, out);

        const bool culpritIn = culprit < 0
            || std::all_of(made.at(culprit).cbegin(), made.at(culprit).cend(), [this](const QString& path) {
                   return QFileInfo::exists(QFile::decodeName(m_root) + u'/' + path);
               });
        if (reopen) {
            const QString round = child<QLabel>(window.get(), "lblRound")->text();
            window.reset();
            window = std::make_unique<MainWindow>();
            window->show();
            QVERIFY(window->openFolder(QFile::decodeName(m_root)));
            QVERIFY(!working(*window));
            QCOMPARE(child<QLabel>(window.get(), "lblRound")->text(), round);
            QStringList again = listItems(*window, "lstOut");
            again.sort();
            QCOMPARE(again, listed);
            QCOMPARE(window->windowTitle(), u"Mendwell – "_s + round.toLower());
        }
        QSignalSpy ended(window.get(), &MainWindow::workEnded);
        if (byKeys) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QTest::keyClick(window.get(), culpritIn ? Qt::Key_B : Qt::Key_A, Qt::AltModifier);
        } else {
            click(window.get(), culpritIn ? "cmdBroken" : "cmdWorks");
        }
        QVERIFY(ended.wait(30000));
        ++answers;
    }
    const QMap<QByteArray, FileState> after = filesBelow(m_root);
    QStringList expected = pathsOf(before);
    if (culprit >= 0) {
        QCOMPARE(child<QLabel>(window.get(), "lblRound")->text(), u"The culprit is found"_s);
        QCOMPARE(window->windowTitle(), u"Mendwell – culprit found"_s);
        const QString key = made.at(culprit).size() == 1
            ? made.at(culprit).first()
            : made.at(culprit).first().section(u'/', 0, 0) + u'/';
        QVERIFY2(
            child<QLabel>(window.get(), "lblSummary")->text().startsWith(u"The culprit is \"%1\""_s.arg(key)),
            qPrintable(child<QLabel>(window.get(), "lblSummary")->text()));
        QCOMPARE(listItems(*window, "lstOut"), made.at(culprit));
        for (const QString& path : made.at(culprit))
            expected.removeOne(path);
        // The culprit waits in the quarantine with its bytes.
        const QString batch = child<QComboBox>(window.get(), "cboBatch")->itemData(1).toString();
        for (const QString& path : made.at(culprit)) {
            QCOMPARE(tree::readAll(QFile::encodeName(mending::quarantineFolderFor(QFile::decodeName(m_root))
                         + u"/%1/Mods/%2"_s.arg(batch, path))),
                "DBPF " + path.toUtf8());
        }
    } else {
        QCOMPARE(answers, 1);
        QCOMPARE(
            child<QLabel>(window.get(), "lblRound")->text(), u"The culprit is not among the new files"_s);
        QVERIFY2(child<QLabel>(window.get(), "lblSummary")->text().contains(u"localthumbcache.package"_s),
            qPrintable(child<QLabel>(window.get(), "lblSummary")->text()));
        QCOMPARE(listItems(*window, "lstOut"), QStringList());
    }
    QCOMPARE(pathsOf(after), expected);
    for (const QString& path : expected)
        QCOMPARE(after.value(path.toUtf8()), before.value(path.toUtf8()));
    QVERIFY(!child<QPushButton>(window.get(), "cmdWorks")->isVisible());
    // The verdict lasts: a window opened later shows it as it was.
    const QString verdict = child<QLabel>(window.get(), "lblRound")->text();
    const QStringList listed = listItems(*window, "lstOut");
    window.reset();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(window->openFolder(QFile::decodeName(m_root)));
    QVERIFY(child<QWidget>(window.get(), "pnlFiftyFifty")->isVisible());
    QCOMPARE(child<QLabel>(window.get(), "lblRound")->text(), verdict);
    QCOMPARE(listItems(*window, "lstOut"), listed);
    QVERIFY(child<QPushButton>(window.get(), "cmdCulprit")->isEnabled());
    // A snapshot of the folder with mods out while the guide is shown would mislead later.
    QVERIFY(!child<QPushButton>(window.get(), "cmdRemember")->isEnabled());
    click(window.get(), "cmdCloseGuide");
    QVERIFY(!child<QWidget>(window.get(), "pnlFiftyFifty")->isVisible());
    QVERIFY(child<QWidget>(window.get(), "fraSnapshots")->isVisible());
    QVERIFY(child<QPushButton>(window.get(), "cmdRemember")->isEnabled());
}

void tst_MendwellWindow::fiftyFiftyAtAGlance_data()
{
    QTest::addColumn<QString>("answers"); // one letter a round: w works, b still broken
    QTest::addColumn<QStringList>("said"); // what the strip's line says at each round and at the end
    const QString start = u"4 mods: ■ 4 still suspected □ 4 out now"_s;
    QTest::newRow("works, then works") << u"ww"_s
                                       << QStringList { start, u"4 mods: ■ 4 still suspected □ 2 out now"_s,
                                              u"4 mods: ■ 2 cleared ■ 2 still suspected □ 1 out now"_s };
    QTest::newRow("works, then broken")
        << u"wb"_s
        << QStringList { start, u"4 mods: ■ 4 still suspected □ 2 out now"_s,
               u"4 mods: ■ 2 to test later ■ 2 still suspected □ 3 out now"_s };
    QTest::newRow("broken: not among them")
        << u"b"_s << QStringList { start, u"4 mods: ■ 4 cleared □ 0 out now"_s };
}

// Beside the round, every mod shows as cleared, suspected, culprit or out now; the files out are
// named as the table names them, a name that is not UTF-8 included.
void tst_MendwellWindow::fiftyFiftyAtAGlance()
{
    QFETCH(QString, answers);
    QFETCH(QStringList, said);
    MainWindow window;
    window.show();
    tree::apply(m_root, steps("file|old.package|DBPF"));
    rememberThenCompare(window,
        { "file|a.package|DBPF a", "file|b.package|DBPF b", "file|c.package|DBPF c",
            QByteArray("file|caf\xe9.package|DBPF d") });
    QStringList tableNames = shownPaths(window);
    tableNames.sort();
    startFiftyFifty(window);
    QStringList out = listItems(window, "lstOut");
    out.sort();
    QCOMPARE(out, tableNames);

    auto groupsSaid = [&window] {
        QString text = child<QLabel>(&window, "lblGroups")->accessibleDescription();
        return text.replace(QChar::Nbsp, u' ').simplified();
    };
    QStringList seen { groupsSaid() };
    for (const QChar answer : answers) {
        QSignalSpy ended(&window, &MainWindow::workEnded);
        click(&window, answer == u'w' ? "cmdWorks" : "cmdBroken");
        QVERIFY(ended.wait(30000));
        seen.append(groupsSaid());
    }
    QCOMPARE(seen, said);
}

void tst_MendwellWindow::stopAsksFirst_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("No keeps every round played") << false << QMessageBox::No;
    QTest::newRow("Alt+Y, Yes puts everything back") << true << QMessageBox::Yes;
}

void tst_MendwellWindow::stopAsksFirst()
{
    QFETCH(bool, byKey);
    QFETCH(QMessageBox::StandardButton, answer);
    MainWindow window;
    window.show();
    threeNewMods(window);
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    startFiftyFifty(window);
    QSignalSpy ended(&window, &MainWindow::workEnded);
    click(&window, "cmdWorks");
    QVERIFY(ended.wait(30000));
    const QList<mending::BisectEvent> played = storedSession(m_root)->events();
    const QMap<QByteArray, FileState> layout = filesBelow(m_root);

    Answerer answerer({ press(answer) });
    if (byKey) {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Y, Qt::AltModifier);
    } else {
        click(&window, "cmdStop");
    }
    QTRY_COMPARE(answerer.seen.size(), 1);
    QVERIFY2(answerer.seen.first().startsWith(
                 u"Stop the 50/50: Stop the 50/50 and put every file it moved back"_s),
        qPrintable(answerer.seen.first()));
    waitForWork(window);
    if (answer == QMessageBox::No) {
        QCOMPARE(storedSession(m_root)->events(), played);
        QCOMPARE(filesBelow(m_root), layout);
        QCOMPARE(child<QLabel>(&window, "lblRound")->text(), u"Round 2 of at most 4"_s);
    } else {
        QCOMPARE(filesBelow(m_root), before);
        QCOMPARE(child<QLabel>(&window, "lblRound")->text(), u"The 50/50 was stopped"_s);
    }
}

void tst_MendwellWindow::columnsFit_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("groupWhole"); // the longest group's name fits its column
    QTest::newRow("1600 pixels wide") << 1600 << true;
    QTest::newRow("700 pixels wide") << 700 << false;
}

// Columns take what their texts need and the path the rest; where the rest is too narrow to read a
// path, the table scrolls sideways instead of squeezing the path to nothing.
void tst_MendwellWindow::columnsFit()
{
    QFETCH(int, width);
    QFETCH(bool, groupWhole);
    MainWindow window;
    window.resize(width, 800);
    window.show();
    const QByteArray mod = "Simmer Creations - Autumn Kitchen Collection Part Two";
    rememberThenCompare(window,
        { "file|" + mod + "/one.package|DBPF", "file|" + mod + "/two.package|DBPF", "file|x.package|DBPF" });
    auto* view = child<QTreeView>(&window, "grdChanges");
    const QHeaderView* columns = view->header();
    const int path = columns->sectionSize(ChangesModel::PathColumn);
    QVERIFY2(path >= view->fontMetrics().horizontalAdvance(u'x') * 30, qPrintable(QString::number(path)));
    int all = 0;
    for (int column = 0; column < ChangesModel::ColumnCount; ++column) {
        QVERIFY(columns->sectionSize(column) > 0);
        all += columns->sectionSize(column);
    }
    QVERIFY(all >= view->viewport()->width());
    const QString group = QString::fromUtf8(mod) + u"/ (whole folder)"_s;
    QCOMPARE(view->model()->index(0, ChangesModel::GroupColumn).data().toString(), group);
    QCOMPARE(columns->sectionSize(ChangesModel::GroupColumn) > view->fontMetrics().horizontalAdvance(group),
        groupWhole);
}

void tst_MendwellWindow::otherWindowFollows()
{
    MainWindow first;
    first.show();
    threeNewMods(first);
    startFiftyFifty(first);
    MainWindow second;
    second.show();
    QVERIFY(second.openFolder(QFile::decodeName(m_root)));
    QCOMPARE(child<QLabel>(&second, "lblRound")->text(), u"Round 1 of at most 4"_s);
    // The snapshots make room for the guide, and no hint sends the player to them.
    QVERIFY(!child<QWidget>(&second, "fraSnapshots")->isVisible());
    for (const char* hint : { "lblSince", "lblStatus" })
        QVERIFY2(!child<QLabel>(&second, hint)->text().contains(u"snapshot"_s, Qt::CaseInsensitive)
                || child<QLabel>(&second, hint)->text().contains(u"hidden"_s),
            qPrintable(child<QLabel>(&second, hint)->text()));
    QSignalSpy ended(&first, &MainWindow::workEnded);
    click(&first, "cmdWorks");
    QVERIFY(ended.wait(30000));
    QCOMPARE(child<QLabel>(&first, "lblRound")->text(), u"Round 2 of at most 4"_s);
    // The second window follows without being touched.
    QTRY_COMPARE(child<QLabel>(&second, "lblRound")->text(), u"Round 2 of at most 4"_s);
    QTRY_COMPARE(listItems(second, "lstOut"), listItems(first, "lstOut"));
}

QString tst_MendwellWindow::threeNewMods(MainWindow& window)
{
    tree::apply(m_root, steps("file|old.package|DBPF"));
    rememberThenCompare(window, steps("file|a.package|DBPF a\nfile|b.package|DBPF b\nfile|c.package|DBPF c"));
    return child<QTreeWidget>(&window, "lstSnapshots")->topLevelItem(0)->data(0, Qt::UserRole).toString();
}

void tst_MendwellWindow::staleWindowActsOnTruth_data()
{
    QTest::addColumn<bool>("movedOutFirst"); // the window moves the new files out before
    QTest::addColumn<bool>("windowStarts"); // the window starts the 50/50 before
    QTest::addColumn<QStringList>("commandLine"); // then run while the window is not looking
    QTest::addColumn<QString>("button"); // clicked on the window's old picture
    QTest::addColumn<QString>("box"); // what the box then says first; empty: no box
    QTest::addColumn<QString>("status");

    const QString start = u"bisect start FOLDER --since SINCE"_s;
    QTest::newRow("put back while a 50/50 of the command line runs")
        << true << false << QStringList { u"restore FOLDER"_s, start } << u"cmdPutBack"_s
        << u"A 50/50 runs on this folder: The files out of the folder belong to the 50/50 under way, so Put "
           "them back leaves them where they are. To end the 50/50 and bring every file back, press "
           "\u201cStop and put everything back\u201d"_s
        << u"Nothing was moved: a 50/50 runs on this folder."_s;
    QTest::newRow("move out while a 50/50 of the command line runs")
        << false << false << QStringList { start } << u"cmdMoveOut"_s
        << u"A 50/50 runs on this folder: A 50/50 runs on this folder (started in another window or on the "
           "command line)"_s
        << u"Nothing was moved: a 50/50 runs on this folder."_s;
    QTest::newRow("answer a round the command line answered")
        << false << true << QStringList { u"bisect works FOLDER"_s } << u"cmdBroken"_s << QString()
        << u"Nothing was done: the 50/50 changed meanwhile"_s;
    QTest::newRow("stop a 50/50 the command line stopped and started anew")
        << false << true << QStringList { u"bisect stop FOLDER"_s, u"+d.package"_s, start } << u"cmdStop"_s
        << u"Stop the 50/50: Stop the 50/50 and put every file it moved back"_s
        << u"Nothing was done: the 50/50 changed meanwhile"_s;
}

void tst_MendwellWindow::staleWindowActsOnTruth()
{
    QFETCH(bool, movedOutFirst);
    QFETCH(bool, windowStarts);
    QFETCH(QStringList, commandLine);
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, status);
    MainWindow window;
    window.show();
    const QString since = threeNewMods(window);
    QSignalSpy ended(&window, &MainWindow::workEnded);
    if (movedOutFirst) {
        click(&window, "cmdMoveOut");
        QVERIFY(ended.wait(30000));
    }
    if (windowStarts)
        startFiftyFifty(window);

    // No event reaches the window between the command line and the click: it still shows the old picture.
    runCommandLine(commandLine, m_root, since);
    const QMap<QByteArray, FileState> layout = filesBelow(m_root);
    const std::optional<mending::BisectSession> before = storedSession(m_root);
    QVERIFY(before && before->running());
    QVERIFY(child<QPushButton>(&window, button.toLatin1())->isEnabled());
    // Stop asks first, and is answered Yes: only then does the window find the 50/50 changed.
    Answerer answer({ press(button == u"cmdStop"_s ? QMessageBox::Yes : QMessageBox::Ok) });
    click(&window, button.toLatin1());
    waitForWork(window);

    QCOMPARE(filesBelow(m_root), layout);
    const std::optional<mending::BisectSession> after = storedSession(m_root);
    QVERIFY(after && after->running());
    QCOMPARE(after->events(), before->events());
    if (box.isEmpty()) {
        QCOMPARE(answer.seen, QStringList());
    } else {
        QCOMPARE(answer.seen.size(), 1);
        QVERIFY2(answer.seen.first().startsWith(box), qPrintable(answer.seen.first()));
    }
    QVERIFY2(child<QLabel>(&window, "lblStatus")->text().startsWith(status),
        qPrintable(child<QLabel>(&window, "lblStatus")->text()));
    // The window now shows the 50/50 as it stands.
    QCOMPARE(child<QLabel>(&window, "lblRound")->text(),
        u"Round %1 of at most %2"_s.arg(after->round() + 1).arg(after->mostRounds()));
    QStringList out;
    for (const int group : after->out())
        out += QString::fromUtf8(after->groups().at(group).paths.first());
    QCOMPARE(listItems(window, "lstOut"), out);
    QVERIFY(!child<QPushButton>(&window, "cmdPutBack")->isEnabled());
    QVERIFY(!child<QPushButton>(&window, "cmdMoveOut")->isEnabled());
}

void tst_MendwellWindow::refreshesWhenChangedBeneath_data()
{
    QTest::addColumn<bool>("windowStarts");
    QTest::addColumn<QStringList>("commandLine");
    QTest::addColumn<bool>("toTheEnd"); // answer "works" on the command line until a culprit is named
    QTest::addColumn<QStringList>("thenCommandLine");
    QTest::addColumn<QString>("round");
    QTest::addColumn<QString>("said"); // the start of the summary; empty: not checked

    const QString start = u"bisect start FOLDER --since SINCE"_s;
    QTest::newRow("started on the command line")
        << false << QStringList { start } << false << QStringList() << u"Round 1 of at most 4"_s << QString();
    QTest::newRow("answered on the command line") << true << QStringList { u"bisect works FOLDER"_s } << false
                                                  << QStringList() << u"Round 2 of at most 4"_s << QString();
    QTest::newRow("stopped on the command line")
        << true << QStringList { u"bisect stop FOLDER"_s } << false << QStringList()
        << u"The 50/50 was stopped"_s << u"The 50/50 was stopped"_s;
    QTest::newRow("the culprit put back on the command line")
        << false << QStringList { start } << true << QStringList { u"restore FOLDER"_s }
        << u"The culprit is found"_s << u"The 50/50 named \""_s;
}

void tst_MendwellWindow::refreshesWhenChangedBeneath()
{
    QFETCH(bool, windowStarts);
    QFETCH(QStringList, commandLine);
    QFETCH(bool, toTheEnd);
    QFETCH(QStringList, thenCommandLine);
    QFETCH(QString, round);
    QFETCH(QString, said);
    MainWindow window;
    window.show();
    const QString since = threeNewMods(window);
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    if (windowStarts)
        startFiftyFifty(window);

    runCommandLine(commandLine, m_root, since);
    for (int answers = 0; toTheEnd && storedSession(m_root)->running() && answers < 8; ++answers)
        runCommandLine({ u"bisect works FOLDER"_s }, m_root, since);
    runCommandLine(thenCommandLine, m_root, since);

    // Nothing is clicked: the window sees the change by itself.
    QTRY_COMPARE(child<QLabel>(&window, "lblRound")->text(), round);
    QVERIFY(child<QWidget>(&window, "pnlFiftyFifty")->isVisible());
    QTRY_COMPARE(listItems(window, "lstOut"), filesOutSince(before, m_root));
    const QString quarantine = child<QLabel>(&window, "lblQuarantine")->text();
    QCOMPARE(
        quarantine == u"No file of this folder is moved out."_s, filesOutSince(before, m_root).isEmpty());
    if (filesOutSince(before, m_root).isEmpty())
        QVERIFY2(!child<QLabel>(&window, "lblOut")->text().contains(u"out of the game folder now"_s),
            qPrintable(child<QLabel>(&window, "lblOut")->text()));
    if (!said.isEmpty())
        QVERIFY2(child<QLabel>(&window, "lblSummary")->text().startsWith(said),
            qPrintable(child<QLabel>(&window, "lblSummary")->text()));
    const bool running = storedSession(m_root)->running();
    QCOMPARE(child<QPushButton>(&window, "cmdWorks")->isVisible(), running);
    QCOMPARE(child<QPushButton>(&window, "cmdPutBack")->isEnabled(),
        !running && !filesOutSince(before, m_root).isEmpty());
}

void tst_MendwellWindow::interruptedMovesFinished()
{
    tree::apply(m_root, steps("file|a.package|DBPF a\nfile|b.package|DBPF b"));
    // A crash right after the 50/50 recorded its start, before any file moved.
    {
        mending::BisectStore store(mending::BisectStore::defaultPath());
        store.start(QFile::decodeName(m_root),
            { { u"a.package"_s, { "a.package" } }, { u"b.package"_s, { "b.package" } } });
    }
    MainWindow window;
    window.show();
    Answerer answer({ press(QMessageBox::Ok) });
    QSignalSpy ended(&window, &MainWindow::workEnded);
    QVERIFY(window.openFolder(QFile::decodeName(m_root)));
    QVERIFY(working(window));
    QVERIFY(ended.wait(30000));
    QCOMPARE(answer.seen,
        QStringList {
            u"Mendwell: A move that was cut short last time is finished: 2 files moved. Every file is "
            "in one place."_s });
    QCOMPARE(pathsOf(filesBelow(m_root)), QStringList());
    QCOMPARE(child<QLabel>(&window, "lblRound")->text(), u"Round 1 of at most 3"_s);
    QCOMPARE(listItems(window, "lstOut"), (QStringList { u"a.package"_s, u"b.package"_s }));
    QVERIFY(child<QPushButton>(&window, "cmdWorks")->isEnabled());
    QVERIFY(!child<QPushButton>(&window, "cmdMoveOut")->isEnabled());
}

void tst_MendwellWindow::killedMoveFinished()
{
    for (int i = 0; i < 1200; ++i)
        tree::write(m_root, "Set" + QByteArray::number(i % 12) + "/item" + QByteArray::number(i) + ".package",
            "DBPF " + QByteArray::number(i));
    const QMap<QByteArray, FileState> before = filesBelow(m_root);
    const QString quarantine = mending::quarantineFolderFor(QFile::decodeName(m_root));
    const QString step = quarantine + u"/.mendwell-step"_s;
    // Another program moving files is killed at random moments until one kill cuts a move short.
    QRandomGenerator random(7);
    for (int attempt = 0; attempt < 40 && !QFileInfo::exists(step); ++attempt) {
        QProcess mover;
        mover.start(QStringLiteral(QUARANTINE_WORKER),
            { QFile::decodeName(m_root), QString::number(attempt), u"move"_s });
        QVERIFY(mover.waitForReadyRead(10000));
        QTest::qSleep(random.bounded(5, 120));
        ::kill(pid_t(mover.processId()), SIGKILL);
        QVERIFY(mover.waitForFinished(10000));
    }
    QVERIFY2(QFileInfo::exists(step), "no kill came in the middle of a move");

    MainWindow window;
    window.show();
    Answerer answer({ press(QMessageBox::Ok) });
    QSignalSpy ended(&window, &MainWindow::workEnded);
    QVERIFY(window.openFolder(QFile::decodeName(m_root)));
    QVERIFY(working(window));
    QVERIFY(ended.wait(30000));
    QVERIFY(!QFileInfo::exists(step));
    QVERIFY2(answer.seen.size() <= 1, qPrintable(answer.seen.join(u" | "_s)));
    if (!answer.seen.isEmpty())
        QVERIFY2(
            answer.seen.first().startsWith(u"Mendwell: A move that was cut short last time is finished: "_s),
            qPrintable(answer.seen.first()));

    // Every file in one place with its bytes; Put them back makes the folder whole again.
    QMap<QByteArray, FileState> out;
    for (const mending::QuarantineBatch& batch : mending::Quarantine(QFile::decodeName(m_root)).batches()) {
        const QMap<QByteArray, FileState> stored = filesBelow(QFile::encodeName(batch.path) + "/Mods");
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            QVERIFY2(!out.contains(it.key()), it.key().constData());
            out.insert(it.key(), *it);
        }
    }
    const QMap<QByteArray, FileState> in = filesBelow(m_root);
    QCOMPARE(in.size() + out.size(), before.size());
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QVERIFY2(in.contains(it.key()) != out.contains(it.key()), it.key().constData());
        QCOMPARE((in.contains(it.key()) ? in : out).value(it.key()).bytes, it->bytes);
    }
    if (!out.isEmpty()) {
        click(&window, "cmdPutBack");
        QVERIFY(ended.wait(30000));
    }
    QCOMPARE(filesBelow(m_root), before);
}

QTEST_MAIN(tst_MendwellWindow)
#include "tst_mendwellwindow.moc"
