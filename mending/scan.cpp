// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan.h"

#include "filesystem.h"
#include "pathtext.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mending {

QString errorText(int error)
{
    return fs::errorText(error);
}

int openBelow(int folderFd, const QByteArray& relativePath, int flags)
{
    if (relativePath.isEmpty())
        return ::openat(folderFd, ".", flags | O_CLOEXEC);
    if (relativePath.size() < PATH_MAX)
        return ::openat(folderFd, relativePath.constData(), flags | O_CLOEXEC);
    // Too long for one call: walk down one folder at a time.
    const QList<QByteArray> parts = relativePath.split('/');
    int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (qsizetype i = 0; i < parts.size() && fd >= 0; ++i) {
        const bool last = i + 1 == parts.size();
        const int next = ::openat(fd, parts.at(i).constData(),
            last ? flags | O_CLOEXEC : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int saved = errno;
        ::close(fd);
        errno = saved;
        fd = next;
    }
    return fd;
}

QByteArray canonicalFolder(const QByteArray& path)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), errorText(errno)));
    QByteArray result(resolved);
    ::free(resolved);
    struct stat st;
    if (::stat(result.constData(), &st) != 0)
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), errorText(errno)));
    if (!S_ISDIR(st.st_mode))
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), errorText(ENOTDIR)));
    return result;
}

namespace {

bool pathLess(const FileEntry& a, const FileEntry& b)
{
    return a.path < b.path;
}

void fillEntry(FileEntry& entry, const struct stat& st)
{
    entry.size = st.st_size;
    entry.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    entry.inode = st.st_ino;
    entry.device = st.st_dev;
    entry.kind = S_ISLNK(st.st_mode) ? FileKind::Symlink : FileKind::Regular;
}

// Folders wait in one queue shared by the workers; each worker keeps its own files and problems,
// so the only shared state is the queue.
class Walk
{
public:
    Walk(int rootFd, ScanWatch* watch)
        : m_rootFd(rootFd)
        , m_watch(watch)
    {
        m_queue.push_back(QByteArray());
    }

    void work(std::vector<FileEntry>& files, std::vector<ScanProblem>& problems)
    {
        std::vector<QByteArray> found;
        for (;;) {
            QByteArray folder;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_busy == 0; });
                if (m_watch && m_watch->cancel.load(std::memory_order_relaxed))
                    m_queue.clear();
                if (m_queue.empty())
                    break;
                folder = std::move(m_queue.back());
                m_queue.pop_back();
                ++m_busy;
            }
            found.clear();
            const size_t before = files.size();
            readFolder(folder, files, problems, found);
            if (m_watch)
                m_watch->files.fetch_add(qint64(files.size() - before), std::memory_order_relaxed);
            {
                std::lock_guard lock(m_mutex);
                for (QByteArray& sub : found)
                    m_queue.push_back(std::move(sub));
                --m_busy;
            }
            m_wake.notify_all();
        }
        // Each worker orders its own share, so the ordering runs on every core too.
        std::sort(files.begin(), files.end(), pathLess);
    }

private:
    void readFolder(const QByteArray& folder, std::vector<FileEntry>& files,
        std::vector<ScanProblem>& problems, std::vector<QByteArray>& subfolders)
    {
        const int fd = openBelow(m_rootFd, folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) {
            problems.push_back({ folder, errorText(errno).toUtf8() });
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            problems.push_back({ folder, errorText(errno).toUtf8() });
            ::close(fd);
            return;
        }
        const QByteArray prefix = folder.isEmpty() ? QByteArray() : folder + '/';
        for (;;) {
            errno = 0;
            const dirent* item = ::readdir(dir);
            if (!item) {
                if (errno != 0)
                    problems.push_back({ folder, errorText(errno).toUtf8() });
                break;
            }
            const char* name = item->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            unsigned char type = item->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone since the folder was read
                haveStat = true;
                type = S_ISDIR(st.st_mode) ? DT_DIR
                    : S_ISREG(st.st_mode)  ? DT_REG
                    : S_ISLNK(st.st_mode)  ? DT_LNK
                                           : 0;
            }
            if (type == DT_DIR) {
                subfolders.push_back(prefix + name);
                continue;
            }
            if (type != DT_REG && type != DT_LNK)
                continue; // devices, pipes and sockets are no content
            if (!haveStat && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT)
                    problems.push_back({ prefix + name, errorText(errno).toUtf8() });
                continue;
            }
            if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
                continue;
            FileEntry entry;
            const qsizetype nameLength = qsizetype(std::strlen(name));
            entry.path = QByteArray(prefix.size() + nameLength, Qt::Uninitialized);
            std::memcpy(entry.path.data(), prefix.constData(), size_t(prefix.size()));
            std::memcpy(entry.path.data() + prefix.size(), name, size_t(nameLength));
            fillEntry(entry, st);
            files.push_back(std::move(entry));
        }
        ::closedir(dir);
    }

    int m_rootFd;
    ScanWatch* m_watch;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<QByteArray> m_queue;
    int m_busy = 0;
};

}

ScanResult scanFolder(const QByteArray& root, int threads, ScanWatch* watch)
{
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(root), errorText(errno)));
    if (threads <= 0)
        threads = int(std::max(1u, std::thread::hardware_concurrency()));

    Walk walk(rootFd, watch);
    std::vector<std::vector<FileEntry>> files(static_cast<size_t>(threads));
    std::vector<std::vector<ScanProblem>> problems(static_cast<size_t>(threads));
    for (auto& part : files)
        part.reserve(1 << 15);
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(
            [&walk, &files, &problems, i] { walk.work(files[size_t(i)], problems[size_t(i)]); });
    walk.work(files[0], problems[0]);
    for (std::thread& helper : helpers)
        helper.join();
    ::close(rootFd);

    ScanResult result;
    if (files.size() == 1) {
        result.files.reserve(qsizetype(files[0].size()));
        std::move(files[0].begin(), files[0].end(), std::back_inserter(result.files));
    } else {
        while (files.size() > 2) {
            std::vector<FileEntry> merged;
            merged.reserve(files[0].size() + files[1].size());
            std::merge(std::make_move_iterator(files[0].begin()), std::make_move_iterator(files[0].end()),
                std::make_move_iterator(files[1].begin()), std::make_move_iterator(files[1].end()),
                std::back_inserter(merged), pathLess);
            files.erase(files.begin());
            files[0] = std::move(merged);
        }
        result.files.reserve(qsizetype(files[0].size() + files[1].size()));
        std::merge(std::make_move_iterator(files[0].begin()), std::make_move_iterator(files[0].end()),
            std::make_move_iterator(files[1].begin()), std::make_move_iterator(files[1].end()),
            std::back_inserter(result.files), pathLess);
    }
    files.clear();
    for (auto& part : problems) {
        for (ScanProblem& problem : part)
            result.problems.append(std::move(problem));
    }
    std::sort(result.problems.begin(), result.problems.end(),
        [](const ScanProblem& a, const ScanProblem& b) { return a.path < b.path; });
    return result;
}

}
