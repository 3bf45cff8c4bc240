// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "conflicts.h"
#include "conflictscommand.h"
#include "diff.h"
#include "errorscommand.h"
#include "gamefolders.h"
#include "pathtext.h"
#include "repair.h"
#include "report.h"
#include "scan.h"
#include "snapshot.h"
#include "suspects.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <vector>

#include <future>
#include <limits>
#include <new>
#include <numeric>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace mending;

namespace {

const char generalHelp[]
    = "Mendwell: what changed in a game folder, and which files may keep the game from working.\n"
      "\n"
      "Usage:\n"
      "  mendwell                          open the window\n"
      "  mendwell games [--format text|tsv]\n"
      "  mendwell snapshot FOLDER [-o FILE] [--label TEXT]\n"
      "  mendwell snapshots [FOLDER]\n"
      "  mendwell diff OLD [NEW] [--format text|tsv|json]\n"
      "  mendwell check FOLDER [--format text|tsv|json]\n"
      "  mendwell conflicts FOLDER [--format text|tsv|json]\n"
      "  mendwell errors GAMEFOLDER [--since SNAPSHOT] [--format text|tsv|json]\n"
      "  mendwell quarantine FOLDER --since SNAPSHOT [--only added|changed|all] [--cache] [PATH...]\n"
      "  mendwell restore FOLDER [BATCH] [PATH...]\n"
      "  mendwell status FOLDER\n"
      "  mendwell bisect start FOLDER --since SNAPSHOT\n"
      "  mendwell bisect works|broken|status|stop FOLDER\n"
      "  mendwell COMMAND --help           what a command does\n"
      "  mendwell --version\n"
      "\n"
      "Files never move while the game runs. Only the game of the folder's generation, run by you, counts;\n"
      "if a process is taken for the game by mistake, name its id in MENDWELL_IGNORE_PID (several with\n"
      "commas), e.g. MENDWELL_IGNORE_PID=1234 mendwell restore FOLDER.\n"
      "\n"
      "Exit status: 0 done, 1 differences, suspect files or error reports found (diff, check, errors),\n"
      "2 trouble.\n";

// Trouble that ends a command: the message goes to stderr, the status is 2.
struct Stop
{
    QString message;
};

// The formats of --format, by their short name in the commands.
using Format = ReportFormat;

struct Arguments
{
    QList<QByteArray> positional;
    QHash<QByteArray, QByteArray> options;
    bool help = false;
};

// Options with a value, and flags without one; everything else that starts with "-" is unknown.
Arguments parseArguments(
    const QList<QByteArray>& arguments, const QList<QByteArray>& valued, const QList<QByteArray>& flags = {})
{
    Arguments parsed;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (optionsEnd || !argument.startsWith('-') || argument == "-") {
            parsed.positional.append(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnd = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            parsed.help = true;
            continue;
        }
        if (flags.contains(argument)) {
            parsed.options.insert(argument, {});
            continue;
        }
        QByteArray name = argument;
        QByteArray value;
        const qsizetype equals = argument.indexOf('=');
        const bool inline_ = argument.startsWith("--") && equals > 0;
        if (inline_) {
            name = argument.first(equals);
            value = argument.sliced(equals + 1);
        }
        if (!valued.contains(name))
            throw Stop { QStringLiteral("unknown option %1").arg(displayPath(name)) };
        if (!inline_) {
            if (i + 1 >= arguments.size())
                throw Stop { QStringLiteral("%1 needs a value").arg(displayPath(name)) };
            value = arguments.at(++i);
        }
        parsed.options.insert(name, value);
    }
    return parsed;
}

Format formatOf(const Arguments& arguments, bool jsonAllowed)
{
    const QByteArray format = arguments.options.value("--format", "text");
    if (format == "text")
        return Format::Text;
    if (format == "tsv")
        return Format::Tsv;
    if (format == "json" && jsonAllowed)
        return Format::Json;
    throw Stop { QStringLiteral("unknown format %1 (give %2)")
                     .arg(displayPath(format),
                         jsonAllowed ? QStringLiteral("text, tsv or json") : QStringLiteral("text or tsv")) };
}

void expectPositional(const Arguments& arguments, qsizetype least, qsizetype most, const char* command)
{
    const qsizetype count = arguments.positional.size();
    if (count < least || count > most)
        throw Stop { QStringLiteral("%1: %2 (see: mendwell %1 --help)")
                         .arg(QLatin1String(command),
                             count < least ? QStringLiteral("too few arguments")
                                           : QStringLiteral("too many arguments")) };
}

qint64 nowNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void reportProblems(const QList<ScanProblem>& problems, const QByteArray& root, std::FILE* err)
{
    for (const ScanProblem& problem : problems) {
        const QByteArray path = problem.path.isEmpty() ? root : root + '/' + problem.path;
        std::fprintf(err, "mendwell: cannot read %s: %s\n", displayPath(path).toUtf8().constData(),
            problem.reason.constData());
    }
}

int gamesCommand(const Arguments& arguments, Output& out)
{
    expectPositional(arguments, 0, 0, "games");
    const Format format = formatOf(arguments, false);
    writeGames(findGameFolders(), format, out);
    return ExitStatus::Done;
}

int snapshotCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, 1, "snapshot");
    Snapshot snapshot;
    snapshot.root = canonicalFolder(arguments.positional.first());
    snapshot.label = arguments.options.value("--label");
    snapshot.takenNs = nowNs();
    ScanResult scan = scanFolder(snapshot.root);
    snapshot.files = std::move(scan.files);
    snapshot.problems = std::move(scan.problems);
    reportProblems(snapshot.problems, snapshot.root, err);
    if (arguments.options.contains("-o")) {
        const QByteArray file = arguments.options.value("-o");
        const QByteArray bytes = encodeSnapshot(snapshot);
        const qsizetype count = snapshot.files.size();
        // The list is let go while the disk takes the file: freeing a million names takes a while too.
        std::thread letGo;
        try {
            letGo = std::thread([files = std::move(snapshot.files)]() mutable { files = {}; });
        } catch (const std::system_error&) {
            // No thread to be had: the list went with the work that was to free it.
        }
        auto joining = qScopeGuard([&letGo] {
            if (letGo.joinable())
                letGo.join();
        });
        writeSnapshotBytes(file, bytes);
        out << QStringLiteral("Snapshot of %1 written to %2: %3.\n")
                   .arg(displayPath(snapshot.root), displayPath(file), fileCount(count));
    } else {
        SnapshotStore store(SnapshotStore::defaultFolder());
        const int id = store.add(snapshot);
        out << QStringLiteral("Snapshot %1 of %2: %3.\n")
                   .arg(id)
                   .arg(displayPath(snapshot.root), fileCount(snapshot.files.size()));
    }
    return snapshot.problems.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
}

