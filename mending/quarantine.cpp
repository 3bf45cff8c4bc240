// SPDX-License-Identifier: GPL-3.0-or-later
#include "quarantine.h"

#include "gamefolders.h"
#include "runninggames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The step file says what one move is doing before it does it:
//   mendwell step 1
//   direction<TAB>out|back
//   batch<TAB><batch folder name>
//   <r|c><f|b|d><TAB><path>      one line per file: rename or copy; a file inside the folder, a file
//                                beside it, or a whole folder inside it
//   end
// It is written to a temporary name, synced and renamed into place, so it is either whole or absent. Recovery
// reads it and takes every listed file the rest of the way: a file is done when it is at its target and no
// longer at its source. Moves are renames that refuse to replace (so a file is always in exactly one place);
// where source and target lie on different volumes, the file is copied to a temporary name, synced, renamed
// into place, compared, and only then removed from its source.
//
// The manifest (manifest.tsv) is written and synced before the step, and is never changed afterwards:
//   # comment lines
//   file|beside<TAB>size<TAB>mtime ns<TAB>mode (octal)<TAB>path
//   dir<TAB>-<TAB>mtime ns<TAB>mode (octal)<TAB>path      folders above the files, to remake them alike
// Paths are the names' bytes with "\\", tab and line feed written as \\, \t and \n.

namespace mending {

namespace {

const QByteArray stepName = ".mendwell-step";
const QByteArray stepTemporaryName = ".mendwell-step.new";
const QByteArray manifestName = "manifest.tsv";
const QByteArray manifestTemporaryName = "manifest.tsv.new";
const QByteArray copyTemporaryName = ".mendwell-copy";

QByteArray escaped(const QByteArray& path)
{
    QByteArray out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray unescaped(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\\' && i + 1 < text.size()) {
            const char e = text.at(++i);
            out += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            out += c;
        }
    }
    return out;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : "") : path.left(slash);
}

bool exists(const QByteArray& path, struct stat* st = nullptr)
{
    struct stat local;
    return ::lstat(path.constData(), st ? st : &local) == 0;
}

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes a small file whole or not at all: temporary name, sync, rename, sync of the folder.
QString writeDurably(
    const QByteArray& folder, const QByteArray& temporary, const QByteArray& name, const QByteArray& content)
{
    const QByteArray temporaryPath = folder + '/' + temporary;
    const int fd = ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return systemError(errno);
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporaryPath.constData());
            return systemError(error);
        }
        written += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporaryPath.constData());
        return systemError(error);
    }
    if (::rename(temporaryPath.constData(), (folder + '/' + name).constData()) != 0) {
        const int error = errno;
        ::unlink(temporaryPath.constData());
        return systemError(error);
    }
    syncFolder(folder);
    return {};
}

bool readWhole(const QByteArray& path, QByteArray* content)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return true;
}

// A rename that never replaces what is at the target. Where the file system cannot rename that way, a
// hard link and an unlink do the same: a crash between them leaves two names of one file, which
// recovery resolves.
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
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

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    struct stat sa, sb;
    if (!exists(a, &sa) || !exists(b, &sb) || (sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT))
        return false;
    if (S_ISLNK(sa.st_mode)) {
        char ta[PATH_MAX], tb[PATH_MAX];
        const ssize_t na = ::readlink(a.constData(), ta, sizeof ta);
        const ssize_t nb = ::readlink(b.constData(), tb, sizeof tb);
        return na >= 0 && na == nb && std::memcmp(ta, tb, size_t(na)) == 0;
    }
    if (sa.st_size != sb.st_size)
        return false;
    const int fa = ::open(a.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const int fb = ::open(b.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    bool same = fa >= 0 && fb >= 0;
    QByteArray ba(1 << 16, Qt::Uninitialized), bb(1 << 16, Qt::Uninitialized);
    while (same) {
        const ssize_t na = readFully(fa, ba.data(), size_t(ba.size()));
        const ssize_t nb = readFully(fb, bb.data(), size_t(bb.size()));
        same = na >= 0 && na == nb && std::memcmp(ba.constData(), bb.constData(), size_t(na)) == 0;
        if (na <= 0)
            break;
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

// A copy that keeps bytes, permissions, owner and times. The step syncs the volume before the source goes.
QString copyTo(const QByteArray& source, const struct stat& st, const QByteArray& temporary)
{
    struct timespec times[2] = { st.st_atim, st.st_mtim };
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(source.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return systemError(errno);
        target.truncate(n);
        if (::symlink(target.constData(), temporary.constData()) != 0)
            return systemError(errno);
        // Only root may give a copy to another owner; anyone else copies files they own, so nothing is lost.
        [[maybe_unused]] const int owned = ::lchown(temporary.constData(), st.st_uid, st.st_gid);
        ::utimensat(AT_FDCWD, temporary.constData(), times, AT_SYMLINK_NOFOLLOW);
        return {};
    }
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return systemError(errno);
    const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return systemError(error);
    }
    QString error;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = systemError(errno);
            break;
        }
        if (n == 0)
            break;
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w = ::write(out, buffer.constData() + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                error = systemError(w < 0 ? errno : ENOSPC);
                break;
            }
            written += w;
        }
        if (!error.isEmpty())
            break;
    }
    if (error.isEmpty()) {
        [[maybe_unused]] const int owned = ::fchown(out, st.st_uid, st.st_gid);
        if (::fchmod(out, st.st_mode & 07777) != 0 || ::futimens(out, times) != 0)
            error = systemError(errno);
    }
    ::close(in);
    if (::close(out) != 0 && error.isEmpty())
        error = systemError(errno);
    if (!error.isEmpty())
        ::unlink(temporary.constData());
    return error;
}

