// SPDX-License-Identifier: GPL-3.0-or-later
// Packages made here byte by byte (whole, with constant fields in the index header, and damaged), read
// from real files; the clashes among them, in the core and from the real mendwell executable.
#include "conflicts.h"
#include "dbpf.h"
#include "scan.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

#include <array>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mending;

Q_DECLARE_METATYPE(QList<IndexEntry>)
Q_DECLARE_METATYPE(PackageState)

namespace {

void putWord(QByteArray& bytes, qsizetype at, quint32 word)
{
    qToLittleEndian(word, bytes.data() + at);
}

void appendWord(QByteArray& bytes, quint32 word)
{
    bytes.resize(bytes.size() + 4);
    putWord(bytes, bytes.size() - 4, word);
}

IndexEntry entry(quint32 type, quint32 group, quint64 instance, quint32 size = 4)
{
    IndexEntry made;
    made.key = { type, group, instance };
    made.sizeOnDisk = size;
    made.sizeInMemory = size;
    return made;
}

// A version 2 package: header, the resources' bytes (each entry's size, filled with 'r'), then the
// index. The fields whose bits are set in constant are stored once, from the first entry (the
// caller makes them equal). The entries' positions are set here.
QByteArray packageV2(QList<IndexEntry>& entries, quint32 constant = 0)
{
    QByteArray bytes(96, '\0');
    bytes.replace(0, 4, "DBPF");
    putWord(bytes, 4, 2);
    putWord(bytes, 8, 1);
    for (IndexEntry& made : entries) {
        made.position = quint32(bytes.size());
        bytes += QByteArray(qsizetype(made.sizeOnDisk), 'r');
    }
    const quint32 position = quint32(bytes.size());
    auto words = [](const IndexEntry& made) {
        return std::array<quint32, 8> { made.key.type, made.key.group, quint32(made.key.instance >> 32),
            quint32(made.key.instance), made.position, made.sizeOnDisk | 0x80000000u, made.sizeInMemory,
            made.compression | 0x10000u };
    };
    appendWord(bytes, constant);
    for (int field = 0; field < 8; ++field) {
        if (constant & (1u << field))
            appendWord(bytes, words(entries.first())[field]);
    }
    for (const IndexEntry& made : entries) {
        for (int field = 0; field < 8; ++field) {
            if (!(constant & (1u << field)))
                appendWord(bytes, words(made)[field]);
        }
    }
    putWord(bytes, 36, quint32(entries.size()));
    putWord(bytes, 44, quint32(bytes.size()) - position);
    putWord(bytes, 60, 3);
    putWord(bytes, 64, position);
    return bytes;
}

// A version 1 package of The Sims 2: index minor version 2 gives entries with a second instance word.
QByteArray packageV1(QList<IndexEntry>& entries, bool secondInstance)
{
    QByteArray bytes(96, '\0');
    bytes.replace(0, 4, "DBPF");
    putWord(bytes, 4, 1);
    putWord(bytes, 8, 1);
    putWord(bytes, 32, 7);
    for (IndexEntry& made : entries) {
        made.position = quint32(bytes.size());
        made.sizeInMemory = 0;
        bytes += QByteArray(qsizetype(made.sizeOnDisk), 'r');
    }
    const quint32 position = quint32(bytes.size());
    for (const IndexEntry& made : std::as_const(entries)) {
        appendWord(bytes, made.key.type);
        appendWord(bytes, made.key.group);
        appendWord(bytes, quint32(made.key.instance));
        if (secondInstance)
            appendWord(bytes, quint32(made.key.instance >> 32));
        appendWord(bytes, made.position);
        appendWord(bytes, made.sizeOnDisk);
    }
    putWord(bytes, 36, quint32(entries.size()));
    putWord(bytes, 40, position);
    putWord(bytes, 44, quint32(bytes.size()) - position);
    putWord(bytes, 60, secondInstance ? 2 : 1);
    return bytes;
}

// A package of the given resources, each of 4 bytes.
QByteArray package(const QList<ResourceKey>& keys)
{
    QList<IndexEntry> entries;
    for (const ResourceKey& key : keys)
        entries.append(entry(key.type, key.group, key.instance));
    return packageV2(entries);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

PackageIndex readFile(const QString& path)
{
    const int folder
        = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    const PackageIndex index = readPackageIndex(folder, QFile::encodeName(QFileInfo(path).fileName()));
    ::close(folder);
    return index;
}

constexpr quint32 tuning = 0xE882D22F;
constexpr quint32 simData = 0x545AC67A;
constexpr quint32 thumbnail = 0x3C1AF1F2;
constexpr quint32 casPart = 0x034AEECB;

// A conflict in one line: "high 3 A.package B.package used:-".
QString describe(const Conflict& conflict)
{
    QStringList words { QString::fromLatin1(severityName(conflict.severity)),
        QString::number(conflict.shared) };
    for (const QByteArray& path : conflict.packages)
        words.append(QString::fromUtf8(path));
    words.append(QStringLiteral("used:")
        + (conflict.used < 0 ? QStringLiteral("-") : QString::fromUtf8(conflict.packages.at(conflict.used))));
    words.append(QLatin1Char('(') + describeKinds(conflict.kinds) + QLatin1Char(')'));
    return words.join(QLatin1Char(' '));
}

using Files = QList<std::pair<QString, QByteArray>>;

}

class tst_Dbpf : public QObject
{
    Q_OBJECT
private slots:
    void readsIndex_data();
    void readsIndex();
    void damagedPackages_data();
    void damagedPackages();
    void clashes_data();
    void clashes();
    void packageChangedSinceTheScan_data();
    void packageChangedSinceTheScan();
    void conflictsCommand_data();
    void conflictsCommand();
    void diffNotesClashesOfNewMods();
};

void tst_Dbpf::readsIndex_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<IndexEntry>>("expected");