int snapshotsCommand(const Arguments& arguments, Output& out)
{
    expectPositional(arguments, 0, 1, "snapshots");
    const QByteArray root
        = arguments.positional.isEmpty() ? QByteArray() : canonicalFolder(arguments.positional.first());
    const SnapshotStore store(SnapshotStore::defaultFolder());
    writeSnapshots(store.list(root), root, out);
    return ExitStatus::Done;
}

// One side of a diff, as given on the command line.
struct Side
{
    enum { SnapshotFile, FolderList, Folder } kind = Folder;
    QByteArray name; // as the player gave it
    QByteArray path; // the file read
    QByteArray bytes; // a snapshot's, until decoded
    Snapshot snapshot; // for a folder: its scan, taken now
    QList<QByteArray> listed; // for a folder list
};

bool isFolder(const QByteArray& path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isAllDigits(const QByteArray& text)
{
    return !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Side scanSide(const QByteArray& folder)
{
    Side side;
    side.kind = Side::Folder;
    side.name = folder;
    side.snapshot.root = canonicalFolder(folder);
    side.snapshot.takenNs = nowNs();
    ScanResult scan = scanFolder(side.snapshot.root);
    side.snapshot.files = std::move(scan.files);
    side.snapshot.problems = std::move(scan.problems);
    return side;
}

// Reads a snapshot or folder list; a snapshot's records are decoded later by decodeSide.
Side readSide(const QByteArray& given)
{
    QByteArray path = given;
    struct stat st;
    if (::stat(given.constData(), &st) != 0 && isAllDigits(given)) {
        const SnapshotStore store(SnapshotStore::defaultFolder());
        path = store.pathOf(given.toInt());
        if (::stat(path.constData(), &st) != 0)
            throw Stop { QStringLiteral("there is no kept snapshot numbered %1 (see: mendwell snapshots)")
                             .arg(QString::fromLatin1(given)) };
    }
    Side side;
    side.name = given;
    side.path = path;
    side.bytes = readWholeFile(path);
    try {
        if (looksLikeSnapshot(side.bytes)) {
            side.kind = Side::SnapshotFile;
            const SnapshotInfo info = decodeSnapshotInfo(side.bytes);
            side.snapshot.root = info.root;
        } else {
            side.kind = Side::FolderList;
            side.listed = parseFolderList(side.bytes);
            side.bytes.clear();
        }
    } catch (const Failure& failure) {
        throw Failure(displayPath(path) + QStringLiteral(": ") + failure.message());
    }
    return side;
}

void decodeSide(Side& side)
{
    if (side.kind != Side::SnapshotFile)
        return;
    try {
        side.snapshot = decodeSnapshot(side.bytes);
        side.bytes.clear();
    } catch (const Failure& failure) {
        throw Failure(displayPath(side.path) + QStringLiteral(": ") + failure.message());
    }
}

// What a snapshot could not read when it was taken stays unknown: its files are neither removed nor
// added, and the player is told why the answer is not whole.
void reportRecordedProblems(const Side& side, std::FILE* err)
{
    if (side.kind != Side::SnapshotFile)
        return;
    for (const ScanProblem& problem : side.snapshot.problems) {
        const QByteArray path
            = problem.path.isEmpty() ? side.snapshot.root : side.snapshot.root + '/' + problem.path;
        std::fprintf(err,
            "mendwell: when snapshot %s was taken, %s could not be read (%s); its files are not compared\n",
            displayPath(side.name).toUtf8().constData(), displayPath(path).toUtf8().constData(),
            problem.reason.constData());
    }
}

QString describeSide(const Side& side)
{
    switch (side.kind) {
    case Side::SnapshotFile: {
        QString text = QStringLiteral("snapshot %1 of %2")
                           .arg(displayPath(side.name), timeText(side.snapshot.takenNs));
        if (!side.snapshot.label.isEmpty())
            text += QStringLiteral(" (\"%1\")").arg(displayPath(side.snapshot.label));
        return text;
    }
    case Side::FolderList:
        return QStringLiteral("folder list %1").arg(displayPath(side.name));
    case Side::Folder:
        return QStringLiteral("the folder as it is now");
    }
    return {};
}

DiffSides diffSides(const Side& before, const Side& after)
{
    DiffSides sides;
    sides.root = after.snapshot.root;
    if (before.kind == Side::SnapshotFile)
        sides.oldRoot = before.snapshot.root;
    sides.since = describeSide(before);
    sides.until = describeSide(after);
    sides.oldName = before.name;
    sides.newName = after.kind == Side::Folder ? after.snapshot.root : after.name;
    return sides;
}

// The new side of a diff: the folder named or the old snapshot's folder, scanned now, or a snapshot.
// The old side's records are decoded on the way.
Side readNewSide(const Arguments& arguments, Side& before)
{
    QByteArray folder;
    if (arguments.positional.size() == 2 && isFolder(arguments.positional.at(1)))
        folder = arguments.positional.at(1);
    else if (arguments.positional.size() == 1 && before.kind == Side::SnapshotFile)
        folder = before.snapshot.root;
    else if (arguments.positional.size() == 1)
        throw Stop { QStringLiteral(
            "%1: a folder list does not say which folder it was taken of; give the folder as NEW")
                         .arg(displayPath(before.name)) };
    if (folder.isEmpty()) {
        decodeSide(before);
        Side after = readSide(arguments.positional.at(1));
        if (after.kind == Side::FolderList)
            throw Stop { QStringLiteral(
                "%1: a folder list can only be the old side; give a snapshot or a folder as NEW")
                             .arg(displayPath(after.name)) };
        decodeSide(after);
        return after;
    }
    // The old records are decoded while the folder is scanned (on a thread of its own or, where none
    // is to be had, once the scan is done).
    auto decoding = std::async(std::launch::async | std::launch::deferred, [&before] { decodeSide(before); });
    Side after;
    try {
        after = scanSide(folder);
    } catch (...) {
        decoding.wait();
        throw;
    }
    decoding.get();
    return after;
}

DiffResult compareSides(const Side& before, const Side& after)
{
    // Content is read, and links followed, only in a folder as it is now, not in a snapshot of one.
    const QByteArray liveRoot = after.kind == Side::Folder ? after.snapshot.root : QByteArray();
    DiffResult result = before.kind == Side::FolderList
        ? diffTopLevel(before.listed, after.snapshot.files, liveRoot)
        : diffFiles(
            before.snapshot.files, after.snapshot.files, before.snapshot.problems + after.snapshot.problems);
    // Package indexes can be read only in a folder as it is now. The clashes are looked for while the
    // changed files are checked: each writes its own part of the result (clashes; flags and noise).
    // (A future of std::async waits for its work when it is destroyed, also when flagSuspects throws;
    // where no thread is to be had, the clashes are looked for after the check, once asked for.)
    std::future<void> clashes;
    if (!liveRoot.isEmpty())
        clashes = std::async(std::launch::async | std::launch::deferred,
            [&result, &liveRoot, &after] { noteClashes(result, liveRoot, after.snapshot.files); });
    flagSuspects(result, liveRoot, after.snapshot.files);
    if (clashes.valid())
        clashes.get();
    return result;
}

int diffCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, 2, "diff");
    const Format format = formatOf(arguments, true);
    Side before = readSide(arguments.positional.at(0));
    const Side after = readNewSide(arguments, before);
    if (before.kind == Side::SnapshotFile && before.snapshot.root != after.snapshot.root
        && !arguments.options.contains("--other-folder"))
        throw Stop { QStringLiteral("%1 is a snapshot of %2, not of %3: every file would look removed and "
                                    "added. Give --other-folder to compare them anyway")
                         .arg(displayPath(before.name), displayPath(before.snapshot.root),
                             displayPath(after.snapshot.root)) };
    reportRecordedProblems(before, err);
    if (after.kind == Side::Folder)
        reportProblems(after.snapshot.problems, after.snapshot.root, err);
    else if (after.path != before.path)
        reportRecordedProblems(after, err);

    const DiffResult result = compareSides(before, after);
    if (format == Format::Tsv && result.topLevelOnly)
        std::fprintf(err, "mendwell: note: %s\n", topLevelNote);
    writeDiff(result, diffSides(before, after), format, out);
    if (!before.snapshot.problems.isEmpty() || !after.snapshot.problems.isEmpty())
        return ExitStatus::Trouble;
    return result.isEmpty() ? ExitStatus::Done : ExitStatus::Found;
}

int checkCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, 1, "check");
    const Format format = formatOf(arguments, true);
    const QByteArray root = canonicalFolder(arguments.positional.first());
    const ScanResult scan = scanFolder(root);
    reportProblems(scan.problems, root, err);
    const CheckReport report = checkFiles(root, scan.files, {}, DuplicateScope::AllFiles);
    reportProblems(report.unreadable, root, err);
    writeCheck(root, scan.files, report, format, out);
    if (!scan.problems.isEmpty() || !report.unreadable.isEmpty())
        return ExitStatus::Trouble;
    return report.suspects.isEmpty() ? ExitStatus::Done : ExitStatus::Found;
}

// The folder's files as the player names them: relative to FOLDER, or absolute below it, or
// relative to the current folder and below FOLDER.
QList<QByteArray> pathsInside(const QByteArray& folder, const QList<QByteArray>& given)
{
    QList<QByteArray> paths;
    for (const QByteArray& path : given) {
        QByteArray inside = path;
        if (path.startsWith('/')) {
            const QByteArray absolute = QFile::encodeName(QDir::cleanPath(QFile::decodeName(path)));
            if (absolute.startsWith(folder + '/'))
                inside = absolute.sliced(folder.size() + 1);
            else
                throw Stop {
                    QStringLiteral("%1 is not inside %2").arg(displayPath(path), displayPath(folder))
                };
        } else if (struct stat st; ::lstat((folder + '/' + path).constData(), &st) != 0) {
            const QByteArray absolute = QFile::encodeName(
                QDir::cleanPath(QDir::current().absoluteFilePath(QFile::decodeName(path))));
            if (absolute.startsWith(folder + '/'))
                inside = absolute.sliced(folder.size() + 1);
        }
        paths.append(inside);
    }
    return paths;
}

// What the player should know although the files moved: a damaged record set aside, an owner not kept.
void reportNotice(const QString& notice, std::FILE* err)
{
    for (const QString& line : notice.split(u'\n', Qt::SkipEmptyParts))
        std::fprintf(err, "mendwell: %s\n", line.toUtf8().constData());
}

