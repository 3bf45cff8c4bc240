// SPDX-License-Identifier: GPL-3.0-or-later
#include "mendtree.h"

#include "errorreports.h"
#include "scan.h"
#include "scriptmods.h"
#include "suspects.h"

#include <zip.h>

using namespace mending;

namespace {

// A compiled module: its Python's number (low byte first), "\r\n", and the 12 bytes of the rest of a
// header.
QByteArray pyc(int magic)
{
    QByteArray bytes;
    bytes.append(char(magic & 0xff)).append(char(magic >> 8)).append("\r\n").append(12, '\0');
    return bytes;
}

// Writes a script archive with libzip from "entry=number" (a compiled module of that Python),
// "entry=text:bytes" (those bytes) or "entry" (a source module).
void writeArchive(const QByteArray& path, const QByteArray& entries)
{
    int error = 0;
    zip_t* archive = ::zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY(archive);
    QList<QByteArray> contents; // kept until the archive is written
    for (const QByteArray& item : entries.split(',')) {
        const QByteArray trimmed = item.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        const QByteArray entry = equals < 0 ? trimmed : trimmed.first(equals);
        const QByteArray value = equals < 0 ? QByteArray() : trimmed.sliced(equals + 1);
        contents.append(equals < 0          ? QByteArray("x = 1\n")
                : value.startsWith("text:") ? value.sliced(5)
                                            : pyc(value.toInt()));
        zip_source_t* source = ::zip_source_buffer(
            archive, contents.last().constData(), zip_uint64_t(contents.last().size()), 0);
        QVERIFY(::zip_file_add(archive, entry.constData(), source, ZIP_FL_ENC_UTF_8) >= 0);
    }
    QCOMPARE(::zip_close(archive), 0);
}

// "Mods/a.ts4script: pkg/m.pyc=3394, pkg/n.py" per archive, below root.
void writeArchives(const QByteArray& root, const QList<QByteArray>& archives)
{
    for (const QByteArray& archive : archives) {
        const qsizetype colon = archive.indexOf(':');
        tree::makeFolders(root, archive.first(colon));
        writeArchive(root + '/' + archive.first(colon), archive.sliced(colon + 1));
    }
}

QByteArray reportFile(const QByteArray& time, const QByteArray& data)
{
    return "<?xml version=\"1.0\" ?><root>\n<report><version>2</version><type>desync</type>"
           "<createtime>"
        + time
        + "</createtime><buildsignature>Local.x64</buildsignature>"
          "<categoryid>main.py:10</categoryid><desyncdata>"
        + data + "</desyncdata></report>\n</root>\n";
}

// A traceback as the game writes it in a report: message first, lines ended by encoded CR LF.
const QByteArray gameTraceback
    = "[tester] Error in an interaction (AttributeError: 'NoneType' has no attribute 'sim')&#13;&#10;"
      "Traceback (most recent call last):&#13;&#10;"
      "  File \"Core\\sims4\\utils.py\", line 179, in wrapper&#13;&#10;"
      "  File \"C:\\Users\\Author\\Projects\\Clock\\src\\clockmod\\hooks.py\", line 42, in _on_tick&#13;&#10;"
      "  File \"T:\\InGame\\Gameplay\\Scripts\\Server\\interactions\\base.py\", line 7, in run&#13;&#10;";

}

Q_DECLARE_METATYPE(QList<QByteArray>)

class tst_ScriptMods : public QObject
{
    Q_OBJECT
private slots:
    void flags_data();
    void flags();
    void reports_data();
    void reports();
    void framesToMods_data();
    void framesToMods();
    void errorsCommand_data();
    void errorsCommand();
};

