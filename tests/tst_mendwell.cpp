// SPDX-License-Identifier: GPL-3.0-or-later
// The real mendwell executable, run on real folders: what it prints, byte for byte, and its exit status.
#include "mendtree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

// One argument for sh, quoted. The command line reaches sh as text, so a byte above 0x7f is made
// by printf inside it.
QByteArray shellWord(const QByteArray& bytes)
{
    QByteArray word = "'";
    for (const char c : bytes) {
        if (c == '\'')
            word += "'\\''";
        else if (uchar(c) >= 0x80)
            word += "'\"$(printf '\\" + QByteArray::number(uchar(c), 8) + "')\"'";
        else
            word += c;
    }
    return word + '\'';
}

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

}

class tst_Mendwell : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void help_data();
    void help();
    void troubleIsNamed_data();
    void troubleIsNamed();
    void diffTsvOfEveryKind();
    void diffJsonKeepsEveryByte();
    void diffTextForPlayers();
    void keptSnapshotsByNumber();
    void snapshotOfAnotherFolder();
    void diffTextShowsWhatChanged();
    void outputThatCannotBeWritten_data();
    void outputThatCannotBeWritten();
    void countsInThePlayersLocale_data();
    void countsInThePlayersLocale();
    void againstFolderList();
    void checkTsv();
    void checkCleanFolder();
    void unreadableFolder();
    void noThreadToBeHad_data();
    void noThreadToBeHad();
    void gamesOnAnEmptyHome();
    void gamesNamedByTheirTitles();
    void windowWithoutCommand();
    void folderNameThatIsNoUtf8();

private:
    Run run(
        const QList<QByteArray>& arguments, const QByteArray& asUser = {}, const QByteArray& redirect = {});
    std::unique_ptr<tree::Folder> m_dir;
    QByteArray m_locale; // LC_ALL of the runs, when set
    QByteArray m_home;
    QByteArray m_game;
};

Run tst_Mendwell::run(
    const QList<QByteArray>& arguments, const QByteArray& asUser, const QByteArray& redirect)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QString::fromUtf8(m_home));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromUtf8(m_home + "/data"));
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    if (!m_locale.isEmpty())
        env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(m_locale));
    process.setProcessEnvironment(env);
    // Arguments go through a shell by their bytes, so names that are no valid UTF-8 arrive as they are.
    QByteArray command = asUser.isEmpty() ? QByteArray() : asUser + ' ';
    command += "'" MENDWELL_EXECUTABLE "'";
    for (const QByteArray& argument : arguments)
        command += ' ' + shellWord(argument);
    if (!redirect.isEmpty())
        command += ' ' + redirect;
    process.start(QStringLiteral("sh"), { QStringLiteral("-c"), QString::fromLatin1(command) });
    process.waitForFinished(60000);
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError() };
}

void tst_Mendwell::init()
{
    m_dir = std::make_unique<tree::Folder>();
    m_locale.clear();
    m_home = m_dir->path() + "/home";
    m_game = m_dir->path() + "/Mods";
    ::mkdir(m_home.constData(), 0755);
    ::mkdir(m_game.constData(), 0755);
}

void tst_Mendwell::help_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("mendwell --help") << QList<QByteArray> { "--help" }
                                     << QByteArray("Mendwell: what changed in a game folder");
    QTest::newRow("mendwell --version")
        << QList<QByteArray> { "--version" } << QByteArray("mendwell 2.0\nLicence: GPL-3.0-or-later\n");
    QTest::newRow("games") << QList<QByteArray> { "games", "--help" }
                           << QByteArray("Usage: mendwell games [--format text|tsv]\n");
    QTest::newRow("snapshot") << QList<QByteArray> { "snapshot", "--help" }
                              << QByteArray("Usage: mendwell snapshot FOLDER [-o FILE] [--label TEXT]\n");
    QTest::newRow("snapshots") << QList<QByteArray> { "snapshots", "-h" }
                               << QByteArray("Usage: mendwell snapshots [FOLDER]\n");
    QTest::newRow("diff") << QList<QByteArray> {
        "diff", "--help"
    } << QByteArray("Usage: mendwell diff OLD [NEW] [--format text|tsv|json] [--other-folder]\n");
    QTest::newRow("check, help after other arguments") << QList<QByteArray> { "check", "x",
        "--help" } << QByteArray("Usage: mendwell check FOLDER [--format text|tsv|json]\n");
}