struct StepEntry
{
    QByteArray path;
    bool beside = false;
    bool copy = false;
    bool folder = false; // a whole folder, moved by one rename
};

QByteArray parentOfRelative(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}

// Folders below root (relative paths) that hold nothing but the given files and such folders, and that
// may go (movable): one rename moves each of them, files and folders with their times and permissions, and
// nothing is left to remove or remake. A mod added as a folder moves that way.
QSet<QByteArray> wholeFolders(const QByteArray& root, const QList<QByteArray>& files,
    const std::function<bool(const QByteArray&)>& movable)
{
    const QSet<QByteArray> chosen(files.cbegin(), files.cend());
    QSet<QByteArray> ancestors;
    for (const QByteArray& file : files) {
        for (QByteArray folder = parentOfRelative(file); !folder.isEmpty() && !ancestors.contains(folder);
             folder = parentOfRelative(folder))
            ancestors.insert(folder);
    }
    QList<QByteArray> deepestFirst(ancestors.cbegin(), ancestors.cend());
    std::sort(deepestFirst.begin(), deepestFirst.end(),
        [](const QByteArray& a, const QByteArray& b) { return a.count('/') > b.count('/'); });
    QSet<QByteArray> whole;
    for (const QByteArray& folder : std::as_const(deepestFirst)) {
        if (!movable(folder))
            continue;
        DIR* dir = ::opendir((root + '/' + folder).constData());
        if (!dir)
            continue;
        bool all = true;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray child = folder + '/' + name;
            if (!chosen.contains(child) && !whole.contains(child)) {
                all = false;
                break;
            }
        }
        ::closedir(dir);
        if (all)
            whole.insert(folder);
    }
    return whole;
}

// The files as step entries, each file inside a whole folder replaced by the outermost such folder.
QList<StepEntry> withWholeFolders(const QList<StepEntry>& files, const QSet<QByteArray>& whole)
{
    QList<StepEntry> entries;
    QSet<QByteArray> added;
    for (const StepEntry& file : files) {
        QByteArray outermost;
        if (!file.beside && !file.copy) {
            for (qsizetype slash = file.path.indexOf('/'); slash > 0;
                 slash = file.path.indexOf('/', slash + 1)) {
                if (whole.contains(file.path.left(slash))) {
                    outermost = file.path.left(slash);
                    break;
                }
            }
        }
        if (outermost.isEmpty()) {
            entries.append(file);
        } else if (!added.contains(outermost)) {
            added.insert(outermost);
            entries.append({ outermost, false, false, true });
        }
    }
    return entries;
}

QList<QByteArray> renamableInside(const QList<StepEntry>& entries)
{
    QList<QByteArray> files;
    for (const StepEntry& entry : entries) {
        if (!entry.beside && !entry.copy)
            files.append(entry.path);
    }
    return files;
}

void filesBelow(const QByteArray& root, const QByteArray& relative, QList<QByteArray>& files)
{
    DIR* dir = ::opendir((relative.isEmpty() ? root : root + '/' + relative).constData());
    if (!dir)
        return;
    QList<QByteArray> folders;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        struct stat st;
        if (::lstat((root + '/' + path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            folders.append(path);
        else
            files.append(path);
    }
    ::closedir(dir);
    for (const QByteArray& folder : std::as_const(folders))
        filesBelow(root, folder, files);
}

struct Step
{
    bool out = true;
    QByteArray batch;
    QList<StepEntry> entries;
};

QByteArray stepText(const Step& step)
{
    QByteArray text = "mendwell step 1\n";
    text += "direction\t" + QByteArray(step.out ? "out" : "back") + '\n';
    text += "batch\t" + escaped(step.batch) + '\n';
    for (const StepEntry& entry : step.entries) {
        text += entry.copy ? 'c' : 'r';
        text += entry.folder ? 'd' : entry.beside ? 'b' : 'f';
        text += '\t' + escaped(entry.path) + '\n';
    }
    text += "end\n";
    return text;
}

// A path a caller may name: relative, below the folder, without "." or ".." steps.
bool acceptablePath(const QByteArray& path)
{
    if (path.isEmpty() || path.startsWith('/') || path.endsWith('/') || path.contains('\0'))
        return false;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    }
    return true;
}

bool parseStep(const QByteArray& text, Step* step)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 4 || lines.at(0) != "mendwell step 1" || !text.endsWith("end\n"))
        return false;
    if (lines.at(1) != "direction\tout" && lines.at(1) != "direction\tback")
        return false;
    step->out = lines.at(1) == "direction\tout";
    if (!lines.at(2).startsWith("batch\t"))
        return false;
    step->batch = unescaped(lines.at(2).mid(6));
    if (step->batch.isEmpty() || step->batch.contains('/') || step->batch.startsWith('.'))
        return false;
    for (qsizetype i = 3; i < lines.size() - 2; ++i) {
        const QByteArray& line = lines.at(i);
        if (line.size() < 4 || line.at(2) != '\t')
            return false;
        if (!acceptablePath(unescaped(line.mid(3))))
            return false;
        step->entries.append(
            { unescaped(line.mid(3)), line.at(1) == 'b', line.at(0) == 'c', line.at(1) == 'd' });
    }
    return true;
}

