// SPDX-License-Identifier: GPL-3.0-or-later
#include "dirlistfrm.h"
#include "identity.h"

#include "pictures.h"

#include "commandbutton.h"
#include "commondialog.h"
#include "dates.h"
#include "filesystemboxes.h"
#include "folders.h"
#include "fonts.h"
#include "handler.h"
#include "label.h"
#include "listbox.h"
#include "listfile.h"
#include "listsfolder.h"
#include "messagebox.h"
#include "names.h"
#include "printer.h"
#include "runerror.h"
#include "textarea.h"
#include "twips.h"

#include <QCoreApplication>
#include <QDate>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

QPushButton* button(
    QWidget* client, const QString& name, const QString& caption, const QRect& twipsRect, const QString& tip)
{
    auto* control = place(new CommandButton(caption, client), name, twipsRect.x(), twipsRect.y(),
        twipsRect.width(), twipsRect.height());
    control->setToolTip(tip);
    return control;
}

Label* label(QWidget* client, const QString& name, const QString& caption, const QRect& twipsRect,
    const QString& tip = {})
{
    auto* control = place(new Label(caption, client), name, twipsRect.x(), twipsRect.y(), twipsRect.width(),
        twipsRect.height());
    control->setToolTip(tip);
    return control;
}

}

DirListFrm::DirListFrm(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(u"DirListFrm"_s);
    setWindowTitle(u"Brenvale"_s);
    setWindowIcon(QIcon(QPixmap::fromImage(folderPicture())));
    setFont(designFont(8.25, false));
    createControls();
    createMenus();
    wireEvents();
    setTabOrder();
    Form_Load();
}

