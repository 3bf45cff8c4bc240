// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "changesmodel.h"
#include "gamefolders.h"
#include "quarantine.h"
#include "repair.h"
#include "scan.h"
#include "snapshot.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QMainWindow>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <variant>

class QAction;
class QComboBox;
class QHBoxLayout;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QPushButton;
class QTreeView;
class QTreeWidget;
class FiftyFiftyPanel;

// What the window compared the folder with last, so the changes can be looked for again after files moved.
struct CompareSource
{
    enum Kind { None, Snapshot, FolderList } kind = None;
    QByteArray path; // the snapshot's or the list's file
};

// Followed by the window while work runs on another thread. Cancel stops a scan, or a move between two
// files; moves of the 50/50 are never stopped halfway, so its session always knows where every file is.
struct WorkWatch
{
    mending::ScanWatch scan;
    mending::MoveWatch move;
    std::atomic<bool> moving { false };
};

// What a comparison of the folder found.
struct Comparison
{
    QList<ChangeRow> rows;
    ChangesHeading heading;
    QList<mending::ScanProblem> problems; // folders that could not be read
    qsizetype files = 0;
};

// The quarantine and the 50/50 of a folder, read together: what the window shows of them comes from
// one moment, whichever program changed them last.
struct FolderState
{
    QList<mending::QuarantineBatch> batches;
    std::optional<mending::BisectSession> session;
    QString error; // why the 50/50 store could not be read
    bool read = false; // false when the work failed before it could read them
    bool fiftyFiftyRunning() const;
    // The files out in the quarantine now, relative to the folder ("../" before the game's caches that
    // lay beside it).
    QList<QByteArray> filesOut() const;
};

// Each kind of work off the window's thread hands back one of these.
struct SnapshotTaken
{
    bool cancelled = false;
    QString error;
    int snapshotId = 0;
    qsizetype files = 0;
    QList<mending::ScanProblem> problems;
};

struct Compared
{
    bool cancelled = false;
    QString error;
    Comparison comparison;
};

// Files moved out or back by Move out and Put them back.
struct FilesMoved
{
    bool out = false; // moved out, or put back
    mending::MoveReport moves; // moves.error: nothing moved, and why
    QString note; // what the player should know besides (files of a 50/50 stayed out)
    FolderState state; // read after the moves
    std::optional<Comparison> again; // the folder compared again after files moved
};

// A step of the 50/50, or moves cut short finished.
struct FiftyFiftyStep
{
    bool recovering = false;
    bool cancelled = false;
    QString error;
    bool refused = false; // nothing was done: the session does not await this step, or it cannot start
    mending::MoveReport moves;
    FolderState state;
    std::optional<Comparison> again;
    QString suggestion; // at the start: a new mod the game's error reports name
};

// What is inside the mods: clashing packages and the game's error reports, as the report module
// writes them for players.
struct LookedInside
{
    bool cancelled = false;
    QString error;
    QString text;
};

using WorkResult = std::variant<SnapshotTaken, Compared, FilesMoved, FiftyFiftyStep, LookedInside>;

// Mendwell's window. The game folder picked in cboFolder (or with Other folder) fills lstSnapshots
// with the snapshots of that folder. Remember takes a new one, labelled with txtLabel; What changed
// compares the folder as it is now with the chosen snapshot, and the folder-list button with a list
// Brenvale saved. Both scans run on another thread while prgWork counts files and cmdCancel can stop
// them; their result fills grdChanges, which txtFilter and cboKind narrow and Export and Print take
// as shown. Move out takes the added and changed files shown (or the rows chosen) to the quarantine
// beside the folder, after asking about the game's cache; Put back brings back the batch chosen in
// cboBatch. Find the culprit starts the guided 50/50 in pnlFiftyFifty, whose answers move files on the
// same thread of work; a folder opened with a 50/50 under way shows the panel at its round, and one
// whose 50/50 named a culprit shows the verdict. The command line and other windows may change the
// quarantine and the 50/50 at any time: a watch on their folders and the window's activation read
// both afresh, and each action that moves files reads them again first and acts on what is true then.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The kinds of work, as far as Cancel and the progress bar care.
    enum class Work { Scan, Moves, FiftyFifty, Recover };

    // Picks a folder as Other folder does; false (with the reason shown) when it is no folder.
    bool openFolder(const QString& path);