QByteArray modeText(quint32 mode)
{
    return QByteArray::number(mode, 8);
}

struct Manifest
{
    QList<QuarantinedFile> files;
    QHash<QByteArray, std::pair<quint32, qint64>> folders; // path: mode, mtime
};

bool readManifest(const QByteArray& batchPath, Manifest* manifest)
{
    QByteArray text;
    if (!readWhole(batchPath + '/' + manifestName, &text))
        return false;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 5)
            continue;
        bool okMode = false;
        const quint32 mode = fields.at(3).toUInt(&okMode, 8);
        const qint64 mtime = fields.at(2).toLongLong();
        const QByteArray path = unescaped(fields.at(4));
        if (fields.at(0) == "dir") {
            manifest->folders.insert(path, { mode, mtime });
        } else if (fields.at(0) == "file" || fields.at(0) == "beside") {
            QuarantinedFile file;
            file.path = path;
            file.beside = fields.at(0) == "beside";
            file.size = fields.at(1).toLongLong();
            file.modifiedNs = mtime;
            file.mode = mode;
            manifest->files.append(file);
        }
    }
    return true;
}

// Sorting key of a batch name: the date, then the number that tells apart two batches of one second.
std::pair<QString, int> batchOrder(const QString& name)
{
    const qsizetype open = name.lastIndexOf(u" ("_s);
    if (open > 0 && name.endsWith(u')')) {
        bool ok = false;
        const int n = name.mid(open + 2, name.size() - open - 3).toInt(&ok);
        if (ok)
            return { name.left(open), n };
    }
    return { name, 1 };
}

// Carries out a step; run again after a crash it takes every file the rest of the way.
class StepRunner
{
public:
    StepRunner(
        const QByteArray& folder, const QByteArray& quarantine, const Step& step, MoveWatch* watch = nullptr)
        : m_folder(folder)
        , m_step(step)
        , m_watch(watch)
    {
        m_batch = quarantine + '/' + step.batch;
        const QByteArray name = QFile::encodeName(QFileInfo(QFile::decodeName(folder)).fileName());
        m_insideStore = m_batch + '/' + name;
        m_besideStore = m_batch + "/beside " + name;
        m_parent = parentOf(folder);
        readManifest(m_batch, &m_manifest);
    }

    MoveReport run()
    {
        MoveReport report;
        report.batch = QFile::decodeName(m_step.batch);
        QList<QString> problems;
        if (m_watch)
            m_watch->total += m_step.entries.size();
        for (m_index = 0; m_index < m_step.entries.size(); ++m_index) {
            if (m_watch && m_watch->cancel) {
                report.cancelled = true;
                break;
            }
            problems.append(apply(m_step.entries.at(m_index)));
            if (m_watch)
                ++m_watch->done;
        }
        // One sync of each volume instead of one per file and folder: copies have their bytes on disk, and
        // every rename is kept, before any source is removed or the step is marked done.
        syncVolumes();
        for (const Copied& copied : std::as_const(m_copied)) {
            const QString problem = finishCopy(copied.source, copied.target);
            if (m_step.entries.at(copied.index).folder) {
                if (!problem.isEmpty())
                    m_folderProblems.insert(copied.path, problem);
            } else {
                problems[copied.index] = problem;
            }
        }
        // A folder is reported as the files of it that arrived.
        QSet<QByteArray> folders;
        for (const StepEntry& entry : std::as_const(m_step.entries)) {
            if (entry.folder)
                folders.insert(entry.path);
        }
        QSet<QByteArray> inFolders;
        if (!folders.isEmpty()) {
            for (const QuarantinedFile& file : std::as_const(m_manifest.files)) {
                if (file.beside || m_folderProblems.contains(file.path))
                    continue;
                for (QByteArray above = parentOfRelative(file.path); !above.isEmpty();
                     above = parentOfRelative(above)) {
                    if (folders.contains(above)) {
                        const StepEntry one { file.path, false, false, false };
                        if (exists(m_step.out ? storedPath(one) : originalPath(one)))
                            inFolders.insert(file.path);
                        break;
                    }
                }
            }
        }
        for (qsizetype i = 0; i < problems.size(); ++i) {
            const StepEntry& entry = m_step.entries.at(i);
            if (!entry.folder) {
                if (problems.at(i).isEmpty())
                    report.moved.append(entry.path);
                else
                    report.skipped.append({ entry.path, problems.at(i) });
            }
        }
        for (const QByteArray& path : std::as_const(inFolders))
            report.moved.append(path);
        for (auto it = m_folderProblems.cbegin(); it != m_folderProblems.cend(); ++it)
            report.skipped.append({ it.key(), it.value() });
        removeEmptiedFolders();
        return report;
    }

private:
    struct Copied
    {
        qsizetype index;
        QByteArray path;
        QByteArray source;
        QByteArray target;
    };

