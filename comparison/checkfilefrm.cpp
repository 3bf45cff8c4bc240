// SPDX-License-Identifier: GPL-3.0-or-later
#include "checkfilefrm.h"
#include "identity.h"

#include "newfiles.h"
#include "pictures.h"

#include "commandbutton.h"
#include "dates.h"
#include "folders.h"
#include "fonts.h"
#include "handler.h"
#include "label.h"
#include "listfile.h"
#include "listsfolder.h"
#include "messagebox.h"
#include "printer.h"
#include "runerror.h"
#include "textarea.h"
#include "twips.h"

#include <QCoreApplication>
#include <QDate>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

QLineEdit* nameBox(QWidget* client, const QString& name, int left, int top)
{
    auto* box = place(new QLineEdit(client), name, left, top, 2535, 285);
    QPalette colours = box->palette();
    colours.setColor(QPalette::Base, QColor(255, 255, 255));
    colours.setColor(QPalette::Text, QColor(0, 0, 0));
    box->setPalette(colours);
    return box;
}

Label* countBox(QWidget* client, const QString& name, int left, int top, const QColor& background)
{
    auto* box = place(new Label({}, client), name, left, top, 855, 255);
    box->setBoxed(true);
    box->setColors(background, QColor(255, 255, 255));
    box->setFont(designFont(8.25, true));
    box->setAlignment(Qt::AlignCenter);
    return box;
}

Label* caption(QWidget* client, const QString& name, const QString& text, int left, int top, int width,
    const QString& tip = {})
{
    auto* label = place(new Label(text, client), name, left, top, width, 255);
    label->setToolTip(tip);
    return label;
}

// A list name as typed, found without regard to letter case; empty when there is no such plain file.
QString findList(const QString& typed)
{
    const QString found = findFileIgnoringCase(typed + u".txt"_s);
    if (found.isEmpty() || !isPlainFile(QFileInfo(found)))
        return {};
    return found;
}

}

CheckFileFrm::CheckFileFrm(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(u"CheckFileFrm"_s);
    setWindowTitle(u"Quorrel"_s);
    setWindowIcon(QIcon(QPixmap::fromImage(gridPicture())));
    setFont(designFont(8.25));
    createControls();
    createMenus();
    wireEvents();
    setTabOrder();
    runGuarded(this, [this] { Form_Load(); });
}