// Says what recovery finished, if anything: a move that a crash or a kill cut short.
void reportRecovery(const MoveReport& report, Output& out, std::FILE* err)
{
    reportNotice(report.notice, err);
    if (!report.moved.isEmpty())
        out << QStringLiteral("Finished a move that was cut short: %1 put in place.\n")
                   .arg(fileCount(report.moved.size()));
    for (const auto& [path, reason] : report.skipped)
        std::fprintf(err, "mendwell: %s stayed where it was: %s\n", displayPath(path).toUtf8().constData(),
            reason.toUtf8().constData());
    if (!report.ok())
        throw Stop { report.error };
}

void reportSkipped(const MoveReport& report, std::FILE* err)
{
    reportNotice(report.notice, err);
    for (const auto& [path, reason] : report.skipped)
        std::fprintf(err, "mendwell: %s stayed where it was: %s\n", displayPath(path).toUtf8().constData(),
            reason.toUtf8().constData());
}

// The new files of FOLDER since the snapshot or folder list named by --since.
NewFiles newFilesOf(
    const QByteArray& folder, const Arguments& arguments, NewKinds kinds, const char* command, std::FILE* err)
{
    if (!arguments.options.contains("--since"))
        throw Stop {
            QStringLiteral("%1 needs --since SNAPSHOT (see: mendwell snapshots)").arg(QLatin1String(command))
        };
    Side before = readSide(arguments.options.value("--since"));
    NewFiles files;
    if (before.kind == Side::FolderList) {
        if (kinds == NewKinds::Changed)
            throw Stop { QStringLiteral(
                "a folder list holds names only: it cannot tell which files changed") };
        files = newFilesSinceList(before.listed, folder);
    } else {
        decodeSide(before);
        // Paths are relative: another folder's snapshot would make every file of this one look new.
        if (before.snapshot.root != folder)
            throw Stop { QStringLiteral("%1 was taken of %2, not of %3: give a snapshot of this folder")
                             .arg(displayPath(before.name), displayPath(before.snapshot.root),
                                 displayPath(folder)) };
        files = newFilesSince(before.snapshot, folder, kinds);
    }
    reportProblems(files.problems, folder, err);
    return files;
}

// When this program started (CLOCK_BOOTTIME): the moment the player gave the command.
qint64 startedAtBootNs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the name in parentheses; the start time is the 22nd field, the 20th after it.
    const QList<QByteArray> fields = text.sliced(text.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!ok || perSecond <= 0)
        return -1;
    // The kernel gives the start in whole ticks, cut down: the program may have started up to a tick
    // later, and an answer taken within that tick may have come before it.
    return (ticks + 1) * (1000000000 / perSecond);
}

// Tells the player why nothing happens yet when the window or another command holds the folder.
void noticeWaiting(FiftyFifty& fifty, std::FILE* err)
{
    fifty.setWaitNotice([err, folder = fifty.folderPath()] {
        std::fprintf(err, "mendwell: waiting for another Mendwell that is working on %s...\n",
            displayPath(folder).toUtf8().constData());
        std::fflush(err);
    });
}

void refuseDuringFiftyFifty(FiftyFifty& fifty, const QByteArray& folder)
{
    if (fifty.running())
        throw Stop { QStringLiteral(
            "a 50/50 is running on %1: answer it (mendwell bisect status %1), or stop "
            "it and put everything back (mendwell bisect stop %1)")
                         .arg(displayPath(folder)) };
}

// A damaged 50/50 store was kept aside and a fresh one made: the player learns where the old one is.
void noteSetAside(FiftyFifty& fifty, std::FILE* err)
{
    if (const QString message = fifty.store().setAsideMessage(); !message.isEmpty())
        std::fprintf(err, "%s\n", message.toLocal8Bit().constData());
}

NewKinds onlyKinds(const Arguments& arguments)
{
    const QByteArray only = arguments.options.value("--only", "all");
    if (only == "added")
        return NewKinds::Added;
    if (only == "changed")
        return NewKinds::Changed;
    if (only == "all")
        return NewKinds::All;
    throw Stop {
        QStringLiteral("unknown choice --only %1 (give added, changed or all)").arg(displayPath(only))
    };
}

// What moved, group by group, and what the player may do about the game's cache.
void writeMovedOut(const QString& into, const NewFiles& files, const MoveReport& report,
    const QList<QByteArray>& caches, bool withCache, const QByteArray& folder, Output& out)
{
    const QSet<QByteArray> moved(report.moved.cbegin(), report.moved.cend());
    out << QStringLiteral("Moved %1 out of %2\n  into %3\n")
               .arg(fileCount(report.moved.size()), displayPath(folder), into);
    for (const BisectGroup& group : files.groups) {
        const qsizetype count = std::count_if(group.paths.cbegin(), group.paths.cend(),
            [&moved](const QByteArray& path) { return moved.contains(path); });
        if (count > 0)
            out << QStringLiteral("    %1  (%2)\n").arg(group.key, fileCount(count));
    }
    if (withCache) {
        for (const QByteArray& cache : caches) {
            if (moved.contains(cache))
                out << QStringLiteral("    %1, the game's cache beside the folder\n").arg(displayPath(cache));
        }
    } else if (!caches.isEmpty()) {
        out << QStringLiteral(
            "The game's cache (%1) beside the folder still shows the old files; add --cache "
            "to move it out too (the game makes it anew).\n")
                   .arg(displayPath(caches.join(", ")));
    }
    out << QStringLiteral("Put them back with: mendwell restore %1\n").arg(displayPath(folder));
}

int quarantineCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, std::numeric_limits<qsizetype>::max(), "quarantine");
    const QByteArray folder = canonicalFolder(arguments.positional.first());
    const NewKinds kinds = onlyKinds(arguments);

    FiftyFifty fifty(folder);
    noteSetAside(fifty, err);
    noticeWaiting(fifty, err);
    reportRecovery(fifty.recover(), out, err);
    refuseDuringFiftyFifty(fifty, folder);
    NewFiles files = newFilesOf(folder, arguments, kinds, "quarantine", err);
    QList<QByteArray> unmatched;
    if (arguments.positional.size() > 1)
        files = onlyBelow(files, pathsInside(folder, arguments.positional.sliced(1)), &unmatched);
    for (const QByteArray& path : std::as_const(unmatched))
        std::fprintf(err, "mendwell: %s: no new file there\n", displayPath(path).toUtf8().constData());
    if (files.paths.isEmpty()) {
        out << QStringLiteral("Nothing to move: no new files in %1.\n").arg(displayPath(folder));
        return unmatched.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
    }

    const QList<QByteArray> caches = cacheFilesBeside(folder);
    const bool withCache = arguments.options.contains("--cache");
    const MoveReport report = fifty.moveOut(files.paths, withCache ? caches : QList<QByteArray> {});
    if (!report.ok())
        throw Stop { report.error };
    reportSkipped(report, err);
    writeMovedOut(fifty.quarantine().quarantineFolder() + u'/' + report.batch, files, report, caches,
        withCache, folder, out);
    return report.skipped.isEmpty() && unmatched.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
}

int restoreCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, std::numeric_limits<qsizetype>::max(), "restore");
    const QByteArray folder = canonicalFolder(arguments.positional.first());
    FiftyFifty fifty(folder);
    noteSetAside(fifty, err);
    noticeWaiting(fifty, err);
    reportRecovery(fifty.recover(), out, err);
    QList<QByteArray> rest = arguments.positional.sliced(1);
    QString batch;
    if (!rest.isEmpty()) {
        const QString name = QFile::decodeName(rest.first());
        for (const QuarantineBatch& known : fifty.quarantine().batches()) {
            if (known.name == name) {
                batch = name;
                rest.removeFirst();
                break;
            }
        }
    }
    const QList<QuarantineBatch> batches = fifty.quarantine().batches();
    const bool anythingOut = std::any_of(
        batches.cbegin(), batches.cend(), [](const QuarantineBatch& known) { return known.filesOut() > 0; });
    if (!anythingOut && rest.isEmpty()) {
        out << QStringLiteral("Nothing to put back: no files of %1 are moved out.\n")
                   .arg(displayPath(folder));
        return ExitStatus::Done;
    }
    const MoveReport report = fifty.restore(batch, pathsInside(folder, rest));
    if (!report.ok())
        throw Stop { report.error };
    reportSkipped(report, err);
    out << QStringLiteral("Put back %1 into %2.\n").arg(fileCount(report.moved.size()), displayPath(folder));
    return report.skipped.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
}

void writeSession(const BisectSession& session, FiftyFifty& fifty, Output& out)
{
    out << session.summary() << '\n';
    if (session.running() && !session.movesPending())
        out << (session.roundsLeftAtMost() == 1
                ? QStringLiteral("This is the last answer needed.\n")
                : QStringLiteral("At most %1 answers are needed, this one included.\n")
                      .arg(session.roundsLeftAtMost()));
    // Culprits are named as out only while they are: the player may have put one back since.
    bool anyOut = false;
    for (const int culprit : session.culprits()) {
        const BisectGroup& group = session.groups().at(culprit);
        const QList<QByteArray> filesOut = fifty.filesOutOf(session, culprit);
        anyOut = anyOut || !filesOut.isEmpty();
        if (filesOut.isEmpty())
            out << QStringLiteral("The culprit %1 is back in the folder:\n").arg(group.key);
        else if (filesOut.size() == group.paths.size())
            out << QStringLiteral("The culprit %1 is kept out, in %2:\n")
                       .arg(group.key, fifty.quarantine().quarantineFolder());
        else
            out << QStringLiteral("The culprit %1 is partly out (%2 of %3), in %4:\n")
                       .arg(group.key, fileCount(filesOut.size()))
                       .arg(group.paths.size())
                       .arg(fifty.quarantine().quarantineFolder());
        for (const QByteArray& path : group.paths)
            out << QStringLiteral("    %1%2\n")
                       .arg(displayPath(path),
                           filesOut.contains(path) ? QStringLiteral("  (out)")
                                                   : QStringLiteral("  (in the folder)"));
    }
    if (anyOut && !session.running())
        out << (session.culprits().size() == 1
                ? QStringLiteral("Bring it back with: mendwell restore %1\n")
                : QStringLiteral("Bring them back with: mendwell restore %1\n"))
                   .arg(displayPath(fifty.folderPath()));
    if (!session.running())
        return;
    if (const QString trouble = fifty.layoutTrouble(session); !trouble.isEmpty())
        out << trouble << '\n';
    const QList<QByteArray> made = fifty.madeDuring(session);
    if (!made.isEmpty())
        out << QStringLiteral("Made in the folder during the 50/50, and left where it is: %1\n")
                   .arg(fileCount(made.size()));
    for (const QByteArray& path : made)
        out << QStringLiteral("    %1\n").arg(displayPath(path));
    const QList<QByteArray> out_ = fifty.filesOut(session);
    out << QStringLiteral("Out of the folder now: %1 in %2 of %3 groups\n")
               .arg(fileCount(out_.size()))
               .arg(session.out().size())
               .arg(session.groups().size());
    for (const int group : session.out())
        out << QStringLiteral("    %1  (%2)\n")
                   .arg(session.groups().at(group).key, fileCount(session.groups().at(group).paths.size()));
}

int statusCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, 1, "status");
    const QByteArray folder = canonicalFolder(arguments.positional.first());
    FiftyFifty fifty(folder);
    noteSetAside(fifty, err);
    noticeWaiting(fifty, err);
    // Looking must work while the game runs, even when a move is still to be finished.
    bool unfinished = false;
    try {
        reportRecovery(fifty.recover(), out, err);
    } catch (const Stop& stop) {
        std::fprintf(err, "mendwell: a move is not finished yet: %s\n", stop.message.toUtf8().constData());
        unfinished = true;
    }
    qsizetype total = 0;
    for (const QuarantineBatch& batch : fifty.quarantine().batches()) {
        for (const QString& notice : batch.notices)
            std::fprintf(err, "mendwell: batch %s: %s\n", batch.name.toUtf8().constData(),
                notice.toUtf8().constData());
        const int filesOut = batch.filesOut();
        if (filesOut == 0)
            continue;
        total += filesOut;
        out << QStringLiteral("Batch %1: %2 of %3 out\n")
                   .arg(batch.name, fileCount(filesOut))
                   .arg(batch.files.size());
        for (const QuarantinedFile& file : batch.files) {
            if (file.out)
                out << QStringLiteral("    %1%2\n")
                           .arg(displayPath(file.path),
                               file.beside ? QStringLiteral("  (beside the folder)") : QString());
        }
    }
    if (total == 0)
        out << QStringLiteral("No files of %1 are moved out.\n").arg(displayPath(folder));
    else
        out << QStringLiteral("%1 out, in %2\nPut them back with: mendwell restore %3\n")
                   .arg(fileCount(total), fifty.quarantine().quarantineFolder(), displayPath(folder));
    if (const std::optional<BisectSession> session = fifty.session()) {
        out << "\n50/50: ";
        writeSession(*session, fifty, out);
    }
    return unfinished ? ExitStatus::Trouble : ExitStatus::Done;
}

// The round named by --round (counted from 0), or -1.
int givenRound(const Arguments& arguments)
{
    if (!arguments.options.contains("--round"))
        return -1;
    bool ok = false;
    const int round = arguments.options.value("--round").toInt(&ok) - 1;
    if (!ok || round < 0)
        throw Stop { QStringLiteral("--round needs a round number, as mendwell bisect status shows it") };
    return round;
}

void recoverForStep(const QByteArray& action, FiftyFifty& fifty, Output& out, std::FILE* err)
{
    if (action == "stop" || action == "status") {
        // Moves that cannot be made now need not be to look, and stopping brings every file back.
        const MoveReport recovered = fifty.recover();
        reportSkipped(recovered, err);
        if (!recovered.ok())
            std::fprintf(err, "mendwell: %s\n", recovered.error.toUtf8().constData());
    } else {
        reportRecovery(fifty.recover(), out, err);
    }
}

// Starts the 50/50 over the new files; none when there is nothing new, which the player is told.
std::optional<BisectSession> startFiftyFifty(FiftyFifty& fifty, const QByteArray& folder,
    const Arguments& arguments, MoveReport& report, Output& out, std::FILE* err)
{
    if (const QString running = fifty.quarantine().gameRunningMessage(); !running.isEmpty())
        throw Stop { running };
    refuseDuringFiftyFifty(fifty, folder);
    // Files already out are not in the folder, so the 50/50 could not test them.
    const QList<QuarantineBatch> batches = fifty.quarantine().batches();
    const qsizetype filesOut = std::accumulate(batches.cbegin(), batches.cend(), qsizetype(0),
        [](qsizetype sum, const QuarantineBatch& batch) { return sum + batch.filesOut(); });
    if (filesOut > 0)
        throw Stop { QStringLiteral("%1 of %2 moved out before (see: mendwell status %2): put them back "
                                    "first with mendwell restore %2, so that the 50/50 can test them")
                         .arg(fileCount(filesOut), displayPath(folder)) };
    const NewFiles files = newFilesOf(folder, arguments, NewKinds::All, "bisect start", err);
    if (files.groups.isEmpty()) {
        out << QStringLiteral("Nothing new in %1, so there is nothing to test.\n").arg(displayPath(folder));
        return std::nullopt;
    }
    return fifty.start(files.groups, &report);
}

// "works" or "broken" for the round; seen is the 50/50 as it was when the command began.
BisectSession answerRound(FiftyFifty& fifty, const QByteArray& action, int forRound,
    const std::optional<BisectSession>& seen, MoveReport& report)
{
    try {
        return fifty.answer(action == "works" ? BisectAnswer::Works : BisectAnswer::Broken, forRound, &report,
            startedAtBootNs());
    } catch (const BisectError& error) {
        const std::optional<BisectSession> now = fifty.session();
        if (error.kind() != BisectError::OutOfTurn || !seen || !now
            || now->events().size() == seen->events().size())
            throw;
        throw Stop { QStringLiteral("another answer for round %1 was taken first, so this one was not. %2")
                         .arg(seen->round() + 1)
                         .arg(error.message()) };
    }
}

int bisectCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 2, 2, "bisect");
    const QByteArray action = arguments.positional.at(0);
    const QList<QByteArray> actions { "start", "works", "broken", "status", "stop" };
    if (!actions.contains(action))
        throw Stop { QStringLiteral("bisect: unknown step %1 (give start, works, broken, status or stop)")
                         .arg(displayPath(action)) };
    const QByteArray folder = canonicalFolder(arguments.positional.at(1));
    int forRound = givenRound(arguments);
    FiftyFifty fifty(folder);
    noteSetAside(fifty, err);
    noticeWaiting(fifty, err);
    // An answer is about the layout the player tested: the round as it was when the command began. An
    // answer given at the same moment from elsewhere then takes that round, and this one is refused.
    const std::optional<BisectSession> seen = fifty.session();
    if (forRound == -1 && seen && seen->running())
        forRound = seen->round();
    recoverForStep(action, fifty, out, err);

    MoveReport report;
    std::optional<BisectSession> session;
    if (action == "start") {
        session = startFiftyFifty(fifty, folder, arguments, report, out, err);
    } else if (action == "status") {
        session = fifty.session();
        if (!session)
            out << QStringLiteral(
                "No 50/50 on %1. Start one with: mendwell bisect start %1 --since SNAPSHOT\n")
                       .arg(displayPath(folder));
    } else if (action == "stop") {
        session = fifty.stop(&report);
    } else {
        session = answerRound(fifty, action, forRound, seen, report);
    }
    if (!session)
        return ExitStatus::Done;
    reportSkipped(report, err);
    writeSession(*session, fifty, out);
    if (!report.ok())
        throw Stop { report.error };
    return report.skipped.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
}