void tst_ScriptMods::flags_data()
{
    QTest::addColumn<QList<QByteArray>>("archives");
    QTest::addColumn<QList<QByteArray>>("expected"); // "path flag" for each flag found
    QTest::addColumn<QString>("reason"); // the first flag's reason in full, when given

    QTest::newRow("Python 3.7 modules: clean")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/__init__.pyc=3394, pkg/m.pyc=3394" }
        << QList<QByteArray> {} << QString();
    QTest::newRow("a module of Python 3.8")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/m.pyc=3394, pkg/n.pyc=3413, pkg/s.py" }
        << QList<QByteArray> { "Mods/a.ts4script wrong-python" }
        << QStringLiteral(
               "compiled for Python 3.8 (1 of its 2 compiled modules, e.g. \"pkg/n.pyc\"): The Sims 4 "
               "runs Python 3.7 and cannot load them; look for a version of the mod made for the "
               "game as it is now");
    QTest::newRow("Python 3.11 and 3.10")
        << QList<QByteArray> { "Mods/a.ts4script: m.pyc=3495, n.pyc=3439" }
        << QList<QByteArray> { "Mods/a.ts4script wrong-python" }
        << QStringLiteral(
               "compiled for Python 3.11 and Python 3.10 (all 2 of its compiled modules, e.g. "
               "\"m.pyc\"): The Sims 4 runs Python 3.7 and cannot load them; look for a version of "
               "the mod made for the game as it is now");
    QTest::newRow("Python 2.7") << QList<QByteArray> { "Mods/a.ts4script: m.pyc=62211" }
                                << QList<QByteArray> { "Mods/a.ts4script wrong-python" } << QString();
    QTest::newRow("a test release of 3.7")
        << QList<QByteArray> { "Mods/a.ts4script: m.pyc=3392" }
        << QList<QByteArray> { "Mods/a.ts4script wrong-python" }
        << QStringLiteral(
               "compiled for a test release of Python 3.7 (number 3392, not the 3394 of the release) (its "
               "only compiled module, \"m.pyc\"): The Sims 4 runs Python 3.7 and cannot load "
               "them; look for a version of the mod made for the game as it is now");
    QTest::newRow("an unknown number") << QList<QByteArray> { "Mods/a.ts4script: m.pyc=1234" }
                                       << QList<QByteArray> { "Mods/a.ts4script wrong-python" } << QString();
    QTest::newRow("a .pyc that is no compiled module")
        << QList<QByteArray> { "Mods/a.ts4script: m.pyc=text:PK" }
        << QList<QByteArray> { "Mods/a.ts4script wrong-python" } << QString();
    QTest::newRow("caches in __pycache__ are never imported: clean")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/m.pyc=3394, pkg/__pycache__/m.cpython-38.pyc=3413" }
        << QList<QByteArray> {} << QString();
    QTest::newRow("one module in two archives")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/m.pyc=3394, pkg/x.pyc=3394",
               "Mods/Sub/b.ts4script: pkg/m.pyc=3394, other/y.pyc=3394" }
        << QList<QByteArray> { "Mods/Sub/b.ts4script same-module", "Mods/a.ts4script same-module" }
        << QStringLiteral(
               "provides the same Python module as \"Mods/a.ts4script\" (pkg.m): the game loads only one "
               "of them, and which one is not certain; keep one of the two (a mod installed twice, or "
               "two versions side by side)");
    QTest::newRow("a framework installed twice: one flag for all its modules")
        << QList<QByteArray> { "Mods/a.ts4script: f/__init__.pyc=3394, f/a.pyc=3394, f/b.pyc=3394",
               "Mods/b.ts4script: f/__init__.pyc=3394, f/a.pyc=3394, f/b.py" }
        << QList<QByteArray> { "Mods/a.ts4script same-module", "Mods/b.ts4script same-module" }
        << QStringLiteral(
               "provides the same Python modules as \"Mods/b.ts4script\" (f and 2 more): the "
               "game loads only one of them, and which one is not certain; keep one of the two (a mod "
               "installed twice, or two versions side by side)");
    QTest::newRow("an __init__ outside any package is never imported: clean")
        << QList<QByteArray> { "Mods/a.ts4script: __init__.pyc=3413, a/m.pyc=3394",
               "Mods/b.ts4script: __init__.pyc=3394, b/m.pyc=3394" }
        << QList<QByteArray> {} << QString();
    QTest::newRow("one package, different modules: clean")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/a.pyc=3394", "Mods/b.ts4script: pkg/b.pyc=3394" }
        << QList<QByteArray> {} << QString();
    QTest::newRow("a copy too deep for the game is not loaded, so it clashes with nothing")
        << QList<QByteArray> { "Mods/a.ts4script: pkg/m.pyc=3394",
               "Mods/x/y/b.ts4script: pkg/m.pyc=3394, extra.py" }
        << QList<QByteArray> { "Mods/x/y/b.ts4script too-deep" } << QString();
}