    QList<IndexEntry> three { entry(tuning, 0, 0x8000000012345678ull, 10),
        entry(simData, 7, 0x1122334455667788ull, 3), entry(thumbnail, 0x80000000, 1, 1) };
    three[1].compression = 0x5A42;
    three[1].sizeInMemory = 99;
    QTest::newRow("no constant fields") << packageV2(three) << three;

    QList<IndexEntry> oneType { entry(casPart, 0x80000000, 0x10, 8), entry(casPart, 0x80000000, 0x20, 8) };
    QTest::newRow("type and group stored once") << packageV2(oneType, 0x03) << oneType;

    QList<IndexEntry> sameHigh { entry(tuning, 0, 0xAB00000001ull, 5),
        entry(simData, 0, 0xAB00000002ull, 6) };
    QTest::newRow("group, instance high and compression stored once")
        << packageV2(sameHigh, 0x86) << sameHigh;

    // Every field stored once: each entry is the same resource, kept once, however many are counted.
    QList<IndexEntry> once { entry(tuning, 0, 5, 2) };
    QByteArray allConstant = packageV2(once, 0xFF);
    putWord(allConstant, 36, 0xFFFFFFF9);
    QTest::newRow("every field stored once") << allConstant << once;

    QList<IndexEntry> none;
    QTest::newRow("empty package") << packageV2(none) << none;

    QList<IndexEntry> sims2 { entry(0x42484156, 0x7FD46CD0, 0x1001, 6),
        entry(0x42484156, 0x7FD46CD0, 0x1002, 2) };
    QTest::newRow("version 1, entries of 20 bytes") << packageV1(sims2, false) << sims2;
    QList<IndexEntry> sims2Wide { entry(0x42484156, 0x7FD46CD0, 0x0000000900001001ull, 6) };
    QTest::newRow("version 1, entries of 24 bytes") << packageV1(sims2Wide, true) << sims2Wide;

    // A large resource: the reader must not read it.
    QList<IndexEntry> large { entry(thumbnail, 0, 3, 1 << 20) };
    QTest::newRow("a resource of 1 MB") << packageV2(large) << large;
    QList<IndexEntry> padded { entry(tuning, 0, 4, 4) };
    QByteArray paddedIndex = packageV2(padded);
    paddedIndex += QByteArray(1 << 20, '\0');
    putWord(paddedIndex, 44, qFromLittleEndian<quint32>(paddedIndex.constData() + 44) + (1 << 20));
    QTest::newRow("an index size 1 MB larger than its entries") << paddedIndex << padded;
}

