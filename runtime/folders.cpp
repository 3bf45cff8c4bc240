#include "folders.h"

#include "runerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>

using namespace Qt::StringLiterals;

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setCurrentFolder(const QString& folder)
{
    if (!QDir::setCurrent(folder))
        throw RunError(ErrorNumber::PathNotFound, u"The folder %1 cannot be made the current folder."_s.arg(folder));
}

QString withTrailingSeparator(const QString& folder)
{
    const QChar separator = QDir::separator();
    if (folder.endsWith(separator))
        return folder;
    return folder + separator;
}

bool isPlainFile(const QFileInfo& info)
{
    return info.isFile() && !info.isHidden();
}

namespace {

// Why a folder cannot be listed, in words for the user; empty when it can be.
QString unreadableReason(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return u"it does not exist (it may have been moved, deleted or unmounted)"_s;
    if (!info.isDir())
        return u"it is not a folder"_s;
    if (!info.isReadable() || !info.isExecutable())
        return u"permission denied"_s;
    return {};
}

}

QStringList plainFileNames(const QString& pattern)
{
    if (pattern.isEmpty())
        return {};
    const qsizetype cut = QDir::fromNativeSeparators(pattern).lastIndexOf(u'/') + 1;
    const QString folder = cut > 0 ? pattern.left(cut) : u"."_s;
    const QString namePattern = pattern.mid(cut);

    const QString reason = unreadableReason(folder);
    if (!reason.isEmpty())
        throw RunError(ErrorNumber::PathNotFound, u"The folder %1 cannot be read: %2."_s.arg(pattern.left(cut), reason));

    // QDir::Files without System and Hidden yields regular files and links to them only.
    const QStringList filters = namePattern.isEmpty() ? QStringList() : QStringList { namePattern };
    QDirIterator it(folder, filters, QDir::Files | QDir::NoDotAndDotDot);
    QStringList names;
    while (it.hasNext()) {
        it.next();
        names.append(it.fileName());
    }
    return names;
}

QString findFileIgnoringCase(const QString& path)
{
    const QFileInfo asSpelt(path);
    if (asSpelt.exists())
        return path;

    const QDir folder = asSpelt.absoluteDir();
    if (!folder.exists())
        return {};
    const QString wanted = asSpelt.fileName();
    QString found;
    QDirIterator it(folder.absolutePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.compare(wanted, Qt::CaseInsensitive) == 0 && (found.isEmpty() || name < found))
            found = name;
    }
    if (found.isEmpty())
        return {};
    const qsizetype cut = QDir::fromNativeSeparators(path).lastIndexOf(u'/') + 1;
    return path.left(cut) + found;
}
