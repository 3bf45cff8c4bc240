// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "folders.h"

#include <QComboBox>
#include <QListView>
#include <QListWidget>
#include <QString>

class QStringListModel;

// The drive list: one entry per drive, showing its root. Change is raised when the user picks a
// drive other than the one shown; the pick stays shown even when that drive turns out not ready.
class DriveListBox : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveListBox(QWidget* parent);

    QString Drive() const { return currentText(); }
    void setDrive(const QString& root);
    void showPopup() override;

signals:
    void Change();

private:
    void picked(int index);
    QStringList allItems() const;
    int m_shown = -1;
};

// The folder tree: the open folder's ancestors from the root down, then its subfolders (hidden
// ones last, dimmer). A folder that cannot be read is not opened: the tree stays as it was.
// Double-click or Enter opens an entry (Path changes and Change is raised); a single click only
// selects it (Click is raised).
class DirListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit DirListBox(QWidget* parent);

    QString Path() const { return m_path; }
    // Opens a folder. A drive's root opens the folder last opened on that drive, and fails with
    // error 68 when the drive is not ready; a folder that does not exist fails with error 76.
    void setPath(const QString& path);

signals:
    void Change();
    void Click();

private:
    void open(const QString& folder);
    void fill(Subfolders subfolders);
    void refresh();
    void entryActivated(QListWidgetItem* item);

    QString m_path;
};

// The file list: the plain files of its folder, in name order.
class FileListBox : public QListView
{
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent);

    QString Path() const { return m_path; }
    void setPath(const QString& path);
    QStringList files() const;

signals:
    void Click();

private:
    QStringListModel* m_model;
    QString m_path;
};
