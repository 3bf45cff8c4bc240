// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesystemboxes.h"

#include "drives.h"
#include "folders.h"
#include "handler.h"
#include "names.h"
#include "runerror.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QStyle>

using namespace Qt::StringLiterals;

DriveListBox::DriveListBox(QWidget* parent)
    : QComboBox(parent)
{
    addItems(Drives::roots());
    setDrive(Drives::driveOf(QDir::toNativeSeparators(QDir::currentPath())));
    connect(this, &QComboBox::activated, this, &DriveListBox::picked);
}

void DriveListBox::showPopup()
{
    // Sticks are plugged in and pulled out while the program runs: list the drives as they are now.
    // The drive shown stays in the list until another is picked, even when it has gone.
    const QString shown = currentText();
    QStringList roots = Drives::roots();
    if (!shown.isEmpty() && !roots.contains(shown))
        roots.append(shown);
    if (roots != allItems()) {
        const QSignalBlocker quiet(this);
        clear();
        addItems(roots);
        setDrive(shown);
    }
    QComboBox::showPopup();
}

QStringList DriveListBox::allItems() const
{
    QStringList items;
    for (int i = 0; i < count(); ++i)
        items.append(itemText(i));
    return items;
}

void DriveListBox::setDrive(const QString& root)
{
    const int index = findText(root);
    if (index < 0)
        return;
    setCurrentIndex(index);
    m_shown = index;
}

void DriveListBox::picked(int index)
{
    if (index == m_shown)
        return;
    m_shown = index;
    emit Change();
}

DirListBox::DirListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemActivated, this, &DirListBox::entryActivated);
    connect(this, &QListWidget::itemClicked, this, &DirListBox::Click);
    runGuarded(parentWidget(), [this] { open(QDir::toNativeSeparators(QDir::currentPath())); });
}

void DirListBox::setPath(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (Drives::isDrive(native)) {
        if (!Drives::isReady(native))
            throw RunError(ErrorNumber::DeviceUnavailable, u"Device unavailable"_s);
        open(Drives::currentFolder(native));
        return;
    }
    open(native);
}

void DirListBox::open(const QString& folder)
{
    const QString opened = QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()));
    if (opened == m_path) {
        Drives::rememberFolder(opened);
        return;
    }
    // Read the folder before anything shows it: one that cannot be read leaves the tree as it was.
    const Subfolders subfolders = subfolderNames(opened);
    Drives::rememberFolder(opened);
    m_path = opened;
    fill(subfolders);
    emit Change();
}

void DirListBox::fill(Subfolders subfolders)
{
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    QStringList chain;
    for (QDir up(m_path);;) {
        chain.prepend(QDir::toNativeSeparators(up.absolutePath()));
        if (up.isRoot() || !up.cdUp())
            break;
    }
    int depth = 0;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? folder : QFileInfo(folder).fileName();
        auto* entry = new QListWidgetItem(openIcon, QString(depth * 2, u' ') + name, this);
        entry->setData(Qt::UserRole, folder);
        ++depth;
    }
    setCurrentRow(count() - 1);

    // Hidden folders come last and dimmer: rarely wanted, but Wine and Proton keep games under them.
    const QString indent(depth * 2, u' ');
    const QBrush dim = palette().brush(QPalette::Disabled, QPalette::Text);
    sortNames(subfolders.shown);
    sortNames(subfolders.hidden);
    for (const QStringList* names : { &subfolders.shown, &subfolders.hidden }) {
        for (const QString& name : *names) {
            auto* entry = new QListWidgetItem(closedIcon, indent + name, this);
            entry->setData(Qt::UserRole, QDir::toNativeSeparators(QDir(m_path).filePath(name)));
            if (names == &subfolders.hidden)
                entry->setForeground(dim);
        }
    }
}

void DirListBox::entryActivated(QListWidgetItem* item)
{
    const QString folder = item->data(Qt::UserRole).toString();
    runGuarded(window(), [this, folder] {
        try {
            open(folder);
        } catch (const RunError&) {
            refresh(); // the entry may have gone: show the open folder as it is now
            throw;
        }
    });
}

void DirListBox::refresh()
{
    try {
        fill(subfolderNames(m_path));
    } catch (const RunError&) {
        // The open folder itself cannot be read now; its entries stay as they were.
    }
}

FileListBox::FileListBox(QWidget* parent)
    : QListView(parent)
    , m_model(new QStringListModel(this))
{
    setModel(m_model);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QAbstractItemView::clicked, this, &FileListBox::Click);
    runGuarded(parentWidget(), [this] { setPath(QDir::toNativeSeparators(QDir::currentPath())); });
}

void FileListBox::setPath(const QString& path)
{
    QStringList names = plainFileNames(withTrailingSeparator(path));
    sortNames(names);
    m_path = path;
    m_model->setStringList(names);
}

QStringList FileListBox::files() const
{
    return m_model->stringList();
}
