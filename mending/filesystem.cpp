// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesystem.h"

#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace mending::fs {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder the player may enter but not list still works as a handle for the *at() calls.
int openFolderAt(int base, const char* name)
{
    int fd;
    do
        fd = ::openat(base, name, folderFlags);
    while (fd < 0 && errno == EINTR);
#ifdef O_PATH
    if (fd < 0 && errno == EACCES)
        fd = ::openat(base, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
#endif
    return fd;
}

#if defined(__linux__) && defined(SYS_openat2)
// One call for the whole path where the kernel has openat2(); -1 with ENOSYS where it has not, and then
// the walk name by name does the same.
int openResolvedBeneath(int base, const QByteArray& relative)
{
    static std::atomic<bool> missing { false };
    if (missing || relative.size() >= PATH_MAX) {
        errno = ENOSYS;
        return -1;
    }
    open_how how {};
    how.flags = folderFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd;
    do
        fd = ::syscall(SYS_openat2, base, relative.constData(), &how, sizeof how);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM)) {
        // EPERM: a sandbox that filters the call. EAGAIN (a rename raced the lookup) falls to the walk too.
        missing = true;
        errno = ENOSYS;
    } else if (fd < 0 && errno == EAGAIN) {
        errno = ENOSYS;
    }
    return int(fd);
}
#else
int openResolvedBeneath(int, const QByteArray&)
{
    errno = ENOSYS;
    return -1;
}
#endif

Fd walkBeneath(int base, const QByteArray& relative, int* error, bool make, QList<QByteArray>* made)
{
    if (!relative.isEmpty() && !isPlainRelativePath(relative)) {
        if (error)
            *error = EINVAL;
        return {};
    }
    {
        // Where the whole path is there already (the common case, also when making), one call opens it.
        const int fd = relative.isEmpty() ? openFolderAt(base, ".") : openResolvedBeneath(base, relative);
        if (fd >= 0)
            return Fd(fd);
        if (errno != ENOSYS && !(make && errno == ENOENT)) {
            if (error)
                *error = errno;
            return {};
        }
    }
    Fd current(openFolderAt(base, "."));
    if (!current.isOpen()) {
        if (error)
            *error = errno;
        return {};
    }
    if (relative.isEmpty())
        return current;
    qsizetype start = 0;
    while (start <= relative.size()) {
        qsizetype end = relative.indexOf('/', start);
        if (end < 0)
            end = relative.size();
        const QByteArray name = relative.mid(start, end - start);
        int fd = openFolderAt(current.get(), name.constData());
        if (fd < 0 && errno == ENOENT && make) {
            if (::mkdirat(current.get(), name.constData(), 0755) == 0) {
                if (made)
                    made->append(relative.left(end));
            } else if (errno != EEXIST) {
                if (error)
                    *error = errno;
                return {};
            }
            fd = openFolderAt(current.get(), name.constData());
        }
        if (fd < 0) {
            if (error)
                *error = errno;
            return {};
        }
        current = Fd(fd);
        start = end + 1;
    }
    return current;
}

int writeFully(int fd, const char* data, qsizetype size)
{
    qsizetype written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        written += n;
    }
    return 0;
}

QByteArray linkTarget(int folder, const QByteArray& name, qint64 size)
{
    QByteArray target(qMax<qint64>(size, PATH_MAX) + 1, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(folder, name.constData(), target.data(), size_t(target.size()));
    if (n < 0)
        return {};
    target.truncate(n);
    return target;
}

}

ssize_t readFully(int fd, char* buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

void Fd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isPlainRelativePath(const QByteArray& path)
{
    if (path.isEmpty() || path.startsWith('/') || path.endsWith('/') || path.contains('\0'))
        return false;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    }
    return true;
}

QByteArray parentPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray lastName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

Fd openFolder(const QByteArray& path, int* error)
{
    int fd;
    do
        fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && error)
        *error = errno;
    return Fd(fd);
}

