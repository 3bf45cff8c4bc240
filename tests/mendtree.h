// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real folders for the Mendwell tests: files made with the bytes and times asked for.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tree {

// Makes every missing folder of a relative path below root.
inline void makeFolders(const QByteArray& root, const QByteArray& relative)
{
    for (qsizetype slash = relative.indexOf('/'); slash >= 0; slash = relative.indexOf('/', slash + 1))
        ::mkdir((root + '/' + relative.first(slash)).constData(), 0755);
}

inline void write(const QByteArray& root, const QByteArray& relative, const QByteArray& bytes)
{
    makeFolders(root, relative);
    const QByteArray path = root + '/' + relative;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

inline void setTime(const QByteArray& root, const QByteArray& relative, qint64 ns)
{
    const struct timespec times[2]
        = { { ns / 1000000000, ns % 1000000000 }, { ns / 1000000000, ns % 1000000000 } };
    QCOMPARE(::utimensat(AT_FDCWD, (root + '/' + relative).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A temporary folder that is removed whatever its names: Qt's own removal gives up on names that are not
// valid UTF-8 and on paths longer than the system takes in one call.
class Folder
{
public:
    Folder() { m_dir.setAutoRemove(false); }
    ~Folder() { QProcess::execute(QStringLiteral("rm"), { QStringLiteral("-rf"), m_dir.path() }); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    QByteArray path() const { return QFile::encodeName(m_dir.path()); }

private:
    QTemporaryDir m_dir;
};

inline QByteArray readAll(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Steps a test table gives as text: "file PATH BYTES", "dir PATH", "link PATH TARGET", "fifo PATH",
// "rm PATH", "mv FROM TO", "time PATH NS", "copy FROM TO" (a new file with the same bytes and times).
// Fields are separated by "|", so names may hold spaces.
inline void apply(const QByteArray& root, const QList<QByteArray>& steps)
{
    for (const QByteArray& step : steps) {
        const QList<QByteArray> f = step.split('|');
        const QByteArray& what = f.at(0);
        if (what == "file") {
            write(root, f.at(1), f.value(2));
        } else if (what == "dir") {
            makeFolders(root, f.at(1) + '/');
        } else if (what == "link") {
            makeFolders(root, f.at(1));
            QCOMPARE(::symlink(f.at(2).constData(), (root + '/' + f.at(1)).constData()), 0);
        } else if (what == "fifo") {
            makeFolders(root, f.at(1));
            QCOMPARE(::mkfifo((root + '/' + f.at(1)).constData(), 0644), 0);
        } else if (what == "rm") {
            QCOMPARE(::unlink((root + '/' + f.at(1)).constData()), 0);
        } else if (what == "mv") {
            makeFolders(root, f.at(2));
            QCOMPARE(::rename((root + '/' + f.at(1)).constData(), (root + '/' + f.at(2)).constData()), 0);
        } else if (what == "time") {
            setTime(root, f.at(1), f.at(2).toLongLong());
        } else if (what == "copy") {
            struct stat st;
            QCOMPARE(::stat((root + '/' + f.at(1)).constData(), &st), 0);
            QFile from(QString::fromUtf8(root + '/' + f.at(1)));
            QVERIFY(from.open(QIODevice::ReadOnly));
            write(root, f.at(2), from.readAll());
            setTime(root, f.at(2), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        } else {
            QFAIL(step.constData());
        }
    }
}

}
