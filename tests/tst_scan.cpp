// SPDX-License-Identifier: GPL-3.0-or-later
#include "mendtree.h"

#include "scan.h"

#include <sys/wait.h>

using namespace mending;

Q_DECLARE_METATYPE(QList<QByteArray>)

class tst_Scan : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void finds_data();
    void finds();
    void factsOfEachFile();
    void deepAndLongPaths();
    void manyFilesInOneFolder();
    void sameWithOneOrManyThreads();
    void unreadableFolderIsReported();
    void missingFolderFails();

private:
    QByteArray m_root;
    std::unique_ptr<tree::Folder> m_dir;
};

void tst_Scan::init()
{
    m_dir = std::make_unique<tree::Folder>();
    m_root = m_dir->path();
}

void tst_Scan::finds_data()
{
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QList<QByteArray>>("found"); // "path|kind"
    QTest::newRow("empty folder") << QList<QByteArray> {} << QList<QByteArray> {};
    QTest::newRow("files at every depth") << QList<QByteArray> {
        "file|a.package|DBPF", "file|Mods/b.package|x", "file|Mods/CC/Hair/c.package|yy"
    } << QList<QByteArray> { "Mods/CC/Hair/c.package|1", "Mods/b.package|1", "a.package|1" };
    QTest::newRow("hidden files and folders") << QList<QByteArray> { "file|.hidden|h", "file|.cache/x.bin|x" }
                                              << QList<QByteArray> { ".cache/x.bin|1", ".hidden|1" };
    QTest::newRow("empty folders hold nothing")
        << QList<QByteArray> { "dir|a/b/c", "file|a/f|1" } << QList<QByteArray> { "a/f|1" };
    QTest::newRow("links are recorded, not followed") << QList<QByteArray> {
        "file|real/x.package|DBPF", "link|tofile|real/x.package", "link|tofolder|real", "link|broken|nowhere"
    } << QList<QByteArray> { "broken|2", "real/x.package|1", "tofile|2", "tofolder|2" };
    QTest::newRow("a link loop ends") << QList<QByteArray> { "dir|a", "link|a/up|..", "link|a/self|.",
        "file|a/f|1" } << QList<QByteArray> { "a/f|1", "a/self|2", "a/up|2" };
    QTest::newRow("pipes are no content")
        << QList<QByteArray> { "fifo|p", "file|f|1" } << QList<QByteArray> { "f|1" };
    // A folder's files sort with "/" after its name: "a.b/x" before "a/x" before "a0".
    QTest::newRow("folders beside names of the same stem")
        << QList<QByteArray> { "file|a/x|1", "file|a.b/y|1", "file|a0|1", "file|a-|1", "file|a/b/c|1",
               "file|a/b.txt|1", "file|a/b0|1", "file|a\xE9/z|1", "file|a/\x01|1" }
        << QList<QByteArray> { "a/x|1", "a.b/y|1", "a0|1", "a-|1", "a/b/c|1", "a/b.txt|1", "a/b0|1",
               "a\xE9/z|1", "a/\x01|1" };
    // Names that share their first eight bytes or more, and folders whose "/" falls at the eighth.
    QTest::newRow("long names of one stem")
        << QList<QByteArray> { "file|longername/x|1", "file|longername.b/y|1", "file|longername0|1",
               "file|longername-|1", "file|seven77/x|1", "file|seven77.b|1", "file|seven770|1",
               "file|eight888/x|1", "file|eight888.b|1", "file|eight8880|1" }
        << QList<QByteArray> { "longername/x|1", "longername.b/y|1", "longername0|1", "longername-|1",
               "seven77/x|1", "seven77.b|1", "seven770|1", "eight888/x|1", "eight888.b|1", "eight8880|1" };
    QTest::newRow("names of any bytes")
        << QList<QByteArray> { "file|tab\there|1", "file|line\nfeed|2", "file|back\\slash|3",
               "file|latin\xE9.iff|4", QByteArray("file|ctrl\x01\x7F|5") }
        << QList<QByteArray> { QByteArray("back\\slash|1"), QByteArray("ctrl\x01\x7F|1"), "latin\xE9.iff|1",
               "line\nfeed|1", "tab\there|1" };
}

void tst_Scan::finds()
{
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QList<QByteArray>, found);
    tree::apply(m_root, steps);
    if (QTest::currentTestFailed())
        return;
    const ScanResult result = scanFolder(m_root);
    QList<QByteArray> seen;
    for (const FileEntry& file : result.files)
        seen.append(file.path + '|' + QByteArray::number(int(file.kind)));
    std::sort(found.begin(), found.end());
    QCOMPARE(seen, found);
    QVERIFY(result.problems.isEmpty());
}