void tst_Dbpf::readsIndex()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<IndexEntry>, expected);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("mod.package")), bytes);
    const PackageIndex index = readFile(dir.filePath(QStringLiteral("mod.package")));
    QCOMPARE(index.problem, QString());
    QCOMPARE(index.state, PackageState::Read);
    QCOMPARE(index.entries, expected);

    // Only the header and the index's entries are read, each once.
    quint64 read = 0;
    parsePackageIndex(quint64(bytes.size()), [&bytes, &read](quint64 offset, quint32 size, char* out) {
        if (offset + size > quint64(bytes.size()))
            return false;
        std::memcpy(out, bytes.constData() + offset, size);
        read += size;
        return true;
    });
    QVERIFY2(read <= 96 + 36 + 32 * quint64(expected.size()), qPrintable(QString::number(read)));
}

void tst_Dbpf::damagedPackages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PackageState>("state");
    QTest::addColumn<QString>("problem");

    QList<IndexEntry> two { entry(tuning, 0, 1, 8), entry(simData, 0, 2, 8) };
    const QByteArray good = packageV2(two);
    const quint32 indexAt = qFromLittleEndian<quint32>(good.constData() + 64);

    QByteArray counted = good;
    putWord(counted, 36, 1000);
    QTest::newRow("more entries counted than the index holds")
        << counted << PackageState::Damaged
        << QStringLiteral("its index is too short for the 1000 resources its header counts");
    QByteArray huge = good;
    putWord(huge, 36, 0xFFFFFFFF);
    QTest::newRow("a count of four thousand million")
        << huge << PackageState::Damaged
        << QStringLiteral("its index is too short for the 4294967295 resources its header counts");
    QByteArray beyond = good;
    putWord(beyond, 64, quint32(good.size()) - 2);
    QTest::newRow("index position beyond the file")
        << beyond << PackageState::Damaged << QStringLiteral("its index runs past the end of the file");
    QByteArray oversized = good;
    putWord(oversized, 44, 0xFFFFFFF0);
    QTest::newRow("index size beyond the file")
        << oversized << PackageState::Damaged << QStringLiteral("its index runs past the end of the file");
    QTest::newRow("file cut short inside the index")
        << good.first(good.size() - 5) << PackageState::Damaged
        << QStringLiteral("its index runs past the end of the file");
    QByteArray overlapping = good;
    putWord(overlapping, 64, 40);
    QTest::newRow("index overlapping the header")
        << overlapping << PackageState::Damaged << QStringLiteral("its index lies inside its header");
    QByteArray farResource = good;
    putWord(farResource, qsizetype(indexAt) + 4 + 32 + 16, 0xFFFFFFF0); // the second entry's position
    QTest::newRow("resource beyond the file")
        << farResource << PackageState::Damaged
        << QStringLiteral("resource 2 of its index lies beyond the end of the file");
    QByteArray longResource = good;
    putWord(longResource, qsizetype(indexAt) + 4 + 20,
        0x80000000u | quint32(good.size())); // the first entry's size
    QTest::newRow("resource longer than the file")
        << longResource << PackageState::Damaged
        << QStringLiteral("resource 1 of its index lies beyond the end of the file");
    QTest::newRow("cut short inside the header")
        << good.first(60) << PackageState::Damaged << QStringLiteral("it is shorter than its header");
    QTest::newRow("no DBPF at the start") << QByteArray("PK\x03\x04 and more") << PackageState::NotPackage
                                          << QStringLiteral("it does not start with \"DBPF\"");
    QTest::newRow("empty file") << QByteArray() << PackageState::NotPackage
                                << QStringLiteral("it does not start with \"DBPF\"");
    QByteArray otherVersion = good;
    putWord(otherVersion, 4, 3);
    putWord(otherVersion, 8, 0);
    QTest::newRow("container version 3")
        << otherVersion << PackageState::NotRead
        << QStringLiteral("its container version 3.0 is not one of The Sims 2, 3 or 4");
    QList<IndexEntry> sims2 { entry(0x42484156, 1, 1, 6) };
    QByteArray shortV1 = packageV1(sims2, true);
    putWord(shortV1, 36, 2);
    QTest::newRow("version 1 counting more than its index holds")
        << shortV1 << PackageState::Damaged
        << QStringLiteral("its index is too short for the 2 resources its header counts");
}

