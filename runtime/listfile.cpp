#include "listfile.h"

#include "runerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

QString composeListing(const QStringList& names)
{
    qsizetype length = 2;
    for (const QString& name : names)
        length += name.size() + 2;
    QString text;
    text.reserve(length);
    for (const QString& name : names) {
        text.append(name);
        text.append(lineEnd);
    }
    text.append(lineEnd);
    return text;
}

QByteArray listFileBytes(const QString& text)
{
    QString line = text;
    line.append(QStringView(lineEnd));
    return line.toLocal8Bit();
}

namespace {

[[noreturn]] void saveFailed(
    const QString& path, const QString& reason, int number = ErrorNumber::PathFileAccess)
{
    throw RunError(number, u"The list could not be saved as %1: %2."_s.arg(path, reason));
}

int numberFor(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::OpenError:
    case QFileDevice::PermissionsError:
        return ErrorNumber::PermissionDenied;
    case QFileDevice::ResourceError:
        return ErrorNumber::DiskFull;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

// Devices such as /dev/null have no content to lose and cannot be renamed over: write them directly.
void writeDevice(const QString& path, const QString& devicePath, const QByteArray& bytes)
{
    QFile device(devicePath);
    if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        saveFailed(path, device.errorString(), numberFor(device.error()));
    if (device.write(bytes) != bytes.size())
        saveFailed(path, device.errorString(), numberFor(device.error()));
    device.close();
}

}

void saveListFile(const QString& path, const QString& text)
{
    const QByteArray bytes = listFileBytes(text);
    const QFileInfo target(path);
    if (target.isDir())
        saveFailed(path, u"a folder of that name exists"_s);
    if (!target.absoluteDir().exists())
        saveFailed(
            path, u"the folder %1 does not exist"_s.arg(target.absolutePath()), ErrorNumber::PathNotFound);
    const QFileInfo resolved(target.exists() ? target.canonicalFilePath() : path);
    if (resolved.exists() && !resolved.isFile()) {
        writeDevice(path, resolved.filePath(), bytes);
        return;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        saveFailed(path, file.errorString(), numberFor(file.error()));
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        const int number = numberFor(file.error());
        file.cancelWriting();
        saveFailed(path, reason, number);
    }
    if (!file.commit())
        saveFailed(path, file.errorString(), numberFor(file.error()));
}

QStringList parseListNames(const QByteArray& bytes)
{
    QStringList names;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    while (start < size) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = size;
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        if (stop > start)
            names.append(QString::fromLocal8Bit(bytes.constData() + start, stop - start));
        start = end + 1;
    }
    return names;
}

QStringList readListNames(const QString& path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        throw RunError(
            ErrorNumber::PathFileAccess, u"The file %1 could not be read: it is a folder."_s.arg(path));
    if (!file.open(QIODevice::ReadOnly)) {
        const int number = file.error() == QFileDevice::OpenError && !info.exists()
            ? ErrorNumber::FileNotFound
            : ErrorNumber::PermissionDenied;
        throw RunError(number, u"The file %1 could not be read: %2."_s.arg(path, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw RunError(ErrorNumber::PathFileAccess,
            u"The file %1 could not be read: %2."_s.arg(path, file.errorString()));
    // No file name holds a NUL byte, so a file that does is no folder list (an image, a program...).
    if (bytes.contains('\0'))
        throw RunError(ErrorNumber::PathFileAccess,
            u"The file %1 is not a folder list: it holds binary data."_s.arg(path));
    return parseListNames(bytes);
}
