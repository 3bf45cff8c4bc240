#include "commandline.h"

#include "diff.h"
#include "gamefolders.h"
#include "pathtext.h"
#include "scan.h"
#include "snapshot.h"
#include "suspects.h"

#include <QDateTime>
#include <QHash>

#include <future>

#include <sys/stat.h>

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
      "  mendwell COMMAND --help           what a command does\n"
      "\n"
      "Exit status: 0 done, 1 differences or suspect files found (diff, check), 2 trouble.\n";

const QHash<QByteArray, const char*>& commandHelp()
{
    static const QHash<QByteArray, const char*> help {
        { "games",
            "Usage: mendwell games [--format text|tsv]\n"
            "\n"
            "Lists the game folders found on this computer, one a line: the game, the kind of folder\n"
            "(Mods, Mods/Packages, Downloads, Skins...), how the game runs (native, Steam Proton,\n"
            "Flatpak Steam, Wine, Lutris, Bottles) and the folder's path. Looks under $HOME and the\n"
            "XDG folders. tsv lines: generation<TAB>kind<TAB>runner<TAB>path.\n" },
        { "snapshot",
            "Usage: mendwell snapshot FOLDER [-o FILE] [--label TEXT]\n"
            "\n"
            "Remembers FOLDER as it is now: every file and link below it, at any depth, hidden ones\n"
            "included, with size, modification time and inode. Take one while the game works.\n"
            "Without -o the snapshot is kept among your own snapshots (see: mendwell snapshots),\n"
            "with -o it is written to FILE. Folders that cannot be read are named on stderr, are\n"
            "recorded in the snapshot, and make the exit status 2.\n" },
        { "snapshots",
            "Usage: mendwell snapshots [FOLDER]\n"
            "\n"
            "Lists your kept snapshots (of FOLDER, or of every folder), newest first: the number to\n"
            "give to diff, the time it was taken, the number of files and the label.\n" },
        { "diff",
            "Usage: mendwell diff OLD [NEW] [--format text|tsv|json]\n"
            "\n"
            "Shows the files added, changed (size or modification time), removed and moved since OLD.\n"
            "OLD is a snapshot file, the number of a kept snapshot, or a folder list saved by Brenvale\n"
            "(which holds top-level names only: then only added and removed top-level files can be\n"
            "known). NEW is a snapshot or a folder; by default the folder OLD was taken of, as it is now.\n"
            "Files are grouped by mod and carry suspect flags (see: mendwell check --help).\n"
            "tsv lines: added<TAB>path, changed<TAB>path, removed<TAB>path, moved<TAB>old<TAB>new,\n"
            "with tab, line feed and backslash in names written as \\t, \\n and \\\\.\n"
            "Exit status: 0 no differences, 1 differences, 2 trouble.\n" },
        { "check",
            "Usage: mendwell check FOLDER [--format text|tsv|json]\n"
            "\n"
            "Looks at every file below FOLDER for signs of trouble: empty files, .package files without\n"
            "their DBPF header, .ts4script files that are no ZIP archive, files deeper than the game\n"
            "reads (.package 5 folders below Mods, .ts4script 1), archives left in Mods, byte-identical\n"
            "duplicates, second downloads (\"name (1).package\") and household or lot files in Mods.\n"
            "Files mods write while the game runs (.cfg, .log, .txt) are listed apart, never flagged.\n"
            "A flag only explains: nothing is moved or deleted.\n"
            "tsv lines: flag<TAB>path<TAB>reason, and noise<TAB>path.\n"
            "Exit status: 0 nothing suspect, 1 suspect files found, 2 trouble.\n" },
    };
    return help;
}

// Trouble that ends a command: the message goes to stderr, the status is 2.
struct Stop
{
    QString message;
};

class Output
{
public:
    explicit Output(std::FILE* file)
        : m_file(file)
    { }
    ~Output() { flush(); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    Output& operator<<(QByteArrayView bytes)
    {
        m_buffer.append(bytes.data(), bytes.size());
        if (m_buffer.size() > (1 << 20))
            flush();
        return *this;
    }
    Output& operator<<(const QByteArray& bytes) { return *this << QByteArrayView(bytes); }
    Output& operator<<(const QString& text) { return *this << QByteArrayView(text.toUtf8()); }
    Output& operator<<(const char* text) { return *this << QByteArrayView(text); }
    Output& operator<<(char c) { return *this << QByteArrayView(&c, 1); }

    void flush()
    {
        std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), m_file);
        std::fflush(m_file);
        m_buffer.clear();
    }

