// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// A small tmpfs mounted for one test, a real volume that can be filled, made read-only and
// unmounted. Mounting needs root; where it is refused, isMounted() is false and the test skips.
class TmpfsMount
{
public:
    // Mounted on a folder of its own, or on the folder given, which then becomes a mount point.
    explicit TmpfsMount(const QString& size = QStringLiteral("64k"), const QString& point = {})
        : m_point(point.isEmpty() ? m_dir.filePath(QStringLiteral("volume")) : point)
    {
        QDir().mkpath(m_point);
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                        { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                            QStringLiteral("size=") + size, QStringLiteral("tmpfs"), m_point })
            == 0;
    }
    ~TmpfsMount() { unmount(); }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_point; }
    QString filePath(const QString& name) const { return m_point + u'/' + name; }

    // Writes a filler file until the volume answers "No space left on device".
    void fill()
    {
        QFile filler(filePath(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) { }
        // The last partial page too: nothing at all is left.
        while (filler.write(block.left(1)) == 1) { }
    }
    bool makeReadOnly()
    {
        return QProcess::execute(
                   QStringLiteral("mount"), { QStringLiteral("-o"), QStringLiteral("remount,ro"), m_point })
            == 0;
    }
    void unmount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_point });
        m_mounted = false;
    }

private:
    QTemporaryDir m_dir;
    QString m_point;
    bool m_mounted = false;
};

#define SKIP_UNLESS_MOUNTED(mount)                                                                           \
    do {                                                                                                     \
        if (!(mount).isMounted())                                                                            \
            QSKIP("a tmpfs cannot be mounted here (needs root): the real-volume case is not run");           \
    } while (false)