void tst_ScriptMods::flags()
{
    QFETCH(QList<QByteArray>, archives);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QString, reason);
    tree::Folder folder;
    writeArchives(folder.path(), archives);
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(folder.path(), scan.files, {}, DuplicateScope::AllFiles, 4);
    QList<QByteArray> found;
    for (const CheckedFile& file : report.suspects) {
        for (const SuspectFlag& flag : file.flags)
            found.append(scan.files.at(file.index).path + ' ' + suspectName(flag.suspect));
    }
    QCOMPARE(found.join('\n'), expected.join('\n'));
    QVERIFY(report.unreadable.isEmpty());
    if (!reason.isEmpty())
        QCOMPARE(report.suspects.first().flags.first().reason, reason);
}

void tst_ScriptMods::reports_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("expected"); // "time|error|frames|repeats|cut" per report

    const QByteArray gameError
        = "[tester] Error in an interaction (AttributeError: 'NoneType' has no attribute 'sim')";
    const QByteArray whole = reportFile("2026-05-25 21:17:18", gameTraceback);
    QTest::newRow("well formed") << whole
                                 << QList<QByteArray> { "2026-05-25 21:17:18|" + gameError + "|3|1|0" };
    QTest::newRow("the same report three times") << QByteArray(
        whole + whole + whole) << QList<QByteArray> { "2026-05-25 21:17:18|" + gameError + "|3|3|0" };
    QTest::newRow("two reports") << QByteArray(
        whole + reportFile("2026-05-26 08:00:00", "Plain error&#13;&#10;"))
                                 << QList<QByteArray> { "2026-05-25 21:17:18|" + gameError + "|3|1|0",
                                        "2026-05-26 08:00:00|Plain error|0|1|0" };
    QTest::newRow("cut short inside the traceback")
        << whole.first(whole.indexOf("T:\\InGame") - 8)
        << QList<QByteArray> { "2026-05-25 21:17:18|" + gameError + "|2|1|1" };
    QTest::newRow("cut short, then a second report")
        << QByteArray(
               whole.first(whole.indexOf("</desyncdata>")) + reportFile("2026-05-26 08:00:00", "Second"))
        << QList<QByteArray> { "2026-05-25 21:17:18|" + gameError + "|3|1|1",
               "2026-05-26 08:00:00|Second|0|1|0" };
    QTest::newRow("not XML: a traceback as Python writes it")
        << QByteArray("Traceback (most recent call last):\r\n"
                      "  File \"D:\\mods\\tools\\run.py\", line 3, in <module>\r\n"
                      "    start()\r\n"
                      "  File \"D:\\mods\\tools\\work.py\", line 9, in start\r\n"
                      "    return 1 / 0\r\n"
                      "ZeroDivisionError: division by zero\r\n")
        << QList<QByteArray> { "|ZeroDivisionError: division by zero|2|1|1" };
    QTest::newRow("the time's end tag damaged") << QByteArray(
        "<report><createtime>2026-05-25 21:17:18</c\x87reatetime><desyncdata>Broken&#13;&#10;"
        "Traceback (most recent call last):&#13;&#10;  File \"a\\b.py\", line 1, in f&#13;&#10;"
        "</desyncdata></report>") << QList<QByteArray> { "2026-05-25 21:17:18|Broken|1|1|0" };
    QTest::newRow("a report without its traceback element")
        << QByteArray("<report><version>2</version><type>desync</type><createtime>t</createtime>"
                      "<buildsignature>Local.x64</buildsignature><message>Something broke</message></report>")
        << QList<QByteArray> { "t|Something broke|0|1|0" };
    QTest::newRow("XML without reports")
        << QByteArray("<?xml version=\"1.0\" ?><root></root>") << QList<QByteArray> {};
    QTest::newRow("empty") << QByteArray() << QList<QByteArray> {};
    QTest::newRow("entities") << reportFile("t", "Bad &lt;value&gt; &amp; &#x41;&#66; &bogus; more")
                              << QList<QByteArray> { "t|Bad <value> & AB &bogus; more|0|1|0" };
    QTest::newRow("character data as written") << reportFile("t", "A <![CDATA[&lt;b&gt; <i>]]> &lt;")
                                               << QList<QByteArray> { "t|A &lt;b&gt; <i> <|0|1|0" };
}