void tst_Mendwell::help()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QByteArray, start);
    const Run result = run(arguments);
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.startsWith(start), result.out.constData());
    QCOMPARE(result.err, QByteArray());
}

void tst_Mendwell::troubleIsNamed_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QByteArray>("message"); // "@" stands for the test's folder
    QTest::newRow("missing folder") << QList<QByteArray> { "snapshot", "@/nowhere" }
                                    << QByteArray("mendwell: @/nowhere: No such file or directory\n");
    QTest::newRow("a file given as folder")
        << QList<QByteArray> { "check", "@/file" } << QByteArray("mendwell: @/file: Not a directory\n");
    QTest::newRow("missing snapshot") << QList<QByteArray> { "diff", "@/none.mwsnap" }
                                      << QByteArray("mendwell: @/none.mwsnap: No such file or directory\n");
    QTest::newRow("garbage") << QList<QByteArray> { "diff", "@/garbage" }
                             << QByteArray(
                                    "mendwell: @/garbage: neither a Mendwell snapshot nor a folder list "
                                    "(line 1 is no bare file name)\n");
    QTest::newRow("truncated snapshot")
        << QList<QByteArray> { "diff", "@/cut.mwsnap" }
        << QByteArray("mendwell: @/cut.mwsnap: the snapshot file is truncated or damaged "
                      "(its checksum does not match)\n");
    QTest::newRow("snapshot of another version")
        << QList<QByteArray> { "diff", "@/v9.mwsnap" }
        << QByteArray("mendwell: @/v9.mwsnap: a snapshot of format version 9, which this Mendwell cannot "
                      "read (it reads "
                      "version 1)\n");
    QTest::newRow("no such kept snapshot")
        << QList<QByteArray> { "diff", "42" }
        << QByteArray("mendwell: there is no kept snapshot numbered 42 (see: mendwell "
                      "snapshots)\n");
    QTest::newRow("folder list without folder")
        << QList<QByteArray> { "diff", "@/old.TXT" }
        << QByteArray("mendwell: @/old.TXT: a folder list does not say which folder it was taken of; give "
                      "the folder "
                      "as NEW\n");
    QTest::newRow("folder list as the new side")
        << QList<QByteArray> { "diff", "@/good.mwsnap", "@/old.TXT" }
        << QByteArray("mendwell: @/old.TXT: a folder list can only be the old side; give a snapshot or a "
                      "folder as NEW\n");
    QTest::newRow("unknown command") << QList<QByteArray> { "fix" }
                                     << QByteArray("mendwell: unknown command fix (see: mendwell --help)\n");
    QTest::newRow("unknown option") << QList<QByteArray> { "check", "@", "--fast" }
                                    << QByteArray("mendwell: unknown option --fast\n");
    QTest::newRow("unknown format") << QList<QByteArray> { "check", "@", "--format", "csv" }
                                    << QByteArray("mendwell: unknown format csv (give text, tsv or json)\n");
    QTest::newRow("no json for games") << QList<QByteArray> { "games", "--format=json" }
                                       << QByteArray("mendwell: unknown format json (give text or tsv)\n");
    QTest::newRow("option without value")
        << QList<QByteArray> { "snapshot", "@", "-o" } << QByteArray("mendwell: -o needs a value\n");
    QTest::newRow("too few arguments")
        << QList<QByteArray> { "check" }
        << QByteArray("mendwell: check: too few arguments (see: mendwell check --help)\n");
    QTest::newRow("too many arguments") << QList<QByteArray> { "snapshot", "@",
        "@" } << QByteArray("mendwell: snapshot: too many arguments (see: mendwell snapshot --help)\n");
    QTest::newRow("snapshot into a missing folder") << QList<QByteArray> { "snapshot", "@/Mods", "-o",
        "@/no/s.mwsnap" } << QByteArray("mendwell: @/no/s.mwsnap: No such file or directory\n");
}

