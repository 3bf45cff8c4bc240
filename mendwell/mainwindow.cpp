// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include "fiftyfiftypanel.h"
#include "games.h"
#include "listsfolder.h"
#include "pathtext.h"
#include "printer.h"
#include "report.h"
#include "runerror.h"
#include "windowbuttons.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QtConcurrent/QtConcurrentRun>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <numeric>
#include <time.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace mending;
using namespace Qt::StringLiterals;

namespace {

qint64 nowNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QString gameFolderText(const GameFolder& game)
{
    return MainWindow::tr("%1  ·  %2  ·  %3  ·  %4")
        .arg(gameRules(game.generation)->title, game.kind, runnerName(game.runner), game.path);
}

QString snapshotText(const SnapshotInfo& info)
{
    QString text = MainWindow::tr("snapshot of %1").arg(cellTimeText(info.takenNs));
    if (!info.label.isEmpty())
        text += MainWindow::tr(" (\"%1\")").arg(QString::fromUtf8(info.label));
    return text;
}

// The work below runs on a pool thread: it touches no widget and hands everything back in its result.

SnapshotTaken takeSnapshot(
    std::shared_ptr<WorkWatch> watch, SnapshotStore store, QByteArray root, QByteArray label)
{
    SnapshotTaken taken;
    try {
        Snapshot snapshot;
        snapshot.root = root;
        snapshot.label = label;
        snapshot.takenNs = nowNs();
        ScanResult scan = scanFolder(root, 0, &watch->scan);
        // Checked once more right before the store is written: after that there is nothing half-done to undo.
        if (watch->scan.cancel) {
            taken.cancelled = true;
            return taken;
        }
        snapshot.files = std::move(scan.files);
        snapshot.problems = std::move(scan.problems);
        taken.files = snapshot.files.size();
        taken.problems = snapshot.problems;
        taken.snapshotId = store.add(snapshot);
    } catch (const Failure& failure) {
        taken.error = failure.message();
    }
    return taken;
}

// The quarantine and the 50/50 as they are now; read here, because a batch of many files costs a
// stat of each.
FolderState readState(FiftyFifty& fifty)
{
    FolderState state;
    state.read = true;
    state.batches = fifty.quarantine().batches();
    try {
        state.session = fifty.session();
    } catch (const BisectError& error) {
        state.error = error.message();
    }
    return state;
}

Comparison found(const DiffResult& result, const ScanResult& now, const ChangesHeading& heading)
{
    Comparison comparison { changeRows(result), heading, now.problems, now.files.size() };
    // Files kept out are gone from the folder, but not lost: the view says where they are.
    markMovedOut(comparison.rows, Quarantine(QFile::decodeName(heading.root)).batches());
    return comparison;
}

Compared compareWithSnapshot(std::shared_ptr<WorkWatch> watch, QByteArray snapshotPath)
{
    Compared compared;
    try {
        const Snapshot before = readSnapshotFile(snapshotPath);
        const ScanResult now = scanFolder(before.root, 0, &watch->scan);
        if (watch->scan.cancel) {
            compared.cancelled = true;
            return compared;
        }
        DiffResult result = diffFiles(before.files, now.files, before.problems + now.problems);
        flagSuspects(result, before.root, now.files);
        noteClashes(result, before.root, now.files);
        compared.comparison = found(result, now,
            { before.root,
                snapshotText({ before.root, before.label, before.takenNs, quint64(before.files.size()) }),
                false });
    } catch (const Failure& failure) {
        compared.error = failure.message();
    }
    return compared;
}

Compared compareWithFolderList(std::shared_ptr<WorkWatch> watch, QByteArray listPath, QByteArray root)
{
    Compared compared;
    try {
        QList<QByteArray> names;
        try {
            names = parseFolderList(readWholeFile(listPath));
        } catch (const Failure& failure) {
            throw Failure(QFile::decodeName(listPath) + u": "_s + failure.message());
        }
        const ScanResult now = scanFolder(root, 0, &watch->scan);
        if (watch->scan.cancel) {
            compared.cancelled = true;
            return compared;
        }
        DiffResult result = diffTopLevel(names, now.files, root);
        flagSuspects(result, root, now.files);
        noteClashes(result, root, now.files);
        compared.comparison = found(result, now,
            { root, MainWindow::tr("folder list %1").arg(QFile::decodeName(listPath)), result.topLevelOnly });
    } catch (const Failure& failure) {
        compared.error = failure.message();
    }
    return compared;
}

// Looks for the changes again after files moved, the way they were looked for last, so the view
// shows the folder as it is now.
std::optional<Comparison> compareAgain(
    std::shared_ptr<WorkWatch> watch, const CompareSource& source, const QByteArray& root)
{
    if (source.kind == CompareSource::None)
        return std::nullopt;
    Compared fresh = source.kind == CompareSource::Snapshot ? compareWithSnapshot(watch, source.path)
                                                            : compareWithFolderList(watch, source.path, root);
    if (fresh.cancelled || !fresh.error.isEmpty())
        return std::nullopt;
    return std::move(fresh.comparison);
}

QString fiftyFiftyRunsText()
{
    return MainWindow::tr(
        "A 50/50 runs on this folder (started in another window or on the command line): while it runs, "
        "its answers alone move files.");
}

// Put them back leaves the files of a running 50/50 where they are: taking them would make the
// session believe files are out that are in, and its next verdict wrong.
QString putBackRefusal()
{
    return MainWindow::tr(
        "The files out of the folder belong to the 50/50 under way, so Put them back leaves them where they "
        "are. To end the 50/50 and bring every file back, press \u201cStop and put everything back\u201d in "
        "its guide.");
}

// The files of the chosen batch (every batch when empty) that are out and belong to no group of the
// session.
QList<QByteArray> outsideSession(
    const QList<QuarantineBatch>& batches, const QString& batch, const BisectSession& session)
{
    QSet<QByteArray> tested;
    for (const BisectGroup& group : session.groups())
        tested.unite(QSet<QByteArray>(group.paths.cbegin(), group.paths.cend()));
    QList<QByteArray> paths;
    for (const QuarantineBatch& each : batches) {
        if (!batch.isEmpty() && each.name != batch)
            continue;
        for (const QuarantinedFile& file : each.files) {
            if (file.out && (file.beside || !tested.contains(file.path)))
                paths.append(file.path);
        }
    }
    return paths;
}

// Files move out or back through the quarantine after the 50/50 is read afresh, then the folder is
// compared again so the table shows what is left.
// The clashes among the folder's packages and the game's error reports, written as the command line
// writes them, so that the player reads the same words in both.
LookedInside lookInside(std::shared_ptr<WorkWatch> watch, QByteArray root, QByteArray snapshotPath)
{
    LookedInside looked;
    try {
        const ScanResult now = scanFolder(root, 0, &watch->scan);
        if (watch->scan.cancel) {
            looked.cancelled = true;
            return looked;
        }
        const ConflictReport clashes = findConflicts(root, now.files);
        std::optional<Snapshot> since;
        if (!snapshotPath.isEmpty())
            since = readSnapshotFile(snapshotPath);
        const GameErrorReports reports = readGameErrorReports(root, since ? &*since : nullptr);
        looked.text = QString::fromUtf8(writtenBytes([&](Output& out) {
            writeConflicts(root, clashes, ReportFormat::Text, out);
            out << '\n';
            writeErrorReports(reports, ReportFormat::Text, out);
        }));
    } catch (const Failure& failure) {
        looked.error = failure.message();
    }
    return looked;
}

// A new or changed mod that the game's error reports name is the likeliest culprit: the guide says so
// at the start. Reports that cannot be read leave the 50/50 as it is.
QString suggestionFromReports(const QByteArray& root, const CompareSource& since, const NewFiles& files)
{
    try {
        std::optional<Snapshot> snapshot;
        if (since.kind == CompareSource::Snapshot)
            snapshot = readSnapshotFile(since.path);
        const GameErrorReports reports = readGameErrorReports(root, snapshot ? &*snapshot : nullptr);
        for (const QByteArray& named : modsNamedByReports(reports)) {
            for (const QByteArray& path : files.paths) {
                if (root + '/' + path == named)
                    return MainWindow::tr("The game's error report names %1, one of the new files: if the "
                                          "game shows that error, look at it first (an update for the game "
                                          "as it is now?). The 50/50 still tests every new file.")
                        .arg(shownPath(path));
            }
        }
    } catch (const Failure&) { }
    return {};
}

FilesMoved moveFiles(std::shared_ptr<WorkWatch> watch, const QByteArray& root, bool out,
    const CompareSource& source,
    const std::function<MoveReport(FiftyFifty&, const FolderState&, QString*)>& move)
{
    FilesMoved moved;
    moved.out = out;
    try {
        FiftyFifty fifty(root);
        fifty.quarantine().setWatch(&watch->move);
        const FolderState before = readState(fifty);
        watch->moving = true;
        moved.moves = move(fifty, before, &moved.note);
        watch->moving = false;
        moved.state = readState(fifty);
    } catch (const BisectError& error) {
        moved.moves.error = error.message();
    } catch (const Failure& failure) {
        moved.moves.error = failure.message();
    }
    if (!moved.moves.moved.isEmpty())
        moved.again = compareAgain(watch, source, root);
    return moved;
}

FilesMoved moveFilesOut(std::shared_ptr<WorkWatch> watch, QByteArray root, QList<QByteArray> paths,
    QList<QByteArray> beside, CompareSource source)
{
    return moveFiles(watch, root, true, source, [&](FiftyFifty& fifty, const FolderState& now, QString*) {
        if (now.fiftyFiftyRunning()) {
            MoveReport refused;
            refused.error = fiftyFiftyRunsText();
            return refused;
        }
        // Under the folder's lock, and refused there too should a 50/50 have begun since.
        return fifty.moveOut(paths, beside);
    });
}

FilesMoved putFilesBack(
    std::shared_ptr<WorkWatch> watch, QByteArray root, QString batch, CompareSource source)
{
    return moveFiles(
        watch, root, false, source, [&](FiftyFifty& fifty, const FolderState& now, QString* note) {
            if (!now.fiftyFiftyRunning())
                return fifty.restore(batch);
            // Said whether or not other files came back: the player asked for the 50/50's too.
            *note = putBackRefusal();
            const QList<QByteArray> others = outsideSession(now.batches, batch, *now.session);
            return others.isEmpty() ? MoveReport() : fifty.quarantine().restore(batch, others);
        });
}

// The 50/50's store and the quarantine are opened on the thread of the work: the store may be used only
// by the thread that opened it.
template <typename Step>
FiftyFiftyStep withFiftyFifty(
    std::shared_ptr<WorkWatch> watch, const QByteArray& root, const CompareSource& source, Step step)
{
    FiftyFiftyStep done;
    try {
        FiftyFifty fifty(root);
        fifty.quarantine().setWatch(&watch->move);
        try {
            step(fifty, done);
        } catch (const BisectError& error) {
            // An answer for a round already answered (a second click, another window): the session as it
            // is now is shown instead.
            done.error = error.message();
            done.refused = error.kind() == BisectError::OutOfTurn;
        } catch (const Failure& failure) {
            done.error = failure.message();
        }
        watch->moving = false;
        done.state = readState(fifty);
    } catch (const BisectError& error) {
        done.error = error.message();
    } catch (const Failure& failure) {
        done.error = failure.message();
    }
    if (!done.moves.moved.isEmpty())
        done.again = compareAgain(watch, source, root);
    return done;
}

FiftyFiftyStep recoverFolder(std::shared_ptr<WorkWatch> watch, QByteArray root, CompareSource source)
{
    return withFiftyFifty(watch, root, source, [&](FiftyFifty& fifty, FiftyFiftyStep& done) {
        done.recovering = true;
        watch->moving = true;
        done.moves = fifty.recover();
    });
}

QString startRefusal(const FolderState& now, const NewFiles& files)
{
    if (now.fiftyFiftyRunning())
        return fiftyFiftyRunsText();
    // Files already out are not in the folder, so the 50/50 could not test them.
    if (!now.filesOut().isEmpty())
        return MainWindow::tr("Some files are out in the quarantine folder now, so the 50/50 could not test "
                              "them. Put them back first, then find the culprit.");
    if (files.groups.isEmpty())
        return MainWindow::tr(
            "No file was added or changed since then, so there is no new file to look for the culprit among. "
            "Try deleting the game's cache, and look at older script mods after a game patch.");
    return {};
}

FiftyFiftyStep startFiftyFifty(std::shared_ptr<WorkWatch> watch, QByteArray root, CompareSource since)
{
    return withFiftyFifty(watch, root, since, [&](FiftyFifty& fifty, FiftyFiftyStep& done) {
        const NewFiles files = since.kind == CompareSource::FolderList
            ? newFilesSinceList(parseFolderList(readWholeFile(since.path)), root, &watch->scan)
            : newFilesSince(readSnapshotFile(since.path), root, NewKinds::All, &watch->scan);
        if (watch->scan.cancel) {
            done.cancelled = true;
            return;
        }
        done.error = startRefusal(readState(fifty), files);
        if (!done.error.isEmpty()) {
            done.refused = true;
            return;
        }
        // Read before the first round takes the script mods out of the folder.
        done.suggestion = suggestionFromReports(root, since, files);
        watch->moving = true;
        fifty.start(files.groups, &done.moves);
    });
}

FiftyFiftyStep answerFiftyFifty(std::shared_ptr<WorkWatch> watch, QByteArray root, CompareSource source,
    std::optional<BisectAnswer> answer, int forRound)
{
    return withFiftyFifty(watch, root, source, [&](FiftyFifty& fifty, FiftyFiftyStep& done) {
        watch->moving = true;
        if (answer)
            fifty.answer(*answer, forRound, &done.moves);
        else
            fifty.stop(&done.moves);
    });
}

// The 50/50 records each layout done once its files moved: stopping those moves halfway would leave the
// session believing files are where they are not, so they always run to the end.
void cancelWork(WorkWatch& watch, MainWindow::Work kind)
{
    watch.scan.cancel = true;
    if (kind != MainWindow::Work::FiftyFifty && kind != MainWindow::Work::Recover)
        watch.move.cancel = true;
}

// The work builds its result in the allocator's arena of a pool thread; the rows it replaced are freed
// on the window's thread back into that arena, which keeps the pages. Measured on 100,000 new files, the
// window then grew by about 60 MB with each of the first runs; handing free pages back after each result
// keeps it flat.
void releaseFreedMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

// One handler for each kind of finished work.
template <class... Handler> struct Handlers : Handler...
{
    using Handler::operator()...;
};

bool sameSession(const BisectSession& one, const BisectSession& other)
{
    if (one.events() != other.events() || one.groups().size() != other.groups().size())
        return false;
    for (qsizetype i = 0; i < one.groups().size(); ++i) {
        if (one.groups().at(i).key != other.groups().at(i).key)
            return false;
    }
    return true;
}

QString fileCountText(qsizetype files)
{
    return files == 1 ? MainWindow::tr("1 file") : MainWindow::tr("%1 files").arg(countText(files));
}

// The time work has left at its pace so far; empty while the pace is not known yet.
QString timeLeftText(qint64 elapsedMs, qint64 done, qint64 total)
{
    if (done <= 0 || total <= done || elapsedMs < 1000)
        return {};
    const qint64 seconds = (elapsedMs * (total - done) / done + 999) / 1000;
    return seconds < 60 ? MainWindow::tr("about %1 s left").arg(seconds)
                        : MainWindow::tr("about %1 min left").arg((seconds + 59) / 60);
}

}

