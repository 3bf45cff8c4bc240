// SPDX-License-Identifier: GPL-3.0-or-later
// The commands' heap: large blocks come from it, and it is advised for large pages, on the main
// thread and on the threads started after it, as the kernel lists this process's memory.
#include "heap.h"

#include <QFile>
#include <QTest>

#include <cstdlib>
#include <thread>

class tst_Heap : public QObject
{
    Q_OBJECT
private slots:
    void blocksLieInAdvisedMemory();
};

namespace {

// The flags the kernel gives the mapping that holds address ("hg": advised for large pages).
QByteArray flagsOfMapping(const void* address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    const auto at = reinterpret_cast<quintptr>(address);
    bool inside = false;
    // Read whole: a file of /proc has no size, and is at its end before it is read.
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const qsizetype dash = line.indexOf('-');
        const qsizetype space = line.indexOf(' ');
        bool lowOk = false;
        bool highOk = false;
        const quintptr low = dash > 0 ? line.first(dash).toULongLong(&lowOk, 16) : 0;
        const quintptr high
            = dash > 0 && space > dash ? line.sliced(dash + 1, space - dash - 1).toULongLong(&highOk, 16) : 0;
        if (lowOk && highOk)
            inside = low <= at && at < high;
        else if (inside && line.startsWith("VmFlags:"))
            return line.sliced(8).trimmed();
    }
    return {};
}

bool advised(const void* block)
{
    return flagsOfMapping(block).split(' ').contains("hg");
}

}

void tst_Heap::blocksLieInAdvisedMemory()
{
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the heap is shaped under glibc's own allocator only");
#endif
    if (!QFile::exists(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled")))
        QSKIP("this kernel has no large pages to advise");
    prepareHeap();
    // A buffer of megabytes, as a snapshot's records make, on the main thread and on a worker.
    void* onMain = std::malloc(8 << 20);
    QVERIFY2(advised(onMain), flagsOfMapping(onMain).constData());
    QByteArray onWorker;
    std::thread([&onWorker] {
        void* block = std::malloc(8 << 20);
        onWorker = advised(block) ? QByteArray() : flagsOfMapping(block) + ' ';
        std::free(block);
    }).join();
    QVERIFY2(onWorker.isEmpty(), onWorker.constData());
    std::free(onMain);
}

QTEST_GUILESS_MAIN(tst_Heap)
#include "tst_heap.moc"
