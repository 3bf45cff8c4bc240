// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QTest>

using namespace Qt::StringLiterals;

// The design tables of both windows, in twips, as the window tests and the layout test check them.
// A width of -1 marks a label sized to fit its caption: only its place is fixed.
struct ControlRow
{
    const char* name;
    QRect twips;
    QString caption;
    QString tip;
};

inline const QList<ControlRow>& listingControls()
{
    static const QList<ControlRow> rows {
        { "SavDir", { 7560, 6840, 1215, 375 }, u"&Save  Folder"_s, u"Saves the listing of files"_s },
        { "File1", { 360, 4440, 2895, 1260 }, {}, {} },
        { "Dir1", { 360, 2160, 2895, 1890 }, {}, {} },
        { "Drive1", { 360, 1320, 2175, 315 }, {}, {} },
        { "printDirCmd", { 9120, 6840, 1215, 375 }, u"&Print  Folder"_s, u"Prints the listing of files"_s },
        { "listDirCmd", { 5760, 6840, 1215, 375 }, u"&List Folder"_s,
            u"Lists files contained in this folder"_s },
        { "dirCntTxt", { 3720, 3120, 7095, 3495 }, {}, {} },
        { "GetDirCmd", { 4200, 6840, 1215, 375 }, u"&Get Folder"_s,
            u"Gets list of files to the all files box"_s },
        { "cmdDown", { 10920, 2160, 435, 435 }, {}, u"Changes the order of the selected file down"_s },
        { "cmdUp", { 10920, 1560, 435, 435 }, {}, u"Changes the order of the selected file up"_s },
        { "cmdLeftAll", { 6960, 2400, 576, 336 }, u"<<"_s, u"Transfers all  files to all files box"_s },
        { "cmdLeftOne", { 6960, 2040, 576, 336 }, u"<"_s, u"Transfers one  file to All  files box"_s },
        { "cmdRightAll", { 6960, 1680, 576, 336 }, u">>"_s, u"Transfers all  files to Selected files box"_s },
        { "cmdRightOne", { 6960, 1320, 576, 336 }, u">"_s, u"Transfers one  file to Selected files box"_s },
        { "lstSelected", { 7800, 1320, 2940, 1425 }, {}, {} },
        { "lstAll", { 3720, 1320, 2940, 1425 }, {}, {} },
        { "Label5", { 6360, 2880, 1935, 255 }, u"Listing of files in this folder "_s,
            u"List of files that will be saved or print"_s },
        { "Image1", { 360, 360, 480, 480 }, {}, {} },
        { "Label4", { 360, 4200, 375, 255 }, u"Files"_s, u"No Action"_s },
        { "Label3", { 360, 1920, 735, 255 }, u"Folder"_s, u"Selects the folder"_s },
        { "Label2", { 360, 1080, 615, 255 }, u"Drive"_s, u"Selects the drive"_s },
        { "lblPath", { 2640, 240, 1095, 255 }, u"Directory Path"_s, u"Displays the directory path"_s },
        { "Label1", { 2640, 600, 8535, 255 }, {}, {} },
        { "lblCount", { 1080, 6120, 1215, 255 }, {}, {} },
        { "lblSelected", { 8760, 1080, -1, 195 }, u"Selected Files"_s, u"List of selected files"_s },
        { "lblAll", { 4800, 1080, -1, 195 }, u"All Files"_s, u"List of all files"_s },
    };
    return rows;
}

inline const QList<ControlRow>& comparisonControls()
{
    static const QList<ControlRow> rows {
        { "tNewDir", { 6000, 840, 2535, 285 }, {}, {} },
        { "tOldDir", { 2880, 840, 2535, 285 }, {}, {} },
        { "NewFiletxt", { 2880, 2040, 5655, 4335 }, {}, {} },
        { "Command1", { 5160, 7080, 1215, 495 }, u"&Start"_s, u"Starts the search, lists the files added"_s },
        { "Image1", { 240, 600, 480, 480 }, {}, {} },
        { "Label2", { 9360, 3240, 855, 255 }, {}, {} },
        { "Label5", { 9240, 4560, 1455, 255 }, u"Number of new files"_s, {} },
        { "Label4", { 9120, 3000, 1455, 255 }, u"Total number of files"_s, {} },
        { "Label3", { 9480, 4800, 855, 255 }, {}, {} },
        { "lblNewDir", { 6000, 600, 1815, 255 }, u"Enter New Folder Name"_s,
            u"Name of folder created after"_s },
        { "lblOldDir", { 2880, 600, 1815, 255 }, u"Enter Old Folder Name"_s,
            u"Name of folder created before"_s },
        { "Label1", { 3960, 1800, 3135, 255 }, u"New Files  Found in the New Folder"_s,
            u"New files added to folder"_s },
        { "LblInfo", { 240, 2760, 2175, 3015 }, {}, {} },
    };
    return rows;
}

// Adds one data row per control, with the columns name, twipsRect, caption and tip.
inline void addControlRows(const QList<ControlRow>& rows)
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twipsRect");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tip");
    for (const ControlRow& row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << row.twips << row.caption << row.tip;
}
