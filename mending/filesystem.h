// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/stat.h>

// Every call the core makes to the file system. Files are reached relative to open folder handles, one
// name at a time, never through a symbolic link: a folder swapped for a link while Mendwell works cannot
// lead a move outside the game folder, and a path may be deeper than the system's limit on path length.
// Paths are the names' bytes, "/" between folders; QString appears only in the text shown to people.
namespace mending::fs {

// Owns a file descriptor and closes it.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    { }
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    { }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset();

private:
    int m_fd = -1;
};

// The system's text for an errno value.
QString errorText(int error);

// A path Mendwell may take from a caller or from its own records: relative, and made of names only (no
// empty, "." or ".." part, no NUL).
bool isPlainRelativePath(const QByteArray& path);

QByteArray parentPath(const QByteArray& path); // "" for a name without a folder, "/" for "/name"
QByteArray lastName(const QByteArray& path);

// Opens a folder named by an absolute path, as the player chose it (links in it are followed).
Fd openFolder(const QByteArray& path, int* error = nullptr);

// Opens the folder at relative (a plain relative path; empty for base itself) below base without
// following a link at any step.
Fd openBeneath(int base, const QByteArray& relative, int* error = nullptr);

// Like openBeneath(), making the folders that are missing (mode 0755 before the umask); made receives the
// relative paths of those it made, outermost first.
Fd makeBeneath(int base, const QByteArray& relative, int* error = nullptr, QList<QByteArray>* made = nullptr);

// lstat() of one name in a folder; false with errno set when there is nothing.
bool statAt(int folder, const QByteArray& name, struct stat* st);

// Renames between two folders without replacing anything at the target. Where the file system cannot
// refuse to replace, a hard link and an unlink do the same. Returns 0 or the errno value.
int renameWithoutReplacing(
    int fromFolder, const QByteArray& fromName, int toFolder, const QByteArray& toName);

// A name for a temporary file: prefix and random letters, never the same twice.
QByteArray uniqueName(const QByteArray& prefix);

struct CopyResult
{
    QString error; // empty when the copy is whole
    bool ownerKept = true; // false where the system did not let the copy keep its owner
};

// Copies a file or a symbolic link to a new name (created exclusively, so nothing is replaced) keeping its
// bytes, permissions, times and, where allowed, owner. The copy's bytes are synced before it returns unless
// the caller syncs the whole volume once for many copies (sync false); on failure the copy is removed.
CopyResult copyFile(int fromFolder, const QByteArray& fromName, const struct stat& source, int toFolder,
    const QByteArray& toName, bool sync = true);

// Whether two names hold the same kind of file with the same bytes (or the same link target).
bool sameBytes(int folderA, const QByteArray& nameA, int folderB, const QByteArray& nameB);

// Reads until size bytes are in or the file ends; gives how many, or -1 with errno set.
ssize_t readFully(int fd, char* buffer, size_t size);

// What writeAtomically() does where the name is taken already.
enum class Existing {
    Replace, // the new file takes the name (rename)
    Keep, // the old file keeps it, and the write fails with EEXIST (link)
};

// Writes a file whole or not at all: a unique temporary name, sync, rename (or link), sync of the folder.
// Returns the reason it failed, or nothing; errorNumber receives the errno value (0 on success).
QString writeAtomically(int folder, const QByteArray& name, const QByteArray& content,
    Existing existing = Existing::Replace, int* errorNumber = nullptr, quint32 mode = 0644);

// Reads a small file below a folder handle without following links.
bool readAt(int folder, const QByteArray& name, QByteArray* content);

// Returns 0 or the errno value; a file system that cannot sync folders is no failure.
int syncFolder(int folder);

// Makes one folder; returns 0 or the errno value (EEXIST where anything has the name already).
int makeFolderAt(int folder, const QByteArray& name, quint32 mode = 0755);

// Removes a file, or an empty folder, by name; false with errno set when it could not.
bool removeAt(int folder, const QByteArray& name, bool isFolder = false);

// Gives the permissions of mode to the folder at relative below base, reached without following links.
void setFolderMode(int base, const QByteArray& relative, quint32 mode);

// Whether anything, of any kind, is at relative below base (reached without following links).
bool existsBeneath(int base, const QByteArray& relative, struct stat* st = nullptr);

// The volume a handle's file lies on.
dev_t volumeOf(int fd);

// The absolute path with every link and "." or ".." resolved; empty where the path does not exist.
QByteArray realPath(const QByteArray& path);

// Holds an exclusive lock on a folder until the handle is closed (by the system, however the process ends).
Fd lockFolder(const QByteArray& path);

// Syncs the whole volume that holds the folder (one call instead of one per file).
void syncVolume(int folder);

struct Entry
{
    QByteArray name;
    bool folder = false; // a real folder, never a link to one
};

// The names in a folder, without "." and "..".
QList<Entry> entriesOf(int folder);

}