signals:
    // After a scan, a snapshot or a comparison has ended, whether done, cancelled or failed.
    void workEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isWorking() const { return m_working.isRunning(); }

    void createControls();
    QHBoxLayout* createFolderRow(QWidget* client);
    void createSnapshotsPane(QSplitter* splitter);
    void createChangesPane(QSplitter* splitter);
    QHBoxLayout* createCompareRow(QWidget* changes);
    QHBoxLayout* createFilterRow(QWidget* changes);
    void createChangesView(QWidget* changes);
    QHBoxLayout* createCountsRow(QWidget* changes);
    QHBoxLayout* createRepairRow(QWidget* changes);
    void createStatusBar();
    void createMenus();
    void wireEvents();
    void setTabOrder();

    void Form_Load();
    void cboFolder_Change();
    void cmdOtherFolder_Click();
    void lstSnapshots_Change();
    void cmdRemember_Click();
    void cmdDelete_Click();
    void cmdWhatChanged_Click();
    void cmdInside_Click();
    void cmdFolderList_Click();
    void txtFilter_Change();
    void cboKind_Change();
    void cmdExport_Click();
    void cmdPrint_Click();
    void cmdCancel_Click();
    void cmdMoveOut_Click();
    void cmdPutBack_Click();
    void cmdCulprit_Click();
    void pnlFiftyFifty_Answered(mending::BisectAnswer answer, int forRound);
    void pnlFiftyFifty_Stop(int forRound);
    void pnlFiftyFifty_Retry();
    void pnlFiftyFifty_Close();
    void grdChanges_SelectionChange();
    void mnuHelp_Click();
    void mnuAbout_Click();
    void work_Progress();
    void showMoveProgress();
    void work_Finished();
    void watcher_Change();
    void refreshTimer_Timeout();

    void fillSnapshots(int select = 0);
    QString openedHint() const;
    void showHint();
    QString folderTip() const;
    int folderIndex(const QByteArray& root);
    void fitColumns();
    void keepLinesWhole(QWidget* pane);
    void startWork(const QString& what, qint64 expectedFiles, std::function<WorkResult()> work, Work kind);
    void finishSnapshot(const SnapshotTaken& taken);
    void finishComparison(Compared& compared);
    void finishLookInside(const LookedInside& looked);
    void finishMoves(FilesMoved& moved);
    void finishFiftyFifty(FiftyFiftyStep& step);
    void sayHowTheStepEnded(const FiftyFiftyStep& step);
    void showProblems(const QList<mending::ScanProblem>& problems);
    void showComparison(Comparison& comparison);
    std::optional<mending::BisectSession> storedSession();
    void refreshState();
    void catchUp();
    void showState(FolderState state);
    void showSession();
    void hideGuide();
    void watchFolders();
    bool stillAsked(int round);
    bool refuseDuringFiftyFifty(const QString& why);
    void fillBatches(const QList<mending::QuarantineBatch>& batches);
    bool refuseWhileGameRuns();
    void showSkipped(const QString& what, const mending::MoveReport& report);
    QList<QByteArray> filesToMove(bool* chosen) const;
    CompareSource culpritSource() const;
    void updateButtons();
    static void enable(std::initializer_list<QObject*> controls, bool enabled);
    void updateMoveButtons(bool idle, bool haveChanges);
    void updateCounts();
    void showError(const QString& text);
    int chosenSnapshot() const;

    mending::SnapshotStore m_store;
    QList<mending::GameFolder> m_games;
    QByteArray m_folder;
    ChangesHeading m_heading;

    int m_generation = 0; // the game whose running blocks moves (0: any)
    CompareSource m_compared; // what the changes shown were found against
    CompareSource m_comparing; // the comparison under way
    bool m_sessionRunning = false;
    std::unique_ptr<mending::BisectStore> m_sessions; // read here; the work opens its own
    FolderState m_state; // as last read
    // The ended 50/50 whose verdict the player closed, so that a refresh does not bring it back.
    QList<mending::BisectEvent> m_closedVerdict;

    std::shared_ptr<WorkWatch> m_watch;
    Work m_workKind = Work::Scan;
    QFutureWatcher<WorkResult> m_working;
    QTimer m_progressTimer;
    QElapsedTimer m_workClock;
    QFileSystemWatcher* m_folderWatch = nullptr;
    QTimer m_refreshTimer; // gathers a burst of changes into one refresh
    bool m_refreshAfterWork = false;
    QString m_workText;

    ChangesModel* m_changes = nullptr;
    ChangesFilter* m_shown = nullptr;

    QComboBox* cboFolder = nullptr;
    QPushButton* cmdOtherFolder = nullptr;
    QTreeWidget* lstSnapshots = nullptr;
    QLineEdit* txtLabel = nullptr;
    QPushButton* cmdRemember = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdWhatChanged = nullptr;
    QPushButton* cmdInside = nullptr;
    QPushButton* cmdFolderList = nullptr;
    QLabel* lblSince = nullptr;
    QLineEdit* txtFilter = nullptr;
    QComboBox* cboKind = nullptr;
    QLabel* lblCounts = nullptr;
    QTreeView* grdChanges = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdMoveOut = nullptr;
    QPushButton* cmdPutBack = nullptr;
    QPushButton* cmdCulprit = nullptr;
    QComboBox* cboBatch = nullptr;
    QLabel* lblQuarantine = nullptr;
    FiftyFiftyPanel* pnlFiftyFifty = nullptr;
    QSplitter* m_splitter = nullptr;
    QWidget* m_snapshots = nullptr;
    QLabel* lblStatus = nullptr;
    QProgressBar* prgWork = nullptr;
    QPushButton* cmdCancel = nullptr;

    QAction* mnuOtherFolder = nullptr;
    QAction* mnuRemember = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* mnuWhatChanged = nullptr;
    QAction* mnuFolderList = nullptr;
    QAction* mnuExport = nullptr;
    QAction* mnuPrint = nullptr;
    QAction* mnuQuit = nullptr;
    QAction* mnuFindFilter = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
};