private:
    std::FILE* m_file;
    QByteArray m_buffer;
};

enum class Format { Text, Tsv, Json };

struct Arguments
{
    QList<QByteArray> positional;
    QHash<QByteArray, QByteArray> options;
    bool help = false;
};

// Options with a value; everything else that starts with "-" is unknown.
Arguments parseArguments(const QList<QByteArray>& arguments, const QList<QByteArray>& valued)
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

QString timeText(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    const char* units[] = { "KB", "MB", "GB", "TB" };
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
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
    const QList<GameFolder> folders = findGameFolders();
    if (format == Format::Tsv) {
        for (const GameFolder& folder : folders)
            out << QByteArray::number(folder.generation) << '\t' << folder.kind << '\t'
                << runnerName(folder.runner) << '\t' << tsvField(folder.path.toUtf8()) << '\n';
        return ExitStatus::Done;
    }
    if (folders.isEmpty()) {
        out << "No game folders found. Give the folder to the other commands yourself.\n";
        return ExitStatus::Done;
    }
    qsizetype kindWidth = 4, runnerWidth = 6;
    for (const GameFolder& folder : folders) {
        kindWidth = std::max(kindWidth, folder.kind.size());
        runnerWidth = std::max(runnerWidth, runnerName(folder.runner).size());
    }
    for (const GameFolder& folder : folders)
        out << QStringLiteral("The Sims %1  %2  %3  %4\n")
                   .arg(folder.generation)
                   .arg(folder.kind, -int(kindWidth))
                   .arg(runnerName(folder.runner), -int(runnerWidth))
                   .arg(folder.path);
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
        writeSnapshotFile(file, snapshot);
        out << QStringLiteral("Snapshot of %1 written to %2: %3 files.\n")
                   .arg(displayPath(snapshot.root), displayPath(file))
                   .arg(snapshot.files.size());
    } else {
        SnapshotStore store(SnapshotStore::defaultFolder());
        const int id = store.add(snapshot);
        out << QStringLiteral("Snapshot %1 of %2: %3 files.\n")
                   .arg(id)
                   .arg(displayPath(snapshot.root))
                   .arg(snapshot.files.size());
    }
    return snapshot.problems.isEmpty() ? ExitStatus::Done : ExitStatus::Trouble;
}

