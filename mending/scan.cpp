// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan.h"

#include "cores.h"
#include "filesystem.h"
#include "pathtext.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
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

void fillEntry(FileEntry& entry, const struct stat& st)
{
    entry.size = st.st_size;
    entry.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    entry.inode = st.st_ino;
    entry.device = st.st_dev;
    entry.kind = S_ISLNK(st.st_mode) ? FileKind::Symlink : FileKind::Regular;
}

FileEntry entryOf(const QByteArray& prefix, const char* name, qsizetype nameLength)
{
    FileEntry entry;
    entry.path = QByteArray(prefix.size() + nameLength, Qt::Uninitialized);
    std::memcpy(entry.path.data(), prefix.constData(), size_t(prefix.size()));
    std::memcpy(entry.path.data() + prefix.size(), name, size_t(nameLength));
    return entry;
}

// Orders two names of one folder as their whole paths order: a folder's name stands for every path
// below it, so it compares as if "/" followed it ("a.b/x" comes before "a/x", "a/x" before "a0").
int compareNames(QByteArrayView a, bool aFolder, QByteArrayView b, bool bFolder)
{
    const qsizetype common = std::min(a.size(), b.size());
    if (const int c = std::memcmp(a.data(), b.data(), size_t(common)))
        return c;
    const int after = -1; // a name that ends here comes first
    const int nextA = a.size() > common ? uchar(a[common]) : aFolder ? '/' : after;
    const int nextB = b.size() > common ? uchar(b[common]) : bFolder ? '/' : after;
    return nextA - nextB;
}

// One folder's files and subfolders, each list in name order. The folders' nodes make a tree whose
// walk in name order gives every path in byte order, so no sort over whole paths is needed.
struct FolderNode
{
    QByteArray path; // relative, empty for the scanned folder
    std::vector<FileEntry> files;
    std::vector<std::unique_ptr<FolderNode>> subfolders;

    QByteArrayView nameOf(const QByteArray& childPath) const
    {
        const qsizetype skip = path.isEmpty() ? 0 : path.size() + 1;
        return QByteArrayView(childPath).sliced(skip);
    }
};

// One name of a folder as its listing gives it, before anything else is asked of it.
struct Listed
{
    quint64 key; // the name's first bytes, as compareNames orders them, in one number
    quint32 offset; // of the name in the names read
    quint32 stat; // of its facts where the listing gave no type, else noStat
    quint16 length;
    unsigned char type; // DT_DIR, DT_REG or DT_LNK
};

constexpr quint32 noStat = ~quint32(0);

// The first eight bytes of a name, and "/" after a folder's, as a big-endian number: most names of
// a folder differ there, and are ordered by comparing two numbers instead of two strings.
quint64 orderKey(const char* name, size_t length, bool folder)
{
    unsigned char bytes[8] = {};
    std::memcpy(bytes, name, std::min(length, sizeof bytes));
    if (folder && length < sizeof bytes)
        bytes[length] = '/';
    quint64 key = 0;
    for (const unsigned char byte : bytes)
        key = key << 8 | byte;
    return key;
}

// What a worker keeps from one folder to the next, so that reading a folder allocates nothing but
// what the scan gives back.
struct Scratch
{
    std::vector<char> names;
    std::vector<Listed> listed;
    std::vector<struct stat> stats;

    QByteArrayView nameOf(const Listed& item) const
    {
        return QByteArrayView(names.data() + item.offset, item.length);
    }
};

// Moves every file of the tree into files, in byte order of their paths.
void gatherInOrder(FolderNode& root, QList<FileEntry>& files)
{
    struct Place
    {
        FolderNode* node;
        size_t file = 0;
        size_t subfolder = 0;
    };
    std::vector<Place> stack { { &root } };
    while (!stack.empty()) {
        Place& place = stack.back();
        FolderNode& node = *place.node;
        const bool filesLeft = place.file < node.files.size();
        const bool subfoldersLeft = place.subfolder < node.subfolders.size();
        if (!filesLeft && !subfoldersLeft) {
            stack.pop_back();
            continue;
        }
        if (filesLeft
            && (!subfoldersLeft
                || compareNames(node.nameOf(node.files[place.file].path), false,
                       node.nameOf(node.subfolders[place.subfolder]->path), true)
                    < 0)) {
            files.append(std::move(node.files[place.file++]));
            continue;
        }
        FolderNode* below = node.subfolders[place.subfolder++].get();
        stack.push_back({ below }); // place is not used after this
    }
}

qsizetype countFiles(const FolderNode& root)
{
    qsizetype count = 0;
    std::vector<const FolderNode*> stack { &root };
    while (!stack.empty()) {
        const FolderNode* node = stack.back();
        stack.pop_back();
        count += qsizetype(node->files.size());
        for (const auto& below : node->subfolders)
            stack.push_back(below.get());
    }
    return count;
}

// Folders wait in one queue shared by the workers; each worker fills the nodes of the folders it
// reads and keeps its own problems, so the only shared state is the queue.
class Walk
{
public:
    Walk(int rootFd, FolderNode* root, ScanWatch* watch, ScanFacts facts)
        : m_rootFd(rootFd)
        , m_watch(watch)
        , m_facts(facts)
    {
        m_queue.push_back(root);
    }