void tst_Dbpf::damagedPackages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PackageState, state);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("mod.package")), bytes);
    const PackageIndex index = readFile(dir.filePath(QStringLiteral("mod.package")));
    QCOMPARE(index.problem, problem);
    QCOMPARE(index.state, state);
    QVERIFY(index.entries.isEmpty());
}

void tst_Dbpf::clashes_data()
{
    QTest::addColumn<QString>("root"); // below the temporary folder
    QTest::addColumn<Files>("files");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("damaged");

    const QString mods = QStringLiteral("The Sims 4/Mods");
    QTest::newRow("two tuning mods, one unrelated")
        << mods
        << Files { { QStringLiteral("A.package"),
                       package(
                           { { tuning, 0, 1 }, { tuning, 0, 2 }, { simData, 0, 1 }, { casPart, 0, 9 } }) },
               { QStringLiteral("B/B.package"),
                   package({ { simData, 0, 1 }, { tuning, 0, 2 }, { tuning, 0, 1 } }) },
               { QStringLiteral("C.package"),
                   package({ { tuning, 0, 3 }, { casPart, 1, 9 }, { casPart, 0, 10 } }) } }
        << QStringList { QStringLiteral(
               "high 3 A.package B/B.package used:- (interaction tuning 2, SimData 1)") }
        << QStringList();
    QTest::newRow("one thumbnail in three mods, most severe first")
        << mods
        << Files { { QStringLiteral("x.package"), package({ { thumbnail, 0, 7 }, { casPart, 0, 7 } }) },
               { QStringLiteral("y.package"), package({ { thumbnail, 0, 7 } }) },
               { QStringLiteral("z.package"), package({ { thumbnail, 0, 7 }, { casPart, 0, 7 } }) } }
        << QStringList { QStringLiteral("medium 1 x.package z.package used:- (CAS part 1)"),
               QStringLiteral("low 1 x.package y.package z.package used:- (CAS part thumbnail 1)") }
        << QStringList();
    QTest::newRow("the same resource twice in one mod, an unknown type")
        << mods
        << Files { { QStringLiteral("a.package"), package({ { 0x12345678, 0, 1 }, { 0x12345678, 0, 1 } }) },
               { QStringLiteral("b.package"), package({ { 0x12345678, 0, 1 } }) } }
        << QStringList { QStringLiteral("medium 1 a.package b.package used:- (type 0x12345678 1)") }
        << QStringList();
    QTest::newRow("the game's folder given: the cache beside Mods is not a mod")
        << QStringLiteral("The Sims 4")
        << Files { { QStringLiteral("Mods/a.package"), package({ { tuning, 0, 1 } }) },
               { QStringLiteral("localthumbcache.package"), package({ { tuning, 0, 1 } }) } }
        << QStringList() << QStringList();
    QTest::newRow("deeper than the game reads")
        << mods
        << Files { { QStringLiteral("a.package"), package({ { tuning, 0, 1 } }) },
               { QStringLiteral("1/2/3/4/5/b.package"), package({ { tuning, 0, 1 } }) },
               { QStringLiteral("1/2/3/4/5/6/c.package"), package({ { tuning, 0, 1 } }) } }
        << QStringList { QStringLiteral(
               "high 1 1/2/3/4/5/b.package a.package used:- (interaction tuning 1)") }
        << QStringList();
    QList<IndexEntry> sims2 { entry(0x42484156, 0x7FD46CD0, 0x1001) };
    QList<IndexEntry> sims2Again = sims2;
    QTest::newRow("The Sims 2: the last of one folder wins")
        << QStringLiteral("The Sims 2/Downloads")
        << Files { { QStringLiteral("Fix/alpha.package"), packageV1(sims2, false) },
               { QStringLiteral("Fix/Beta.package"), packageV1(sims2Again, false) } }
        << QStringList { QStringLiteral("high 1 Fix/Beta.package Fix/alpha.package used:Fix/Beta.package "
                                        "(behaviour function (BHAV) 1)") }
        << QStringList();
    QTest::newRow("The Sims 2: across folders no rule")
        << QStringLiteral("The Sims 2/Downloads")
        << Files { { QStringLiteral("a/z.package"), packageV1(sims2, false) },
               { QStringLiteral("b/a.package"), packageV1(sims2Again, false) } }
        << QStringList { QStringLiteral(
               "high 1 a/z.package b/a.package used:- (behaviour function (BHAV) 1)") }
        << QStringList();
    QByteArray damaged = package({ { tuning, 0, 1 } });
    putWord(damaged, 36, 50);
    QTest::newRow("a damaged mod is named, not counted")
        << mods
        << Files { { QStringLiteral("a.package"), package({ { tuning, 0, 1 } }) },
               { QStringLiteral("b.package"), damaged },
               { QStringLiteral("c.package"), QByteArray("not a package") } }
        << QStringList()
        << QStringList { QStringLiteral(
               "b.package: its index is too short for the 50 resources its header counts") };
}