    void syncVolumes()
    {
#ifdef __linux__
        QSet<dev_t> done;
        for (const QByteArray& root : { m_folder, m_parent, m_batch }) {
            struct stat st;
            if (::stat(root.constData(), &st) != 0 || done.contains(st.st_dev))
                continue;
            done.insert(st.st_dev);
            const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                ::syncfs(fd);
                ::close(fd);
            }
        }
#else
        for (const QByteArray& folder : std::as_const(m_touched))
            syncFolder(folder);
        for (const Copied& copied : std::as_const(m_copied)) {
            const int fd = ::open(copied.target.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
#endif
    }

    // The source of a copy goes only once its copy is on disk and reads back the same.
    QString finishCopy(const QByteArray& source, const QByteArray& target)
    {
        if (!sameBytes(source, target)) {
            // The copy is ours and the original is untouched: give the copy up, keep the original.
            ::unlink(target.constData());
            return u"the copy at %1 did not read back the same"_s.arg(QFile::decodeName(target));
        }
        if (::unlink(source.constData()) != 0)
            return systemError(errno);
        m_emptied.insert(parentOf(source));
        return {};
    }

    QByteArray originalPath(const StepEntry& entry) const
    {
        return (entry.beside ? m_parent : m_folder) + '/' + entry.path;
    }

    QByteArray storedPath(const StepEntry& entry) const
    {
        return (entry.beside ? m_besideStore : m_insideStore) + '/' + entry.path;
    }

    // Makes the folders above a target; going back they get the permissions they had.
    QString makeParents(const QByteArray& root, const QByteArray& relative, bool remakeAlike)
    {
        const QList<QByteArray> parts = relative.split('/');
        QByteArray path = root;
        QByteArray rel;
        if (!m_made.contains(root)) {
            if (::mkdir(root.constData(), 0755) != 0 && errno != EEXIST)
                return u"cannot make the folder %1: %2"_s.arg(QFile::decodeName(root), systemError(errno));
            m_made.insert(root);
            m_touched.insert(parentOf(root));
        }
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            path += '/' + parts.at(i);
            rel += (rel.isEmpty() ? "" : "/") + parts.at(i);
            if (m_made.contains(path))
                continue;
            struct stat st;
            if (::lstat(path.constData(), &st) == 0) {
                if (!S_ISDIR(st.st_mode))
                    return u"%1 is in the way: it is not a folder"_s.arg(QFile::decodeName(path));
                m_made.insert(path);
                continue;
            }
            if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST)
                return u"cannot make the folder %1: %2"_s.arg(QFile::decodeName(path), systemError(errno));
            if (remakeAlike) {
                const auto known = m_manifest.folders.constFind(rel);
                if (known != m_manifest.folders.constEnd())
                    ::chmod(path.constData(), known->first & 07777);
            }
            m_touched.insert(parentOf(path));
            m_made.insert(path);
        }
        return {};
    }

    // A whole folder goes by one rename; where its target folder exists already (a kill came in the middle
    // of the files below, or the player made it again), or the volume cannot rename it, its files go one by
    // one.
    QString applyFolder(const StepEntry& entry)
    {
        const QByteArray source = m_step.out ? originalPath(entry) : storedPath(entry);
        const QByteArray target = m_step.out ? storedPath(entry) : originalPath(entry);
        struct stat sourceStat, targetStat;
        const bool hasSource = exists(source, &sourceStat) && S_ISDIR(sourceStat.st_mode);
        const bool hasTarget = exists(target, &targetStat);
        if (!hasSource)
            return hasTarget ? QString() : u"it is no longer there"_s;
        if (!hasTarget) {
            const QByteArray targetRoot = m_step.out ? m_insideStore : m_folder;
            if (const QString problem = makeParents(targetRoot, entry.path, !m_step.out); !problem.isEmpty())
                return problem;
            m_touched.insert(parentOf(source));
            m_touched.insert(parentOf(target));
#ifdef RENAME_NOREPLACE
            if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
                == 0) {
                m_emptied.insert(parentOf(source));
                if (!m_step.out)
                    remakeFoldersAlike(entry.path);
                return {};
            }
#endif
        }
        QList<QByteArray> files;
        filesBelow(source, {}, files);
        for (const QByteArray& file : std::as_const(files)) {
            const StepEntry one { entry.path + '/' + file, false, false, false };
            const QString problem = apply(one);
            if (!problem.isEmpty())
                m_folderProblems.insert(one.path, problem);
        }
        return {};
    }

    // Folders made in the quarantine to hold single files have the default permissions; once such a folder
    // goes back whole, it and the folders below it get the permissions they had in the game folder.
    void remakeFoldersAlike(const QByteArray& relative)
    {
        const QByteArray below = relative + '/';
        for (auto it = m_manifest.folders.cbegin(); it != m_manifest.folders.cend(); ++it) {
            if (it.key() == relative || it.key().startsWith(below))
                ::chmod((m_folder + '/' + it.key()).constData(), it->first & 07777);
        }
    }

    QString apply(const StepEntry& entry)
    {
        if (entry.folder)
            return applyFolder(entry);
        const QByteArray source = m_step.out ? originalPath(entry) : storedPath(entry);
        const QByteArray target = m_step.out ? storedPath(entry) : originalPath(entry);
        const QByteArray temporary = parentOf(target) + '/' + copyTemporaryName;
        struct stat sourceStat, targetStat;
        const bool hasSource = exists(source, &sourceStat);
        const bool hasTarget = exists(target, &targetStat);
        const QByteArray targetFolder = parentOf(target);
        if (!m_cleaned.contains(targetFolder)) {
            // An unfinished copy: the file itself is still at its source.
            ::unlink(temporary.constData());
            m_cleaned.insert(targetFolder);
        }
        if (!hasSource && hasTarget)
            return {};
        if (!hasSource)
            return u"it is no longer there"_s;
        if (hasTarget) {
            // Two names of one file: the link fallback was interrupted before its unlink.
            if (sourceStat.st_dev == targetStat.st_dev && sourceStat.st_ino == targetStat.st_ino) {
                ::unlink(source.constData());
                m_emptied.insert(parentOf(source));
                return {};
            }
            // A finished copy whose source was not yet removed: no rename crosses volumes.
            if ((entry.copy || sourceStat.st_dev != targetStat.st_dev) && sameBytes(source, target)) {
                ::unlink(source.constData());
                m_emptied.insert(parentOf(source));
                return {};
            }
            return u"a file of that name is already at %1"_s.arg(QFile::decodeName(target));
        }
        const QByteArray targetRoot = m_step.out ? (entry.beside ? m_besideStore : m_insideStore)
                                                 : (entry.beside ? m_parent : m_folder);
        if (const QString problem = makeParents(targetRoot, entry.path, !m_step.out); !problem.isEmpty())
            return problem;
        m_touched.insert(parentOf(source));
        m_touched.insert(parentOf(target));
        if (!entry.copy) {
            const int error = renameWithoutReplacing(source, target);
            if (error == 0) {
                m_emptied.insert(parentOf(source));
                return {};
            }
            if (error == EEXIST)
                return u"a file of that name is already at %1"_s.arg(QFile::decodeName(target));
            if (error != EXDEV)
                return systemError(error);
        }
        if (const QString problem = copyTo(source, sourceStat, temporary); !problem.isEmpty())
            return problem;
        const int error = renameWithoutReplacing(temporary, target);
        if (error != 0) {
            ::unlink(temporary.constData());
            return error == EEXIST ? u"a file of that name is already at %1"_s.arg(QFile::decodeName(target))
                                   : systemError(error);
        }
        m_copied.append({ m_index, entry.path, source, target });
        return {};
    }

    // Folders that moving files out left empty go too, so the game folder looks as it did before they came;
    // rmdir() removes only empty folders, and never the folder itself or the batch's roots.
    void removeEmptiedFolders()
    {
        QList<QByteArray> folders(m_emptied.cbegin(), m_emptied.cend());
        const QSet<QByteArray> keep { m_folder, m_parent, m_insideStore, m_besideStore, m_batch };
        std::sort(folders.begin(), folders.end(),
            [](const QByteArray& a, const QByteArray& b) { return a.count('/') > b.count('/'); });
        QSet<QByteArray> done;
        for (QByteArray folder : std::as_const(folders)) {
            while (!keep.contains(folder) && !done.contains(folder)
                && (folder.startsWith(m_folder + '/') || folder.startsWith(m_batch + '/'))) {
                // A folder that is not empty yet may be emptied by a deeper one further on.
                if (::rmdir(folder.constData()) != 0)
                    break;
                done.insert(folder);
                folder = parentOf(folder);
            }
        }
    }

    QByteArray m_folder;
    QByteArray m_parent;
    QByteArray m_batch;
    QByteArray m_insideStore;
    QByteArray m_besideStore;
    Step m_step;
    Manifest m_manifest;
    QSet<QByteArray> m_made;
    QSet<QByteArray> m_touched;
    QSet<QByteArray> m_emptied;
    QSet<QByteArray> m_cleaned;
    QList<Copied> m_copied;
    QMap<QByteArray, QString> m_folderProblems;
    MoveWatch* m_watch = nullptr;
    qsizetype m_index = 0;
};