bool FolderState::fiftyFiftyRunning() const
{
    return FiftyFifty::isRunning(session);
}

QList<QByteArray> FolderState::filesOut() const
{
    QList<QByteArray> out, beside;
    for (const QuarantineBatch& batch : batches) {
        for (const QuarantinedFile& file : batch.files) {
            if (file.out)
                (file.beside ? beside : out).append(file.beside ? "../" + file.path : file.path);
        }
    }
    std::sort(out.begin(), out.end());
    std::sort(beside.begin(), beside.end());
    return out + beside;
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_store(SnapshotStore::defaultFolder())
    , m_watch(std::make_shared<WorkWatch>())
{
    setWindowTitle(tr("Mendwell"));
    m_folderWatch = new QFileSystemWatcher(this);
    // A move or a store write touches a folder many times: the window reads the outcome once.
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(150);
    createControls();
    createMenus();
    wireEvents();
    setTabOrder();
    Form_Load();
}

MainWindow::~MainWindow()
{
    // The work holds no pointer into the window, but the pool must not outlive the program's data.
    if (m_watch)
        cancelWork(*m_watch, m_workKind);
    m_working.waitForFinished();
}

void MainWindow::createControls()
{
    // At 200% a laptop's screen is small: what does not fit scrolls instead of growing the window.
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName(u"scrClient"_s);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    setCentralWidget(scroller);
    auto* client = new QWidget(scroller);
    scroller->setWidget(client);
    auto* layout = new QVBoxLayout(client);
    layout->addLayout(createFolderRow(client));

    m_splitter = new QSplitter(Qt::Vertical, client);
    m_splitter->setChildrenCollapsible(false);
    layout->addWidget(m_splitter, 1);
    createSnapshotsPane(m_splitter);
    createChangesPane(m_splitter);
    pnlFiftyFifty = new FiftyFiftyPanel(m_splitter);
    pnlFiftyFifty->setVisible(false);
    pnlFiftyFifty->installEventFilter(this);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setStretchFactor(2, 1);
    // A handful of snapshots is the rule; the changes are what the player reads.
    const int lineHeight = fontMetrics().height();
    m_splitter->setSizes({ lineHeight * 10, lineHeight * 30 });

    createStatusBar();
    // The window takes the usual size where the screen has room for it, and never more than the screen.
    QSize size(980, 680);
    if (const QScreen* shown = screen())
        size = size.boundedTo(shown->availableGeometry().size() * 0.92);
    resize(size);
}

QHBoxLayout* MainWindow::createFolderRow(QWidget* client)
{
    auto* folderRow = new QHBoxLayout;
    auto* lblFolder = new QLabel(tr("&Game folder:"), client);
    cboFolder = new QComboBox(client);
    cboFolder->setObjectName(u"cboFolder"_s);
    cboFolder->setToolTip(folderTip());
    cboFolder->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboFolder->setMinimumContentsLength(20);
    lblFolder->setBuddy(cboFolder);
    cmdOtherFolder = windowButton(tr("&Other folder…"), "cmdOtherFolder",
        tr("Choose any folder, hidden ones included: the games Wine and Proton run keep their "
           "Documents inside dot-folders such as ~/.wine or ~/.local/share/Steam."),
        client);
    folderRow->addWidget(lblFolder);
    folderRow->addWidget(cboFolder, 1);
    folderRow->addWidget(cmdOtherFolder);
    return folderRow;
}

void MainWindow::createSnapshotsPane(QSplitter* splitter)
{
    auto* snapshots = new QGroupBox(tr("Snapshots of this folder"), splitter);
    snapshots->setObjectName(u"fraSnapshots"_s);
    m_snapshots = snapshots;
    auto* snapshotsLayout = new QHBoxLayout(snapshots);
    lstSnapshots = new QTreeWidget(snapshots);
    lstSnapshots->setObjectName(u"lstSnapshots"_s);
    lstSnapshots->setHeaderLabels({ tr("Taken"), tr("Label"), tr("Files") });
    lstSnapshots->setRootIsDecorated(false);
    lstSnapshots->setUniformRowHeights(true);
    lstSnapshots->setToolTip(tr("What the folder held at each snapshot, newest first. Choose the one taken "
                                "while the game still worked, then ask what changed since."));
    lstSnapshots->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    lstSnapshots->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    lstSnapshots->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    lstSnapshots->header()->setStretchLastSection(false);
    lstSnapshots->setMinimumHeight(lstSnapshots->fontMetrics().height() * 5);
    snapshotsLayout->addWidget(lstSnapshots, 1);

    auto* snapshotButtons = new QVBoxLayout;
    auto* labelRow = new QHBoxLayout;
    auto* lblLabel = new QLabel(tr("&Label:"), snapshots);
    txtLabel = new QLineEdit(snapshots);
    txtLabel->setObjectName(u"txtLabel"_s);
    txtLabel->setPlaceholderText(tr("e.g. before new CC"));
    txtLabel->setToolTip(tr("A few words to know this snapshot again later (optional)."));
    lblLabel->setBuddy(txtLabel);
    labelRow->addWidget(lblLabel);
    labelRow->addWidget(txtLabel, 1);
    snapshotButtons->addLayout(labelRow);
    cmdRemember = windowButton(tr("&Remember this folder as it is now"), "cmdRemember",
        tr("Takes a snapshot: notes every file below the game folder, its size and time. Do it while the "
           "game works; nothing in the folder is changed."),
        snapshots);
    cmdDelete = windowButton(tr("&Delete snapshot…"), "cmdDelete",
        tr("Forgets the chosen snapshot. The game folder itself is not touched."), snapshots);
    snapshotButtons->addWidget(cmdRemember);
    snapshotButtons->addWidget(cmdDelete);
    snapshotButtons->addStretch(1);
    snapshotsLayout->addLayout(snapshotButtons);
}

void MainWindow::createChangesPane(QSplitter* splitter)
{
    auto* changes = new QGroupBox(tr("What changed"), splitter);
    changes->installEventFilter(this);
    auto* changesLayout = new QVBoxLayout(changes);
    changesLayout->addLayout(createCompareRow(changes));
    changesLayout->addLayout(createFilterRow(changes));
    createChangesView(changes);
    changesLayout->addWidget(grdChanges, 1);
    // The counts share their line with Export and Print, and the repair buttons have a line of their
    // own: one line for all of them is wider than a screen at 200%.
    changesLayout->addLayout(createCountsRow(changes));
    changesLayout->addLayout(createRepairRow(changes));
    lblQuarantine = new QLabel(changes);
    lblQuarantine->setObjectName(u"lblQuarantine"_s);
    lblQuarantine->setWordWrap(true);
    lblQuarantine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    changesLayout->addWidget(lblQuarantine);
}

QHBoxLayout* MainWindow::createCompareRow(QWidget* changes)
{
    cmdWhatChanged = windowButton(tr("&What changed?"), "cmdWhatChanged",
        tr("Compares the folder as it is now with the chosen snapshot: every file added, changed, removed "
           "or moved since, in every subfolder."),
        changes);
    cmdFolderList = windowButton(tr("Compare with a Brenvale folder l&ist…"), "cmdFolderList",
        tr("Compares the folder with a list Brenvale saved. Such a list holds top-level names only, so "
           "only files added to or removed from the top of the folder can be found."),
        changes);
    cmdInside = windowButton(tr("What is i&nside the mods?"), "cmdInside",
        tr("Reads inside the mods: the packages that hold the same resources (the game uses only one of "
           "them), and the game's own error reports with the script mods they name. Script mods provided "
           "twice or made for another Python are flagged in the list of changes."),
        changes);
    lblSince = new QLabel(changes);
    lblSince->setObjectName(u"lblSince"_s);
    lblSince->setWordWrap(true);
    auto* compareRow = new QHBoxLayout;
    compareRow->addWidget(cmdWhatChanged);
    compareRow->addWidget(cmdFolderList);
    compareRow->addWidget(cmdInside);
    compareRow->addWidget(lblSince, 1);
    return compareRow;
}

QHBoxLayout* MainWindow::createFilterRow(QWidget* changes)
{
    auto* lblFilter = new QLabel(tr("Fil&ter:"), changes);
    txtFilter = new QLineEdit(changes);
    txtFilter->setObjectName(u"txtFilter"_s);
    txtFilter->setClearButtonEnabled(true);
    txtFilter->setPlaceholderText(tr("part of a name, folder or flag"));
    txtFilter->setToolTip(tr("Shows only the files whose path, group or flags contain this text (letter case "
                             "ignored)."));
    lblFilter->setBuddy(txtFilter);
    auto* lblKind = new QLabel(tr("&Kind:"), changes);
    cboKind = new QComboBox(changes);
    cboKind->setObjectName(u"cboKind"_s);
    cboKind->addItems({ tr("All files"), tr("Added"), tr("Changed"), tr("Removed"), tr("Moved"),
        tr("Suspect files"), tr("Noise (.cfg, .log, .txt)"), tr("Moved out") });
    cboKind->setToolTip(tr("Shows one kind of change only. Suspect files carry a flag that says why they may "
                           "break the game; noise is what mods write while the game runs."));
    lblKind->setBuddy(cboKind);
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(lblFilter);
    filterRow->addWidget(txtFilter, 1);
    filterRow->addWidget(lblKind);
    filterRow->addWidget(cboKind);
    return filterRow;
}

void MainWindow::createChangesView(QWidget* changes)
{
    m_changes = new ChangesModel(this);
    m_shown = new ChangesFilter(m_changes, this);
    grdChanges = new QTreeView(changes);
    grdChanges->setObjectName(u"grdChanges"_s);
    grdChanges->setModel(m_shown);
    grdChanges->setRootIsDecorated(false);
    grdChanges->setUniformRowHeights(true);
    grdChanges->setAlternatingRowColors(true);
    grdChanges->setSortingEnabled(true);
    grdChanges->sortByColumn(ChangesModel::PathColumn, Qt::AscendingOrder);
    grdChanges->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grdChanges->setMinimumHeight(grdChanges->fontMetrics().height() * 6);
    grdChanges->setToolTip(tr("Every change since the snapshot. Click a column's title to sort by it; point "
                              "at a flag to read why the file may be trouble."));
    // fitColumns() sizes them to what they hold; the player may still drag a border.
    grdChanges->header()->setStretchLastSection(false);
    grdChanges->header()->setSectionResizeMode(QHeaderView::Interactive);
    grdChanges->viewport()->installEventFilter(this);
}

QHBoxLayout* MainWindow::createCountsRow(QWidget* changes)
{
    lblCounts = new QLabel(changes);
    lblCounts->setWordWrap(true);
    lblCounts->setObjectName(u"lblCounts"_s);
    cmdExport = windowButton(tr("&Export…"), "cmdExport",
        tr("Saves the files shown, in the order shown, as CSV for a spreadsheet or as plain text. Names keep "
           "their exact bytes."),
        changes);
    cmdPrint = windowButton(tr("&Print"), "cmdPrint",
        tr("Prints the files shown on the default printer, with their flags."), changes);
    auto* countsRow = new QHBoxLayout;
    countsRow->addWidget(lblCounts, 1);
    countsRow->addWidget(cmdExport);
    countsRow->addWidget(cmdPrint);
    return countsRow;
}

QHBoxLayout* MainWindow::createRepairRow(QWidget* changes)
{
    cmdMoveOut = windowButton(tr("&Move the new files out"), "cmdMoveOut", QString(), changes);
    cmdPutBack = windowButton(tr("P&ut them back"), "cmdPutBack",
        tr("Brings the files of the batch chosen beside this button back to where they were, with their "
           "bytes, times and permissions. A file whose place is taken again stays out and is named."),
        changes);
    cboBatch = new QComboBox(changes);
    cboBatch->setObjectName(u"cboBatch"_s);
    cboBatch->setToolTip(tr("Which files Put them back brings back: every batch, newest first, or the one "
                            "batch moved out at the time shown."));
    cboBatch->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboBatch->setPlaceholderText(tr("nothing is out"));
    cmdCulprit = windowButton(tr("Find the &culprit"), "cmdCulprit",
        tr("A guided 50/50 over the mods added or changed since the snapshot: it moves half of them out at a "
           "time and asks whether the game works, until one mod is left. About one game start for each "
           "halving instead of one for every mod."),
        changes);
    auto* actionRow = new QHBoxLayout;
    actionRow->addWidget(cmdMoveOut);
    actionRow->addWidget(cmdPutBack);
    actionRow->addWidget(cboBatch);
    actionRow->addStretch(1);
    actionRow->addWidget(cmdCulprit);
    return actionRow;
}

void MainWindow::createStatusBar()
{
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(u"lblStatus"_s);
    prgWork = new QProgressBar(this);
    prgWork->setObjectName(u"prgWork"_s);
    prgWork->setVisible(false);
    // Wide enough for the count it shows on one line, at any scale.
    prgWork->setMinimumWidth(
        prgWork->fontMetrics().horizontalAdvance(tr("%1 of about %2").arg(countText(9999999), countText(9999999)))
        + prgWork->fontMetrics().averageCharWidth() * 4);
    cmdCancel = windowButton(tr("Ca&ncel"), "cmdCancel",
        tr("Stops the scan or the move. A stopped scan keeps nothing: no snapshot is saved and the changes "
           "shown stay as they were. A stopped move ends between two files: each file is either moved or "
           "still where it was."),
        this);
    cmdCancel->setVisible(false);
    auto* cancelKey = new QAction(this);
    cancelKey->setShortcut(Qt::Key_Escape);
    addAction(cancelKey);
    connect(cancelKey, &QAction::triggered, this, &MainWindow::cmdCancel_Click);
    statusBar()->addWidget(lblStatus, 1);
    statusBar()->addPermanentWidget(prgWork);
    statusBar()->addPermanentWidget(cmdCancel);
    m_progressTimer.setInterval(100);
}

void MainWindow::createMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    mnuOtherFolder = file->addAction(tr("&Other folder…"));
    mnuOtherFolder->setShortcut(QKeySequence::Open);
    file->addSeparator();
    mnuExport = file->addAction(tr("&Export…"));
    mnuExport->setShortcut(tr("Ctrl+E"));
    mnuPrint = file->addAction(tr("&Print"));
    mnuPrint->setShortcut(QKeySequence::Print);
    file->addSeparator();
    mnuQuit = file->addAction(tr("&Quit"));
    mnuQuit->setShortcut(QKeySequence::Quit);

    QMenu* snapshot = menuBar()->addMenu(tr("&Snapshot"));
    mnuRemember = snapshot->addAction(tr("&Remember this folder as it is now"));
    mnuRemember->setShortcut(tr("Ctrl+R"));
    mnuDelete = snapshot->addAction(tr("&Delete snapshot…"));
    mnuDelete->setShortcut(QKeySequence::Delete);
    // Delete is for the list of snapshots only, never for text being typed elsewhere.
    mnuDelete->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lstSnapshots->addAction(mnuDelete);
    snapshot->addSeparator();
    mnuWhatChanged = snapshot->addAction(tr("&What changed?"));
    mnuWhatChanged->setShortcut(QKeySequence::Refresh);
    mnuFolderList = snapshot->addAction(tr("Compare with a Brenvale folder l&ist…"));
    mnuFolderList->setShortcut(tr("Ctrl+L"));
    snapshot->addSeparator();
    mnuFindFilter = snapshot->addAction(tr("&Filter the changes"));
    mnuFindFilter->setShortcut(QKeySequence::Find);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    mnuHelp = help->addAction(tr("Mendwell &Help"));
    mnuHelp->setShortcut(QKeySequence::HelpContents);
    mnuAbout = help->addAction(tr("&About Mendwell"));
}