void tst_Mendwell::troubleIsNamed()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QByteArray, message);
    const QByteArray root = m_dir->path();
    tree::write(root, "file", "x");
    tree::write(root, "garbage", "\x01\x02 no line end");
    QVERIFY(run({ "snapshot", m_game, "-o", root + "/good.mwsnap" }).status == 0);
    const QByteArray good = tree::readAll(root + "/good.mwsnap");
    tree::write(root, "cut.mwsnap", good.chopped(3));
    QByteArray v9 = good;
    v9[8] = 9;
    tree::write(root, "v9.mwsnap", v9);
    tree::write(root, "old.TXT", "a.package\r\n\r\n\r\n");
    for (QByteArray& argument : arguments)
        argument.replace('@', root);
    const Run result = run(arguments);
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err, QByteArray(message).replace('@', root));
    QCOMPARE(result.out, QByteArray());
}

void tst_Mendwell::diffTsvOfEveryKind()
{
    tree::apply(m_game,
        { "file|a.package|DBPFa", "file|Hair/b.package|DBPFbb", "file|Hair/c.package|DBPFccc",
            "file|Hair/gone.package|DBPFg" });
    const QByteArray snapshot = m_dir->path() + "/then.mwsnap";
    Run result = run({ "snapshot", m_game, "-o", snapshot, "--label", "works" });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, "Snapshot of " + m_game + " written to " + snapshot + ": 4 files.\n");

    result = run({ "diff", snapshot, "--format", "tsv" });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray());

    tree::apply(m_game,
        { "file|New Mod/x.package|DBPFx", "file|tab\there\\.package|DBPF1", "file|line\nfeed.package|DBPF2",
            "time|a.package|1", "rm|Hair/gone.package", "mv|Hair/b.package|Shoes/b.package" });
    result = run({ "diff", snapshot, "--format", "tsv" });
    QCOMPARE(result.status, 1);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(result.out,
        QByteArray("added\tNew Mod/x.package\n"
                   "added\tline\\nfeed.package\n"
                   "added\ttab\\there\\\\.package\n"
                   "changed\ta.package\n"
                   "removed\tHair/gone.package\n"
                   "moved\tHair/b.package\tShoes/b.package\n"));
    // The folder named as the new side gives the same; a second snapshot as well.
    QCOMPARE(run({ "diff", snapshot, m_game, "--format=tsv" }).out, result.out);
    const QByteArray now = m_dir->path() + "/now.mwsnap";
    QCOMPARE(run({ "snapshot", m_game, "-o", now }).status, 0);
    const Run between = run({ "diff", snapshot, now, "--format", "tsv" });
    QCOMPARE(between.status, 1);
    QCOMPARE(between.out, result.out);
}

