// SPDX-License-Identifier: GPL-3.0-or-later
#include "listsfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The tests run as root on the project's machines, and root may write any folder whatever its
// permission bits: an unwritable program folder is therefore a real read-only mount, made here.
class tst_ListsFolder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void choice_data();
    void choice();
    void madeOnFirstUseAndKept();
    void quorrelStartsInListsFolder_data();
    void quorrelStartsInListsFolder();

private:
    QString readOnlyFolder() const { return m_root.filePath(u"readonly"_s); }
    bool m_mounted = false;
    QTemporaryDir m_root;
};

namespace {

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

QString documentsOf(const QString& home)
{
    return QDir(home).filePath(u"Documents"_s);
}

}

void tst_ListsFolder::initTestCase()
{
    QVERIFY(m_root.isValid());
    // The real Quorrel goes onto the mount before it is made read-only, so it can be started from there.
    const QString folder = readOnlyFolder();
    QVERIFY(QDir().mkpath(folder));
    m_mounted = run(u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64m"_s, u"tmpfs"_s, folder });
    if (m_mounted) {
        QVERIFY(QFile::copy(QStringLiteral(QUORREL_PROGRAM), folder + u"/quorrel"_s));
        QVERIFY(run(u"mount"_s, { u"-o"_s, u"remount,ro"_s, folder }));
        QFile probe(folder + u"/probe"_s);
        QVERIFY2(!probe.open(QIODevice::WriteOnly), "the read-only mount took a write");
    }
}

void tst_ListsFolder::cleanupTestCase()
{
    if (m_mounted)
        run(u"umount"_s, { u"-l"_s, readOnlyFolder() });
}

void tst_ListsFolder::choice_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<bool>("beside");
    // A folder the user owns keeps the lists beside the programs, as a portable install always did.
    QTest::newRow("own folder") << m_root.filePath(u"Sims Tools"_s) << true;
    // Root can write these, but a package owns them: the lists go to the documents folder.
    QTest::newRow("/usr/bin") << u"/usr/bin"_s << false;
    QTest::newRow("/usr/local/bin") << u"/usr/local/bin"_s << false;
    QTest::newRow("/opt") << u"/opt"_s << false;
    QTest::newRow("read-only mount") << readOnlyFolder() << false;
    QTest::newRow("missing folder") << m_root.filePath(u"gone"_s) << false;
}

void tst_ListsFolder::choice()
{
    QFETCH(QString, programFolder);
    QFETCH(bool, beside);
    if (programFolder == readOnlyFolder() && !m_mounted)
        QSKIP("no read-only mount can be made here (mounting needs root)");
    if (beside)
        QVERIFY(QDir().mkpath(programFolder));
    const bool systemFolder = !programFolder.startsWith(m_root.path());
    if (systemFolder && !QFileInfo(programFolder).isDir())
        QSKIP("this system has no such folder");

    QTemporaryDir home;
    const QString documents = documentsOf(home.path());
    const QString perUser = QDir(documents).filePath(u"Sims Folder Lists"_s);
    const QString chosen = listsFolder(programFolder, documents);

    QCOMPARE(listsBesidePrograms(programFolder), beside);
    QCOMPARE(chosen, beside ? programFolder : perUser);
    QCOMPARE(QFileInfo(perUser).isDir(), !beside);
    if (beside)
        QVERIFY2(!QFileInfo::exists(documents), "the documents folder was touched although not needed");
}

void tst_ListsFolder::madeOnFirstUseAndKept()
{
    QTemporaryDir home;
    const QString documents = documentsOf(home.path());
    const QString first = listsFolder(u"/usr/bin"_s, documents);
    QCOMPARE(first, documents + u"/Sims Folder Lists"_s);
    QVERIFY(QFileInfo(first).isDir());

    QFile list(first + u"/old.TXT"_s);
    QVERIFY(list.open(QIODevice::WriteOnly));
    QCOMPARE(list.write("Family1.iff\r\n\r\n\r\n"), qint64(17));
    list.close();

    QCOMPARE(listsFolder(u"/usr/bin"_s, documents), first);
    QCOMPARE(QDir(first).entryList(QDir::Files), QStringList { u"old.TXT"_s });
    QCOMPARE(QFileInfo(first + u"/old.TXT"_s).size(), qint64(17));
}

void tst_ListsFolder::quorrelStartsInListsFolder_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("portable copy in a folder the user writes") << false;
    QTest::newRow("copy on a read-only mount, localised documents folder") << true;
}

// The real Quorrel makes the lists folder its current folder at start, which is where it then looks
// up the list names typed without a folder: the folder the kernel reports as its working folder.
void tst_ListsFolder::quorrelStartsInListsFolder()
{
    QFETCH(bool, readOnly);
#ifndef Q_OS_LINUX
    QSKIP("reads the working folder of another process from /proc");
#endif
    if (readOnly && !m_mounted)
        QSKIP("no read-only mount can be made here (mounting needs root)");

    QTemporaryDir home;
    QString programFolder = readOnlyFolder();
    if (!readOnly) {
        programFolder = home.filePath(u"Sims Tools"_s);
        QVERIFY(QDir().mkpath(programFolder));
        QVERIFY(QFile::copy(QStringLiteral(QUORREL_PROGRAM), programFolder + u"/quorrel"_s));
    }
    // The documents folder is named by the desktop's own settings, translated as the player's desktop is.
    QVERIFY(QDir().mkpath(home.filePath(u".config"_s)));
    QFile dirs(home.filePath(u".config/user-dirs.dirs"_s));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    dirs.close();
    const QString expected = readOnly ? home.filePath(u"Dokumente/Sims Folder Lists"_s) : programFolder;

    QProcess quorrel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home.path());
    environment.remove(u"XDG_CONFIG_HOME"_s);
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    quorrel.setProcessEnvironment(environment);
    quorrel.setWorkingDirectory(u"/"_s);
    quorrel.start(programFolder + u"/quorrel"_s, {});
    QVERIFY2(quorrel.waitForStarted(), qPrintable(quorrel.errorString()));
    const QString cwd = u"/proc/%1/cwd"_s.arg(quorrel.processId());
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(cwd).symLinkTarget(), expected, 10000);
    QCOMPARE(quorrel.state(), QProcess::Running);
    quorrel.kill();
    quorrel.waitForFinished();
    if (!readOnly)
        QVERIFY2(!QFileInfo::exists(home.filePath(u"Dokumente"_s)), "a per-user folder was made needlessly");
}

QTEST_GUILESS_MAIN(tst_ListsFolder)
#include "tst_listsfolder.moc"