void MainWindow::wireEvents()
{
    connect(cboFolder, &QComboBox::activated, this, &MainWindow::cboFolder_Change);
    connect(cmdOtherFolder, &QPushButton::clicked, this, &MainWindow::cmdOtherFolder_Click);
    connect(lstSnapshots, &QTreeWidget::itemSelectionChanged, this, &MainWindow::lstSnapshots_Change);
    connect(lstSnapshots, &QTreeWidget::itemActivated, this, &MainWindow::cmdWhatChanged_Click);
    connect(cmdRemember, &QPushButton::clicked, this, &MainWindow::cmdRemember_Click);
    connect(txtLabel, &QLineEdit::returnPressed, this, &MainWindow::cmdRemember_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &MainWindow::cmdDelete_Click);
    connect(cmdWhatChanged, &QPushButton::clicked, this, &MainWindow::cmdWhatChanged_Click);
    connect(cmdInside, &QPushButton::clicked, this, &MainWindow::cmdInside_Click);
    connect(cmdFolderList, &QPushButton::clicked, this, &MainWindow::cmdFolderList_Click);
    connect(txtFilter, &QLineEdit::textChanged, this, &MainWindow::txtFilter_Change);
    connect(cboKind, &QComboBox::currentIndexChanged, this, &MainWindow::cboKind_Change);
    connect(cmdExport, &QPushButton::clicked, this, &MainWindow::cmdExport_Click);
    connect(cmdPrint, &QPushButton::clicked, this, &MainWindow::cmdPrint_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &MainWindow::cmdCancel_Click);
    connect(&m_progressTimer, &QTimer::timeout, this, &MainWindow::work_Progress);
    connect(&m_working, &QFutureWatcher<WorkResult>::finished, this, &MainWindow::work_Finished);
    connect(m_folderWatch, &QFileSystemWatcher::directoryChanged, this, &MainWindow::watcher_Change);
    connect(m_folderWatch, &QFileSystemWatcher::fileChanged, this, &MainWindow::watcher_Change);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindow::refreshTimer_Timeout);
    connect(cmdMoveOut, &QPushButton::clicked, this, &MainWindow::cmdMoveOut_Click);
    connect(cmdPutBack, &QPushButton::clicked, this, &MainWindow::cmdPutBack_Click);
    connect(cmdCulprit, &QPushButton::clicked, this, &MainWindow::cmdCulprit_Click);
    connect(pnlFiftyFifty, &FiftyFiftyPanel::answered, this, &MainWindow::pnlFiftyFifty_Answered);
    connect(pnlFiftyFifty, &FiftyFiftyPanel::stopAsked, this, &MainWindow::pnlFiftyFifty_Stop);
    connect(pnlFiftyFifty, &FiftyFiftyPanel::retryAsked, this, &MainWindow::pnlFiftyFifty_Retry);
    connect(pnlFiftyFifty, &FiftyFiftyPanel::closeAsked, this, &MainWindow::pnlFiftyFifty_Close);
    connect(grdChanges->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindow::grdChanges_SelectionChange);

    connect(mnuOtherFolder, &QAction::triggered, this, &MainWindow::cmdOtherFolder_Click);
    connect(mnuExport, &QAction::triggered, this, &MainWindow::cmdExport_Click);
    connect(mnuPrint, &QAction::triggered, this, &MainWindow::cmdPrint_Click);
    connect(mnuQuit, &QAction::triggered, this, &MainWindow::close);
    connect(mnuRemember, &QAction::triggered, this, &MainWindow::cmdRemember_Click);
    connect(mnuDelete, &QAction::triggered, this, &MainWindow::cmdDelete_Click);
    connect(mnuWhatChanged, &QAction::triggered, this, &MainWindow::cmdWhatChanged_Click);
    connect(mnuFolderList, &QAction::triggered, this, &MainWindow::cmdFolderList_Click);
    connect(mnuFindFilter, &QAction::triggered, txtFilter, qOverload<>(&QLineEdit::setFocus));
    connect(mnuHelp, &QAction::triggered, this, &MainWindow::mnuHelp_Click);
    connect(mnuAbout, &QAction::triggered, this, &MainWindow::mnuAbout_Click);
}