void tst_Mendwell::diffJsonKeepsEveryByte()
{
    tree::apply(m_game, { "file|keep.package|DBPF" });
    const QByteArray snapshot = m_dir->path() + "/then.mwsnap";
    QCOMPARE(run({ "snapshot", m_game, "-o", snapshot }).status, 0);
    tree::apply(m_game,
        { QByteArray("file|caf\xC3\xA9 \xFF\"q\".package|"), "file|Tool.package|DBPF",
            "file|Tool.ts4script|not a zip" });
    const Run result = run({ "diff", snapshot, "--format", "json" });
    QCOMPARE(result.status, 1);
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(result.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value(QStringLiteral("topLevelOnly")).toBool(true), false);
    const QJsonArray changes = json.value(QStringLiteral("changes")).toArray();
    QCOMPARE(changes.size(), 3);
    // The byte 0xFF, no UTF-8, comes back as the lone surrogate U+DCFF; the valid é stays itself.
    const QJsonObject odd = changes.at(2).toObject();
    QCOMPARE(odd.value(QStringLiteral("path")).toString(),
        QStringLiteral("caf\u00E9 ") + QChar(0xDCFF) + QStringLiteral("\"q\".package"));
    QVERIFY(result.out.contains("\"path\": \"caf\xC3\xA9 \\udcff\\\"q\\\".package\""));
    QCOMPARE(odd.value(QStringLiteral("kind")).toString(), QStringLiteral("added"));
    QCOMPARE(odd.value(QStringLiteral("size")).toInt(-1), 0);
    QCOMPARE(odd.value(QStringLiteral("flags"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("flag"))
                 .toString(),
        QStringLiteral("zero-bytes"));
    const QJsonObject script = changes.at(1).toObject();
    QCOMPARE(script.value(QStringLiteral("path")).toString(), QStringLiteral("Tool.ts4script"));
    QCOMPARE(script.value(QStringLiteral("flags"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("flag"))
                 .toString(),
        QStringLiteral("not-a-script"));
    QCOMPARE(script.value(QStringLiteral("group")).toInt(),
        changes.at(0).toObject().value(QStringLiteral("group")).toInt(-1));
    const QJsonArray groups = json.value(QStringLiteral("groups")).toArray();
    QCOMPARE(groups.size(), 2);
    QCOMPARE(groups.at(0).toObject().value(QStringLiteral("key")).toString(), QStringLiteral("Tool.*"));
    QCOMPARE(groups.at(0).toObject().value(QStringLiteral("files")).toInt(), 2);
}

void tst_Mendwell::diffTextForPlayers()
{
    // Every time is set, so the text does not hang on the clock's second.
    tree::apply(m_game, { "file|keep.package|DBPF", "time|keep.package|1690000000000000000" });
    QCOMPARE(run({ "snapshot", m_game, "-o", m_dir->path() + "/then.mwsnap" }).status, 0);
    tree::apply(m_game,
        { "file|Set/a.package|DBPFaa", "file|Set/b.package|DBPFbb", "time|Set/a.package|1700000000000000000",
            "time|Set/b.package|1700000000000000000", "file|log.txt|x", "time|log.txt|1700000000000000000",
            "file|Set/c.zip|PK\x03\x04", "time|Set/c.zip|1700000000000000000",
            "time|keep.package|1700000000000000000" });
    const Run result = run({ "diff", m_dir->path() + "/then.mwsnap" });
    QCOMPARE(result.status, 1);
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.at(0), "Changes in " + m_game);
    QVERIFY(lines.at(1).startsWith("  since snapshot " + m_dir->path() + "/then.mwsnap of "));
    QCOMPARE(lines.at(2), QByteArray("  until the folder as it is now"));
    const QByteArray rest = lines.mid(3).join('\n');
    QCOMPARE(rest,
        QByteArray(
            "\n"
            "Added: 3 files in 1 group\n"
            "  Set/ (a whole folder)\n"
            "    Set/a.package  6 bytes  2023-11-14 22:13:20\n"
            "    Set/b.package  6 bytes  2023-11-14 22:13:20\n"
            "    Set/c.zip  4 bytes  2023-11-14 22:13:20\n"
            "      ! Archive not unpacked - an archive: the game does not load .zip, .rar or .7z files, "
            "so its mods are not used until it is unpacked\n"
            "\n"
            "Changed: 1 file in 1 group\n"
            "  keep.package\n"
            "    keep.package  4 bytes  2023-11-14 22:13:20  (was 4 bytes  2023-07-22 04:26:40)\n"
            "\n"
            "Files mods write while the game runs (.cfg, .log, .txt; usually harmless): 1\n"
            "    added log.txt\n"
            "\n"
            "1 of these files may be trouble (marked !). Nothing was moved.\n"));
}

// Every file of the other folder would look removed and added: refused, unless the player asks for it.
void tst_Mendwell::snapshotOfAnotherFolder()
{
    const QByteArray other = m_dir->path() + "/Other";
    QCOMPARE(::mkdir(other.constData(), 0755), 0);
    tree::apply(m_game, { "file|a.package|DBPF" });
    tree::apply(other, { "file|b.package|DBPF" });
    QCOMPARE(run({ "snapshot", m_game, "-o", m_dir->path() + "/game.mwsnap" }).status, 0);
    Run result = run({ "diff", m_dir->path() + "/game.mwsnap", other });
    QCOMPARE(result.status, 2);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err,
        "mendwell: " + m_dir->path() + "/game.mwsnap is a snapshot of " + m_game + ", not of " + other
            + ": every file would look removed and added. Give --other-folder to compare them anyway\n");
    result = run({ "diff", m_dir->path() + "/game.mwsnap", other, "--other-folder" });
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out.split('\n').at(3), "  (the snapshot is of " + m_game + ")");
}