void tst_ScriptMods::reports()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, expected);
    QList<QByteArray> found;
    for (const ErrorReport& report : parseErrorReports(bytes))
        found.append(report.time.toUtf8() + '|' + report.error.toUtf8() + '|'
            + QByteArray::number(report.frames.size()) + '|' + QByteArray::number(report.repeats) + '|'
            + (report.cutShort ? '1' : '0'));
    QCOMPARE(found, expected);
}

void tst_ScriptMods::framesToMods_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QList<QByteArray>>("expected"); // the mods' paths

    QTest::newRow("the author's folders before package/module.py")
        << QStringLiteral("C:\\Users\\Author\\Projects\\Clock\\src\\clockmod\\hooks.py")
        << QList<QByteArray> { "Mods/Clock.ts4script" };
    QTest::newRow("forward slashes, another letter case")
        << QStringLiteral("/home/dev/ClockMod/Hooks.py") << QList<QByteArray> { "Mods/Clock.ts4script" };
    QTest::newRow("deeper packages: the longest match")
        << QStringLiteral("E:\\w\\deep\\a\\b\\c.py") << QList<QByteArray> { "Mods/Deep.ts4script" };
    QTest::newRow("a package's __init__")
        << QStringLiteral("E:\\w\\deep\\__init__.py") << QList<QByteArray> { "Mods/Deep.ts4script" };
    QTest::newRow("the game's own") << QStringLiteral("Core\\sims4\\utils.py") << QList<QByteArray> {};
    QTest::newRow("a module at the top of an archive is too common a name")
        << QStringLiteral("Core\\utils.py") << QList<QByteArray> {};
    QTest::newRow("a module at the top of an archive, named alone")
        << QStringLiteral("utils.py") << QList<QByteArray> { "Mods/Top.ts4script" };
    QTest::newRow("the archive named in the path")
        << QStringLiteral("/Top.ts4script/anything/else.py") << QList<QByteArray> { "Mods/Top.ts4script" };
    QTest::newRow("one module in two archives: both") << QStringLiteral(
        "X:\\shared\\lib.py") << QList<QByteArray> { "Mods/Clock.ts4script", "Mods/Deep.ts4script" };
    QTest::newRow("a module file named \"..py\", after a \"./\" folder")
        << QStringLiteral("C:\\dev\\.\\odd\\..py") << QList<QByteArray> { "Mods/Deep.ts4script" };
    QTest::newRow("separators after the file's name")
        << QStringLiteral("C:\\dev\\clockmod\\hooks.py\\/") << QList<QByteArray> { "Mods/Clock.ts4script" };
    QTest::newRow("no module file") << QStringLiteral("<frozen importlib._bootstrap>")
                                    << QList<QByteArray> {};
}

void tst_ScriptMods::framesToMods()
{
    QFETCH(QString, frame);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    writeArchives(folder.path(),
        { "Mods/Clock.ts4script: clockmod/__init__.pyc=3394, clockmod/hooks.pyc=3394, shared/lib.pyc=3394",
            "Mods/Deep.ts4script: deep/__init__.py, deep/a/b/c.pyc=3394, shared/lib.py, odd/..pyc=3394",
            "Mods/Top.ts4script: utils.pyc=3394, b/c.pyc=3394" });
    const ScanResult scan = scanFolder(folder.path());
    QList<ScanProblem> problems;
    const QList<ScriptMod> mods = readScriptMods(folder.path(), scan.files, {}, problems);
    QVERIFY(problems.isEmpty());
    QList<QByteArray> found;
    for (qsizetype mod : ModuleFinder(mods).modsOf(frame))
        found.append(mods.at(mod).path);
    QCOMPARE(found, expected);
}