// A batch that no longer holds any file is removed with its manifest: nothing of the player's is in it.
bool isEmptyOrAbsent(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return errno == ENOENT;
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

void removeBatchIfEmpty(const QByteArray& batchPath, const QByteArray& folderName)
{
    Manifest manifest;
    readManifest(batchPath, &manifest);
    const QByteArray inside = batchPath + '/' + folderName;
    const QByteArray beside = batchPath + "/beside " + folderName;
    for (const QuarantinedFile& file : std::as_const(manifest.files)) {
        if (exists((file.beside ? beside : inside) + '/' + file.path))
            return;
    }
    // Whatever else is left below the batch (a folder the player made, a file put there by hand) stays,
    // because rmdir() refuses folders that are not empty.
    const auto removeEmptyTree = [](const QByteArray& root, auto& self) -> void {
        DIR* dir = ::opendir(root.constData());
        if (!dir)
            return;
        QList<QByteArray> children;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            struct stat st;
            const QByteArray child = root + '/' + name;
            if (entry->d_type == DT_DIR
                || (entry->d_type == DT_UNKNOWN && ::lstat(child.constData(), &st) == 0
                    && S_ISDIR(st.st_mode)))
                children.append(child);
        }
        ::closedir(dir);
        for (const QByteArray& child : children)
            self(child, self);
        ::rmdir(root.constData());
    };
    removeEmptyTree(inside, removeEmptyTree);
    removeEmptyTree(beside, removeEmptyTree);
    ::unlink((batchPath + '/' + manifestTemporaryName).constData());
    // The manifest goes with the last file: an empty batch would only tell the player something is still out.
    if (!exists(inside) && !exists(beside))
        ::unlink((batchPath + '/' + manifestName).constData());
    ::rmdir(batchPath.constData());
}

}