// Every command in one entry: its name, the options that take a value, the options that stand alone,
// its help and what runs it. A name not in the table is no command.
struct Command
{
    QByteArrayView name;
    QList<QByteArray> valued;
    QList<QByteArray> flags;
    const char* help;
    int (*run)(const Arguments&, Output&, std::FILE*);
};

const std::vector<Command>& commands()
{
    static const std::vector<Command> table {
        { "games", { "--format" }, {},
            "Usage: mendwell games [--format text|tsv]\n"
            "\n"
            "Lists the game folders found on this computer, one a line: the game, the kind of folder\n"
            "(Mods, Mods/Packages, Downloads, Skins...), how the game runs (native, Steam Proton,\n"
            "Flatpak Steam, Wine, Lutris, Bottles) and the folder's path. Looks under $HOME and the\n"
            "XDG folders. tsv lines: generation<TAB>kind<TAB>runner<TAB>path.\n",
            [](const Arguments& a, Output& out, std::FILE*) { return gamesCommand(a, out); } },
        { "snapshot", { "-o", "--label" }, {},
            "Usage: mendwell snapshot FOLDER [-o FILE] [--label TEXT]\n"
            "\n"
            "Remembers FOLDER as it is now: every file and link below it, at any depth, hidden ones\n"
            "included, with size, modification time and inode. Take one while the game works.\n"
            "Without -o the snapshot is kept among your own snapshots (see: mendwell snapshots),\n"
            "with -o it is written to FILE. Folders that cannot be read are named on stderr, are\n"
            "recorded in the snapshot, and make the exit status 2.\n",
            snapshotCommand },
        { "snapshots", {}, {},
            "Usage: mendwell snapshots [FOLDER]\n"
            "\n"
            "Lists your kept snapshots (of FOLDER, or of every folder), newest first: the number to\n"
            "give to diff, the time it was taken, the number of files and the label.\n",
            [](const Arguments& a, Output& out, std::FILE*) { return snapshotsCommand(a, out); } },
        { "diff", { "--format" }, { "--other-folder" },
            "Usage: mendwell diff OLD [NEW] [--format text|tsv|json] [--other-folder]\n"
            "\n"
            "Shows the files added, changed (size or modification time), removed and moved since OLD.\n"
            "OLD is a snapshot file, the number of a kept snapshot, or a folder list saved by Brenvale\n"
            "(which holds top-level names only: then only added and removed top-level files can be\n"
            "known). NEW is a snapshot or a folder; by default the folder OLD was taken of, as it is now.\n"
            "Files are grouped by mod and carry suspect flags (see: mendwell check --help); new and changed\n"
            "mods that hold resources another mod holds too are named (see: mendwell conflicts --help).\n"
            "A snapshot of another folder than NEW is refused, unless --other-folder is given.\n"
            "tsv lines: added<TAB>path, changed<TAB>path, removed<TAB>path, moved<TAB>old<TAB>new,\n"
            "with tab, line feed and backslash in names written as \\t, \\n and \\\\.\n"
            "Exit status: 0 no differences, 1 differences, 2 trouble.\n",
            diffCommand },
        { "check", { "--format" }, {},
            "Usage: mendwell check FOLDER [--format text|tsv|json]\n"
            "\n"
            "Looks at every file below FOLDER for signs of trouble: empty files, .package files without\n"
            "their DBPF header, .ts4script files that are no ZIP archive, files deeper than the game\n"
            "reads (.package 5 folders below Mods, .ts4script 1), archives left in Mods, byte-identical\n"
            "duplicates, second downloads (\"name (1).package\"), household or lot files in Mods, script\n"
            "mods that provide a Python module another one provides too (the game loads only one), and\n"
            "script mods compiled for another Python than the game's 3.7 (see: mendwell errors --help).\n"
            "Files mods write while the game runs (.cfg, .log, .txt) are listed apart, never flagged.\n"
            "A flag only explains: nothing is moved or deleted.\n"
            "tsv lines: flag<TAB>path<TAB>reason, and noise<TAB>path.\n"
            "Exit status: 0 nothing suspect, 1 suspect files found, 2 trouble.\n",
            checkCommand },
        { "conflicts", { "--format" }, {}, conflictsHelp,
            [](const Arguments& a, Output& out, std::FILE* err) {
                expectPositional(a, 1, 1, "conflicts");
                return conflictsCommand(a.positional.first(), formatOf(a, true), out, err);
            } },
        { "errors", { "--since", "--format" }, {}, errorsHelp,
            [](const Arguments& a, Output& out, std::FILE* err) {
                expectPositional(a, 1, 1, "errors");
                return errorsCommand(
                    a.positional.first(), a.options.value("--since"), formatOf(a, true), out, err);
            } },
        { "quarantine", { "--since", "--only" }, { "--cache" },
            "Usage: mendwell quarantine FOLDER --since SNAPSHOT [--only added|changed|all] [--cache] "
            "[PATH...]\n"
            "\n"
            "Moves the files added and changed in FOLDER since SNAPSHOT (a kept snapshot's number, a\n"
            "snapshot file, or a folder list saved by Brenvale) out of the folder, so the game no longer\n"
            "loads them. They go into \"FOLDER (moved out by Mendwell)\" beside FOLDER, on the same\n"
            "drive, in a batch named by the date and time, with a manifest.tsv of where each file was,\n"
            "its size, time and permissions. Nothing is ever deleted or overwritten: a file whose place\n"
            "in the batch is taken stays where it is and is named on stderr.\n"
            "  --only added|changed|all  which new files (default: all, added and changed)\n"
            "  --cache                   move the game's cache beside FOLDER along (The Sims 4:\n"
            "                            localthumbcache.package beside Mods); the game makes it anew\n"
            "  PATH...                   only the new files at or below these paths (relative to FOLDER)\n"
            "Refused while the game runs. Put the files back with: mendwell restore FOLDER\n"
            "Exit status: 0 done, 2 trouble (a file that stayed, or nothing could move).\n",
            quarantineCommand },
        { "restore", {}, {},
            "Usage: mendwell restore FOLDER [BATCH] [PATH...]\n"
            "\n"
            "Puts files moved out of FOLDER back where they were, with their bytes, times and\n"
            "permissions: every batch (newest first), or only BATCH (its name, as mendwell status shows\n"
            "it), or only the given paths. A file whose place has been taken again stays in the batch and\n"
            "is named on stderr. Refused while the game runs, and while a 50/50 runs on FOLDER.\n"
            "Exit status: 0 done, 2 trouble.\n",
            restoreCommand },
        { "status", {}, {},
            "Usage: mendwell status FOLDER\n"
            "\n"
            "Shows which files of FOLDER are moved out, batch by batch, and the 50/50 on FOLDER if\n"
            "there is one, with every culprit it named and whether it is out now. A move that a crash\n"
            "or a kill cut short is finished first, so that every file is in exactly one place (every\n"
            "other command does this too).\n",
            statusCommand },
        { "bisect", { "--since", "--round" }, {},
            "Usage: mendwell bisect start FOLDER --since SNAPSHOT\n"
            "       mendwell bisect works|broken|status|stop FOLDER [--round N]\n"
            "\n"
            "Finds the one mod that breaks the game by halves. The new files since SNAPSHOT are taken\n"
            "in groups (a mod's files stay together). start moves every new group out: start the game,\n"
            "then say works (the cause is among the new files) or broken (it is not: everything comes\n"
            "back). Each later round keeps half of the remaining suspects in FOLDER and the rest out;\n"
            "start the game each time and answer works or broken. At most 1 + log2(groups) rounds.\n"
            "The end names the culprit group and its files, puts every other file back and keeps the\n"
            "culprit out (mendwell restore brings it back). status shows the round, the rounds left at\n"
            "most and the files out; stop puts everything back. The 50/50 survives restarts.\n"
            "Files mods write while the game runs (.cfg, .log, .txt) are never moved. A file that cannot\n"
            "move stops the round before it begins: the file and the reason are named and the files of that\n"
            "step go back. An answer is about the round the folder was in when the command began: of two\n"
            "answers given at once (here, or here and in the window) one is taken, the other refused.\n"
            "An answer is refused too when files of the round were moved by hand or by another program.\n"
            "  --round N   the round answered (as status shows it); an answer for another round is refused\n"
            "Refused while the game runs: close it before you answer (see: mendwell --help).\n",
            bisectCommand },
    };
    return table;
}

