// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tmpfsmount.h"

// Real folders for the quarantine's tests and benchmark: made with odd names, modes and times, and read back
// whole (bytes, permissions, modification times) so that two states can be compared.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FileState
{
    QByteArray content; // the bytes, or the target of a symbolic link
    quint32 mode = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileState&) const = default;
};

// Every entry below root by relative path; folders have an empty content and their mode. Folder times
// change with every name added or taken, so they are not kept unless asked for.
inline void readTree(
    const QByteArray& root, const QByteArray& relative, QMap<QByteArray, FileState>& out, bool withFolders)
{
    const QByteArray path = relative.isEmpty() ? root : root + '/' + relative;
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    for (const QByteArray& name : std::as_const(names)) {
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + '/' + rel;
        struct stat st;
        if (::lstat(full.constData(), &st) != 0)
            continue;
        FileState state;
        state.mode = st.st_mode;
        if (S_ISDIR(st.st_mode)) {
            if (withFolders)
                out.insert(rel + '/', state);
            readTree(root, rel, out, withFolders);
            continue;
        }
        state.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(full.constData(), target, sizeof target);
            state.content = QByteArray(target, int(qMax<ssize_t>(n, 0)));
        } else {
            const int fd = ::open(full.constData(), O_RDONLY);
            state.content.resize(st.st_size);
            qsizetype got = 0;
            while (fd >= 0 && got < st.st_size) {
                const ssize_t n = ::read(fd, state.content.data() + got, size_t(st.st_size - got));
                if (n <= 0)
                    break;
                got += n;
            }
            state.content.truncate(got);
            if (fd >= 0)
                ::close(fd);
        }
        out.insert(rel, state);
    }
}

inline QMap<QByteArray, FileState> treeOf(const QByteArray& root, bool withFolders = false)
{
    QMap<QByteArray, FileState> tree;
    readTree(root, {}, tree, withFolders);
    return tree;
}

inline QList<QByteArray> filesOf(const QMap<QByteArray, FileState>& tree)
{
    QList<QByteArray> files;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (!it.key().endsWith('/'))
            files.append(it.key());
    }
    return files;
}

inline bool writeFile(const QByteArray& path, const QByteArray& content, quint32 mode, qint64 modifiedNs)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    const struct timespec times[2]
        = { { modifiedNs / 1000000000 - 5, 0 }, { modifiedNs / 1000000000, long(modifiedNs % 1000000000) } };
    const bool kept = ::fchmod(fd, mode) == 0 && ::futimens(fd, times) == 0;
    return ::close(fd) == 0 && written && kept;
}

// A game folder of count files: mods in subfolders up to four deep, names with spaces, tabs, line feeds,
// backslashes, bytes that are no UTF-8, empty files, links, read-only files, times to the nanosecond.
inline bool makeTree(const QByteArray& root, int count, quint32 seed, int maxSize = 4096)
{
    QRandomGenerator random(seed);
    static const QList<QByteArray> odd { "Author_Mod", "space name", "tab\there", "line\nfeed", "back\\slash",
        "caf\xc3\xa9", "bad\xff\xfe", "\xe6\x97\xa5\xe6\x9c\xac", "name (1)", "-dash", ".hidden", "x" };
    static const QList<QByteArray> kinds { ".package", ".ts4script", ".package", ".cfg", ".txt", "" };
    static const QList<quint32> modes { 0644, 0644, 0600, 0755, 0444, 0640 };
    QList<QByteArray> folders { QByteArray() };
    for (int i = 0; i < count; ++i) {
        QByteArray folder = folders.at(random.bounded(int(folders.size())));
        if (folder.count('/') < 4 && random.bounded(4) == 0) {
            folder += (folder.isEmpty() ? "" : "/") + odd.at(random.bounded(int(odd.size()))) + ' '
                + QByteArray::number(i);
            if (::mkdir((root + '/' + folder).constData(), random.bounded(3) == 0 ? 0700 : 0755) != 0)
                return false;
            folders.append(folder);
        }
        const QByteArray name = odd.at(random.bounded(int(odd.size()))) + '_' + QByteArray::number(i)
            + kinds.at(random.bounded(int(kinds.size())));
        const QByteArray path = root + '/' + (folder.isEmpty() ? name : folder + '/' + name);
        if (random.bounded(25) == 0) {
            if (::symlink(("../" + name).constData(), path.constData()) != 0)
                return false;
            continue;
        }
        QByteArray content(
            random.bounded(maxSize + 1) * (random.bounded(10) == 0 ? 0 : 1), Qt::Uninitialized);
        for (char& c : content)
            c = char(random.bounded(256));
        const qint64 modified = 1500000000LL * 1000000000 + qint64(random.bounded(1000000000)) * 100
            + random.bounded(1000000000);
        if (!writeFile(path, content, modes.at(random.bounded(int(modes.size()))), modified))
            return false;
    }
    return true;
}