void tst_Scan::factsOfEachFile()
{
    tree::write(m_root, "Mods/x.package", QByteArray(1234, 'x'));
    tree::setTime(m_root, "Mods/x.package", 1234567890123456789);
    QCOMPARE(::symlink("x.package", (m_root + "/Mods/link").constData()), 0);
    const ScanResult result = scanFolder(m_root);
    QCOMPARE(result.files.size(), 2);
    for (const FileEntry& file : result.files) {
        struct stat st;
        QCOMPARE(::lstat((m_root + '/' + file.path).constData(), &st), 0);
        QCOMPARE(file.size, qint64(st.st_size));
        QCOMPARE(file.mtimeNs, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        QCOMPARE(file.inode, quint64(st.st_ino));
        QCOMPARE(file.device, quint64(st.st_dev));
    }
    QCOMPARE(result.files.at(1).path, QByteArray("Mods/x.package"));
    QCOMPARE(result.files.at(1).size, 1234);
    QCOMPARE(result.files.at(1).mtimeNs, 1234567890123456789);
    QCOMPARE(result.files.at(0).kind, FileKind::Symlink);
    QCOMPARE(result.files.at(0).size, 9); // the link's own size: its target's name
}

void tst_Scan::deepAndLongPaths()
{
    // 30 levels deep, and a path of more than 4,000 bytes: longer than one system call takes.
    QByteArray deep;
    for (int level = 0; level < 30; ++level)
        deep += "level" + QByteArray::number(level) + '/';
    deep += "deep.package";
    QByteArray longPath;
    for (int level = 0; level < 34; ++level)
        longPath += QByteArray(120, char('a' + level % 26)) + '/';
    longPath += "long.package";
    QVERIFY(longPath.size() > 4000);
    tree::write(m_root, deep, "DBPF");
    // Too long for one call from here: made one folder at a time.
    int fd = ::open(m_root.constData(), O_RDONLY | O_DIRECTORY);
    const QList<QByteArray> parts = longPath.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        ::mkdirat(fd, parts.at(i).constData(), 0755);
        const int next = ::openat(fd, parts.at(i).constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        QVERIFY(fd >= 0);
    }
    const int file = ::openat(fd, parts.last().constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(file >= 0);
    QCOMPARE(::write(file, "DBPFlong", 8), 8);
    ::close(file);
    ::close(fd);

    const ScanResult result = scanFolder(m_root);
    QVERIFY(result.problems.isEmpty());
    QCOMPARE(result.files.size(), 2);
    QCOMPARE(result.files.at(0).path, longPath);
    QCOMPARE(result.files.at(0).size, 8);
    QCOMPARE(result.files.at(1).path, deep);
}

void tst_Scan::manyFilesInOneFolder()
{
    const QByteArray folder = m_root + "/Mods";
    ::mkdir(folder.constData(), 0755);
    for (int i = 0; i < 100000; ++i) {
        const QByteArray path = folder + "/cc_" + QByteArray::number(i) + ".package";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    const ScanResult result = scanFolder(m_root);
    QCOMPARE(result.files.size(), 100000);
    QVERIFY(std::is_sorted(result.files.begin(), result.files.end(),
        [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; }));
    QCOMPARE(result.files.first().path, QByteArray("Mods/cc_0.package"));
    QCOMPARE(result.files.last().path, QByteArray("Mods/cc_99999.package"));
}

void tst_Scan::sameWithOneOrManyThreads()
{
    for (int i = 0; i < 3000; ++i)
        tree::write(m_root,
            "f" + QByteArray::number(i % 37) + "/g" + QByteArray::number(i % 11) + "/x"
                + QByteArray::number(i),
            "x");
    const ScanResult one = scanFolder(m_root, 1);
    QCOMPARE(one.files.size(), 3000);
    for (int threads : { 2, 5 }) {
        const ScanResult many = scanFolder(m_root, threads);
        QCOMPARE(many.files, one.files);
    }
}

void tst_Scan::unreadableFolderIsReported()
{
    tree::write(m_root, "open/a.package", "DBPF");
    tree::write(m_root, "locked/inside/b.package", "DBPF");
    tree::write(m_root, "z.package", "DBPF");
    QCOMPARE(::chmod((m_root + "/locked").constData(), 0), 0);
    QCOMPARE(::chmod(m_root.constData(), 0755), 0);
    // Permissions do not stop root: the scan then runs in a child that has become nobody.
    int channel[2];
    QCOMPARE(::pipe(channel), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        QByteArray report;
        try {
            const ScanResult result = scanFolder(m_root);
            for (const FileEntry& file : result.files)
                report += "file " + file.path + '\n';
            for (const ScanProblem& problem : result.problems)
                report += "problem " + problem.path + ' ' + problem.reason + '\n';
        } catch (const Failure& failure) {
            report += "failure " + failure.message().toUtf8();
        }
        if (::write(channel[1], report.constData(), size_t(report.size())) < 0)
            ::_exit(4);
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray report;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, got);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod((m_root + "/locked").constData(), 0755);
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(report, QByteArray("file open/a.package\nfile z.package\nproblem locked Permission denied\n"));
}

void tst_Scan::missingFolderFails()
{
    try {
        scanFolder(m_root + "/gone");
        QFAIL("no failure");
    } catch (const Failure& failure) {
        QCOMPARE(failure.message(), QString::fromUtf8(m_root + "/gone: No such file or directory"));
    }
}

QTEST_GUILESS_MAIN(tst_Scan)
#include "tst_scan.moc"
