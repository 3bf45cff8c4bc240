#include "filesystemboxes.h"

#include "drives.h"
#include "folders.h"
#include "handler.h"
#include "names.h"
#include "runerror.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
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
    if (Drives::roots().contains(native)) {
        if (!Drives::isReady(native))
            throw RunError(ErrorNumber::DeviceUnavailable, u"Device unavailable"_s);
        open(Drives::currentFolder(native));
        return;
    }
    open(native);
}

void DirListBox::open(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        throw RunError(
            ErrorNumber::PathNotFound, u"The folder %1 cannot be opened: it does not exist."_s.arg(folder));
    const QString opened = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
    Drives::rememberFolder(opened);
    if (opened == m_path)
        return;
    m_path = opened;
    fill();
    emit Change();
}

void DirListBox::fill()
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

    QStringList subfolders = QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    sortNames(subfolders);
    for (const QString& name : subfolders) {
        auto* entry = new QListWidgetItem(closedIcon, QString(depth * 2, u' ') + name, this);
        entry->setData(Qt::UserRole, QDir::toNativeSeparators(QDir(m_path).filePath(name)));
    }
}

void DirListBox::entryActivated(QListWidgetItem* item)
{
    const QString folder = item->data(Qt::UserRole).toString();
    runGuarded(window(), [this, folder] {
        try {
            open(folder);
        } catch (const RunError&) {
            fill(); // the entry has gone: show the folder as it is now
            throw;
        }
    });
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
