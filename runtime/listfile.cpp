// SPDX-License-Identifier: GPL-3.0-or-later
#include "listfile.h"

#include "namecodec.h"
#include "runerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    return encodeName(line);
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

#ifdef Q_OS_UNIX

int numberForErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrorNumber::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorNumber::PermissionDenied;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

// A temporary file beside the target, deleted again unless it has been renamed over the target.
class TemporaryFile
{
public:
    explicit TemporaryFile(const QByteArray& target)
        : m_name(target)
    {
        const qsizetype cut = m_name.lastIndexOf('/') + 1;
        m_name.insert(cut, '.');
        m_name.append(".XXXXXX");
        m_fd = ::mkstemp(m_name.data());
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_renamed)
            ::unlink(m_name.constData());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // Closes the file, reporting what close() reports: some file systems only fail there.
    bool close()
    {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }
    bool renameOver(const QByteArray& target)
    {
        m_renamed = ::rename(m_name.constData(), target.constData()) == 0;
        return m_renamed;
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    bool m_renamed = false;
};

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// The new file keeps the old one's permissions and owner; a new list gets the usual ones.
void takeOverAttributes(int fd, const QByteArray& target)
{
    struct stat old;
    if (::stat(target.constData(), &old) == 0) {
        (void)::fchmod(fd, old.st_mode & 07777);
        // Only the superuser may give a file away: for anyone else the new list stays the user's own.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) { }
        return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
}

// Confirms nothing until every byte is on the disk: written, synced, closed, and only then renamed
// over the target. A full disk, a read-only volume or a refused rename leaves the old list whole.
void replaceFile(const QString& path, const QString& target, const QByteArray& bytes)
{
    const QByteArray native = QFile::encodeName(target);
    TemporaryFile file(native);
    const auto fail = [&path](int error) { saveFailed(path, qt_error_string(error), numberForErrno(error)); };
    if (!file.isOpen()) {
        // The folder refuses a new file: as the classic runtime has it, permission is denied.
        const int error = errno;
        const int number
            = error == ENOSPC || error == EDQUOT ? ErrorNumber::DiskFull : ErrorNumber::PermissionDenied;
        saveFailed(path, qt_error_string(error), number);
    }
    takeOverAttributes(file.fd(), native);
    if (!writeAll(file.fd(), bytes) || ::fsync(file.fd()) != 0)
        fail(errno);
    if (!file.close())
        fail(errno);
    if (!file.renameOver(native))
        fail(errno);
    // The rename itself is only durable once the folder is synced.
    const QByteArray folder = native.left(std::max<qsizetype>(native.lastIndexOf('/'), 1));
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        (void)::fsync(folderFd);
        ::close(folderFd);
    }
}

#endif

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

#ifdef Q_OS_UNIX
    replaceFile(path, resolved.absoluteFilePath(), bytes);
#else
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
#endif
}

ListLines splitListLines(QByteArrayView bytes)
{
    ListLines lines;
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    // A first guess from the typical name length saves most of the regrowing on big lists.
    lines.reserve(size_t(size / 24 + 1));
    qsizetype start = 0;
    while (start < size) {
        const void* found = std::memchr(data + start, '\n', size_t(size - start));
        const qsizetype end = found ? static_cast<const char*>(found) - data : size;
        qsizetype stop = end;
        if (stop > start && data[stop - 1] == '\r')
            --stop;
        if (stop > start)
            lines.push_back({ start, stop - start });
        start = end + 1;
    }
    return lines;
}

QString folderListFault(QByteArrayView bytes)
{
    qsizetype lineNumber = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar c = uchar(bytes.at(i));
        if (c == '\n') {
            const QByteArrayView name = bytes.sliced(lineStart, i - lineStart);
            if (name == "." || name == ".." || name == ".\r" || name == "..\r")
                return u"line %1 names no file"_s.arg(lineNumber);
            ++lineNumber;
            lineStart = i + 1;
            continue;
        }
        if (c == '\r' && (i + 1 == bytes.size() || bytes.at(i + 1) == '\n'))
            continue;
        if (c == 0)
            return u"it holds binary data"_s;
        if (c == '/' || c < 0x20 || c == 0x7F)
            return u"line %1 is no bare file name"_s.arg(lineNumber);
    }
    const QByteArrayView last = bytes.sliced(lineStart);
    if (last == "." || last == "..")
        return u"line %1 names no file"_s.arg(lineNumber);
    return {};
}

QStringList parseListNames(const QByteArray& bytes)
{
    QStringList names;
    const ListLines lines = splitListLines(bytes);
    names.reserve(qsizetype(lines.size()));
    for (const ListLine& line : lines)
        names.append(decodeName(QByteArrayView(bytes.constData() + line.start, line.length)));
    return names;
}

ListBytes readListBytes(const QString& path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        throw RunError(
            ErrorNumber::PathFileAccess, u"The file %1 could not be read: it is a folder."_s.arg(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        const int number = file.error() == QFileDevice::OpenError && !info.exists()
            ? ErrorNumber::FileNotFound
            : ErrorNumber::PermissionDenied;
        throw RunError(number, u"The file %1 could not be read: %2."_s.arg(path, file.errorString()));
    }
    const auto readFailed = [&] {
        throw RunError(ErrorNumber::PathFileAccess,
            u"The file %1 could not be read: %2."_s.arg(path, file.errorString()));
    };
    ListBytes bytes;
    const qint64 size = file.size();
    if (size > 0) {
        // One read of the whole file, straight into its buffer.
        bytes.resize(size_t(size));
        qint64 got = 0;
        while (got < size) {
            const qint64 read = file.read(bytes.data() + got, size - got);
            if (read < 0)
                readFailed();
            if (read == 0)
                break; // the file was cut short while being read
            got += read;
        }
        bytes.resize(size_t(got));
    } else {
        // Devices and pipes tell no size: read them to their end.
        const QByteArray all = file.readAll();
        bytes.assign(all.begin(), all.end());
    }
    if (file.error() != QFileDevice::NoError)
        readFailed();
    // No file name holds a NUL byte, so a file that does is no folder list (an image, a program...).
    if (!bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()))
        throw RunError(ErrorNumber::PathFileAccess,
            u"The file %1 is not a folder list: it holds binary data."_s.arg(path));
    return bytes;
}

QStringList readListNames(const QString& path)
{
    const ListBytes bytes = readListBytes(path);
    return parseListNames(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
}