void tst_Dbpf::clashes()
{
    QFETCH(QString, root);
    QFETCH(Files, files);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, damaged);
    QTemporaryDir dir;
    const QString folder = dir.filePath(root);
    QDir().mkpath(folder);
    for (const auto& [path, bytes] : files)
        writeFile(folder + QLatin1Char('/') + path, bytes);
    const QByteArray rootBytes = QFile::encodeName(folder);
    const ConflictReport report = findConflicts(rootBytes, scanFolder(rootBytes).files);
    QStringList found;
    for (const Conflict& conflict : report.conflicts)
        found.append(describe(conflict));
    QCOMPARE(found, expected);
    QStringList foundDamaged;
    for (const PackageTrouble& trouble : report.damaged)
        foundDamaged.append(QString::fromUtf8(trouble.path) + QStringLiteral(": ") + trouble.reason);
    QCOMPARE(foundDamaged, damaged);
    QVERIFY(report.unreadable.isEmpty());
}

void tst_Dbpf::packageChangedSinceTheScan_data()
{
    QTest::addColumn<ScanFacts>("facts");
    QTest::newRow("sizes from the scan") << ScanFacts::All;
    QTest::newRow("sizes asked once open") << ScanFacts::Names;
}

void tst_Dbpf::packageChangedSinceTheScan()
{
    QFETCH(ScanFacts, facts);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("a.package")), package({ { tuning, 0, 1 } }));
    writeFile(dir.filePath(QStringLiteral("b.package")), QByteArray("DBPF"));
    const QByteArray root = QFile::encodeName(dir.path());
    const QList<FileEntry> files = scanFolder(root, 0, nullptr, facts).files;
    // Downloaded in full after the scan: read at its size now, not named damaged.
    writeFile(dir.filePath(QStringLiteral("b.package")), package({ { tuning, 0, 1 }, { simData, 0, 2 } }));
    // Swapped for a named pipe after the scan: named as unreadable, without waiting for a writer.
    QFile::remove(dir.filePath(QStringLiteral("a.package")));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("a.package"))).constData(), 0644), 0);
    ConflictReport report = findConflicts(root, files, 4);
    QCOMPARE(report.unreadable.size(), 1);
    QCOMPARE(report.unreadable.first().path, QByteArray("a.package"));
    QFile::remove(dir.filePath(QStringLiteral("a.package")));
    writeFile(dir.filePath(QStringLiteral("a.package")), package({ { tuning, 0, 1 } }));

    report = findConflicts(root, files, 4);
    QCOMPARE(report.damaged.size(), 0);
    QCOMPARE(report.conflicts.size(), 1);
    QCOMPARE(describe(report.conflicts.first()),
        QStringLiteral("high 1 a.package b.package used:- (interaction tuning 1)"));
}