Fd openBeneath(int base, const QByteArray& relative, int* error)
{
    return walkBeneath(base, relative, error, false, nullptr);
}

Fd makeBeneath(int base, const QByteArray& relative, int* error, QList<QByteArray>* made)
{
    return walkBeneath(base, relative, error, true, made);
}

bool statAt(int folder, const QByteArray& name, struct stat* st)
{
    return ::fstatat(folder, name.constData(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

int renameWithoutReplacing(int fromFolder, const QByteArray& fromName, int toFolder, const QByteArray& toName)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(fromFolder, fromName.constData(), toFolder, toName.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    // A crash between the two calls leaves two names of one file, which a recovery resolves.
    if (::linkat(fromFolder, fromName.constData(), toFolder, toName.constData(), 0) != 0)
        return errno;
    ::unlinkat(fromFolder, fromName.constData(), 0);
    return 0;
}

QByteArray uniqueName(const QByteArray& prefix)
{
    const quint64 random = QRandomGenerator::system()->generate64();
    return prefix + QByteArray::number(random, 36);
}

CopyResult copyFile(int fromFolder, const QByteArray& fromName, const struct stat& source, int toFolder,
    const QByteArray& toName, bool sync)
{
    CopyResult result;
    const struct timespec times[2] = { source.st_atim, source.st_mtim };
    if (S_ISLNK(source.st_mode)) {
        const QByteArray target = linkTarget(fromFolder, fromName, source.st_size);
        if (target.isEmpty() || ::symlinkat(target.constData(), toFolder, toName.constData()) != 0) {
            result.error = errorText(errno);
            return result;
        }
        if (::fchownat(toFolder, toName.constData(), source.st_uid, source.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
            result.ownerKept = false;
        ::utimensat(toFolder, toName.constData(), times, AT_SYMLINK_NOFOLLOW);
        return result;
    }
    const Fd in(::openat(fromFolder, fromName.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.isOpen()) {
        result.error = errorText(errno);
        return result;
    }
    Fd out(
        ::openat(toFolder, toName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!out.isOpen()) {
        result.error = errorText(errno);
        return result;
    }
    int error = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0 || error)
            break;
        error = writeFully(out.get(), buffer.constData(), n);
        if (error)
            break;
    }
    if (!error) {
        // Only root may give a file to another owner; anyone else copies files they own, and is told when
        // not.
        if (::fchown(out.get(), source.st_uid, source.st_gid) != 0)
            result.ownerKept = false;
        if (::fchmod(out.get(), source.st_mode & 07777) != 0 || ::futimens(out.get(), times) != 0
            || (sync && ::fsync(out.get()) != 0))
            error = errno;
    }
    if (::close(out.release()) != 0 && !error)
        error = errno;
    if (error) {
        ::unlinkat(toFolder, toName.constData(), 0);
        result.error = errorText(error);
    }
    return result;
}

bool sameBytes(int folderA, const QByteArray& nameA, int folderB, const QByteArray& nameB)
{
    struct stat sa, sb;
    if (!statAt(folderA, nameA, &sa) || !statAt(folderB, nameB, &sb)
        || (sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT) || sa.st_size != sb.st_size)
        return false;
    if (S_ISLNK(sa.st_mode)) {
        const QByteArray a = linkTarget(folderA, nameA, sa.st_size);
        return !a.isEmpty() && a == linkTarget(folderB, nameB, sb.st_size);
    }
    if (!S_ISREG(sa.st_mode))
        return false;
    const Fd fa(::openat(folderA, nameA.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const Fd fb(::openat(folderB, nameB.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fa.isOpen() || !fb.isOpen())
        return false;
    QByteArray ba(1 << 16, Qt::Uninitialized), bb(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t na = readFully(fa.get(), ba.data(), size_t(ba.size()));
        const ssize_t nb = readFully(fb.get(), bb.data(), size_t(bb.size()));
        if (na < 0 || na != nb || std::memcmp(ba.constData(), bb.constData(), size_t(na)) != 0)
            return false;
        if (na == 0)
            return true;
    }
}

QString writeAtomically(int folder, const QByteArray& name, const QByteArray& content, Existing existing,
    int* errorNumber, quint32 mode)
{
    const auto failed = [errorNumber](int error) {
        if (errorNumber)
            *errorNumber = error;
        return errorText(error);
    };
    QByteArray temporary;
    Fd fd;
    for (int attempt = 0; attempt < 16 && !fd.isOpen(); ++attempt) {
        temporary = uniqueName(name + ".new-");
        fd = Fd(::openat(
            folder, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!fd.isOpen() && errno != EEXIST)
            break;
    }
    if (!fd.isOpen())
        return failed(errno);
    int error = writeFully(fd.get(), content.constData(), content.size());
    if (!error && ::fsync(fd.get()) != 0)
        error = errno;
    if (::close(fd.release()) != 0 && !error)
        error = errno;
    // A link never replaces what has the name already; a rename does.
    if (!error && existing == Existing::Keep
        && ::linkat(folder, temporary.constData(), folder, name.constData(), 0) != 0)
        error = errno;
    if (!error && existing == Existing::Replace
        && ::renameat(folder, temporary.constData(), folder, name.constData()) != 0)
        error = errno;
    if (error || existing == Existing::Keep)
        ::unlinkat(folder, temporary.constData(), 0);
    if (error)
        return failed(error);
    if (const int synced = syncFolder(folder))
        return failed(synced);
    if (errorNumber)
        *errorNumber = 0;
    return {};
}

bool readAt(int folder, const QByteArray& name, QByteArray* content)
{
    const Fd fd(::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.isOpen())
        return false;
    content->clear();
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = readFully(fd.get(), buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return false;
        content->append(buffer.constData(), n);
        if (n < buffer.size())
            return true;
    }
}

int syncFolder(int folder)
{
    if (::fsync(folder) == 0)
        return 0;
    int error = errno;
    // A handle opened with O_PATH cannot be synced; one opened from it can.
    if (error == EBADF) {
        const Fd again(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        error = again.isOpen() && ::fsync(again.get()) == 0 ? 0 : errno;
    }
    // Some file systems cannot sync a folder at all: nothing is lost by that.
    return error == EINVAL ? 0 : error;
}

void syncVolume(int folder)
{
#ifdef __linux__
    const Fd again(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (again.isOpen())
        ::syncfs(again.get());
#else
    ::sync();
#endif
}

QList<Entry> entriesOf(int folder)
{
    QList<Entry> entries;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return entries;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = statAt(fd, name, &st) && S_ISDIR(st.st_mode);
        }
        entries.append({ name, isFolder });
    }
    ::closedir(dir);
    return entries;
}

int makeFolderAt(int folder, const QByteArray& name, quint32 mode)
{
    return ::mkdirat(folder, name.constData(), mode) == 0 ? 0 : errno;
}

bool removeAt(int folder, const QByteArray& name, bool isFolder)
{
    return ::unlinkat(folder, name.constData(), isFolder ? AT_REMOVEDIR : 0) == 0;
}

void setFolderMode(int base, const QByteArray& relative, quint32 mode)
{
    const Fd folder(walkBeneath(base, relative, nullptr, false, nullptr));
    if (folder.isOpen())
        ::fchmod(folder.get(), mode & 07777);
}

bool existsBeneath(int base, const QByteArray& relative, struct stat* st)
{
    struct stat local;
    const Fd folder(openBeneath(base, parentPath(relative)));
    return folder.isOpen() && statAt(folder.get(), lastName(relative), st ? st : &local);
}

dev_t volumeOf(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_dev : dev_t(-1);
}

QByteArray realPath(const QByteArray& path)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return {};
    const QByteArray result(resolved);
    std::free(resolved);
    return result;
}

Fd lockFolder(const QByteArray& path)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.isOpen()) {
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) { }
    }
    return fd;
}

}