    void work(std::vector<ScanProblem>& problems)
    {
        Scratch scratch;
        for (;;) {
            FolderNode* folder = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_busy == 0; });
                if (m_watch && m_watch->cancel.load(std::memory_order_relaxed))
                    m_queue.clear();
                if (m_queue.empty())
                    break;
                folder = m_queue.back();
                m_queue.pop_back();
                ++m_busy;
            }
            readFolder(*folder, scratch, problems);
            if (m_watch)
                m_watch->files.fetch_add(qint64(folder->files.size()), std::memory_order_relaxed);
            {
                std::lock_guard lock(m_mutex);
                for (const auto& sub : folder->subfolders)
                    m_queue.push_back(sub.get());
                --m_busy;
            }
            m_wake.notify_all();
        }
    }

private:
    // Lists the folder's names in order, then asks each file for its facts and makes the nodes of its
    // subfolders, so that both lists come out in name order.
    void readFolder(FolderNode& node, Scratch& scratch, std::vector<ScanProblem>& problems)
    {
        const QByteArray& folder = node.path;
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
        list(dir, scratch, problems, folder);
        const QByteArray prefix = folder.isEmpty() ? QByteArray() : folder + '/';
        node.files.reserve(size_t(std::count_if(scratch.listed.begin(), scratch.listed.end(),
            [](const Listed& item) { return item.type != DT_DIR; })));
        for (const Listed& item : scratch.listed) {
            const char* name = scratch.names.data() + item.offset;
            if (item.type == DT_DIR) {
                auto below = std::make_unique<FolderNode>();
                below->path = prefix + name;
                node.subfolders.push_back(std::move(below));
                continue;
            }
            if (item.stat == noStat && m_facts == ScanFacts::Names) {
                node.files.push_back(entryOf(prefix, name, item.length));
                node.files.back().kind = item.type == DT_LNK ? FileKind::Symlink : FileKind::Regular;
                node.files.back().size = -1;
                continue;
            }
            struct stat st;
            if (item.stat != noStat) {
                st = scratch.stats[item.stat];
            } else if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) // gone since the folder was read
                    problems.push_back({ prefix + name, errorText(errno).toUtf8() });
                continue;
            }
            if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
                continue;
            node.files.push_back(entryOf(prefix, name, item.length));
            fillEntry(node.files.back(), st);
        }
        ::closedir(dir);
    }

    // Reads the folder's names into scratch, in the order compareNames gives them. Devices, pipes
    // and sockets are left out: they are no content.
    static void list(DIR* dir, Scratch& scratch, std::vector<ScanProblem>& problems, const QByteArray& folder)
    {
        scratch.names.clear();
        scratch.listed.clear();
        scratch.stats.clear();
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
            Listed listed { 0, quint32(scratch.names.size()), noStat, 0, item->d_type };
            if (listed.type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone since the folder was read
                listed.stat = quint32(scratch.stats.size());
                scratch.stats.push_back(st);
                listed.type = S_ISDIR(st.st_mode) ? DT_DIR
                    : S_ISREG(st.st_mode)         ? DT_REG
                    : S_ISLNK(st.st_mode)         ? DT_LNK
                                                  : DT_UNKNOWN;
            }
            if (listed.type != DT_DIR && listed.type != DT_REG && listed.type != DT_LNK)
                continue;
            const size_t length = std::strlen(name);
            listed.length = quint16(length);
            listed.key = orderKey(name, length, listed.type == DT_DIR);
            scratch.names.insert(scratch.names.end(), name, name + length + 1);
            scratch.listed.push_back(listed);
        }
        std::sort(scratch.listed.begin(), scratch.listed.end(), [&scratch](const Listed& a, const Listed& b) {
            if (a.key != b.key)
                return a.key < b.key;
            return compareNames(scratch.nameOf(a), a.type == DT_DIR, scratch.nameOf(b), b.type == DT_DIR) < 0;
        });
    }

    int m_rootFd;
    ScanWatch* m_watch;
    ScanFacts m_facts;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<FolderNode*> m_queue;
    int m_busy = 0;
};

}

ScanResult scanFolder(const QByteArray& root, int threads, ScanWatch* watch, ScanFacts facts)
{
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(root), errorText(errno)));
    if (threads <= 0)
        threads = coreCount();

    FolderNode tree;
    Walk walk(rootFd, &tree, watch, facts);
    std::vector<std::vector<ScanProblem>> problems(static_cast<size_t>(threads));
    onThreads(threads, [&walk, &problems](int i) { walk.work(problems[size_t(i)]); });
    ::close(rootFd);

    ScanResult result;
    result.files.reserve(countFiles(tree));
    gatherInOrder(tree, result.files);
    for (auto& part : problems) {
        for (ScanProblem& problem : part)
            result.problems.append(std::move(problem));
    }
    std::sort(result.problems.begin(), result.problems.end(),
        [](const ScanProblem& a, const ScanProblem& b) { return a.path < b.path; });
    return result;
}

}
