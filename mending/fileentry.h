// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <stdexcept>

namespace mending {

enum class FileKind : quint8 { Regular = 1, Symlink = 2 };

// One file below a scanned folder. The path is relative, "/" between folders, and keeps the name's
// bytes exactly as the file system gave them: a name need not be valid in any encoding.
struct FileEntry
{
    QByteArray path;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    quint64 device = 0;
    FileKind kind = FileKind::Regular;

    friend bool operator==(const FileEntry&, const FileEntry&) = default;
};

// A folder that could not be read; its files are missing from the scan, not gone.
struct ScanProblem
{
    QByteArray path; // relative; empty for the scanned folder itself
    QByteArray reason; // UTF-8

    friend bool operator==(const ScanProblem&, const ScanProblem&) = default;
};

// The one failure type of the core: a sentence that names what failed and why.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    { }
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

// The text of an errno value, safe to call from several threads.
QString errorText(int error);

}