// Each line of the players' text is one file, and a change the rounded figures would hide is shown exactly.
void tst_Mendwell::diffTextShowsWhatChanged()
{
    const QByteArray twoKb(2048, 'x');
    tree::apply(m_game,
        { "file|same.package|" + twoKb, "time|same.package|1700000000000000000", "file|touched.package|DBPF",
            "time|touched.package|1700000000000000000", "file|link.package|DBPF",
            "time|link.package|1700000000000000000" });
    QCOMPARE(run({ "snapshot", m_game, "-o", m_dir->path() + "/then.mwsnap" }).status, 0);
    tree::apply(m_game,
        { "file|same.package|" + twoKb + 'y', "time|same.package|1700000000000000000",
            "time|touched.package|1700000000500000000", "rm|link.package",
            "link|link.package|touched.package", "file|tab\there\nand.package|DBPF",
            "time|tab\there\nand.package|1700000000000000000" });
    const Run result = run({ "diff", m_dir->path() + "/then.mwsnap" });
    QCOMPARE(result.status, 1);
    const QList<QByteArray> lines = result.out.split('\n');
    const auto line = [&lines](const QByteArray& start) {
        for (const QByteArray& one : lines) {
            if (one.startsWith(start))
                return one;
        }
        return QByteArray();
    };
    QCOMPARE(line("    same.package"),
        "    same.package  " + QLocale().toString(2049).toUtf8() + " bytes  2023-11-14 22:13:20  (was "
            + QLocale().toString(2048).toUtf8() + " bytes  2023-11-14 22:13:20)");
    QCOMPARE(line("    touched.package"),
        QByteArray("    touched.package  4 bytes  2023-11-14 22:13:20.500000000  (was 4 bytes  2023-11-14 "
                   "22:13:20.000000000)"));
    QVERIFY2(
        line("    link.package").endsWith("  now a link, was a file"), line("    link.package").constData());
    QCOMPARE(line("    tab"), QByteArray("    tab\\there\\nand.package  4 bytes  2023-11-14 22:13:20"));
}

void tst_Mendwell::outputThatCannotBeWritten_data()
{
    QTest::addColumn<QList<QByteArray>>(
        "arguments"); // "@" stands for the game folder, "%" for a snapshot of it
    for (const char* format : { "text", "tsv", "json" }) {
        QTest::addRow("check, %s", format) << QList<QByteArray> { "check", "@", "--format", format };
        QTest::addRow("diff, %s", format) << QList<QByteArray> { "diff", "%", "--format", format };
    }
    QTest::newRow("snapshots") << QList<QByteArray> { "snapshots" };
    QTest::newRow("games") << QList<QByteArray> { "games" };
    QTest::newRow("help") << QList<QByteArray> { "diff", "--help" };
}

// A report that never reached the disk is no success, whatever it found.
void tst_Mendwell::outputThatCannotBeWritten()
{
    QFETCH(QList<QByteArray>, arguments);
    tree::apply(m_game, { "file|a.package|" });
    const QByteArray snapshot = m_dir->path() + "/then.mwsnap";
    QCOMPARE(run({ "snapshot", m_game, "-o", snapshot }).status, 0);
    QCOMPARE(run({ "snapshot", m_game }).status, 0);
    tree::apply(m_game, { "file|b.package|DBPF" });
    for (QByteArray& argument : arguments)
        argument.replace('@', m_game).replace('%', snapshot);
    const Run result = run(arguments, {}, ">/dev/full");
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err, QByteArray("mendwell: the output could not be written: No space left on device\n"));
}

void tst_Mendwell::countsInThePlayersLocale_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("English") << QByteArray("en_US.UTF-8") << QByteArray("1,234");
    QTest::newRow("German") << QByteArray("de_DE.UTF-8") << QByteArray("1.234");
}

// Counts are written as the player's locale groups digits, in every line that gives one.
void tst_Mendwell::countsInThePlayersLocale()
{
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, count);
    QCOMPARE(run({ "snapshot", m_game, "-o", m_dir->path() + "/then.mwsnap" }).status, 0);
    QList<QByteArray> steps;
    for (int i = 0; i < 1234; ++i)
        steps.append("file|Set/" + QByteArray::number(i) + ".package|DBPF" + QByteArray::number(i));
    tree::apply(m_game, steps);
    m_locale = locale;
    Run result = run({ "check", m_game });
    QCOMPARE(result.status, 0);
    QVERIFY2(result.out.startsWith("Checked " + count + " files in "), result.out.constData());
    result = run({ "diff", m_dir->path() + "/then.mwsnap" });
    QCOMPARE(result.status, 1);
    QVERIFY2(
        result.out.contains("\nAdded: " + count + " files in 1 group\n"), result.out.left(400).constData());
}