int QuarantineBatch::filesOut() const
{
    return int(
        std::count_if(files.cbegin(), files.cend(), [](const QuarantinedFile& file) { return file.out; }));
}

QString quarantineFolderFor(const QString& folder)
{
    const QFileInfo info(folder);
    return info.absolutePath() + u'/' + info.fileName() + u" (moved out by Mendwell)"_s;
}

Quarantine::Quarantine(const QString& folder, int generation)
    : m_generation(generation)
{
    const QFileInfo info(folder);
    m_folder = info.canonicalFilePath().isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                                                  : info.canonicalFilePath();
    m_quarantine = quarantineFolderFor(m_folder);
}

bool Quarantine::unfinishedMove() const
{
    return exists(QFile::encodeName(m_quarantine) + '/' + stepName);
}

QString Quarantine::gameRunningMessage() const
{
    return runningGameMessage(m_generation);
}

namespace {

// One Mendwell at a time moves files of a folder: the window and a command line could otherwise both
// take the same step. The lock is on the folder's parent, where the quarantine lives, and the system
// drops it when the process ends, however it ends.
class FolderLock
{
public:
    explicit FolderLock(const QString& folder)
    {
        m_fd = ::open(QFile::encodeName(QFileInfo(folder).absolutePath()).constData(),
            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) { }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd = -1;
};

}

MoveReport Quarantine::recover()
{
    const FolderLock lock(m_folder);
    return recoverLocked();
}

MoveReport Quarantine::recoverLocked()
{
    MoveReport report;
    const QByteArray quarantine = QFile::encodeName(m_quarantine);
    if (!QFileInfo::exists(m_quarantine))
        return report;
    // A step file that never got its name: no file had moved yet.
    ::unlink((quarantine + '/' + stepTemporaryName).constData());

    QByteArray pending;
    Step step;
    if (readWhole(quarantine + '/' + stepName, &pending)) {
        if (!parseStep(pending, &step)) {
            report.error
                = u"The record of an unfinished move, %1, cannot be read; nothing was changed."_s.arg(
                    QFile::decodeName(quarantine + '/' + stepName));
            return report;
        }
        // The step was begun with the game closed; finishing it brings the folder back to a state the
        // player chose, which is safer than leaving it half done.
        report = StepRunner(QFile::encodeName(m_folder), quarantine, step).run();
        // Going back, the batch is removed before the step is marked done, so that a kill in the middle of
        // removing it is finished here next time; going out, the batch has just been filled.
        if (!step.out)
            removeBatchIfEmpty(
                quarantine + '/' + step.batch, QFile::encodeName(QFileInfo(m_folder).fileName()));
        if (::unlink((quarantine + '/' + stepName).constData()) != 0)
            report.error = u"cannot remove %1: %2"_s.arg(
                QFile::decodeName(quarantine + '/' + stepName), systemError(errno));
        syncFolder(quarantine);
    }
    // A batch made by a move that stopped before its step was recorded, or whose files all stayed, holds a
    // manifest and nothing else.
    const QByteArray folderName = QFile::encodeName(QFileInfo(m_folder).fileName());
    const QStringList names = QDir(m_quarantine).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QByteArray batch = quarantine + '/' + QFile::encodeName(name);
        if (isEmptyOrAbsent(batch + '/' + folderName) && isEmptyOrAbsent(batch + "/beside " + folderName))
            removeBatchIfEmpty(batch, folderName);
    }
    ::rmdir(quarantine.constData());
    return report;
}

