// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

class Label;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class TextArea;

// Quorrel's window. The user types an old and a new list name into tOldDir and tNewDir; Start
// (Command1) reads both lists and writes the names the old one lacks into NewFiletxt, the number of
// names of the new list into Label2 and the number of new ones into Label3. File > Print prints
// NewFiletxt under a heading naming tNewDir.
class CheckFileFrm : public QMainWindow
{
    Q_OBJECT
public:
    explicit CheckFileFrm(QWidget* parent = nullptr);

private:
    void createControls();
    void createMenus();
    void wireEvents();
    void setTabOrder();

    void Form_Load();
    void Command1_Click();
    void mnuPrgInfo_Click();
    void mnuPrntfldr_Click();
    void mnuExit_Click();
    void mnuCntnts_Click();
    void mnuAbtt_Click();
    void PrintNewFiles();

    QWidget* client = nullptr;
    QLineEdit* tNewDir = nullptr;
    QLineEdit* tOldDir = nullptr;
    TextArea* NewFiletxt = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* Image1 = nullptr;
    Label* Label2 = nullptr;
    Label* Label5 = nullptr;
    Label* Label4 = nullptr;
    Label* Label3 = nullptr;
    Label* lblNewDir = nullptr;
    Label* lblOldDir = nullptr;
    Label* Label1 = nullptr;
    Label* LblInfo = nullptr;

    QMenu* mnuInfo = nullptr;
    QAction* mnuPrgInfo = nullptr;
    QAction* mnuSeparOne = nullptr;
    QAction* mnuPrntfldr = nullptr;
    QAction* mnuSeparTwo = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuCntnts = nullptr;
    QAction* mnuAbtt = nullptr;
};