// Where every file of the game folder is now: in the folder itself or in one of the batches.
struct Whereabouts
{
    QMap<QByteArray, QList<FileState>> copies; // path inside the folder: each place it is found
    QStringList strays; // anything in the quarantine that is neither a moved file nor a manifest
};

inline Whereabouts whereabouts(const QString& folder, const QString& quarantine)
{
    Whereabouts found;
    const QMap<QByteArray, FileState> inFolder = treeOf(QFile::encodeName(folder));
    for (auto it = inFolder.cbegin(); it != inFolder.cend(); ++it)
        found.copies[it.key()].append(it.value());
    const QByteArray inside = QFile::encodeName(QFileInfo(folder).fileName()) + '/';
    const QMap<QByteArray, FileState> stored = treeOf(QFile::encodeName(quarantine));
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        const QByteArray& path = it.key();
        const qsizetype slash = path.indexOf('/');
        const QByteArray below = slash < 0 ? QByteArray() : path.mid(slash + 1);
        if (below.startsWith(inside))
            found.copies[below.mid(inside.size())].append(it.value());
        else if (below != "manifest.tsv")
            found.strays.append(QString::fromUtf8(path));
    }
    return found;
}

// The files as they lie when each is in exactly one place; otherwise empty, with the reason in why.
inline QMap<QByteArray, FileState> inOnePlace(const Whereabouts& found, QString* why)
{
    QMap<QByteArray, FileState> single;
    if (!found.strays.isEmpty()) {
        *why = QStringLiteral("strays in the quarantine: ") + found.strays.join(QStringLiteral(", "));
        return {};
    }
    for (auto it = found.copies.cbegin(); it != found.copies.cend(); ++it) {
        if (it->size() != 1) {
            *why = QStringLiteral("%1 is in %2 places").arg(QString::fromUtf8(it.key())).arg(it->size());
            return {};
        }
        single.insert(it.key(), it->first());
    }
    return single;
}

// Compares what a folder holds with what it held, file by file, with the reason of the first difference.
inline QString differences(const QMap<QByteArray, FileState>& was, const QMap<QByteArray, FileState>& now)
{
    for (auto it = was.cbegin(); it != was.cend(); ++it) {
        if (!now.contains(it.key()))
            return QStringLiteral("missing: %1").arg(QString::fromUtf8(it.key()));
        const FileState& state = now.value(it.key());
        if (state.content != it->content)
            return QStringLiteral("other bytes: %1").arg(QString::fromUtf8(it.key()));
        if (state.mode != it->mode)
            return QStringLiteral("mode %1 instead of %2: %3")
                .arg(state.mode, 0, 8)
                .arg(it->mode, 0, 8)
                .arg(QString::fromUtf8(it.key()));
        if (state.modifiedNs != it->modifiedNs)
            return QStringLiteral("other time: %1").arg(QString::fromUtf8(it.key()));
    }
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (!was.contains(it.key()))
            return QStringLiteral("extra: %1").arg(QString::fromUtf8(it.key()));
    }
    return {};
}

// A file below levels folders of 200-letter names: its path is longer than the system's limit, so only
// handles reach it. Returns its path relative to root, or nothing.
inline QByteArray makeDeepFile(const QByteArray& root, int levels, const QByteArray& content)
{
    int folder = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
    QByteArray path;
    for (int i = 0; i < levels && folder >= 0; ++i) {
        const QByteArray name = QByteArray::number(i) + QByteArray(200, 'd');
        ::mkdirat(folder, name.constData(), 0755);
        const int next = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        ::close(folder);
        folder = next;
        path += name + '/';
    }
    if (folder < 0)
        return {};
    const int fd = ::openat(folder, "deep.package", O_WRONLY | O_CREAT | O_EXCL, 0644);
    ::close(folder);
    const bool written
        = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    if (fd >= 0)
        ::close(fd);
    return written ? path + "deep.package" : QByteArray();
}

// The bytes of a file reached name by name from root, however deep; a null array where there is none.
inline QByteArray readDeepFile(const QByteArray& root, const QByteArray& relative)
{
    int folder = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
    const QList<QByteArray> parts = relative.split('/');
    for (qsizetype i = 0; i + 1 < parts.size() && folder >= 0; ++i) {
        const int next = ::openat(folder, parts.at(i).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        ::close(folder);
        folder = next;
    }
    if (folder < 0)
        return {};
    const int fd = ::openat(folder, parts.last().constData(), O_RDONLY | O_NOFOLLOW);
    ::close(folder);
    if (fd < 0)
        return {};
    QByteArray content("");
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, n);
    ::close(fd);
    return content;
}

// Removes a folder whose names are not all text (QDir::removeRecursively() cannot name those), and folders
// a test left read-only.
class RemovedAtEnd
{
public:
    explicit RemovedAtEnd(const QString& folder)
        : m_folder(folder)
    { }
    ~RemovedAtEnd() { QProcess::execute(QStringLiteral("rm"), { QStringLiteral("-rf"), m_folder }); }
    RemovedAtEnd(const RemovedAtEnd&) = delete;
    RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;

private:
    QString m_folder;
};