void tst_Mendwell::keptSnapshotsByNumber()
{
    tree::apply(m_game, { "file|a.package|DBPF" });
    Run result = run({ "snapshots", m_game });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, "No snapshots of " + m_game + " kept yet.\n");
    result = run({ "snapshot", m_game, "--label", "game works" });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, "Snapshot 1 of " + m_game + ": 1 file.\n");
    tree::apply(m_game, { "file|b.package|DBPF" });
    QCOMPARE(run({ "snapshot", m_game }).out, "Snapshot 2 of " + m_game + ": 2 files.\n");
    QVERIFY(QFile::exists(QString::fromUtf8(m_home + "/data/mendwell/snapshots/2.mwsnap")));

    result = run({ "snapshots", m_game });
    QCOMPARE(result.status, 0);
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith("   2  20") && lines.at(0).endsWith("         2 files"),
        lines.at(0).constData());
    QVERIFY2(lines.at(1).startsWith("   1  20") && lines.at(1).endsWith("          1 file  \"game works\""),
        lines.at(1).constData());

    result = run({ "diff", "1", "--format", "tsv" });
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out, QByteArray("added\tb.package\n"));
    QCOMPARE(run({ "diff", "1", "2", "--format", "tsv" }).out, QByteArray("added\tb.package\n"));
    QCOMPARE(run({ "diff", "2" }).status, 0);
}

void tst_Mendwell::againstFolderList()
{
    tree::apply(m_game, { "file|first.dat|1", "file|new.package|DBPF", "file|Sub/deep.package|DBPF" });
    tree::write(m_dir->path(), "old.TXT",
        QByteArray::fromHex("66697273742E6461740D0A7365636F6E642E6461740D0A0D0A0D0A"));
    Run result = run({ "diff", m_dir->path() + "/old.TXT", m_game, "--format", "tsv" });
    QCOMPARE(result.status, 1);
    QCOMPARE(result.out, QByteArray("added\tnew.package\nremoved\tsecond.dat\n"));
    QCOMPARE(result.err,
        QByteArray("mendwell: note: The old side is a folder list, which holds top-level names only: "
                   "only files added to or removed from the top of the folder can be known, not "
                   "changes inside subfolders or changed files.\n"));
    result = run({ "diff", m_dir->path() + "/old.TXT", m_game });
    QVERIFY(result.out.contains("\nNote: The old side is a folder list, which holds top-level names only"));
    result = run({ "diff", m_dir->path() + "/old.TXT", m_game, "--format", "json" });
    QCOMPARE(
        QJsonDocument::fromJson(result.out).object().value(QStringLiteral("topLevelOnly")).toBool(), true);
}

void tst_Mendwell::checkTsv()
{
    // The game's folder, holding Mods and Tray.
    tree::apply(m_dir->path(),
        { "file|Mods/empty.package|", "file|Mods/fake.package|<html>", "file|Mods/ok.package|DBPFok",
            "file|Mods/ok (1).package|DBPFok", "file|Mods/a/b/c/d/e/f/deep.package|DBPFdeep",
            "file|Mods/Scripts/x/tool.ts4script|PK\x03\x04", "file|Mods/CC.rar|Rar!",
            "file|Mods/lot.blueprint|b", "file|Mods/mc_cmd.log|", "file|Mods/tab\there.package|DBPFt",
            "file|Tray/lot.blueprint|c" });
    const Run result = run({ "check", m_dir->path(), "--format", "tsv" });
    QCOMPARE(result.status, 1);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(result.out,
        QByteArray(
            "archive\tMods/CC.rar\tan archive: the game does not load .zip, .rar or .7z files, so its "
            "mods are not used until it is unpacked\n"
            "script-unloadable\tMods/Scripts/x/tool.ts4script\ta damaged .ts4script: its list of "
            "contents is missing or broken, as in a download cut short, so the game cannot open it\n"
            "too-deep\tMods/Scripts/x/tool.ts4script\ttoo deep: The Sims 4 reads .ts4script files at "
            "most 1 folder below Mods, this one is 2 below\n"
            "too-deep\tMods/a/b/c/d/e/f/deep.package\ttoo deep: The Sims 4 reads .package files at most "
            "5 folders below Mods, this one is 6 below\n"
            "zero-bytes\tMods/empty.package\tempty (0 bytes): an unfinished or broken download\n"
            "not-a-package\tMods/fake.package\tnot a working .package: it does not start with the DBPF "
            "header every package has\n"
            "tray-file\tMods/lot.blueprint\ta household or lot file: it belongs in the Tray folder, not "
            "in Mods\n"
            "duplicate\tMods/ok (1).package\tthe same bytes as \"Mods/ok.package\": one copy is enough\n"
            "browser-copy\tMods/ok (1).package\tlooks like a second download of \"Mods/ok.package\" (a "
            "browser adds \" (1)\" to a name it already has)\n"
            "noise\tMods/mc_cmd.log\n"));
}