void MainWindow::setTabOrder()
{
    QList<QWidget*> order { cboFolder, cmdOtherFolder, lstSnapshots, txtLabel, cmdRemember, cmdDelete,
        cmdWhatChanged, cmdFolderList, cmdInside, txtFilter, cboKind, grdChanges, cmdExport, cmdPrint,
        cmdMoveOut, cmdPutBack, cboBatch, cmdCulprit };
    order += pnlFiftyFifty->tabOrder();
    order.append(cmdCancel);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::Form_Load()
{
    m_games = findGameFolders();
    for (const GameFolder& game : std::as_const(m_games)) {
        cboFolder->addItem(gameFolderText(game), game.path);
        cboFolder->setItemData(cboFolder->count() - 1, game.path, Qt::ToolTipRole);
    }
    cboFolder->setPlaceholderText(tr("No game folder found here: choose one with Other folder…"));
    cboFolder->setCurrentIndex(-1);
    lblStatus->setText(m_games.isEmpty()
            ? tr("Choose the game folder with Other folder… (for The Sims 4: Documents/Electronic Arts/The "
                 "Sims 4/Mods).")
            : (m_games.size() == 1
                    ? tr("Found 1 game folder. Pick it to begin.")
                    : tr("Found %1 game folders. Pick one to begin.").arg(countText(m_games.size()))));
    if (!m_games.isEmpty()) {
        cboFolder->setCurrentIndex(0);
        cboFolder_Change();
    }
    updateCounts();
    updateButtons();
}

bool MainWindow::openFolder(const QString& path)
{
    QByteArray root;
    try {
        root = canonicalFolder(QFile::encodeName(path));
    } catch (const Failure& failure) {
        showError(tr("Mendwell cannot open this folder.\n\n%1").arg(failure.message()));
        return false;
    }
    cboFolder->setCurrentIndex(folderIndex(root));
    m_folder = root;
    m_generation = generationOf(root);
    cboFolder->setToolTip(folderTip());
    m_compared = {};
    m_changes->setRows({});
    m_heading = {};
    fillSnapshots();
    m_closedVerdict.clear();
    watchFolders();
    refreshState();
    lblStatus->setText(openedHint());
    showHint();
    updateCounts();
    // A move cut short (a crash, a power cut) is finished before anything else touches the folder.
    const bool stepLeft = Quarantine(QFile::decodeName(m_folder), m_generation).unfinishedMove();
    if (!isWorking() && (stepLeft || (m_state.session && m_state.session->movesPending())))
        pnlFiftyFifty_Retry();
    return true;
}

// The folder list's entry for a folder, by its canonical path (an entry may name it through a link);
// the folder is added when no entry has it.
int MainWindow::folderIndex(const QByteArray& root)
{
    int index = cboFolder->findData(QFile::decodeName(root));
    for (int i = 0; i < cboFolder->count() && index < 0; ++i) {
        try {
            if (canonicalFolder(QFile::encodeName(cboFolder->itemData(i).toString())) == root)
                index = i;
        } catch (const Failure&) { }
    }
    if (index < 0) {
        cboFolder->addItem(QFile::decodeName(root), QFile::decodeName(root));
        index = cboFolder->count() - 1;
    }
    return index;
}

// The status line on opening a folder says what to do first, after what the window shows.
QString MainWindow::openedHint() const
{
    // The guide then stands where the snapshots were.
    if (m_sessionRunning)
        return tr("A 50/50 is under way on this folder: start the game, then answer below.");
    if (m_state.session && pnlFiftyFifty->isVisibleTo(this))
        return tr("The last 50/50 on this folder ended as said below. Close it to choose a snapshot.");
    return lstSnapshots->topLevelItemCount() == 0
        ? tr("No snapshot of this folder yet: remember it as it is now while the game works.")
        : tr("Choose the snapshot taken while the game worked, then ask what changed.");
}

// Until changes are shown, the line beside What changed? says how to get them, after what is on screen.
void MainWindow::showHint()
{
    if (!m_heading.root.isEmpty())
        return;
    QString hint;
    if (m_folder.isEmpty())
        hint = tr("Choose the game folder first.");
    else if (pnlFiftyFifty->isVisibleTo(this) && m_sessionRunning)
        hint
            = tr("While the 50/50 runs, the snapshots are hidden; What changed? compares with the one chosen "
                 "before it began.");
    else if (pnlFiftyFifty->isVisibleTo(this))
        hint = tr("The snapshots are hidden while the 50/50's verdict is shown: close the verdict to choose "
                  "one.");
    else if (lstSnapshots->topLevelItemCount() == 0)
        hint = tr("No snapshot yet: remember the folder above while the game works, then ask what changed "
                  "since.");
    else if (chosenSnapshot() == 0)
        hint = tr("Choose a snapshot above, then ask what changed since.");
    else
        hint = tr("Ask what changed since the chosen snapshot.");
    lblSince->setText(hint);
}

QString MainWindow::folderTip() const
{
    const QString about
        = tr("The game folders Mendwell found on this computer: the game, the folder, how the "
             "game runs (natively, or under Proton, Wine, Lutris or Bottles) and where it is.");
    // The box may be too narrow for a long path: its tip has it whole.
    return m_folder.isEmpty() ? about : QFile::decodeName(m_folder) + u"\n\n"_s + about;
}

void MainWindow::cboFolder_Change()
{
    if (cboFolder->currentIndex() >= 0)
        openFolder(cboFolder->currentData().toString());
}

void MainWindow::cmdOtherFolder_Click()
{
    if (isWorking())
        return;
    QFileDialog dialog(this, tr("Choose the game folder"));
    dialog.setObjectName(u"dlgFolder"_s);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Qt's own dialog, because the system's may hide dot-folders whatever is asked.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Drives);
    dialog.setDirectory(m_folder.isEmpty() ? QDir::homePath() : QFile::decodeName(m_folder));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    openFolder(dialog.selectedFiles().constFirst());
}