void DirListFrm::createControls()
{
    client = new QWidget(this);
    client->setObjectName(u"client"_s);
    client->setFixedSize(twips(11490), twips(8250));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Dlog1 = new CommonDialog(this);
    Dlog1->setObjectName(u"Dlog1"_s);
    SavDir = button(
        client, u"SavDir"_s, u"&Save  Folder"_s, { 7560, 6840, 1215, 375 }, u"Saves the listing of files"_s);
    File1 = place(new FileListBox(client), u"File1"_s, 360, 4440, 2895, 1260);
    Dir1 = place(new DirListBox(client), u"Dir1"_s, 360, 2160, 2895, 1890);
    Drive1 = place(new DriveListBox(client), u"Drive1"_s, 360, 1320, 2175, 315);
    printDirCmd = button(client, u"printDirCmd"_s, u"&Print  Folder"_s, { 9120, 6840, 1215, 375 },
        u"Prints the listing of files"_s);
    listDirCmd = button(client, u"listDirCmd"_s, u"&List Folder"_s, { 5760, 6840, 1215, 375 },
        u"Lists files contained in this folder"_s);
    listDirCmd->setEnabled(false);
    dirCntTxt = place(new TextArea(true, client), u"dirCntTxt"_s, 3720, 3120, 7095, 3495);
    dirCntTxt->setFont(designFont(9.75, false));
    GetDirCmd = button(client, u"GetDirCmd"_s, u"&Get Folder"_s, { 4200, 6840, 1215, 375 },
        u"Gets list of files to the all files box"_s);
    cmdDown = button(client, u"cmdDown"_s, {}, { 10920, 2160, 435, 435 },
        u"Changes the order of the selected file down"_s);
    cmdDown->setIcon(QIcon(QPixmap::fromImage(arrowPicture(false))));
    cmdUp = button(
        client, u"cmdUp"_s, {}, { 10920, 1560, 435, 435 }, u"Changes the order of the selected file up"_s);
    cmdUp->setIcon(QIcon(QPixmap::fromImage(arrowPicture(true))));
    cmdLeftAll = button(client, u"cmdLeftAll"_s, u"<<"_s, { 6960, 2400, 576, 336 },
        u"Transfers all  files to all files box"_s);
    cmdLeftOne = button(client, u"cmdLeftOne"_s, u"<"_s, { 6960, 2040, 576, 336 },
        u"Transfers one  file to All  files box"_s);
    cmdRightAll = button(client, u"cmdRightAll"_s, u">>"_s, { 6960, 1680, 576, 336 },
        u"Transfers all  files to Selected files box"_s);
    cmdRightOne = button(client, u"cmdRightOne"_s, u">"_s, { 6960, 1320, 576, 336 },
        u"Transfers one  file to Selected files box"_s);
    for (QPushButton* transfer : { cmdLeftAll, cmdLeftOne, cmdRightAll, cmdRightOne })
        transfer->setFont(designFont(9.75, true));
    lstSelected = place(new ListBox(false, client), u"lstSelected"_s, 7800, 1320, 2940, 1425);
    lstAll = place(new ListBox(true, client), u"lstAll"_s, 3720, 1320, 2940, 1425);

    Label5 = label(client, u"Label5"_s, u"Listing of files in this folder "_s, { 6360, 2880, 1935, 255 },
        u"List of files that will be saved or print"_s);
    Image1 = place(new QLabel(client), u"Image1"_s, 360, 360, 480, 480);
    Image1->setPixmap(QPixmap::fromImage(folderPicture()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4 = label(client, u"Label4"_s, u"Files"_s, { 360, 4200, 375, 255 }, u"No Action"_s);
    Label3 = label(client, u"Label3"_s, u"Folder"_s, { 360, 1920, 735, 255 }, u"Selects the folder"_s);
    Label2 = label(client, u"Label2"_s, u"Drive"_s, { 360, 1080, 615, 255 }, u"Selects the drive"_s);
    lblPath = label(client, u"lblPath"_s, u"Directory Path"_s, { 2640, 240, 1095, 255 },
        u"Displays the directory path"_s);
    Label1 = label(client, u"Label1"_s, {}, { 2640, 600, 8535, 255 });
    Label1->setBoxed(true);
    Label1->setWordWrap(false);
    Label1->setColors(QColor(255, 255, 255), {});
    Label1->setFont(designFont(8.25, true));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblCount = label(client, u"lblCount"_s, {}, { 1080, 6120, 1215, 255 });
    lblCount->setBoxed(true);
    lblCount->setAlignment(Qt::AlignCenter);
    lblSelected = label(
        client, u"lblSelected"_s, u"Selected Files"_s, { 8760, 1080, 990, 195 }, u"List of selected files"_s);
    lblAll = label(client, u"lblAll"_s, u"All Files"_s, { 4800, 1080, 525, 195 }, u"List of all files"_s);

    lblSelected->fitToCaption();
    lblAll->fitToCaption();

    // Labels lie beneath the controls they overlap, as lightweight captions do.
    for (QWidget* caption : std::initializer_list<QWidget*> {
             Label5, Image1, Label4, Label3, Label2, lblPath, Label1, lblCount, lblSelected, lblAll })
        caption->lower();
}

void DirListFrm::createMenus()
{
    mnuFil = menuBar()->addMenu(u"&File"_s);
    mnuFil->setObjectName(u"mnuFil"_s);
    mnuExit = mnuFil->addAction(u"E&xit"_s);
    mnuExit->setObjectName(u"mnuExit"_s);
    mnuHlp = menuBar()->addMenu(u"H&elp"_s);
    mnuHlp->setObjectName(u"mnuHlp"_s);
    mnuCntnts = mnuHlp->addAction(u"&Contents"_s);
    mnuCntnts->setObjectName(u"mnuCntnts"_s);
    mnuAbtt = mnuHlp->addAction(u"A&bout"_s);
    mnuAbtt->setObjectName(u"mnuAbtt"_s);
}

void DirListFrm::wireEvents()
{
    connectHandler(Drive1, &DriveListBox::Change, this, &DirListFrm::Drive1_Change);
    connectHandler(Dir1, &DirListBox::Change, this, &DirListFrm::Dir1_Change);
    connectHandler(Dir1, &DirListBox::Click, this, &DirListFrm::Dir1_Click);
    connectHandler(File1, &FileListBox::Click, this, &DirListFrm::File1_Click);
    connectHandler(GetDirCmd, &QPushButton::clicked, this, &DirListFrm::GetDirCmd_Click);
    connectHandler(cmdRightOne, &QPushButton::clicked, this, &DirListFrm::cmdRightOne_Click);
    connectHandler(cmdRightAll, &QPushButton::clicked, this, &DirListFrm::cmdRightAll_Click);
    connectHandler(cmdLeftOne, &QPushButton::clicked, this, &DirListFrm::cmdLeftOne_Click);
    connectHandler(cmdLeftAll, &QPushButton::clicked, this, &DirListFrm::cmdLeftAll_Click);
    connectHandler(cmdUp, &QPushButton::clicked, this, &DirListFrm::cmdUp_Click);
    connectHandler(cmdDown, &QPushButton::clicked, this, &DirListFrm::cmdDown_Click);
    connectHandler(lstAll, &ListBox::DblClick, this, &DirListFrm::lstAll_DblClick);
    connectHandler(lstSelected, &ListBox::DblClick, this, &DirListFrm::lstSelected_DblClick);
    connectHandler(listDirCmd, &QPushButton::clicked, this, &DirListFrm::listDirCmd_Click);
    connectHandler(SavDir, &QPushButton::clicked, this, &DirListFrm::SavDir_Click);
    connectHandler(printDirCmd, &QPushButton::clicked, this, &DirListFrm::printDirCmd_Click);
    connectHandler(mnuCntnts, &QAction::triggered, this, &DirListFrm::mnuCntnts_Click);
    connectHandler(mnuAbtt, &QAction::triggered, this, &DirListFrm::mnuAbtt_Click);
    connectHandler(mnuExit, &QAction::triggered, this, &DirListFrm::mnuExit_Click);
}

void DirListFrm::setTabOrder()
{
    const QList<QWidget*> order { lstAll, lstSelected, cmdRightOne, cmdRightAll, cmdLeftOne, cmdLeftAll,
        cmdUp, cmdDown, GetDirCmd, dirCntTxt, listDirCmd, printDirCmd, Drive1, Dir1, File1, SavDir };
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order.at(i), order.at(i + 1));
    for (QWidget* control : order)
        control->setFocusPolicy(Qt::StrongFocus);
    lstAll->setFocus();
}

void DirListFrm::moveToDesignPosition()
{
    // move() places the frame; the design places the client area, below the menu bar.
    const QPoint frameToClient
        = (geometry().topLeft() - frameGeometry().topLeft()) + centralWidget()->mapTo(this, QPoint(0, 0));
    move(QPoint(twips(1065), twips(1950)) - frameToClient);
}

void DirListFrm::Form_Load() { }

void DirListFrm::Drive1_Change()
{
    try {
        Dir1->setPath(Drive1->Drive());
    } catch (const RunError& error) {
        if (error.number() == ErrorNumber::DeviceUnavailable)
            msgBox(this, u"Drive not ready"_s, MsgButtons::OkOnly);
    }
}

void DirListFrm::Dir1_Change()
{
    File1->setPath(Dir1->Path());
    Label1->setCaption(withTrailingSeparator(File1->Path()));
    lstAll->Clear();
    lstSelected->Clear();
    dirCntTxt->setText({});
    lblCount->setCaption({});
    GetDirCmd->setEnabled(true);
    listDirCmd->setEnabled(false);
}

void DirListFrm::Dir1_Click()
{
    Label1->setCaption(withTrailingSeparator(Dir1->Path()));
}

void DirListFrm::File1_Click() { }

void DirListFrm::GetDirCmd_Click()
{
    const QString folder = Label1->Caption();
    if (folder.isEmpty()) {
        msgBox(this,
            u"No folder is open yet. Double-click a folder in the Folder tree (or select it and press "
            "Enter), then press Get Folder."_s,
            MsgButtons::Information);
        return;
    }

    qsizetype leftOut = 0;
    {
        const BusyCursor busy;
        QStringList names = plainFileNames(folder);
        leftOut = removeNamesWithLineBreaks(names);
        FolderPath = folder;
        lstAll->AddItems(names);
        GetDirCmd->setEnabled(false);
    }
    if (leftOut > 0) {
        msgBox(this,
            u"%1 file name(s) in this folder hold a line break and cannot be recorded in a folder list; "
            "they were left out."_s.arg(leftOut),
            MsgButtons::Information);
    }
}

void DirListFrm::cmdRightOne_Click()
{
    const int n = lstAll->ListIndex();
    if (n < 0)
        return; // no current item: there is no name to move
    lstSelected->AddItem(lstAll->Text());
    lstAll->RemoveItem(n);
    if (lstAll->ListCount() > 0)
        lstAll->setListIndex(n > lstAll->ListCount() - 1 ? n - 1 : n);
    lstSelected->setListIndex(lstSelected->NewIndex());
    listDirCmd->setEnabled(true);
}

void DirListFrm::cmdRightAll_Click()
{
    lstSelected->AddItems(lstAll->items());
    lstAll->Clear();
    if (lstSelected->ListCount() > 0)
        lstSelected->setListIndex(0);
    listDirCmd->setEnabled(true);
}

void DirListFrm::cmdLeftOne_Click()
{
    const int n = lstSelected->ListIndex();
    if (n < 0)
        return;
    lstAll->AddItem(lstSelected->Text());
    lstSelected->RemoveItem(n);
    lstAll->setListIndex(lstAll->NewIndex());
    if (lstSelected->ListCount() > 0)
        lstSelected->setListIndex(n > lstSelected->ListCount() - 1 ? n - 1 : n);
}

void DirListFrm::cmdLeftAll_Click()
{
    if (lstSelected->ListCount() == 0)
        return;
    lstAll->AddItems(lstSelected->items());
    lstSelected->Clear();
    lstAll->setListIndex(lstAll->NewIndex());
}

void DirListFrm::cmdUp_Click()
{
    const int n = lstSelected->ListIndex();
    if (n <= 0)
        return;
    lstSelected->AddItem(lstSelected->Text(), n - 1);
    lstSelected->RemoveItem(n + 1);
    lstSelected->setSelected(n - 1, true);
}

void DirListFrm::cmdDown_Click()
{
    const int n = lstSelected->ListIndex();
    if (n < 0 || n == lstSelected->ListCount() - 1)
        return;
    lstSelected->AddItem(lstSelected->Text(), n + 2);
    lstSelected->RemoveItem(n);
    lstSelected->setSelected(n + 1, true);
}

void DirListFrm::lstAll_DblClick()
{
    cmdRightOne_Click();
}

void DirListFrm::lstSelected_DblClick()
{
    cmdLeftOne_Click();
}

void DirListFrm::listDirCmd_Click()
{
    const BusyCursor busy;
    const QStringList names = lstSelected->items();
    dirCntTxt->setText(composeListing(names));
    lblCount->setCaption(QString::number(names.size()) + u" files"_s);
    listDirCmd->setEnabled(false);
    lstSelected->Clear();
}

void DirListFrm::SavDir_Click()
{
    Dlog1->setCancelError(true);
    Dlog1->setDefaultExt(u".TXT"_s);
    Dlog1->setFileName(u".TXT"_s);
    Dlog1->setFilter(u"Text Files (*.TXT)|*.TXT|All files (*.*)|*.*"_s);
    Dlog1->setInitDir(listsFolder());
    try {
        Dlog1->ShowSave();
    } catch (const RunError& error) {
        if (error.number() == ErrorNumber::Cancel)
            return;
        throw;
    }
    const QString path = Dlog1->FileName();
    saveListFile(path, dirCntTxt->Text());
    msgBox(this, u"Directory "_s + path + u" Saved"_s, MsgButtons::Information, u"Request Complete"_s);
}

void DirListFrm::printDirCmd_Click()
{
    Printer printer;
    printer.setFontName(u"Ms Sans Serif"_s);
    printer.setFontSize(10);
    printer.Print();
    printer.Print();
    printer.Print(u"Date created:-  "_s + shortDateText(QDate::currentDate()));
    printer.Print(u"Folder Name:-  "_s + FolderPath);
    printer.Print();
    printer.Print(dirCntTxt->Text());
    printer.EndDoc();
}

void DirListFrm::mnuCntnts_Click()
{
    msgBox(this,
        u"When your Sims game crash, it's not fun.\r\n"
        "Now there's help to get the game back up and running.\r\n"
        "Detailed help is provided in the enclosed readme file.\r\n"
        "For futher help e-mail me at " BRENVALE_EMAIL "\r\n"_s,
        MsgButtons::Information, u"Help for Brenvale 2.0"_s);
}

void DirListFrm::mnuAbtt_Click()
{
    msgBox(this, u"Brenvale, made by the Brenvale and Quorrel team\r\nFebruary 2005\r\n"_s,
        MsgButtons::Information, u"Brenvale 2.0"_s);
}

void DirListFrm::mnuExit_Click()
{
    close();
    QCoreApplication::quit();
}
