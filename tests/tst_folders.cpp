// SPDX-License-Identifier: GPL-3.0-or-later
#include "testhelpers.h"

#include "folders.h"
#include "runerror.h"

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_Folders : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void plainFiles_data();
    void plainFiles();
    void missingFolderFails();
    void emptyPatternMatchesNothing();
    void findIgnoringCase_data();
    void findIgnoringCase();
    void trailingSeparator_data();
    void trailingSeparator();

private:
    QTemporaryDir m_dir;
};

void tst_Folders::init()
{
    const QString folder = m_dir.path();
    if (QFileInfo::exists(folder + u"/plain.dat"_s))
        return;
    touchFiles(folder,
        { u"plain.dat"_s, u"Upper.TXT"_s, u"lower.txt"_s, u".hidden"_s, u"a*b.txt"_s, u"Multi.txt"_s,
            u"MULTI.txt"_s });
    QDir(folder).mkdir(u"folder"_s);
    QFile::link(folder + u"/plain.dat"_s, folder + u"/link.dat"_s);
    QFile::link(folder + u"/folder"_s, folder + u"/linkdir"_s);
    QFile::link(folder + u"/missing"_s, folder + u"/broken"_s);
    QVERIFY(mkfifo(QFile::encodeName(folder + u"/fifo"_s).constData(), 0600) == 0);

    // Lists beside entries that differ only in letter case and are no files.
    QDir(folder).mkpath(u"cases/Q1.TXT"_s);
    touchFiles(folder + u"/cases"_s, { u"q1.txt"_s, u"q2.txt"_s, u"q3.txt"_s });
    QFile::link(folder + u"/cases/missing"_s, folder + u"/cases/Q2.TXT"_s);
    QFile::link(folder + u"/cases/Q1.TXT"_s, folder + u"/cases/Q3.TXT"_s);
}

void tst_Folders::plainFiles_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("whole folder") << u"/"_s
                                  << QStringList { u"MULTI.txt"_s, u"Multi.txt"_s, u"Upper.TXT"_s,
                                         u"a*b.txt"_s, u"link.dat"_s, u"lower.txt"_s, u"plain.dat"_s };
    QTest::newRow("pattern ignores case")
        << u"/*.txt"_s
        << QStringList { u"MULTI.txt"_s, u"Multi.txt"_s, u"Upper.TXT"_s, u"a*b.txt"_s, u"lower.txt"_s };
    QTest::newRow("one name") << u"/PLAIN.DAT"_s << QStringList { u"plain.dat"_s };
    QTest::newRow("no match") << u"/*.iff"_s << QStringList();
}

void tst_Folders::plainFiles()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    QStringList found = plainFileNames(m_dir.path() + pattern);
    found.sort();
    QCOMPARE(found, names);
}

void tst_Folders::missingFolderFails()
{
    const QString gone = m_dir.path() + u"/gone/"_s;
    try {
        plainFileNames(gone);
        QFAIL("a missing folder was listed");
    } catch (const RunError& error) {
        QCOMPARE(error.number(), ErrorNumber::PathNotFound);
        QVERIFY(error.description().contains(gone));
    }
}

void tst_Folders::emptyPatternMatchesNothing()
{
    QVERIFY(plainFileNames(QString()).isEmpty());
}

void tst_Folders::findIgnoringCase_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("found");
    QTest::newRow("as spelt") << u"lower.txt"_s << u"lower.txt"_s;
    QTest::newRow("other case") << u"upper.txt"_s << u"Upper.TXT"_s;
    QTest::newRow("wildcards are literal") << u"*.txt"_s << QString();
    QTest::newRow("a literal star") << u"A*B.TXT"_s << u"a*b.txt"_s;
    QTest::newRow("first of several in code-point order") << u"multi.TXT"_s << u"MULTI.txt"_s;
    QTest::newRow("missing") << u"nothing.txt"_s << QString();
    QTest::newRow("missing folder") << u"nofolder/lower.txt"_s << QString();
    QTest::newRow("a folder does not hide a list") << u"cases/Q1.txt"_s << u"cases/q1.txt"_s;
    QTest::newRow("a folder as spelt does not hide a list") << u"cases/Q1.TXT"_s << u"cases/q1.txt"_s;
    QTest::newRow("a broken link does not hide a list") << u"cases/Q2.txt"_s << u"cases/q2.txt"_s;
    QTest::newRow("a link to a folder does not hide a list") << u"cases/Q3.txt"_s << u"cases/q3.txt"_s;
    QTest::newRow("a folder alone is named as spelt") << u"folder"_s << u"folder"_s;
}

void tst_Folders::findIgnoringCase()
{
    QFETCH(QString, asked);
    QFETCH(QString, found);
    const QString result = findFileIgnoringCase(m_dir.path() + u'/' + asked);
    QCOMPARE(result, found.isEmpty() ? QString() : m_dir.path() + u'/' + found);
}

void tst_Folders::trailingSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("shown");
    QTest::newRow("root") << u"/"_s << u"/"_s;
    QTest::newRow("folder") << u"/games/sims"_s << u"/games/sims/"_s;
    QTest::newRow("already") << u"/games/"_s << u"/games/"_s;
}

void tst_Folders::trailingSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, shown);
    QCOMPARE(withTrailingSeparator(folder), shown);
}

QTEST_GUILESS_MAIN(tst_Folders)
#include "tst_folders.moc"