void tst_Dbpf::conflictsCommand_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");

    const Files clash { { QStringLiteral("A.package"), package({ { tuning, 0, 1 }, { thumbnail, 0, 1 } }) },
        { QStringLiteral("B\tC.package"), package({ { tuning, 0, 1 }, { thumbnail, 0, 1 } }) } };
    QTest::newRow("tsv") << clash << QByteArray("tsv") << 1
                         << QByteArray(
                                "clash\thigh\t2\t0x3C1AF1F2:1,0xE882D22F:1\t-\tA.package\tB\\tC.package\n");
    QTest::newRow("text") << clash << QByteArray("text") << 1
                          << QByteArray("1. High (how the game plays): 2 mods hold the same 2 resources "
                                        "(CAS part thumbnail 1, interaction tuning 1)\n"
                                        "     A.package\n     B\\tC.package\n"
                                        "   The game uses one of them; no public source says which.\n");
    QTest::newRow("no clashes") << Files { clash.first() } << QByteArray("text") << 0
                                << QByteArray("(2 resources) in ");
    QByteArray damaged = clash.first().second;
    damaged.chop(3);
    QTest::newRow("damaged") << Files { { QStringLiteral("d.package"), damaged } } << QByteArray("tsv") << 1
                             << QByteArray("damaged\td.package\tits index runs past the end of the file\n");
}

void tst_Dbpf::conflictsCommand()
{
    QFETCH(Files, files);
    QFETCH(QByteArray, format);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QTemporaryDir dir;
    const QString mods = dir.filePath(QStringLiteral("The Sims 4/Mods"));
    QDir().mkpath(mods);
    for (const auto& [path, bytes] : files)
        writeFile(mods + QLatin1Char('/') + path, bytes);
    QProcess process;
    process.start(QStringLiteral(MENDWELL_EXECUTABLE),
        { QStringLiteral("conflicts"), mods, QStringLiteral("--format"), QString::fromLatin1(format) });
    QVERIFY(process.waitForFinished(60000));
    const QByteArray printed = process.readAllStandardOutput();
    QCOMPARE(process.readAllStandardError(), QByteArray());
    QVERIFY2(format == "tsv" ? printed == out : printed.contains(out), printed.constData());
    QCOMPARE(process.exitCode(), status);
}

void tst_Dbpf::diffNotesClashesOfNewMods()
{
    QTemporaryDir dir;
    const QString mods = dir.filePath(QStringLiteral("The Sims 4/Mods"));
    writeFile(mods + QStringLiteral("/Old.package"), package({ { tuning, 0, 1 }, { simData, 0, 1 } }));
    writeFile(mods + QStringLiteral("/Other.package"), package({ { casPart, 0, 1 } }));
    const QString snapshot = dir.filePath(QStringLiteral("works.snapshot"));
    QProcess process;
    process.start(QStringLiteral(MENDWELL_EXECUTABLE),
        { QStringLiteral("snapshot"), mods, QStringLiteral("-o"), snapshot });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    writeFile(mods + QStringLiteral("/New.package"), package({ { tuning, 0, 1 }, { thumbnail, 0, 5 } }));
    writeFile(mods + QStringLiteral("/Harmless.package"), package({ { casPart, 0, 2 } }));
    writeFile(mods + QStringLiteral("/Newer.package"), package({ { thumbnail, 0, 5 } }));

    process.start(QStringLiteral(MENDWELL_EXECUTABLE),
        { QStringLiteral("diff"), snapshot, QStringLiteral("--format"), QStringLiteral("json") });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    const QJsonArray clashes
        = QJsonDocument::fromJson(process.readAllStandardOutput()).object().value(u"clashes").toArray();
    // Two new mods that clash are named once.
    QStringList found;
    for (const QJsonValue& clash : clashes)
        found.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(clash[u"path"].toString(), clash[u"other"].toString())
                         .arg(clash[u"shared"].toInt())
                         .arg(clash[u"severity"].toString()));
    QCOMPARE(found,
        (QStringList { QStringLiteral("New.package Old.package 1 high"),
            QStringLiteral("New.package Newer.package 1 low") }));

    process.start(QStringLiteral(MENDWELL_EXECUTABLE), { QStringLiteral("diff"), snapshot });
    QVERIFY(process.waitForFinished(60000));
    const QByteArray text = process.readAllStandardOutput();
    QVERIFY2(
        text.contains(
            "\nNew or changed mods that clash with other mods (see: mendwell conflicts): 2\n"
            "    New.package holds 1 resource that Old.package holds too (interaction tuning 1; high)\n"
            "    New.package holds 1 resource that Newer.package holds too (CAS part thumbnail 1; low)\n"),
        text.constData());
}

QTEST_GUILESS_MAIN(tst_Dbpf)
#include "tst_dbpf.moc"