void CheckFileFrm::createControls()
{
    client = new QWidget(this);
    client->setObjectName(u"client"_s);
    client->setFixedSize(twips(11280), twips(8175));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    tNewDir = nameBox(client, u"tNewDir"_s, 6000, 840);
    tOldDir = nameBox(client, u"tOldDir"_s, 2880, 840);
    NewFiletxt = place(new TextArea(false, client), u"NewFiletxt"_s, 2880, 2040, 5655, 4335);
    Command1 = place(new CommandButton(u"&Start"_s, client), u"Command1"_s, 5160, 7080, 1215, 495);
    Command1->setToolTip(u"Starts the search, lists the files added"_s);
    Command1->setAutoDefault(false);
    Image1 = place(new QLabel(client), u"Image1"_s, 240, 600, 480, 480);
    Image1->setPixmap(QPixmap::fromImage(drawerPicture()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2 = countBox(client, u"Label2"_s, 9360, 3240, QColor(0, 192, 0));
    Label5 = caption(client, u"Label5"_s, u"Number of new files"_s, 9240, 4560, 1455);
    Label4 = caption(client, u"Label4"_s, u"Total number of files"_s, 9120, 3000, 1455);
    Label3 = countBox(client, u"Label3"_s, 9480, 4800, QColor(255, 0, 0));
    lblNewDir = caption(client, u"lblNewDir"_s, u"Enter New Folder Name"_s, 6000, 600, 1815,
        u"Name of folder created after"_s);
    lblOldDir = caption(client, u"lblOldDir"_s, u"Enter Old Folder Name"_s, 2880, 600, 1815,
        u"Name of folder created before"_s);
    Label1 = caption(client, u"Label1"_s, u"New Files  Found in the New Folder"_s, 3960, 1800, 3135,
        u"New files added to folder"_s);
    Label1->setFont(designFont(8.25, true));
    LblInfo = place(new Label({}, client), u"LblInfo"_s, 240, 2760, 2175, 3015);
    LblInfo->setWordWrap(true);

    for (QWidget* label : std::initializer_list<QWidget*> {
             Image1, Label2, Label5, Label4, Label3, lblNewDir, lblOldDir, Label1, LblInfo })
        label->lower();
}

void CheckFileFrm::createMenus()
{
    mnuInfo = menuBar()->addMenu(u"&File"_s);
    mnuInfo->setObjectName(u"mnuInfo"_s);
    mnuPrgInfo = mnuInfo->addAction(u"P&rogram Information"_s);
    mnuPrgInfo->setObjectName(u"mnuPrgInfo"_s);
    mnuSeparOne = mnuInfo->addSeparator();
    mnuSeparOne->setObjectName(u"mnuSeparOne"_s);
    mnuPrntfldr = mnuInfo->addAction(u"&Print"_s);
    mnuPrntfldr->setObjectName(u"mnuPrntfldr"_s);
    mnuPrntfldr->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    mnuPrntfldr->setShortcutContext(Qt::WindowShortcut);
    mnuSeparTwo = mnuInfo->addSeparator();
    mnuSeparTwo->setObjectName(u"mnuSeparTwo"_s);
    mnuExit = mnuInfo->addAction(u"E&xit"_s);
    mnuExit->setObjectName(u"mnuExit"_s);
    mnuHelp = menuBar()->addMenu(u"&Help"_s);
    mnuHelp->setObjectName(u"mnuHelp"_s);
    mnuCntnts = mnuHelp->addAction(u"&Contents"_s);
    mnuCntnts->setObjectName(u"mnuCntnts"_s);
    mnuAbtt = mnuHelp->addAction(u"A&bout"_s);
    mnuAbtt->setObjectName(u"mnuAbtt"_s);
    // The shortcut must work while the menu is closed, so the window itself carries the action too.
    addAction(mnuPrntfldr);
}

void CheckFileFrm::wireEvents()
{
    connectHandler(Command1, &QPushButton::clicked, this, &CheckFileFrm::Command1_Click);
    connectHandler(mnuPrgInfo, &QAction::triggered, this, &CheckFileFrm::mnuPrgInfo_Click);
    connectHandler(mnuPrntfldr, &QAction::triggered, this, &CheckFileFrm::mnuPrntfldr_Click);
    connectHandler(mnuExit, &QAction::triggered, this, &CheckFileFrm::mnuExit_Click);
    connectHandler(mnuCntnts, &QAction::triggered, this, &CheckFileFrm::mnuCntnts_Click);
    connectHandler(mnuAbtt, &QAction::triggered, this, &CheckFileFrm::mnuAbtt_Click);
}

void CheckFileFrm::setTabOrder()
{
    QWidget::setTabOrder(tOldDir, tNewDir);
    QWidget::setTabOrder(tNewDir, Command1);
    QWidget::setTabOrder(Command1, NewFiletxt);
    Command1->setFocusPolicy(Qt::StrongFocus);
    tOldDir->setFocus();
}

void CheckFileFrm::Form_Load()
{
    setCurrentFolder(listsFolder());
    LblInfo->setCaption(u"Welcome to the Quorrel Version 2.0\r\n"
                        "For Sims all around the World.\r\n"
                        "If your game crashes after downloading families houses && other stuff.\r\n"
                        "This tool will help you check for new files added to the Sims folders.\r\n"
                        "By removing these files your game will restore to a previous good working state.\r\n"
                        "Please read the instructions in the enclosed readme file."_s);
}

void CheckFileFrm::Command1_Click()
{
    const QString oldPath = findList(tOldDir->text());
    if (oldPath.isEmpty()) {
        msgBox(this, u"The file "_s + tOldDir->text() + u" does not exist."_s, MsgButtons::Information,
            u"Quorrel"_s);
        return;
    }
    const QString newPath = findList(tNewDir->text());
    if (newPath.isEmpty()) {
        msgBox(this, u"The file "_s + tNewDir->text() + u" does not exist."_s, MsgButtons::Information,
            u"Quorrel"_s);
        return;
    }

    const BusyCursor busy;
    const ListBytes oldList = readListBytes(oldPath);
    const ListBytes newList = readListBytes(newPath);
    const NewFiles found = findNewFiles(oldList, newList);
    NewFiletxt->setText(newFilesText(found));
    Label2->setCaption(QString::number(found.total));
    Label3->setCaption(QString::number(found.added.size()));
}

void CheckFileFrm::mnuPrgInfo_Click()
{
    msgBox(this,
        u"Before running this program please read the enclosed readme file.\r\n"
        "First you have to run the Brenvale.exe to make the folder lists\r\n"
        "text files. This program will search these file lists for new files added \r\n"
        "to the Sims Folders.\r\n"
        "Please read the enclosed readme file for instructions.\r\n"
        "No more crashes! Happy Siming!\r\n"_s,
        MsgButtons::Information, u"Quorrel Version 2.0"_s);
}

void CheckFileFrm::mnuPrntfldr_Click()
{
    PrintNewFiles();
}

void CheckFileFrm::mnuExit_Click()
{
    close();
    QCoreApplication::quit();
}

void CheckFileFrm::mnuCntnts_Click()
{
    msgBox(this,
        u"Are your Sims tired of crashing and exiting to Desktop?\r\n"
        "Or your computer locking up your Sims. Here is the solution\r\n"
        "to get those Sims up and running.\r\n"
        "Detailed help is provided in the enclosed readme file.\r\n"
        "This program works with Brenvale.\r\n"
        "For futher help e-mail me at " BRENVALE_EMAIL ".\r\n"_s,
        MsgButtons::Information, u"Help for Quorrel Version 2.0"_s);
}

void CheckFileFrm::mnuAbtt_Click()
{
    msgBox(this, u"Quorrel, made by the Brenvale and Quorrel team\r\nFebruary 2005\r\n"_s,
        MsgButtons::Information, u"Quorrel Version 2.0"_s);
}

void CheckFileFrm::PrintNewFiles()
{
    Printer printer;
    printer.setFontName(u"Ms Sans Serif"_s);
    printer.setFontSize(10);
    printer.Print();
    printer.Print();
    printer.Print();
    printer.Print(u"Date Created:-  "_s + shortDateText(QDate::currentDate()));
    printer.Print(u"New Files in this folder"_s);
    printer.Print(u"Folder Name:-  "_s + tNewDir->text());
    printer.Print();
    printer.Print(NewFiletxt->Text());
    printer.EndDoc();
}