const Command* findCommand(QByteArrayView name)
{
    for (const Command& command : commands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

// Runs a known command on its arguments; trouble is said on err and ends in ExitStatus::Trouble.
int runParsed(const Command& command, const QList<QByteArray>& arguments, Output& output, std::FILE* err)
{
    try {
        const Arguments parsed = parseArguments(arguments.sliced(1), command.valued, command.flags);
        if (parsed.help) {
            output << command.help;
            return ExitStatus::Done;
        }
        return command.run(parsed, output, err);
    } catch (const Stop& stop) {
        output.flush();
        std::fprintf(err, "mendwell: %s\n", stop.message.toUtf8().constData());
    } catch (const Failure& failure) {
        output.flush();
        std::fprintf(err, "mendwell: %s\n", failure.message().toUtf8().constData());
    } catch (const BisectError& error) {
        output.flush();
        std::fprintf(err, "mendwell: %s\n", error.message().toUtf8().constData());
    } catch (const std::bad_alloc&) {
        output.flush();
        std::fprintf(err, "mendwell: not enough memory for the command\n");
    } catch (const std::system_error& error) {
        // What the system refused the program itself, as a thread where processes are limited.
        output.flush();
        std::fprintf(err, "mendwell: %s\n", error.what());
    }
    return ExitStatus::Trouble;
}

}

int runCommand(const QList<QByteArray>& arguments, std::FILE* out, std::FILE* err)
{
    Output output(out);
    if (arguments.isEmpty() || arguments.first() == "--help" || arguments.first() == "-h"
        || arguments.first() == "help") {
        output << generalHelp;
        return ExitStatus::Done;
    }
    if (arguments.first() == "--version") {
        output << "mendwell " MENDWELL_VERSION "\nLicence: GPL-3.0-or-later\n";
        return ExitStatus::Done;
    }
    const Command* command = findCommand(arguments.first());
    if (!command) {
        std::fprintf(err, "mendwell: unknown command %s (see: mendwell --help)\n",
            displayPath(arguments.first()).toUtf8().constData());
        return ExitStatus::Trouble;
    }
    const int status = runParsed(*command, arguments, output, err);
    output.flush();
    // A reader that stopped early (head) gets no complaint; a write that failed is trouble.
    if (output.error() != 0 && output.error() != EPIPE) {
        std::fprintf(err, "mendwell: the output could not be written: %s\n",
            errorText(output.error()).toUtf8().constData());
        return ExitStatus::Trouble;
    }
    return status;
}