int snapshotsCommand(const Arguments& arguments, Output& out)
{
    expectPositional(arguments, 0, 1, "snapshots");
    const QByteArray root
        = arguments.positional.isEmpty() ? QByteArray() : canonicalFolder(arguments.positional.first());
    const SnapshotStore store(SnapshotStore::defaultFolder());
    const QList<StoredSnapshot> stored = store.list(root);
    if (stored.isEmpty()) {
        out << (root.isEmpty() ? QStringLiteral("No snapshots kept yet.\n")
                               : QStringLiteral("No snapshots of %1 kept yet.\n").arg(displayPath(root)));
        return ExitStatus::Done;
    }
    for (const StoredSnapshot& snapshot : stored) {
        QString line = QStringLiteral("%1  %2  %3 files")
                           .arg(snapshot.id, 4)
                           .arg(timeText(snapshot.info.takenNs))
                           .arg(snapshot.info.fileCount, 8);
        if (root.isEmpty())
            line += QStringLiteral("  %1").arg(displayPath(snapshot.info.root));
        if (!snapshot.info.label.isEmpty())
            line += QStringLiteral("  \"%1\"").arg(displayPath(snapshot.info.label));
        out << line << '\n';
    }
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

QByteArray groupKindName(GroupKind kind)
{
    switch (kind) {
    case GroupKind::NewFolder:
        return QByteArrayLiteral("folder");
    case GroupKind::SharedStem:
        return QByteArrayLiteral("stem");
    case GroupKind::Single:
        return QByteArrayLiteral("file");
    }
    return {};
}

const char topLevelNote[]
    = "The old side is a folder list, which holds top-level names only: only files added to or "
      "removed from the top of the folder can be known, not changes inside subfolders or "
      "changed files.";

void writeDiffTsv(const DiffResult& result, Output& out)
{
    for (const Change& change : result.changes) {
        out << changeKindName(change.kind) << '\t';
        if (change.kind == ChangeKind::Moved)
            out << tsvField(change.oldPath) << '\t';
        out << tsvField(change.path) << '\n';
    }
}

void writeFlagsJson(const QList<SuspectFlag>& flags, Output& out)
{
    out << "[";
    for (qsizetype i = 0; i < flags.size(); ++i) {
        out << (i ? ", " : "") << "{\"flag\": \"" << suspectName(flags.at(i).suspect)
            << "\", \"reason\": " << jsonString(flags.at(i).reason.toUtf8()) << "}";
    }
    out << "]";
}

void writeDiffJson(const DiffResult& result, const Side& before, const Side& after, Output& out)
{
    out << "{\n  \"old\": " << jsonString(before.name)
        << ",\n  \"new\": " << jsonString(after.kind == Side::Folder ? after.snapshot.root : after.name)
        << ",\n";
    out << "  \"topLevelOnly\": " << (result.topLevelOnly ? "true" : "false") << ",\n";
    if (result.topLevelOnly)
        out << "  \"note\": " << jsonString(topLevelNote) << ",\n";
    out << "  \"changes\": [";
    for (qsizetype i = 0; i < result.changes.size(); ++i) {
        const Change& change = result.changes.at(i);
        out << (i ? ",\n" : "\n") << "    {\"kind\": \"" << changeKindName(change.kind)
            << "\", \"path\": " << jsonString(change.path);
        if (change.kind == ChangeKind::Moved)
            out << ", \"oldPath\": " << jsonString(change.oldPath);
        const FileEntry& file = change.kind == ChangeKind::Removed ? change.before : change.after;
        if (!(result.topLevelOnly && change.kind == ChangeKind::Removed)) {
            out << ", \"size\": " << QByteArray::number(file.size)
                << ", \"mtimeNs\": " << QByteArray::number(file.mtimeNs);
            if (change.kind == ChangeKind::Changed)
                out << ", \"oldSize\": " << QByteArray::number(change.before.size)
                    << ", \"oldMtimeNs\": " << QByteArray::number(change.before.mtimeNs);
        }
        out << ", \"group\": " << QByteArray::number(change.group)
            << ", \"noise\": " << (change.noise ? "true" : "false") << ", \"flags\": ";
        writeFlagsJson(change.flags, out);
        out << "}";
    }
    out << (result.changes.isEmpty() ? "],\n" : "\n  ],\n") << "  \"groups\": [";
    for (qsizetype i = 0; i < result.groups.size(); ++i) {
        const Group& group = result.groups.at(i);
        out << (i ? ",\n" : "\n") << "    {\"id\": " << QByteArray::number(i) << ", \"kind\": \""
            << groupKindName(group.kind) << "\", \"key\": " << jsonString(group.key)
            << ", \"files\": " << QByteArray::number(group.changes.size()) << "}";
    }
    out << (result.groups.isEmpty() ? "],\n" : "\n  ],\n") << "  \"unreadable\": [";
    for (qsizetype i = 0; i < result.unknown.size(); ++i)
        out << (i ? ", " : "") << "{\"path\": " << jsonString(result.unknown.at(i).path)
            << ", \"reason\": " << jsonString(result.unknown.at(i).reason) << "}";
    out << "]\n}\n";
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

void writeFileLine(const Change& change, bool sizeKnown, Output& out)
{
    const FileEntry& file = change.kind == ChangeKind::Removed ? change.before : change.after;
    QString line = QStringLiteral("    ") + displayPath(change.path);
    if (change.kind == ChangeKind::Moved)
        line = QStringLiteral("    %1  (was %2)").arg(displayPath(change.path), displayPath(change.oldPath));
    if (sizeKnown) {
        line += QStringLiteral("  %1  %2").arg(sizeText(file.size), timeText(file.mtimeNs));
        if (change.kind == ChangeKind::Changed)
            line += QStringLiteral("  (was %1  %2)")
                        .arg(sizeText(change.before.size), timeText(change.before.mtimeNs));
    }
    out << line << '\n';
    for (const SuspectFlag& flag : change.flags)
        out << QStringLiteral("      ! %1\n").arg(flag.reason);
}

void writeDiffText(const DiffResult& result, const Side& before, const Side& after, Output& out)
{
    const QByteArray root = after.snapshot.root;
    out << QStringLiteral("Changes in %1\n  since %2\n  until %3\n")
               .arg(displayPath(root), describeSide(before), describeSide(after));
    if (result.topLevelOnly)
        out << QStringLiteral("Note: %1\n").arg(QLatin1String(topLevelNote));
    if (result.isEmpty()) {
        out << "\nNo differences.\n";
        return;
    }
    const ChangeKind kinds[]
        = { ChangeKind::Added, ChangeKind::Changed, ChangeKind::Removed, ChangeKind::Moved };
    const char* titles[] = { "Added", "Changed", "Removed", "Moved" };
    for (int k = 0; k < 4; ++k) {
        // Groups in the order of their first file of this kind.
        QList<int> groups;
        qsizetype files = 0;
        for (const Change& change : result.changes) {
            if (change.kind != kinds[k] || change.noise)
                continue;
            ++files;
            if (!groups.contains(change.group))
                groups.append(change.group);
        }
        if (files == 0)
            continue;
        out << QStringLiteral("\n%1: %2 %3 in %4 %5\n")
                   .arg(QLatin1String(titles[k]))
                   .arg(files)
                   .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                   .arg(groups.size())
                   .arg(groups.size() == 1 ? QStringLiteral("group") : QStringLiteral("groups"));
        for (int groupIndex : std::as_const(groups)) {
            const Group& group = result.groups.at(groupIndex);
            if (group.kind == GroupKind::NewFolder)
                out << QStringLiteral("  %1 (a whole folder)\n").arg(displayPath(group.key));
            else if (group.kind == GroupKind::SharedStem)
                out << QStringLiteral("  %1 (files of one name)\n").arg(displayPath(group.key));
            else
                out << QStringLiteral("  %1\n").arg(displayPath(group.key));
            for (qsizetype index : group.changes) {
                const Change& change = result.changes.at(index);
                if (change.kind == kinds[k] && !change.noise)
                    writeFileLine(change, !(result.topLevelOnly && change.kind == ChangeKind::Removed), out);
            }
        }
    }
    qsizetype noise = 0;
    for (const Change& change : result.changes)
        noise += change.noise;
    if (noise > 0) {
        out << QStringLiteral(
            "\nFiles mods write while the game runs (.cfg, .log, .txt; usually harmless): %1\n")
                   .arg(noise);
        for (const Change& change : result.changes) {
            if (change.noise)
                out << QStringLiteral("    %1 %2\n")
                           .arg(QString::fromLatin1(changeKindName(change.kind)), displayPath(change.path));
        }
    }
    qsizetype suspects = 0;
    for (const Change& change : result.changes)
        suspects += !change.flags.isEmpty();
    if (suspects > 0)
        out << QStringLiteral("\n%1 of these files may be trouble (marked !). Nothing was moved.\n")
                   .arg(suspects);
}

int diffCommand(const Arguments& arguments, Output& out, std::FILE* err)
{
    expectPositional(arguments, 1, 2, "diff");
    const Format format = formatOf(arguments, true);
    Side before = readSide(arguments.positional.at(0));
    QByteArray folder;
    if (arguments.positional.size() == 2 && isFolder(arguments.positional.at(1)))
        folder = arguments.positional.at(1);
    else if (arguments.positional.size() == 1 && before.kind == Side::SnapshotFile)
        folder = before.snapshot.root;
    else if (arguments.positional.size() == 1)
        throw Stop { QStringLiteral(
            "%1: a folder list does not say which folder it was taken of; give the folder as NEW")
                         .arg(displayPath(before.name)) };
    Side after;
    if (!folder.isEmpty()) {
        // The old records are decoded while the folder is scanned.
        auto decoding = std::async(std::launch::async, [&before] { decodeSide(before); });
        try {
            after = scanSide(folder);
        } catch (...) {
            decoding.wait();
            throw;
        }
        decoding.get();
    } else {
        decodeSide(before);
        after = readSide(arguments.positional.at(1));
        if (after.kind == Side::FolderList)
            throw Stop { QStringLiteral(
                "%1: a folder list can only be the old side; give a snapshot or a folder as NEW")
                             .arg(displayPath(after.name)) };
        decodeSide(after);
    }
    if (after.kind == Side::Folder)
        reportProblems(after.snapshot.problems, after.snapshot.root, err);

    DiffResult result = before.kind == Side::FolderList
        ? diffTopLevel(before.listed, after.snapshot.files)
        : diffFiles(
            before.snapshot.files, after.snapshot.files, before.snapshot.problems + after.snapshot.problems);
    flagSuspects(
        result, after.kind == Side::Folder ? after.snapshot.root : QByteArray(), after.snapshot.files);

    if (format == Format::Tsv) {
        if (result.topLevelOnly)
            std::fprintf(err, "mendwell: note: %s\n", topLevelNote);
        writeDiffTsv(result, out);
    } else if (format == Format::Json) {
        writeDiffJson(result, before, after, out);
    } else {
        writeDiffText(result, before, after, out);
    }
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

    if (format == Format::Tsv) {
        for (const CheckedFile& file : report.suspects) {
            for (const SuspectFlag& flag : file.flags)
                out << suspectName(flag.suspect) << '\t' << tsvField(scan.files.at(file.index).path) << '\t'
                    << tsvField(flag.reason.toUtf8()) << '\n';
        }
        for (qsizetype index : report.noise)
            out << "noise\t" << tsvField(scan.files.at(index).path) << '\n';
    } else if (format == Format::Json) {
        out << "{\n  \"folder\": " << jsonString(root)
            << ",\n  \"files\": " << QByteArray::number(scan.files.size()) << ",\n  \"suspects\": [";
        for (qsizetype i = 0; i < report.suspects.size(); ++i) {
            const CheckedFile& file = report.suspects.at(i);
            out << (i ? ",\n" : "\n") << "    {\"path\": " << jsonString(scan.files.at(file.index).path)
                << ", \"flags\": ";
            writeFlagsJson(file.flags, out);
            out << "}";
        }
        out << (report.suspects.isEmpty() ? "],\n" : "\n  ],\n") << "  \"noise\": [";
        for (qsizetype i = 0; i < report.noise.size(); ++i)
            out << (i ? ", " : "") << jsonString(scan.files.at(report.noise.at(i)).path);
        out << "]\n}\n";
    } else {
        out << QStringLiteral("Checked %1 files in %2: %3.\n")
                   .arg(scan.files.size())
                   .arg(displayPath(root),
                       report.suspects.isEmpty()
                           ? QStringLiteral("nothing suspect")
                           : QStringLiteral("%1 may be trouble").arg(report.suspects.size()));
        for (const CheckedFile& file : report.suspects) {
            out << QStringLiteral("\n  %1\n").arg(displayPath(scan.files.at(file.index).path));
            for (const SuspectFlag& flag : file.flags)
                out << QStringLiteral("    ! %1\n").arg(flag.reason);
        }
        if (!report.noise.isEmpty()) {
            out << QStringLiteral(
                "\nFiles mods write while the game runs (.cfg, .log, .txt; never flagged): %1\n")
                       .arg(report.noise.size());
            for (qsizetype index : report.noise)
                out << QStringLiteral("    %1\n").arg(displayPath(scan.files.at(index).path));
        }
        if (!report.suspects.isEmpty())
            out << "\nA flag only explains: nothing was moved or deleted.\n";
    }
    if (!scan.problems.isEmpty() || !report.unreadable.isEmpty())
        return ExitStatus::Trouble;
    return report.suspects.isEmpty() ? ExitStatus::Done : ExitStatus::Found;
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
    const QByteArray command = arguments.first();
    if (!commandHelp().contains(command)) {
        std::fprintf(err, "mendwell: unknown command %s (see: mendwell --help)\n",
            displayPath(command).toUtf8().constData());
        return ExitStatus::Trouble;
    }
    try {
        const QList<QByteArray> valued = command == "snapshot" ? QList<QByteArray> { "-o", "--label" }
            : command == "snapshots"                           ? QList<QByteArray> {}
                                                               : QList<QByteArray> { "--format" };
        const Arguments parsed = parseArguments(arguments.sliced(1), valued);
        if (parsed.help) {
            output << commandHelp().value(command);
            return ExitStatus::Done;
        }
        if (command == "games")
            return gamesCommand(parsed, output);
        if (command == "snapshot")
            return snapshotCommand(parsed, output, err);
        if (command == "snapshots")
            return snapshotsCommand(parsed, output);
        if (command == "diff")
            return diffCommand(parsed, output, err);
        return checkCommand(parsed, output, err);
    } catch (const Stop& stop) {
        output.flush();
        std::fprintf(err, "mendwell: %s\n", stop.message.toUtf8().constData());
    } catch (const Failure& failure) {
        output.flush();
        std::fprintf(err, "mendwell: %s\n", failure.message().toUtf8().constData());
    }
    return ExitStatus::Trouble;
}
