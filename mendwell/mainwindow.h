#pragma once

#include "changesmodel.h"
#include "gamefolders.h"
#include "scan.h"
#include "snapshot.h"

#include <QFutureWatcher>
#include <QMainWindow>
#include <QTimer>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;
class QTreeWidget;

// What a piece of work off the window's thread hands back.
struct WorkOutcome
{
    enum What { TakeSnapshot, Compare } what = TakeSnapshot;
    bool cancelled = false;
    QString error; // the reason, when it failed
    int snapshotId = 0;
    qsizetype files = 0;
    QList<ChangeRow> rows;
    ChangesHeading heading;
    QList<mending::ScanProblem> problems; // folders that could not be read
};

// Mendwell's window. The game folder picked in cboFolder (or with Other folder) fills lstSnapshots
// with the snapshots of that folder. Remember takes a new one, labelled with txtLabel; What changed
// compares the folder as it is now with the chosen snapshot, and the folder-list button with a list
// Brenvale saved. Both scans run on another thread while prgWork counts files and cmdCancel can stop
// them; their result fills grdChanges, which txtFilter and cboKind narrow and Export and Print take
// as shown. The three repair buttons wait for the next version.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The game folder the window works on (canonical, raw bytes); empty before one is picked.
    const QByteArray& folder() const { return m_folder; }
    bool isWorking() const { return m_working.isRunning(); }

    // Picks a folder as Other folder does; false (with the reason shown) when it is no folder.
    bool openFolder(const QString& path);

signals:
    // After a scan, a snapshot or a comparison has ended, whether done, cancelled or failed.
    void workEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
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
    void cmdFolderList_Click();
    void txtFilter_Change();
    void cboKind_Change();
    void cmdExport_Click();
    void cmdPrint_Click();
    void cmdCancel_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    void work_Progress();
    void work_Finished();

    void fillSnapshots(int select = 0);
    void startWork(const QString& what, qint64 expectedFiles, std::function<WorkOutcome()> work);
    void updateButtons();
    void updateCounts();
    void showError(const QString& text);
    int chosenSnapshot() const;

    mending::SnapshotStore m_store;
    QList<mending::GameFolder> m_games;
    QByteArray m_folder;
    ChangesHeading m_heading;

    std::shared_ptr<mending::ScanWatch> m_watch;
    QFutureWatcher<WorkOutcome> m_working;
    QTimer m_progressTimer;
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