void tst_Mendwell::checkCleanFolder()
{
    tree::apply(m_game, { "file|a.package|DBPFa", "file|Sub/b.package|DBPFb", "file|notes.txt|" });
    Run result = run({ "check", m_game, "--format", "tsv" });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("noise\tnotes.txt\n"));
    result = run({ "check", m_game });
    QCOMPARE(result.status, 0);
    QVERIFY(result.out.startsWith("Checked 3 files in " + m_game + ": nothing suspect.\n"));
}

void tst_Mendwell::unreadableFolder()
{
    tree::apply(m_game, { "file|open/a.package|DBPF", "file|locked/b.package|DBPF" });
    QCOMPARE(::chmod((m_game + "/locked").constData(), 0), 0);
    ::chmod(m_dir->path().constData(), 0777);
    // Root reads every folder: the command then runs as nobody.
    const QByteArray asUser
        = ::getuid() == 0 ? QByteArray("setpriv --reuid=65534 --regid=65534 --clear-groups") : QByteArray();
    const QByteArray snapshot = m_dir->path() + "/out.mwsnap";
    const Run result = run({ "snapshot", m_game, "-o", snapshot }, asUser);
    ::chmod((m_game + "/locked").constData(), 0755);
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err, "mendwell: cannot read " + m_game + "/locked: Permission denied\n");
    QCOMPARE(result.out, "Snapshot of " + m_game + " written to " + snapshot + ": 1 file.\n");
    // The snapshot remembers the folder it could not read: its files are not taken for removed later.
    const QByteArray unknown = "mendwell: when snapshot " + snapshot + " was taken, " + m_game
        + "/locked could not be read (Permission denied); its files are not compared\n";
    const Run later = run({ "diff", snapshot, m_game, "--format", "tsv" });
    QCOMPARE(later.status, 2);
    QCOMPARE(later.out, QByteArray());
    QCOMPARE(later.err, unknown);
    // Against itself: no differences, and the reason for exit 2 said once.
    const Run itself = run({ "diff", snapshot, snapshot, "--format", "tsv" });
    QCOMPARE(itself.status, 2);
    QCOMPARE(itself.out, QByteArray());
    QCOMPARE(itself.err, unknown);
}

void tst_Mendwell::noThreadToBeHad_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments"); // "@": the game folder, "%": a snapshot of it
    QTest::newRow("snapshot") << QList<QByteArray> { "snapshot", "@", "-o", "%.new" };
    QTest::newRow("diff") << QList<QByteArray> { "diff", "%", "@", "--format", "tsv" };
    QTest::newRow("check") << QList<QByteArray> { "check", "@", "--format", "tsv" };
    QTest::newRow("conflicts") << QList<QByteArray> { "conflicts", "@", "--format", "tsv" };
}

// Where a limit on processes leaves no thread to be had, a command does its work on the one it has,
// with the same answer.
void tst_Mendwell::noThreadToBeHad()
{
    QFETCH(QList<QByteArray>, arguments);
    tree::apply(m_game,
        { "file|a.package|DBPF-a", "file|b/copy.package|DBPF-a", "file|c.ts4script|PK", "file|d.package|" });
    const QByteArray snapshot = m_dir->path() + "/then.mwsnap";
    QCOMPARE(run({ "snapshot", m_game, "-o", snapshot }).status, 0);
    tree::apply(m_game, { "file|b/new.package|DBPF-a", "file|e.package|DBPF" });
    ::chmod(m_dir->path().constData(), 0777);
    ::chmod(snapshot.constData(), 0644);
    for (QByteArray& argument : arguments)
        argument.replace('@', m_game).replace('%', snapshot);
    // Root is not held to the limit: the command then runs as nobody.
    const QByteArray asUser = ::getuid() == 0
        ? QByteArray("setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=1")
        : QByteArray("prlimit --nproc=1");
    const Run unlimited = run(arguments);
    const Run limited = run(arguments, asUser);
    QCOMPARE(limited.err, unlimited.err);
    QCOMPARE(limited.status, unlimited.status);
    QCOMPARE(limited.out, unlimited.out);
    QVERIFY(!unlimited.out.isEmpty());
}