void MainWindow::fillSnapshots(int select)
{
    lstSnapshots->clear();
    if (m_folder.isEmpty())
        return;
    const QList<StoredSnapshot> stored = m_store.list(m_folder);
    QTreeWidgetItem* chosen = nullptr;
    for (const StoredSnapshot& snapshot : stored) {
        auto* item = new QTreeWidgetItem(lstSnapshots,
            { cellTimeText(snapshot.info.takenNs), QString::fromUtf8(snapshot.info.label),
                countText(snapshot.info.fileCount) });
        item->setData(0, Qt::UserRole, snapshot.id);
        item->setData(2, Qt::UserRole, snapshot.info.fileCount);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (snapshot.id == select || !chosen)
            chosen = item;
    }
    if (chosen)
        lstSnapshots->setCurrentItem(chosen);
    showHint();
}

int MainWindow::chosenSnapshot() const
{
    const QTreeWidgetItem* item = lstSnapshots->currentItem();
    return item && item->isSelected() ? item->data(0, Qt::UserRole).toInt() : 0;
}

void MainWindow::lstSnapshots_Change()
{
    showHint();
    updateButtons();
}

void MainWindow::cmdRemember_Click()
{
    if (isWorking() || m_folder.isEmpty())
        return;
    const qint64 expected = lstSnapshots->topLevelItemCount() > 0
        ? lstSnapshots->topLevelItem(0)->data(2, Qt::UserRole).toLongLong()
        : 0;
    startWork(tr("Remembering %1").arg(QFile::decodeName(m_folder)), expected,
        std::bind(takeSnapshot, m_watch, m_store, m_folder, txtLabel->text().toUtf8()), Work::Scan);
}