MoveReport Quarantine::moveOut(const QList<QByteArray>& paths, const QList<QByteArray>& besidePaths)
{
    const FolderLock lock(m_folder);
    MoveReport report = recoverLocked();
    if (!report.ok())
        return report;
    report = {};
    if (QFileInfo(m_folder).isRoot() || !QFileInfo(m_folder).isDir()) {
        report.error = u"%1 is not a folder files can be moved out of."_s.arg(m_folder);
        return report;
    }
    if (const QString running = gameRunningMessage(); !running.isEmpty()) {
        report.error = running;
        return report;
    }

    const QByteArray folder = QFile::encodeName(m_folder);
    const QByteArray parent = parentOf(folder);
    const QByteArray quarantine = QFile::encodeName(m_quarantine);
    struct stat quarantineParent;
    ::stat(parent.constData(), &quarantineParent);

    QList<QuarantinedFile> files;
    QList<StepEntry> entries;
    QHash<QByteArray, std::pair<quint32, qint64>> folders;
    QSet<QByteArray> seen;
    QSet<QByteArray> checkedFolders;
    const auto plan = [&](const QByteArray& path, bool beside) {
        if (!acceptablePath(path)) {
            report.skipped.append({ path, u"not a path inside the folder"_s });
            return;
        }
        const QByteArray key = (beside ? "b" : "f") + path;
        if (seen.contains(key))
            return;
        seen.insert(key);
        const QByteArray root = beside ? parent : folder;
        // A folder on the way that is a link would take the move outside the game folder.
        const QList<QByteArray> parts = path.split('/');
        QByteArray above;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            above += (above.isEmpty() ? "" : "/") + parts.at(i);
            const QByteArray full = root + '/' + above;
            if (checkedFolders.contains(full))
                continue;
            struct stat st;
            if (::lstat(full.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                report.skipped.append({ path, u"%1 is not a folder"_s.arg(QFile::decodeName(full)) });
                return;
            }
            checkedFolders.insert(full);
            if (!beside)
                folders.insert(above, { st.st_mode, nanoseconds(st.st_mtim) });
        }
        struct stat st;
        const QByteArray full = root + '/' + path;
        if (::lstat(full.constData(), &st) != 0) {
            report.skipped.append({ path, systemError(errno) });
            return;
        }
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            report.skipped.append({ path, u"not a file"_s });
            return;
        }
        QuarantinedFile file;
        file.path = path;
        file.beside = beside;
        file.size = st.st_size;
        file.modifiedNs = nanoseconds(st.st_mtim);
        file.mode = st.st_mode;
        file.out = true;
        files.append(file);
        // Where the file lies on another volume than the quarantine (the folder is a mount point, or a
        // folder below it is), it is copied rather than renamed.
        entries.append({ path, beside, st.st_dev != quarantineParent.st_dev });
    };
    for (const QByteArray& path : paths)
        plan(path, false);
    for (const QByteArray& path : besidePaths)
        plan(path, true);
    if (entries.isEmpty())
        return report;
    entries = withWholeFolders(
        entries, wholeFolders(folder, renamableInside(entries), [](const QByteArray&) { return true; }));

    if (::mkdir(quarantine.constData(), 0755) != 0 && errno != EEXIST) {
        report.error = u"cannot make the folder %1: %2"_s.arg(m_quarantine, systemError(errno));
        return report;
    }
    const QString date = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH.mm.ss"_s);
    QByteArray batchName;
    for (int n = 1;; ++n) {
        batchName = QFile::encodeName(n == 1 ? date : u"%1 (%2)"_s.arg(date).arg(n));
        if (::mkdir((quarantine + '/' + batchName).constData(), 0755) == 0)
            break;
        if (errno != EEXIST) {
            report.error = u"cannot make a batch folder in %1: %2"_s.arg(m_quarantine, systemError(errno));
            return report;
        }
    }
    const QByteArray batch = quarantine + '/' + batchName;

    QByteArray manifest = "# Files Mendwell moved out of " + escaped(folder) + "\n# at "
        + QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8()
        + "\n# Put them back with Mendwell, or move them back by hand to the same place.\n"
          "# kind\tsize\tmodified (ns since 1970)\tmode\tpath\n";
    QList<QByteArray> folderPaths = folders.keys();
    std::sort(folderPaths.begin(), folderPaths.end());
    for (const QByteArray& path : std::as_const(folderPaths)) {
        const auto& [mode, mtime] = folders.value(path);
        manifest
            += "dir\t-\t" + QByteArray::number(mtime) + '\t' + modeText(mode) + '\t' + escaped(path) + '\n';
    }
    for (const QuarantinedFile& file : std::as_const(files)) {
        manifest += QByteArray(file.beside ? "beside" : "file") + '\t' + QByteArray::number(file.size) + '\t'
            + QByteArray::number(file.modifiedNs) + '\t' + modeText(file.mode) + '\t' + escaped(file.path)
            + '\n';
    }
    if (const QString error = writeDurably(batch, manifestTemporaryName, manifestName, manifest);
        !error.isEmpty()) {
        report.error = u"cannot write the manifest in %1: %2"_s.arg(QFile::decodeName(batch), error);
        ::rmdir(batch.constData());
        return report;
    }
    syncFolder(quarantine);

    Step step;
    step.out = true;
    step.batch = batchName;
    step.entries = entries;
    if (const QString error = writeDurably(quarantine, stepTemporaryName, stepName, stepText(step));
        !error.isEmpty()) {
        report.error = u"cannot record the move in %1: %2"_s.arg(m_quarantine, error);
        removeBatchIfEmpty(batch, QFile::encodeName(QFileInfo(m_folder).fileName()));
        return report;
    }
    const QList<std::pair<QByteArray, QString>> refused = report.skipped;
    report = StepRunner(folder, quarantine, step, m_watch).run();
    report.skipped = refused + report.skipped;
    ::unlink((quarantine + '/' + stepName).constData());
    syncFolder(quarantine);
    removeBatchIfEmpty(batch, QFile::encodeName(QFileInfo(m_folder).fileName()));
    return report;
}

