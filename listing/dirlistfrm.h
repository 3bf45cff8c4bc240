// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QString>

class CommonDialog;
class DirListBox;
class DriveListBox;
class FileListBox;
class Label;
class ListBox;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class TextArea;

// Brenvale's window. The user picks a drive (Drive1) and opens a folder (Dir1); every folder
// change empties the window and shows the path in Label1. Get Folder gathers the folder's plain
// files into the sorted lstAll; the transfer buttons move names to lstSelected, whose order Up and
// Down change; List Folder writes lstSelected into dirCntTxt and empties it; Save Folder and Print
// Folder take dirCntTxt as it stands.
class DirListFrm : public QMainWindow
{
    Q_OBJECT
public:
    explicit DirListFrm(QWidget* parent = nullptr);

    // The folder that Get Folder last gathered, ending in a separator.
    const QString& folderPath() const { return FolderPath; }

    // Places the shown window so that its client area starts where the design puts it.
    void moveToDesignPosition();

private:
    void createControls();
    void createMenus();
    void wireEvents();
    void setTabOrder();

    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void Dir1_Click();
    void File1_Click();
    void GetDirCmd_Click();
    void cmdRightOne_Click();
    void cmdRightAll_Click();
    void cmdLeftOne_Click();
    void cmdLeftAll_Click();
    void cmdUp_Click();
    void cmdDown_Click();
    void lstAll_DblClick();
    void lstSelected_DblClick();
    void listDirCmd_Click();
    void SavDir_Click();
    void printDirCmd_Click();
    void mnuCntnts_Click();
    void mnuAbtt_Click();
    void mnuExit_Click();

    QString FolderPath;

    QWidget* client = nullptr;
    CommonDialog* Dlog1 = nullptr;
    QPushButton* SavDir = nullptr;
    FileListBox* File1 = nullptr;
    DirListBox* Dir1 = nullptr;
    DriveListBox* Drive1 = nullptr;
    QPushButton* printDirCmd = nullptr;
    QPushButton* listDirCmd = nullptr;
    TextArea* dirCntTxt = nullptr;
    QPushButton* GetDirCmd = nullptr;
    QPushButton* cmdDown = nullptr;
    QPushButton* cmdUp = nullptr;
    QPushButton* cmdLeftAll = nullptr;
    QPushButton* cmdLeftOne = nullptr;
    QPushButton* cmdRightAll = nullptr;
    QPushButton* cmdRightOne = nullptr;
    ListBox* lstSelected = nullptr;
    ListBox* lstAll = nullptr;
    Label* Label5 = nullptr;
    QLabel* Image1 = nullptr;
    Label* Label4 = nullptr;
    Label* Label3 = nullptr;
    Label* Label2 = nullptr;
    Label* lblPath = nullptr;
    Label* Label1 = nullptr;
    Label* lblCount = nullptr;
    Label* lblSelected = nullptr;
    Label* lblAll = nullptr;

    QMenu* mnuFil = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuHlp = nullptr;
    QAction* mnuCntnts = nullptr;
    QAction* mnuAbtt = nullptr;
};