void MainWindow::cmdDelete_Click()
{
    const int id = chosenSnapshot();
    if (isWorking() || id == 0)
        return;
    const QTreeWidgetItem* item = lstSnapshots->currentItem();
    QString which = item->text(0);
    if (!item->text(1).isEmpty())
        which += tr(" (\"%1\")").arg(item->text(1));
    QMessageBox box(QMessageBox::Question, tr("Delete snapshot"),
        tr("Forget the snapshot taken %1?\n\nThe files of the game folder are not touched; only Mendwell's "
           "record of how the folder was then is deleted.")
            .arg(which),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    try {
        m_store.remove(id);
    } catch (const Failure& failure) {
        showError(failure.message());
    }
    fillSnapshots();
    lblStatus->setText(tr("Snapshot deleted."));
    updateButtons();
}

void MainWindow::cmdWhatChanged_Click()
{
    const int id = chosenSnapshot();
    if (isWorking() || id == 0)
        return;
    m_comparing = { CompareSource::Snapshot, m_store.pathOf(id) };
    startWork(tr("Looking for changes in %1").arg(QFile::decodeName(m_folder)),
        lstSnapshots->currentItem()->data(2, Qt::UserRole).toLongLong(),
        std::bind(compareWithSnapshot, m_watch, m_comparing.path), Work::Scan);
}

void MainWindow::cmdInside_Click()
{
    if (isWorking() || m_folder.isEmpty())
        return;
    const int id = chosenSnapshot();
    startWork(tr("Reading inside the mods of %1").arg(QFile::decodeName(m_folder)), 0,
        std::bind(lookInside, m_watch, m_folder, id == 0 ? QByteArray() : m_store.pathOf(id)), Work::Scan);
}

void MainWindow::cmdFolderList_Click()
{
    if (isWorking() || m_folder.isEmpty())
        return;
    QFileDialog dialog(this, tr("Choose a folder list saved by Brenvale"));
    dialog.setObjectName(u"dlgFolderList"_s);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({ tr("Folder lists (*.txt *.TXT)"), tr("All files (*)") });
    // Where Brenvale saves its lists, so the player's own are there to pick.
    dialog.setDirectory(listsFolder());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_comparing = { CompareSource::FolderList, QFile::encodeName(dialog.selectedFiles().constFirst()) };
    startWork(tr("Comparing %1 with a folder list").arg(QFile::decodeName(m_folder)), 0,
        std::bind(compareWithFolderList, m_watch, m_comparing.path, m_folder), Work::Scan);
}

void MainWindow::startWork(
    const QString& what, qint64 expectedFiles, std::function<WorkResult()> work, Work kind)
{
    m_workText = what;
    m_workKind = kind;
    prgWork->setRange(0, int(std::min<qint64>(expectedFiles, std::numeric_limits<int>::max())));
    prgWork->setValue(0);
    prgWork->setToolTip(expectedFiles > 0 ? tr("Files read so far, of about as many as the snapshot holds.")
                                          : tr("Files read so far."));
    m_workClock.start();
    prgWork->setVisible(true);
    cmdCancel->setVisible(true);
    cmdCancel->setEnabled(kind != Work::Recover);
    lblStatus->setText(what + u'…');
    m_working.setFuture(QtConcurrent::run(std::move(work)));
    m_progressTimer.start();
    // The bar says from the start how many files are to be read.
    if (kind == Work::Scan && expectedFiles > 0)
        work_Progress();
    updateButtons();
}

void MainWindow::work_Progress()
{
    if (!m_watch)
        return;
    const bool fiftyFifty = m_workKind == Work::FiftyFifty || m_workKind == Work::Recover;
    if (m_watch->moving) {
        // The 50/50's moves always run to the end (see cancelWork).
        if (fiftyFifty)
            cmdCancel->setEnabled(false);
        showMoveProgress();
        return;
    }
    const qint64 found = m_watch->scan.files.load(std::memory_order_relaxed);
    // Past the expected count the bar would stop; it turns into a busy bar instead.
    if (prgWork->maximum() > 0 && found > prgWork->maximum())
        prgWork->setRange(0, 0);
    QString said = tr("%1: %2 files so far").arg(m_workText, countText(found));
    if (prgWork->maximum() > 0) {
        prgWork->setValue(int(found));
        prgWork->setFormat(tr("%1 of about %2").arg(countText(found), countText(prgWork->maximum())));
        said
            = tr("%1: %2 of about %3 files").arg(m_workText, countText(found), countText(prgWork->maximum()));
        if (const QString left = timeLeftText(m_workClock.elapsed(), found, prgWork->maximum());
            !left.isEmpty())
            said += u", "_s + left;
    }
    if (!m_watch->scan.cancel)
        lblStatus->setText(said + u'…');
}

void MainWindow::showMoveProgress()
{
    const qint64 total = m_watch->move.total.load(std::memory_order_relaxed);
    const qint64 done = m_watch->move.done.load(std::memory_order_relaxed);
    if (total <= 0) {
        prgWork->setRange(0, 0);
    } else {
        prgWork->setRange(0, int(std::min<qint64>(total, std::numeric_limits<int>::max())));
        prgWork->setValue(int(std::min(done, total)));
        prgWork->setFormat(tr("%1 of %2").arg(countText(done), countText(total)));
    }
    // The core counts a folder that moves whole as one: the bar shows how far, the text what.
    QString said = m_workText;
    if (const QString left = timeLeftText(m_workClock.elapsed(), done, total); !left.isEmpty())
        said += u", "_s + left;
    if (!m_watch->move.cancel)
        lblStatus->setText(said + u'…');
}

void MainWindow::cmdCancel_Click()
{
    if (!isWorking() || !m_watch || !cmdCancel->isEnabled())
        return;
    const bool fiftyFifty = m_workKind == Work::FiftyFifty || m_workKind == Work::Recover;
    if (fiftyFifty && m_watch->moving)
        return;
    cancelWork(*m_watch, m_workKind);
    cmdCancel->setEnabled(false);
    lblStatus->setText(tr("Cancelling…"));
}

void MainWindow::showComparison(Comparison& comparison)
{
    m_heading = comparison.heading;
    m_changes->setRows(std::move(comparison.rows));
    fitColumns();
    lblSince->setText(tr("Since the %1%2")
                          .arg(m_heading.since,
                              m_heading.topLevelOnly
                                  ? tr(". A folder list holds top-level names only: only files added to or "
                                       "removed from the top of the folder can be known.")
                                  : QString()));
}

void MainWindow::work_Finished()
{
    m_progressTimer.stop();
    prgWork->setVisible(false);
    cmdCancel->setVisible(false);
    WorkResult result = m_working.result();
    m_watch = std::make_shared<WorkWatch>();
    if (m_refreshAfterWork) {
        m_refreshAfterWork = false;
        m_refreshTimer.start();
    }
    std::visit(Handlers { [this](SnapshotTaken& taken) { finishSnapshot(taken); },
                   [this](Compared& compared) { finishComparison(compared); },
                   [this](FilesMoved& moved) { finishMoves(moved); },
                   [this](FiftyFiftyStep& step) { finishFiftyFifty(step); },
                   [this](LookedInside& looked) { finishLookInside(looked); } },
        result);
    result = WorkResult();
    releaseFreedMemory();
    updateCounts();
    updateButtons();
    emit workEnded();
}

void MainWindow::finishSnapshot(const SnapshotTaken& taken)
{
    if (taken.cancelled) {
        lblStatus->setText(tr("Cancelled: no snapshot was saved."));
    } else if (!taken.error.isEmpty()) {
        lblStatus->setText(tr("Failed."));
        showError(taken.error);
    } else {
        txtLabel->clear();
        fillSnapshots(taken.snapshotId);
        lblStatus->setText((taken.files == 1
                ? tr("Remembered 1 file. Later, ask what changed since.")
                : tr("Remembered %1 files. Later, ask what changed since.").arg(countText(taken.files))));
    }
    showProblems(taken.problems);
}

void MainWindow::finishLookInside(const LookedInside& looked)
{
    if (looked.cancelled) {
        lblStatus->setText(tr("Cancelled."));
        return;
    }
    if (!looked.error.isEmpty()) {
        lblStatus->setText(tr("Failed."));
        showError(looked.error);
        return;
    }
    lblStatus->setText(tr("Read inside the mods."));
    QDialog dialog(this);
    dialog.setObjectName(u"dlgInside"_s);
    dialog.setWindowTitle(tr("Inside the mods of %1").arg(QFile::decodeName(m_folder)));
    auto* text = new QPlainTextEdit(looked.text, &dialog);
    text->setObjectName(u"txtInside"_s);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    const QSize room = screen() ? screen()->availableSize() : QSize(1024, 768);
    dialog.resize(std::min(room.width() * 4 / 5, text->fontMetrics().horizontalAdvance(u'x') * 110),
        room.height() * 2 / 3);
    dialog.exec();
}

void MainWindow::finishComparison(Compared& compared)
{
    if (compared.cancelled) {
        lblStatus->setText(tr("Cancelled: the changes shown are those of before."));
        return;
    }
    if (!compared.error.isEmpty()) {
        lblStatus->setText(tr("Failed."));
        showError(compared.error);
        return;
    }
    m_compared = m_comparing;
    const QList<ScanProblem> problems = compared.comparison.problems;
    showComparison(compared.comparison);
    const int rows = m_changes->rowCount();
    lblStatus->setText(rows == 0 ? tr("Nothing changed.")
            : rows == 1          ? tr("1 change found.")
                                 : tr("%1 changes found.").arg(countText(rows)));
    showProblems(problems);
}

void MainWindow::showProblems(const QList<ScanProblem>& problems)
{
    if (problems.isEmpty())
        return;
    QStringList lines;
    for (const ScanProblem& problem : problems.first(std::min<qsizetype>(problems.size(), 20)))
        lines.append(tr("%1: %2").arg(problem.path.isEmpty() ? u"."_s : QString::fromUtf8(problem.path),
            QString::fromUtf8(problem.reason)));
    QMessageBox::warning(this, tr("Mendwell"),
        tr("Some folders could not be read; files below them are not known:\n\n%1").arg(lines.join(u'\n')));
}

void MainWindow::txtFilter_Change()
{
    m_shown->setText(txtFilter->text());
    updateCounts();
}

void MainWindow::cboKind_Change()
{
    m_shown->setKind(ChangesModel::Filter(cboKind->currentIndex()));
    updateCounts();
}

void MainWindow::updateCounts()
{
    qsizetype kinds[4] = {}, suspects = 0, noise = 0, movedOut = 0;
    for (const ChangeRow& row : m_changes->rows()) {
        if (row.movedOut)
            ++movedOut;
        else
            ++kinds[int(row.kind)];
        suspects += !row.flags.isEmpty();
        noise += row.noise;
    }
    const QString outText = movedOut > 0 ? tr(" · Moved out %1").arg(countText(movedOut)) : QString();
    lblCounts->setText(tr("Added %1 · Changed %2 · Removed %3 · Moved %4%5 · Suspect %6 · Noise %7   —   "
                          "showing %8 of %9")
                           .arg(countText(kinds[0]))
                           .arg(countText(kinds[1]))
                           .arg(countText(kinds[2]))
                           .arg(countText(kinds[3]))
                           .arg(outText)
                           .arg(countText(suspects))
                           .arg(countText(noise))
                           .arg(countText(m_shown->rowCount()))
                           .arg(countText(m_changes->rowCount())));
}

void MainWindow::updateButtons()
{
    const bool idle = !isWorking();
    const bool haveFolder = !m_folder.isEmpty();
    const bool haveSnapshot = chosenSnapshot() != 0;
    const bool haveChanges = !m_heading.root.isEmpty();
    cboFolder->setEnabled(idle);
    cmdOtherFolder->setEnabled(idle);
    mnuOtherFolder->setEnabled(idle);
    const bool guideShown = pnlFiftyFifty->isVisibleTo(this);
    enable({ cmdRemember, mnuRemember }, idle && haveFolder && !guideShown);
    enable({ cmdDelete, mnuDelete }, idle && haveSnapshot && !guideShown);
    enable({ cmdWhatChanged, mnuWhatChanged }, idle && haveSnapshot);
    enable({ cmdFolderList, mnuFolderList, cmdInside }, idle && haveFolder);
    enable({ cmdExport, mnuExport, cmdPrint, mnuPrint }, haveChanges);
    updateMoveButtons(idle, haveChanges);
    cmdCulprit->setEnabled(idle && (haveChanges || haveSnapshot) && !m_sessionRunning);
    pnlFiftyFifty->setBusy(!idle);
}

void MainWindow::enable(std::initializer_list<QObject*> controls, bool enabled)
{
    for (QObject* control : controls) {
        if (auto* widget = qobject_cast<QWidget*>(control))
            widget->setEnabled(enabled);
        else if (auto* action = qobject_cast<QAction*>(control))
            action->setEnabled(enabled);
    }
}

// While a 50/50 runs, its files are moved by its answers alone: other moves would mislead it.
void MainWindow::updateMoveButtons(bool idle, bool haveChanges)
{
    bool chosen = false;
    const qsizetype toMove = filesToMove(&chosen).size();
    cmdMoveOut->setText(chosen ? tr("&Move the chosen files out") : tr("&Move the new files out"));
    cmdMoveOut->setToolTip(
        (chosen ? tr(
             "Moves the %1 added or changed among the rows you chose to a quarantine folder beside the "
             "game folder, so you can see whether the game works without them.")
                : tr(
                    "Moves the %1 added or changed that the list shows (choose rows to move only those) to a "
                    "quarantine folder beside the game folder, so you can see whether the game works without "
                    "them."))
            .arg(fileCountText(toMove))
        + (m_sessionRunning ? tr(" Not while the 50/50 runs.") : QString()));
    cmdMoveOut->setEnabled(idle && haveChanges && toMove > 0 && !m_sessionRunning);
    const bool haveBatches = cboBatch->count() > 1;
    enable({ cmdPutBack, cboBatch }, idle && haveBatches && !m_sessionRunning);
}

QList<QByteArray> MainWindow::filesToMove(bool* chosen) const
{
    QList<const ChangeRow*> rows;
    const QModelIndexList selected = grdChanges->selectionModel()->selectedRows();
    *chosen = !selected.isEmpty();
    if (*chosen) {
        for (const QModelIndex& index : selected)
            rows.append(&m_changes->row(m_shown->mapToSource(index).row()));
    } else {
        rows = m_shown->shownRows();
    }
    QList<QByteArray> paths;
    for (const ChangeRow* row : std::as_const(rows)) {
        if (row->kind == ChangeKind::Added || row->kind == ChangeKind::Changed)
            paths.append(row->path);
    }
    return paths;
}

void MainWindow::grdChanges_SelectionChange()
{
    updateButtons();
}

bool MainWindow::refuseWhileGameRuns()
{
    const QString running = Quarantine(QFile::decodeName(m_folder), m_generation).gameRunningMessage();
    if (running.isEmpty())
        return false;
    QMessageBox::warning(this, tr("Close the game first"), tr("%1\n\nNothing was moved.").arg(running));
    lblStatus->setText(tr("Nothing was moved: the game is running."));
    return true;
}

bool MainWindow::refuseDuringFiftyFifty(const QString& why)
{
    if (!m_sessionRunning)
        return false;
    QMessageBox::warning(this, tr("A 50/50 runs on this folder"), tr("%1\n\nNothing was moved.").arg(why));
    lblStatus->setText(tr("Nothing was moved: a 50/50 runs on this folder."));
    return true;
}

void MainWindow::cmdMoveOut_Click()
{
    bool chosen = false;
    const QList<QByteArray> paths = filesToMove(&chosen);
    if (isWorking() || m_folder.isEmpty() || paths.isEmpty())
        return;
    catchUp();
    if (refuseDuringFiftyFifty(fiftyFiftyRunsText()) || refuseWhileGameRuns())
        return;
    QList<QByteArray> beside = cacheFilesBeside(m_folder);
    if (!beside.isEmpty()) {
        QStringList names;
        for (const QByteArray& path : std::as_const(beside))
            names.append(displayPath(path));
        QMessageBox box(QMessageBox::Question, tr("Move the game's cache too?"),
            tr("The game keeps a cache beside the folder (%1). It remembers the old files: moving it out "
               "with "
               "them makes the game build it afresh, as mod makers advise after CC changes. Put them back "
               "brings it back too.\n\nMove the cache along?")
                .arg(names.join(u", "_s)),
            QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::Yes);
        if (box.exec() != QMessageBox::Yes)
            beside.clear();
    }
    startWork(tr("Moving %1 out").arg(fileCountText(paths.size() + beside.size())), 0,
        std::bind(moveFilesOut, m_watch, m_folder, paths, beside, m_compared), Work::Moves);
}

void MainWindow::cmdPutBack_Click()
{
    if (isWorking() || m_folder.isEmpty())
        return;
    const QString batch = cboBatch->currentData().toString();
    catchUp();
    if (refuseDuringFiftyFifty(putBackRefusal()) || refuseWhileGameRuns())
        return;
    if (cboBatch->findData(batch) < 0) {
        lblStatus->setText(cboBatch->count() == 0
                ? tr("Nothing was moved: every file is back in the game folder already.")
                : tr("Nothing was moved: the files of %1 are back already.").arg(batch));
        return;
    }
    startWork(
        batch.isEmpty() ? tr("Putting every batch back") : tr("Putting back the batch of %1").arg(batch), 0,
        std::bind(putFilesBack, m_watch, m_folder, batch, m_compared), Work::Moves);
}

void MainWindow::showSkipped(const QString& what, const MoveReport& report)
{
    if (report.skipped.isEmpty())
        return;
    QStringList lines;
    for (const auto& [path, why] :
        std::as_const(report.skipped).first(std::min<qsizetype>(report.skipped.size(), 20)))
        lines.append(tr("%1: %2").arg(displayPath(path), why));
    if (report.skipped.size() > 20)
        lines.append(tr("… and %1 more.").arg(countText(report.skipped.size() - 20)));
    QMessageBox::warning(this, tr("Some files stayed where they were"),
        tr("%1 Nothing was overwritten; these stayed where they were:\n\n%2").arg(what, lines.join(u'\n')));
}

void MainWindow::finishMoves(FilesMoved& moved)
{
    if (moved.again)
        showComparison(*moved.again);
    if (moved.state.read)
        showState(std::move(moved.state));
    else
        refreshState();
    const MoveReport& report = moved.moves;
    const QString quarantine = quarantineFolderFor(QFile::decodeName(m_folder));
    QString said;
    if (moved.out) {
        said = report.moved.isEmpty()
            ? tr("No file was moved out.")
            : tr("Moved %1 out to %2/%3.").arg(fileCountText(report.moved.size()), quarantine, report.batch);
    } else {
        said = report.moved.isEmpty()
            ? tr("No file was put back.")
            : tr("Put %1 back into the game folder.").arg(fileCountText(report.moved.size()));
    }
    if (report.cancelled)
        said = tr("Cancelled. %1 The others are where they were.").arg(said);
    lblStatus->setText(said);
    if (!report.ok())
        QMessageBox::warning(this, tr("Mendwell"), tr("%1\n\nNothing was moved.").arg(report.error));
    if (!moved.note.isEmpty())
        QMessageBox::information(this, tr("The 50/50's files stay out"), moved.note);
    showSkipped(said, report);
}

void MainWindow::fillBatches(const QList<QuarantineBatch>& batches)
{
    const QString chosen = cboBatch->currentData().toString();
    cboBatch->clear();
    if (m_folder.isEmpty())
        return;
    qsizetype out = 0;
    cboBatch->addItem(tr("every batch, newest first"), QString());
    for (auto it = batches.crbegin(); it != batches.crend(); ++it) {
        const qsizetype files = it->filesOut();
        if (files == 0)
            continue;
        out += files;
        cboBatch->addItem(tr("%1  ·  %2").arg(it->name, fileCountText(files)), it->name);
    }
    // With a placeholder set, a combo box chooses no item by itself.
    cboBatch->setCurrentIndex(std::max(0, cboBatch->findData(chosen)));
    if (cboBatch->count() == 1) {
        cboBatch->clear();
        lblQuarantine->setText(tr("No file of this folder is moved out."));
        return;
    }
    lblQuarantine->setText(
        tr("Moved out: %1 in %2, kept in %3")
            .arg(fileCountText(out),
                cboBatch->count() == 2 ? tr("1 batch") : tr("%1 batches").arg(cboBatch->count() - 1),
                quarantineFolderFor(QFile::decodeName(m_folder))));
}

std::optional<BisectSession> MainWindow::storedSession()
{
    try {
        if (!m_sessions)
            m_sessions = std::make_unique<BisectStore>(BisectStore::defaultPath());
        return m_sessions->load(QFile::decodeName(m_folder));
    } catch (const BisectError&) {
        m_sessions.reset();
        throw;
    }
}

void MainWindow::refreshState()
{
    if (m_folder.isEmpty())
        return;
    FolderState state;
    state.read = true;
    state.batches = Quarantine(QFile::decodeName(m_folder), m_generation).batches();
    try {
        state.session = storedSession();
    } catch (const BisectError& error) {
        state.error = error.message();
    }
    showState(std::move(state));
}

// Before an action the 50/50 is read again, which costs one look into its store; the quarantine, a
// stat of every file out, only when the 50/50 is not the one shown, since then files moved too. The
// work that moves files reads both again anyway.
void MainWindow::catchUp()
{
    std::optional<BisectSession> now;
    try {
        now = storedSession();
    } catch (const BisectError&) {
        refreshState();
        return;
    }
    const std::optional<BisectSession>& shown = m_state.session;
    if (now.has_value() != shown.has_value() || (now && !sameSession(*now, *shown)))
        refreshState();
}

void MainWindow::showState(FolderState state)
{
    if (!state.error.isEmpty())
        lblStatus->setText(state.error);
    m_state = std::move(state);
    m_sessionRunning = m_state.fiftyFiftyRunning();
    fillBatches(m_state.batches);
    showSession();
    // The quarantine folder comes and goes with the files in it.
    watchFolders();
    updateButtons();
}

void MainWindow::showSession()
{
    const std::optional<BisectSession>& session = m_state.session;
    const bool verdict = session
        && (session->state() == BisectSession::State::CulpritFound
            || session->state() == BisectSession::State::NotAmongNew);
    // An ended 50/50 stays in view until the player closes it; a verdict is shown again on opening.
    const bool shown = session
        && (m_sessionRunning
            || (session->events() != m_closedVerdict && (verdict || pnlFiftyFifty->isVisibleTo(this))));
    if (!shown) {
        hideGuide();
        return;
    }
    pnlFiftyFifty->showSession(
        *session, m_state.filesOut(), quarantineFolderFor(QFile::decodeName(m_folder)));
    if (!pnlFiftyFifty->isVisibleTo(this)) {
        // While the guide is shown, the snapshots make room for it: one taken with half the mods out
        // would only mislead later.
        m_snapshots->setVisible(false);
        pnlFiftyFifty->setVisible(true);
        // A pane shown late gets no room of its own: the guide takes what the snapshots had and more.
        const QList<int> sizes = m_splitter->sizes();
        const int total = std::accumulate(sizes.cbegin(), sizes.cend(), 0);
        // Half each: the changes stay readable, and the guide's list scrolls.
        const int guide = total / 2;
        m_splitter->setSizes({ 0, total - guide, guide });
    }
    showHint();
    // The player goes to the game and back between rounds: the task bar says where the 50/50 stands.
    if (session->running())
        setWindowTitle(
            tr("Mendwell – round %1 of at most %2").arg(session->round() + 1).arg(session->mostRounds()));
    else if (session->state() == BisectSession::State::CulpritFound)
        setWindowTitle(tr("Mendwell – culprit found"));
    else
        setWindowTitle(tr("Mendwell"));
}

void MainWindow::hideGuide()
{
    setWindowTitle(tr("Mendwell"));
    if (!pnlFiftyFifty->isVisibleTo(this))
        return;
    const QList<int> sizes = m_splitter->sizes();
    const int total = std::accumulate(sizes.cbegin(), sizes.cend(), 0);
    pnlFiftyFifty->setVisible(false);
    m_snapshots->setVisible(true);
    const int snapshots = fontMetrics().height() * 10;
    m_splitter->setSizes({ snapshots, total - snapshots, 0 });
    showHint();
}

void MainWindow::watchFolders()
{
    const QStringList watched = m_folderWatch->directories() + m_folderWatch->files();
    if (!watched.isEmpty())
        m_folderWatch->removePaths(watched);
    if (m_folder.isEmpty())
        return;
    const QString store = BisectStore::defaultPath();
    const QString quarantine = quarantineFolderFor(QFile::decodeName(m_folder));
    // Until files first move out, the quarantine folder does not exist: its making shows beside the game
    // folder. The store is written in place; its journal comes and goes in its folder.
    QStringList paths { QFileInfo(store).absolutePath(), store,
        QFileInfo::exists(quarantine) ? quarantine : QFileInfo(quarantine).absolutePath() };
    paths.removeIf([](const QString& path) { return !QFileInfo::exists(path); });
    if (!paths.isEmpty())
        m_folderWatch->addPaths(paths);
}

void MainWindow::watcher_Change()
{
    m_refreshTimer.start();
}

void MainWindow::refreshTimer_Timeout()
{
    // The work reads the state when it ends; what changed meanwhile is read after that.
    if (isWorking())
        m_refreshAfterWork = true;
    else
        refreshState();
}

void MainWindow::changeEvent(QEvent* event)
{
    // Back from the game or from a terminal: what the window shows may be old.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_folder.isEmpty())
        m_refreshTimer.start();
    QMainWindow::changeEvent(event);
}

CompareSource MainWindow::culpritSource() const
{
    if (m_compared.kind != CompareSource::None)
        return m_compared;
    if (const int id = chosenSnapshot(); id != 0)
        return { CompareSource::Snapshot, m_store.pathOf(id) };
    return {};
}

void MainWindow::cmdCulprit_Click()
{
    const CompareSource since = culpritSource();
    if (isWorking() || m_folder.isEmpty() || since.kind == CompareSource::None)
        return;
    catchUp();
    if (refuseDuringFiftyFifty(fiftyFiftyRunsText()) || refuseWhileGameRuns())
        return;
    QMessageBox box(QMessageBox::Question, tr("Find the culprit"),
        tr("Mendwell takes the mods added or changed since the %1 and moves them all out of the game folder "
           "for the first round. After each round, start the game and say whether it works; Mendwell then "
           "moves half of the rest, until one mod is left.\n\nKeep the game closed while files move. "
           "Begin?")
            .arg(since.kind == CompareSource::Snapshot ? tr("snapshot") : tr("folder list")),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;
    m_closedVerdict.clear();
    startWork(
        tr("Starting the 50/50"), 0, std::bind(startFiftyFifty, m_watch, m_folder, since), Work::FiftyFifty);
}

bool MainWindow::stillAsked(int round)
{
    const std::optional<BisectSession> seen = m_state.session;
    catchUp();
    const std::optional<BisectSession>& session = m_state.session;
    // The same session at the same round: another one started meanwhile is not the one the player saw.
    if (seen && session && session->running() && !session->movesPending() && session->round() == round
        && sameSession(*seen, *session))
        return true;
    lblStatus->setText(tr("Nothing was done: the 50/50 changed meanwhile (in another window or on the "
                          "command line). It is shown as it stands now."));
    return false;
}

void MainWindow::pnlFiftyFifty_Answered(BisectAnswer answer, int forRound)
{
    if (isWorking() || m_folder.isEmpty() || !stillAsked(forRound) || refuseWhileGameRuns())
        return;
    startWork(answer == BisectAnswer::Works ? tr("The game works: moving files for the next round")
                                            : tr("Still broken: moving files for the next round"),
        0, std::bind(answerFiftyFifty, m_watch, m_folder, m_compared, std::optional(answer), forRound),
        Work::FiftyFifty);
}

void MainWindow::pnlFiftyFifty_Stop(int forRound)
{
    if (isWorking() || m_folder.isEmpty())
        return;
    QMessageBox box(QMessageBox::Question, tr("Stop the 50/50"),
        tr("Stop the 50/50 and put every file it moved back into the game folder?\n\nEvery round played so "
           "far is undone: to find the culprit after this, the 50/50 starts again from round 1."),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes || !stillAsked(forRound) || refuseWhileGameRuns())
        return;
    startWork(tr("Stopping the 50/50: putting everything back"), 0,
        std::bind(answerFiftyFifty, m_watch, m_folder, m_compared, std::optional<BisectAnswer>(), -1),
        Work::FiftyFifty);
}

void MainWindow::pnlFiftyFifty_Retry()
{
    if (isWorking() || m_folder.isEmpty())
        return;
    startWork(tr("Finishing the moves of %1").arg(QFile::decodeName(m_folder)), 0,
        std::bind(recoverFolder, m_watch, m_folder, m_compared), Work::Recover);
}

void MainWindow::pnlFiftyFifty_Close()
{
    if (m_state.session)
        m_closedVerdict = m_state.session->events();
    pnlFiftyFifty->setSuggestion({});
    hideGuide();
    updateButtons();
    cmdCulprit->setFocus();
}

void MainWindow::finishFiftyFifty(FiftyFiftyStep& step)
{
    // Said at the start, kept while the 50/50 runs in this window.
    if (!step.suggestion.isEmpty())
        pnlFiftyFifty->setSuggestion(step.suggestion);
    if (step.again)
        showComparison(*step.again);
    if (step.state.read)
        showState(std::move(step.state));
    else
        refreshState();
    sayHowTheStepEnded(step);
    const MoveReport& report = step.moves;
    if (!report.ok() && step.error.isEmpty())
        QMessageBox::warning(this, tr("Mendwell"),
            tr("%1\n\nThe files of this round are not all where they should be yet: press Move the files now "
               "once the game is closed.")
                .arg(report.error));
    showSkipped(tr("Moving the files of the 50/50:"), report);
    if (pnlFiftyFifty->isVisible())
        pnlFiftyFifty->firstButton()->setFocus();
}

// The status line after a step of the 50/50, and a box where the player must know at once.
void MainWindow::sayHowTheStepEnded(const FiftyFiftyStep& step)
{
    const std::optional<BisectSession>& session = m_state.session;
    const MoveReport& report = step.moves;
    if (step.cancelled) {
        lblStatus->setText(tr("Cancelled: nothing was moved."));
    } else if (!step.error.isEmpty()) {
        lblStatus->setText(step.error);
        // A late answer is refused quietly: the guide shows the round that is asked now.
        if (!(step.refused && m_sessionRunning))
            QMessageBox::warning(this, tr("Mendwell"), step.error);
    } else if (step.recovering) {
        const QString said = report.moved.isEmpty()
            ? tr("Nothing was left half done.")
            : tr("A move that was cut short last time is finished: %1 moved. Every file is in one place.")
                  .arg(fileCountText(report.moved.size()));
        lblStatus->setText(said);
        if (!report.moved.isEmpty())
            QMessageBox::information(this, tr("Mendwell"), said);
    } else if (session && session->running()) {
        lblStatus->setText(tr("Round %1: %2 moved. Start the game, then say below whether it works.")
                               .arg(session->round() + 1)
                               .arg(fileCountText(report.moved.size())));
    } else if (session) {
        lblStatus->setText(session->summary());
    }
}

void MainWindow::cmdExport_Click()
{
    if (m_heading.root.isEmpty())
        return;
    QFileDialog dialog(this, tr("Export the changes"));
    dialog.setObjectName(u"dlgExport"_s);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QString csv = tr("CSV for a spreadsheet (*.csv)");
    const QString text = tr("Plain text (*.txt)");
    dialog.setNameFilters({ csv, text });
    dialog.setDefaultSuffix(u"csv"_s);
    // A name typed without a suffix gets the one of the kind of file chosen.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, text](const QString& chosen) {
        dialog.setDefaultSuffix(chosen == text ? u"txt"_s : u"csv"_s);
    });
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(tr("mendwell-changes.csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const bool asText = path.endsWith(u".txt"_s, Qt::CaseInsensitive)
        || (!path.endsWith(u".csv"_s, Qt::CaseInsensitive) && dialog.selectedNameFilter() == text);
    const QList<const ChangeRow*> rows = m_shown->shownRows();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        showError(tr("Cannot write %1: %2").arg(path, file.errorString()));
        return;
    }
    file.write(asText ? changesText(m_heading, rows) : changesCsv(rows));
    if (!file.commit()) {
        showError(tr("Cannot write %1: %2").arg(path, file.errorString()));
        return;
    }
    lblStatus->setText((rows.size() == 1 ? tr("1 file exported to %1.").arg(path)
                                         : tr("%1 files exported to %2.").arg(countText(rows.size()), path)));
}

void MainWindow::cmdPrint_Click()
{
    if (m_heading.root.isEmpty())
        return;
    Printer printer;
    printer.setFontName(u"DejaVu Sans Mono"_s);
    printer.setFontSize(9);
    for (const QString& line : changesPrintLines(m_heading, m_shown->shownRows()))
        printer.Print(line);
    try {
        printer.EndDoc();
        lblStatus->setText(tr("Sent to the printer."));
    } catch (const RunError& error) {
        showError(error.description());
    }
}

void MainWindow::mnuHelp_Click()
{
    QMessageBox box(QMessageBox::Information, tr("Mendwell Help"),
        tr("<p><b>When the game worked:</b> pick the game folder and press <i>Remember this folder as it is "
           "now</i>. Mendwell notes every file below it; nothing is changed.</p>"
           "<p><b>When the game broke:</b> choose that snapshot and press <i>What changed?</i> Every file "
           "added, changed, removed or moved since is listed, grouped by mod, with flags for files that "
           "often break the game (empty files, damaged packages, scripts that are no archive, files too deep "
           "for the game, archives left unpacked, duplicates, second downloads, household files in Mods). "
           "Point at a flag to read why.</p>"
           "<p>Sort by clicking a column's title; narrow the list with <i>Filter</i> and <i>Kind</i>; "
           "<i>Export</i> saves what is shown as CSV or text, <i>Print</i> prints it.</p>"
           "<p>A folder list that Brenvale saved can stand in for a snapshot, but it holds top-level names "
           "only.</p>"
           "<p><b>Moving files out:</b> <i>Move the new files out</i> takes the added and changed files "
           "shown (or only the rows you chose) to a folder beside the game folder, named after it with "
           "\u201c(moved out by Mendwell)\u201d; nothing is deleted or overwritten. <i>Put them back</i> "
           "brings back every batch, or the one chosen beside it. Close the game first: Mendwell refuses "
           "to move files while it runs.</p>"
           "<p><b>Finding the culprit:</b> <i>Find the culprit</i> moves every new mod out; start the game "
           "and answer <i>The game works now</i> or <i>Still broken</i>. Each answer halves the mods left "
           "to suspect, until one is named; every other file then comes back and the culprit stays out. "
           "The 50/50 is remembered when Mendwell or the computer restarts.</p>"
           "<p>Keys: Ctrl+O other folder, Ctrl+R remember, F5 what changed, Ctrl+L folder list, Ctrl+F "
           "filter, Ctrl+E export, Ctrl+P print, Delete forgets the chosen snapshot, Alt+M move out, "
           "Alt+U put back, Alt+C find the culprit, then Alt+A works, Alt+B still broken, Alt+Y stop; "
           "Esc cancels a scan or a move.</p>"
           "<p>Everything also works on the command line: <tt>mendwell --help</tt>.</p>"),
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void MainWindow::mnuAbout_Click()
{
    QMessageBox::about(this, tr("About Mendwell"),
        tr("<p><b>Mendwell</b> %1</p><p>Finds what changed in a game's Mods folder since it last worked, "
           "which files may be the trouble, and, by a guided 50/50, the one that is.</p><p>Part of the "
           "Brenvale tools.</p>")
            .arg(QCoreApplication::applicationVersion()));
}

// Each column takes what its texts need, the group at most a third of the view; the path takes the
// rest, and where the rest is too narrow to read a path, the view scrolls sideways instead.
void MainWindow::fitColumns()
{
    QHeaderView* columns = grdChanges->header();
    // Public in the base class: the rows in view and around them, not all 100,000.
    const QAbstractItemView* view = grdChanges;
    const int room = grdChanges->viewport()->width();
    int others = 0;
    for (int column = 0; column < ChangesModel::ColumnCount; ++column) {
        if (column == ChangesModel::PathColumn)
            continue;
        int wanted = std::max(view->sizeHintForColumn(column), columns->sectionSizeHint(column));
        if (column == ChangesModel::GroupColumn)
            wanted = std::max(std::min(wanted, room / 3), columns->sectionSizeHint(column));
        columns->resizeSection(column, wanted);
        others += wanted;
    }
    const int pathAtLeast = columns->fontMetrics().horizontalAdvance(u'x') * 30;
    columns->resizeSection(ChangesModel::PathColumn, std::max(room - others, pathAtLeast));
}

// A label that wraps takes more lines the narrower its pane, but a splitter knows only the one-line
// minimum and would squeeze the pane until its widgets overlap: the pane's minimum grows with its lines.
void MainWindow::keepLinesWhole(QWidget* pane)
{
    // Wrapped labels need more lines as the pane narrows; the pane asks the splitter for them, so that
    // the window scrolls rather than squeezing its buttons.
    QLayout* layout = pane->layout();
    int needed = layout->totalMinimumSize().height();
    if (layout->hasHeightForWidth() && pane->width() > 0)
        needed = std::max(needed, layout->totalHeightForWidth(pane->width()));
    if (pane->minimumHeight() != needed)
        pane->setMinimumHeight(needed);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Events come while the controls are still being made.
    if (!grdChanges || !pnlFiftyFifty)
        return QMainWindow::eventFilter(watched, event);
    if (watched == grdChanges->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    else if ((event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
        && watched->isWidgetType() && static_cast<QWidget*>(watched)->parentWidget() == m_splitter) {
        // Not while the pane's own resize is delivered: its layout would then be laid out for the size
        // the event still carries, not for the size the pane has.
        QPointer<QWidget> pane = static_cast<QWidget*>(watched);
        QMetaObject::invokeMethod(
            this,
            [this, pane] {
                if (pane)
                    keepLinesWhole(pane);
            },
            Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showError(const QString& text)
{
    QMessageBox::critical(this, tr("Mendwell"), text);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (isWorking()) {
        cancelWork(*m_watch, m_workKind);
        m_working.waitForFinished();
    }
    event->accept();
}