void tst_ScriptMods::errorsCommand_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments"); // "GAME" stands for the game's folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("tsv since the snapshot")
        << QList<QByteArray> { "errors", "GAME", "--since", "GAME/../snap", "--format", "tsv" } << 1
        << QByteArray(
               "report\tlastException.txt\t1\texception\t2026-05-25 21:17:18\t[tester] Error in an "
               "interaction "
               "(AttributeError: 'NoneType' has no attribute 'sim')\n"
               "mod\tlastException.txt\t1\tMods/Sub/Clock.ts4script\tadded\n"
               "report\tlastUIException_2.txt\t1\tui-exception\t2026-05-26 08:00:00\tClient \x1b[31merror\n");
    QTest::newRow("the Mods folder given, without a snapshot")
        << QList<QByteArray> { "errors", "GAME/Mods", "--format", "tsv" } << 1
        << QByteArray(
               "report\tlastException.txt\t1\texception\t2026-05-25 21:17:18\t[tester] Error in an "
               "interaction "
               "(AttributeError: 'NoneType' has no attribute 'sim')\n"
               "mod\tlastException.txt\t1\tMods/Sub/Clock.ts4script\t-\n"
               "report\tlastUIException_2.txt\t1\tui-exception\t2026-05-26 08:00:00\tClient \x1b[31merror\n");
    QTest::newRow("text: control characters shown escaped")
        << QList<QByteArray> { "errors", "GAME", "--since", "GAME/../snap" } << 1
        << QByteArray(
               "Error reports in GAME: 2 reports in 2 files.\n"
               "\n"
               "lastException.txt: an error in the game's scripts\n"
               "  2026-05-25 21:17:18\n"
               "  [tester] Error in an interaction (AttributeError: 'NoneType' has no attribute 'sim')\n"
               "  Script mods in its traceback, nearest the error first:\n"
               "    Mods/Sub/Clock.ts4script  (new since the snapshot)\n"
               "\n"
               "lastUIException_2.txt: an error in the game's screens and menus\n"
               "  2026-05-26 08:00:00\n"
               "  The report is cut short or no well-formed XML: shown as far as it could be read.\n"
               "  Client \\x1b[31merror\n"
               "  No traceback in it.\n"
               "\n"
               "The mod a report names is where the error happened, not always its cause: look at it first (is there "
               "an update for the game as it is now?), or take it out with mendwell quarantine and see "
               "whether the error comes back. Nothing was moved.\n");
    QTest::newRow("a snapshot of another folder is refused")
        << QList<QByteArray> { "errors", "GAME/Mods/Sub", "--since", "GAME/../snap" } << 2 << QByteArray();
}

void tst_ScriptMods::errorsCommand()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, output);
    tree::Folder folder;
    const QByteArray game = folder.path() + "/The Sims 4";
    QCOMPARE(::mkdir(game.constData(), 0755), 0);
    writeArchives(game, { "Mods/Old.ts4script: old/m.pyc=3394" });
    tree::write(game, "Mods/a.package", "DBPF");
    QProcess snapshot;
    snapshot.start(QStringLiteral(MENDWELL_EXECUTABLE),
        { QStringLiteral("snapshot"), QFile::decodeName(game), QStringLiteral("-o"),
            QFile::decodeName(folder.path() + "/snap") });
    QVERIFY(snapshot.waitForFinished(60000));
    QCOMPARE(snapshot.exitCode(), 0);
    // After the snapshot: a new script mod and the reports of a game that broke.
    writeArchives(game, { "Mods/Sub/Clock.ts4script: clockmod/__init__.pyc=3394, clockmod/hooks.pyc=3394" });
    tree::write(game, "lastException.txt", reportFile("2026-05-25 21:17:18", gameTraceback));
    tree::write(game, "lastUIException_2.txt",
        "<report><createtime>2026-05-26 08:00:00</createtime><desyncdata>Client \x1b[31merror");
    tree::write(game, "notes.txt", "Traceback");

    QStringList given;
    for (const QByteArray& argument : arguments)
        given.append(QFile::decodeName(QByteArray(argument).replace("GAME", game)));
    QProcess process;
    process.start(QStringLiteral(MENDWELL_EXECUTABLE), given);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), status);
    if (status != 2)
        QCOMPARE(process.readAllStandardOutput(), QByteArray(output).replace("GAME", game));
    else
        QVERIFY(!process.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ScriptMods)
#include "tst_scriptmods.moc"