void tst_Mendwell::gamesOnAnEmptyHome()
{
    Run result = run({ "games", "--format", "tsv" });
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray());
    result = run({ "games" });
    QCOMPARE(result.status, 0);
    QCOMPARE(
        result.out, QByteArray("No game folders found. Give the folder to the other commands yourself.\n"));
}

void tst_Mendwell::gamesNamedByTheirTitles()
{
    // The first game has no number in its title; columns line up whatever the titles' widths.
    const QByteArray sims1 = m_home + "/.wine/drive_c/Program Files/Maxis/The Sims";
    const QByteArray sims4 = m_home + "/Documents/Electronic Arts/The Sims 4";
    for (const QByteArray& folder : { sims1 + "/GameData/Skins", sims1 + "/Downloads", sims4 + "/Mods" })
        QVERIFY(QDir().mkpath(QString::fromUtf8(folder)));
    const Run result = run({ "games" });
    QCOMPARE(result.status, 0);
    // clang-format off
    QCOMPARE(result.out,
        "The Sims 4  Mods       native  " + sims4 + "/Mods\n"
        "The Sims    Downloads  Wine    " + sims1 + "/Downloads\n"
        "The Sims    Skins      Wine    " + sims1 + "/GameData/Skins\n");
    // clang-format on
    QVERIFY(QDir(QString::fromUtf8(m_home + "/Documents")).removeRecursively());
    QVERIFY(QDir(QString::fromUtf8(m_home + "/.wine")).removeRecursively());
}

void tst_Mendwell::windowWithoutCommand()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MENDWELL_EXECUTABLE), {});
    QVERIFY(process.waitForStarted());
    // The window stays open until it is closed; a command would have ended at once.
    QVERIFY(!process.waitForFinished(1500));
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QVERIFY(!process.readAllStandardError().contains("mendwell:"));
}

// A game folder whose name holds a byte that is no UTF-8 is mended like any other: its files move
// out, come back, and go through a 50/50 by the folder's bytes.
void tst_Mendwell::folderNameThatIsNoUtf8()
{
    const QByteArray folder = m_dir->path() + "/Mods \xe9t\xe9";
    ::mkdir(folder.constData(), 0755);
    tree::apply(folder, { "file|Old.package|DBPFold" });
    const Run snapshot = run({ "snapshot", folder });
    QVERIFY2(snapshot.status == 0, snapshot.err.constData());
    tree::apply(folder, { "file|A.package|DBPFa", "file|B/B.package|DBPFb", "file|C.package|DBPFc" });
    // Every file with its size and time, by the folder's bytes.
    const auto listing = [&folder] {
        QProcess find;
        find.start(QStringLiteral("sh"),
            { QStringLiteral("-c"),
                QString::fromLatin1(
                    "cd " + shellWord(folder) + " && find . -type f -printf '%P %s %T@\\n' | sort") });
        find.waitForFinished();
        return find.readAllStandardOutput();
    };
    const QByteArray before = listing();
    QVERIFY(before.contains("B/B.package"));
    const QList<QList<QByteArray>> steps { { "quarantine", folder, "--since", "1" }, { "status", folder },
        { "restore", folder }, { "bisect", "start", folder, "--since", "1" }, { "bisect", "status", folder },
        { "bisect", "works", folder }, { "status", folder }, { "bisect", "stop", folder } };
    for (const QList<QByteArray>& step : steps) {
        const Run result = run(step);
        QVERIFY2(result.status == 0, (step.join(' ') + ": " + result.err).constData());
        QVERIFY2(result.out.contains("\\xe9t\\xe9") || step.first() == "bisect", result.out.constData());
    }
    QCOMPARE(listing(), before);
}

QTEST_GUILESS_MAIN(tst_Mendwell)
#include "tst_mendwell.moc"