MoveReport Quarantine::restore(const QString& batchName, const QList<QByteArray>& paths)
{
    const FolderLock lock(m_folder);
    MoveReport report = recoverLocked();
    if (!report.ok())
        return report;
    report = {};
    if (const QString running = gameRunningMessage(); !running.isEmpty()) {
        report.error = running;
        return report;
    }
    QList<QuarantineBatch> chosen = batches();
    std::reverse(chosen.begin(), chosen.end());
    if (!batchName.isEmpty()) {
        chosen.erase(std::remove_if(chosen.begin(), chosen.end(),
                         [&](const QuarantineBatch& batch) { return batch.name != batchName; }),
            chosen.end());
        if (chosen.isEmpty()) {
            report.error = u"There is no batch %1 in %2."_s.arg(batchName, m_quarantine);
            return report;
        }
    }
    const QSet<QByteArray> wanted(paths.cbegin(), paths.cend());
    QSet<QByteArray> matched;
    const QByteArray folder = QFile::encodeName(m_folder);
    const QByteArray quarantine = QFile::encodeName(m_quarantine);
    const QByteArray folderName = QFile::encodeName(QFileInfo(m_folder).fileName());
    struct stat folderStat, parentStat;
    ::stat(folder.constData(), &folderStat);
    ::stat(parentOf(folder).constData(), &parentStat);

    for (const QuarantineBatch& batch : std::as_const(chosen)) {
        Step step;
        step.out = false;
        step.batch = QFile::encodeName(batch.name);
        for (const QuarantinedFile& file : batch.files) {
            if (!file.out || (!wanted.isEmpty() && !wanted.contains(file.path)))
                continue;
            matched.insert(file.path);
            struct stat st;
            const QByteArray stored = QFile::encodeName(batch.path) + '/' + (file.beside ? "beside " : "")
                + folderName + '/' + file.path;
            ::lstat(stored.constData(), &st);
            const dev_t home = file.beside ? parentStat.st_dev : folderStat.st_dev;
            step.entries.append({ file.path, file.beside, st.st_dev != home });
        }
        if (step.entries.isEmpty())
            continue;
        // A folder whose name is taken again in the game folder cannot go back whole.
        const QByteArray store = QFile::encodeName(batch.path) + '/' + folderName;
        step.entries = withWholeFolders(step.entries,
            wholeFolders(store, renamableInside(step.entries),
                [&](const QByteArray& relative) { return !exists(folder + '/' + relative); }));
        if (const QString error = writeDurably(quarantine, stepTemporaryName, stepName, stepText(step));
            !error.isEmpty()) {
            report.error = u"cannot record the move in %1: %2"_s.arg(m_quarantine, error);
            return report;
        }
        const MoveReport done = StepRunner(folder, quarantine, step, m_watch).run();
        report.batch = done.batch;
        report.moved += done.moved;
        report.skipped += done.skipped;
        removeBatchIfEmpty(quarantine + '/' + step.batch, folderName);
        ::unlink((quarantine + '/' + stepName).constData());
        syncFolder(quarantine);
        if (done.cancelled) {
            report.cancelled = true;
            break;
        }
    }
    for (const QByteArray& path : paths) {
        if (!matched.contains(path) && !report.cancelled)
            report.skipped.append({ path, u"not among the files moved out"_s });
    }
    ::rmdir(quarantine.constData());
    return report;
}

QList<QuarantineBatch> Quarantine::batches() const
{
    QList<QuarantineBatch> list;
    const QByteArray folderName = QFile::encodeName(QFileInfo(m_folder).fileName());
    const QStringList names = QDir(m_quarantine).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        QuarantineBatch batch;
        batch.name = name;
        batch.path = m_quarantine + u'/' + name;
        const QByteArray path = QFile::encodeName(batch.path);
        Manifest manifest;
        if (!readManifest(path, &manifest))
            continue;
        for (QuarantinedFile& file : manifest.files) {
            file.out = exists(path + '/' + (file.beside ? "beside " : "") + folderName + '/' + file.path);
            batch.files.append(file);
        }
        list.append(batch);
    }
    std::sort(list.begin(), list.end(), [](const QuarantineBatch& a, const QuarantineBatch& b) {
        return batchOrder(a.name) < batchOrder(b.name);
    });
    return list;
}

}
