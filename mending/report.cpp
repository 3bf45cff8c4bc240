// SPDX-License-Identifier: GPL-3.0-or-later
#include "report.h"

#include "games.h"
#include "pathtext.h"
#include "resourcetypes.h"

#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <cstdlib>

namespace mending {

Output::Output(std::FILE* file)
    : m_file(file)
{ }

Output::~Output()
{
    flush();
}

Output& Output::operator<<(QByteArrayView bytes)
{
    m_buffer.append(bytes.data(), bytes.size());
    if (m_buffer.size() > (1 << 20))
        flush();
    return *this;
}

void Output::flush()
{
    if (m_error == 0 && !m_buffer.isEmpty()) {
        // errno is set only by a failure: one left from earlier must not be taken for this one's.
        errno = 0;
        if (std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), m_file) != size_t(m_buffer.size()))
            m_error = errno ? errno : EIO;
    }
    if (m_error == 0) {
        errno = 0;
        if (std::fflush(m_file) != 0)
            m_error = errno ? errno : EIO;
    }
    m_buffer.clear();
}

QByteArray writtenBytes(const std::function<void(Output&)>& write)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    if (!stream)
        throw Failure(QStringLiteral("out of memory"));
    {
        Output out(stream);
        write(out);
    }
    std::fclose(stream);
    QByteArray bytes(buffer, qsizetype(size));
    std::free(buffer);
    return bytes;
}

QString countText(qint64 count)
{
    return QLocale().toString(count);
}

// The units stay the program's own words; the digits are the locale's.
QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(countText(bytes));
    const char* units[] = { "KB", "MB", "GB", "TB" };
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(QLocale().toString(value, 'f', 1), QLatin1String(units[unit]));
}

QString exactSize(qint64 bytes)
{
    return QStringLiteral("%1 bytes").arg(countText(bytes));
}

QString timeText(qint64 ns)
{
    // Rounded down before 1970 too (a bad archive can date a file there), so that the second shown is
    // the one the nanoseconds of exactTime count from.
    const qint64 ms = ns >= 0 ? ns / 1000000 : -((-ns + 999999) / 1000000);
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString exactTime(qint64 ns)
{
    const qint64 fraction = ((ns % 1000000000) + 1000000000) % 1000000000;
    return QStringLiteral("%1.%2").arg(timeText(ns)).arg(fraction, 9, 10, QLatin1Char('0'));
}

QString fileCount(qint64 count, int width)
{
    return (count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(countText(count)))
        .rightJustified(width);
}

QString flagWords(Suspect suspect)
{
    switch (suspect) {
    case Suspect::ZeroBytes:
        return QStringLiteral("Empty file");
    case Suspect::NoPackageHeader:
        return QStringLiteral("Not a package");
    case Suspect::ScriptNotZip:
        return QStringLiteral("Not a script mod");
    case Suspect::ScriptUnloadable:
        return QStringLiteral("Script cannot load");
    case Suspect::TooDeep:
        return QStringLiteral("Too deep to load");
    case Suspect::ArchiveInMods:
        return QStringLiteral("Archive not unpacked");
    case Suspect::Duplicate:
        return QStringLiteral("Duplicate");
    case Suspect::BrowserCopy:
        return QStringLiteral("Second download");
    case Suspect::TrayFileInMods:
        return QStringLiteral("Tray file in Mods");
    case Suspect::DoubledModsFolder:
        return QStringLiteral("Mods folder inside Mods");
    case Suspect::DuplicateModule:
        return QStringLiteral("Same module as another mod");
    case Suspect::WrongPython:
        return QStringLiteral("Made for another Python");
    }
    return {};
}

QString noiseWords()
{
    return QStringLiteral("Written by mods");
}

QString noiseReason()
{
    return QStringLiteral("A file mods write while the game runs: usually harmless.");
}

QString flagLine(const SuspectFlag& flag)
{
    return QStringLiteral("%1 - %2").arg(flagWords(flag.suspect), flag.reason);
}

const char topLevelNote[]
    = "The old side is a folder list, which holds top-level names only: only files added to or "
      "removed from the top of the folder can be known, not changes inside subfolders or "
      "changed files.";

namespace {

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

// A list of JSON values, one on each line, or [] when there are none.
template <typename List, typename WriteOne>
void writeJsonLines(const List& items, Output& out, WriteOne writeOne)
{
    out << "[";
    for (qsizetype i = 0; i < items.size(); ++i) {
        out << (i ? ",\n    " : "\n    ");
        writeOne(items.at(i));
    }
    out << (items.isEmpty() ? "]" : "\n  ]");
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

// Where nothing is known of a removed file but its name: the old side was a folder list.
bool sizeKnown(const DiffResult& result, const Change& change)
{
    return !(result.topLevelOnly && change.kind == ChangeKind::Removed);
}

const FileEntry& currentEntry(const Change& change)
{
    return change.kind == ChangeKind::Removed ? change.before : change.after;
}

void writeDiffTsv(const DiffResult& result, Output& out)
{
    for (const Change& change : result.changes) {
        out << changeKindName(change.kind) << '\t';
        if (change.kind == ChangeKind::Moved)
            out << tsvField(change.oldPath) << '\t';
        out << tsvField(change.path) << '\n';
    }
}

void writeChangeJson(const DiffResult& result, const Change& change, Output& out)
{
    out << "{\"kind\": \"" << changeKindName(change.kind) << "\", \"path\": " << jsonString(change.path);
    if (change.kind == ChangeKind::Moved)
        out << ", \"oldPath\": " << jsonString(change.oldPath);
    if (sizeKnown(result, change)) {
        const FileEntry& file = currentEntry(change);
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

void writeDiffJson(const DiffResult& result, const DiffSides& sides, Output& out)
{
    out << "{\n  \"old\": " << jsonString(sides.oldName) << ",\n  \"new\": " << jsonString(sides.newName)
        << ",\n";
    out << "  \"topLevelOnly\": " << (result.topLevelOnly ? "true" : "false") << ",\n";
    if (result.topLevelOnly)
        out << "  \"note\": " << jsonString(topLevelNote) << ",\n";
    out << "  \"changes\": ";
    writeJsonLines(result.changes, out, [&](const Change& change) { writeChangeJson(result, change, out); });
    out << ",\n  \"groups\": ";
    qsizetype id = 0;
    writeJsonLines(result.groups, out, [&](const Group& group) {
        out << "{\"id\": " << QByteArray::number(id++) << ", \"kind\": \"" << groupKindName(group.kind)
            << "\", \"key\": " << jsonString(group.key)
            << ", \"files\": " << QByteArray::number(group.changes.size()) << "}";
    });
    out << ",\n  \"clashes\": ";
    writeJsonLines(result.clashes, out, [&](const ClashNote& clash) {
        out << "{\"path\": " << jsonString(clash.path) << ", \"other\": " << jsonString(clash.other)
            << ", \"shared\": " << QByteArray::number(clash.shared) << ", \"severity\": \""
            << severityName(clash.severity) << "\", \"kinds\": " << jsonString(clash.kinds.toUtf8()) << "}";
    });
    out << ",\n  \"unreadable\": [";
    for (qsizetype i = 0; i < result.unknown.size(); ++i)
        out << (i ? ", " : "") << "{\"path\": " << jsonString(result.unknown.at(i).path)
            << ", \"reason\": " << jsonString(result.unknown.at(i).reason) << "}";
    out << "]\n}\n";
}

void writeFileLine(const Change& change, bool known, Output& out)
{
    const FileEntry& file = currentEntry(change);
    QString line = QStringLiteral("    ") + displayPath(change.path);
    if (change.kind == ChangeKind::Moved)
        line = QStringLiteral("    %1  (was %2)").arg(displayPath(change.path), displayPath(change.oldPath));
    if (known && change.kind == ChangeKind::Changed) {
        const FileEntry& was = change.before;
        // Where the rounded figures are the same, the exact ones show what changed.
        QString size = sizeText(file.size), wasSize = sizeText(was.size);
        if (size == wasSize && file.size != was.size)
            size = exactSize(file.size), wasSize = exactSize(was.size);
        QString time = timeText(file.mtimeNs), wasTime = timeText(was.mtimeNs);
        if (time == wasTime && file.mtimeNs != was.mtimeNs)
            time = exactTime(file.mtimeNs), wasTime = exactTime(was.mtimeNs);
        line += QStringLiteral("  %1  %2  (was %3  %4)").arg(size, time, wasSize, wasTime);
        if (file.kind != was.kind)
            line += file.kind == FileKind::Symlink ? QStringLiteral("  now a link, was a file")
                                                   : QStringLiteral("  now a file, was a link");
    } else if (known) {
        line += QStringLiteral("  %1  %2").arg(sizeText(file.size), timeText(file.mtimeNs));
    }
    out << line << '\n';
    for (const SuspectFlag& flag : change.flags)
        out << QStringLiteral("      ! %1\n").arg(flagLine(flag));
}

void writeDiffHead(const DiffResult& result, const DiffSides& sides, Output& out)
{
    out << QStringLiteral("Changes in %1\n  since %2\n  until %3\n")
               .arg(displayPath(sides.root), sides.since, sides.until);
    // Compared on purpose with another folder's snapshot: both folders are named.
    if (!sides.oldRoot.isEmpty() && sides.oldRoot != sides.root)
        out << QStringLiteral("  (the snapshot is of %1)\n").arg(displayPath(sides.oldRoot));
    if (result.topLevelOnly)
        out << QStringLiteral("Note: %1\n").arg(QLatin1String(topLevelNote));
}

QString groupLine(const Group& group)
{
    switch (group.kind) {
    case GroupKind::NewFolder:
        return QStringLiteral("  %1 (a whole folder)\n").arg(displayPath(group.key));
    case GroupKind::SharedStem:
        return QStringLiteral("  %1 (files of one name)\n").arg(displayPath(group.key));
    case GroupKind::Single:
        break;
    }
    return QStringLiteral("  %1\n").arg(displayPath(group.key));
}

// The files of one kind, group by group, groups in the order of their first file of this kind.
void writeKindSection(const DiffResult& result, ChangeKind kind, const char* title, Output& out)
{
    QList<int> groups;
    qsizetype files = 0;
    for (const Change& change : result.changes) {
        if (change.kind != kind || change.noise)
            continue;
        ++files;
        if (!groups.contains(change.group))
            groups.append(change.group);
    }
    if (files == 0)
        return;
    out << QStringLiteral("\n%1: %2 in %3 %4\n")
               .arg(QLatin1String(title), fileCount(files), countText(groups.size()),
                   groups.size() == 1 ? QStringLiteral("group") : QStringLiteral("groups"));
    for (int groupIndex : std::as_const(groups)) {
        const Group& group = result.groups.at(groupIndex);
        out << groupLine(group);
        for (qsizetype index : group.changes) {
            const Change& change = result.changes.at(index);
            if (change.kind == kind && !change.noise)
                writeFileLine(change, sizeKnown(result, change), out);
        }
    }
}

void writeNoiseSection(const DiffResult& result, Output& out)
{
    const qsizetype noise = std::count_if(
        result.changes.cbegin(), result.changes.cend(), [](const Change& change) { return change.noise; });
    if (noise == 0)
        return;
    out << QStringLiteral("\nFiles mods write while the game runs (.cfg, .log, .txt; usually harmless): %1\n")
               .arg(countText(noise));
    for (const Change& change : result.changes) {
        if (change.noise)
            out << QStringLiteral("    %1 %2\n")
                       .arg(QString::fromLatin1(changeKindName(change.kind)), displayPath(change.path));
    }
}

}

QString clashText(const ClashNote& clash)
{
    return QStringLiteral("holds %1 that %2 holds too (%3; %4)")
        .arg(clash.shared == 1 ? QStringLiteral("1 resource")
                               : QStringLiteral("%1 resources").arg(countText(clash.shared)),
            displayPath(clash.other), clash.kinds, QString::fromLatin1(severityName(clash.severity)));
}

QString clashWords()
{
    return QStringLiteral("Clashes with another mod");
}

namespace {

void writeClashSection(const DiffResult& result, Output& out)
{
    if (result.clashes.isEmpty())
        return;
    out << QStringLiteral("\nNew or changed mods that clash with other mods (see: mendwell conflicts): %1\n")
               .arg(countText(result.clashes.size()));
    for (const ClashNote& clash : result.clashes)
        out << QStringLiteral("    %1 %2\n").arg(displayPath(clash.path), clashText(clash));
}

void writeDiffText(const DiffResult& result, const DiffSides& sides, Output& out)
{
    writeDiffHead(result, sides, out);
    if (result.isEmpty()) {
        out << "\nNo differences.\n";
        return;
    }
    writeKindSection(result, ChangeKind::Added, "Added", out);
    writeKindSection(result, ChangeKind::Changed, "Changed", out);
    writeKindSection(result, ChangeKind::Removed, "Removed", out);
    writeKindSection(result, ChangeKind::Moved, "Moved", out);
    writeNoiseSection(result, out);
    writeClashSection(result, out);
    const qsizetype suspects = std::count_if(result.changes.cbegin(), result.changes.cend(),
        [](const Change& change) { return !change.flags.isEmpty(); });
    if (suspects > 0)
        out << QStringLiteral("\n%1 of these files may be trouble (marked !). Nothing was moved.\n")
                   .arg(countText(suspects));
}

void writeCheckTsv(const QList<FileEntry>& files, const CheckReport& report, Output& out)
{
    for (const CheckedFile& file : report.suspects) {
        for (const SuspectFlag& flag : file.flags)
            out << suspectName(flag.suspect) << '\t' << tsvField(files.at(file.index).path) << '\t'
                << tsvField(flag.reason.toUtf8()) << '\n';
    }
    for (qsizetype index : report.noise)
        out << "noise\t" << tsvField(files.at(index).path) << '\n';
}

void writeCheckJson(
    const QByteArray& root, const QList<FileEntry>& files, const CheckReport& report, Output& out)
{
    out << "{\n  \"folder\": " << jsonString(root) << ",\n  \"files\": " << QByteArray::number(files.size())
        << ",\n  \"suspects\": ";
    writeJsonLines(report.suspects, out, [&](const CheckedFile& file) {
        out << "{\"path\": " << jsonString(files.at(file.index).path) << ", \"flags\": ";
        writeFlagsJson(file.flags, out);
        out << "}";
    });
    out << ",\n  \"noise\": [";
    for (qsizetype i = 0; i < report.noise.size(); ++i)
        out << (i ? ", " : "") << jsonString(files.at(report.noise.at(i)).path);
    out << "]\n}\n";
}

void writeCheckText(
    const QByteArray& root, const QList<FileEntry>& files, const CheckReport& report, Output& out)
{
    out << QStringLiteral("Checked %1 in %2: %3.\n")
               .arg(fileCount(files.size()), displayPath(root),
                   report.suspects.isEmpty()
                       ? QStringLiteral("nothing suspect")
                       : QStringLiteral("%1 may be trouble").arg(countText(report.suspects.size())));
    for (const CheckedFile& file : report.suspects) {
        out << QStringLiteral("\n  %1\n").arg(displayPath(files.at(file.index).path));
        for (const SuspectFlag& flag : file.flags)
            out << QStringLiteral("    ! %1\n").arg(flagLine(flag));
    }
    if (!report.noise.isEmpty()) {
        out << QStringLiteral(
            "\nFiles mods write while the game runs (.cfg, .log, .txt; never flagged): %1\n")
                   .arg(countText(report.noise.size()));
        for (qsizetype index : report.noise)
            out << QStringLiteral("    %1\n").arg(displayPath(files.at(index).path));
    }
    if (!report.suspects.isEmpty())
        out << "\nA flag only explains: nothing was moved or deleted.\n";
}

void writeGamesTsv(const QList<GameFolder>& folders, Output& out)
{
    for (const GameFolder& folder : folders)
        out << QByteArray::number(folder.generation) << '\t' << folder.kind << '\t'
            << runnerName(folder.runner) << '\t' << tsvField(folder.path.toUtf8()) << '\n';
}

void writeGamesText(const QList<GameFolder>& folders, Output& out)
{
    if (folders.isEmpty()) {
        out << "No game folders found. Give the folder to the other commands yourself.\n";
        return;
    }
    qsizetype titleWidth = 0, kindWidth = 4, runnerWidth = 6;
    for (const GameFolder& folder : folders) {
        titleWidth = std::max(titleWidth, gameRules(folder.generation)->title.size());
        kindWidth = std::max(kindWidth, folder.kind.size());
        runnerWidth = std::max(runnerWidth, runnerName(folder.runner).size());
    }
    for (const GameFolder& folder : folders)
        out << QStringLiteral("%1  %2  %3  %4\n")
                   .arg(gameRules(folder.generation)->title, -int(titleWidth))
                   .arg(folder.kind, -int(kindWidth))
                   .arg(runnerName(folder.runner), -int(runnerWidth))
                   .arg(folder.path);
}

QByteArray csvField(const QByteArray& field)
{
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    QByteArray quoted = field;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

// The flags' names as tab-separated and JSON output give them, and their reasons, noise first.
QByteArray csvFlags(const ChangeLine& line)
{
    QList<QByteArray> names;
    if (line.noise)
        names.append("noise");
    for (const SuspectFlag& flag : line.flags)
        names.append(suspectName(flag.suspect));
    return names.join(' ');
}

QByteArray csvReasons(const ChangeLine& line)
{
    QStringList reasons;
    if (line.noise)
        reasons.append(noiseReason());
    for (const SuspectFlag& flag : line.flags)
        reasons.append(flag.reason);
    return reasons.join(QStringLiteral("; ")).toUtf8();
}

QByteArray csvLine(const ChangeLine& line)
{
    const bool known = line.size >= 0;
    QList<QByteArray> fields { line.movedOut ? QByteArray("moved out") : changeKindName(line.kind), line.path,
        line.oldPath, known ? QByteArray::number(line.size) : QByteArray(),
        known ? timeText(line.mtimeNs).toUtf8() : QByteArray(), line.groupKey, csvFlags(line),
        csvReasons(line) };
    for (QByteArray& field : fields)
        field = csvField(field);
    return fields.join(',') + "\r\n";
}

}

void writeDiff(const DiffResult& result, const DiffSides& sides, ReportFormat format, Output& out)
{
    switch (format) {
    case ReportFormat::Text:
        return writeDiffText(result, sides, out);
    case ReportFormat::Tsv:
        return writeDiffTsv(result, out);
    case ReportFormat::Json:
        return writeDiffJson(result, sides, out);
    }
}

void writeCheck(const QByteArray& root, const QList<FileEntry>& files, const CheckReport& report,
    ReportFormat format, Output& out)
{
    switch (format) {
    case ReportFormat::Text:
        return writeCheckText(root, files, report, out);
    case ReportFormat::Tsv:
        return writeCheckTsv(files, report, out);
    case ReportFormat::Json:
        return writeCheckJson(root, files, report, out);
    }
}

void writeGames(const QList<GameFolder>& folders, ReportFormat format, Output& out)
{
    if (format == ReportFormat::Tsv)
        writeGamesTsv(folders, out);
    else
        writeGamesText(folders, out);
}

void writeSnapshots(const QList<StoredSnapshot>& snapshots, const QByteArray& root, Output& out)
{
    if (snapshots.isEmpty()) {
        out << (root.isEmpty() ? QStringLiteral("No snapshots kept yet.\n")
                               : QStringLiteral("No snapshots of %1 kept yet.\n").arg(displayPath(root)));
        return;
    }
    for (const StoredSnapshot& snapshot : snapshots) {
        QString line
            = QStringLiteral("%1  %2  %3")
                  .arg(snapshot.id, 4)
                  .arg(timeText(snapshot.info.takenNs), fileCount(qint64(snapshot.info.fileCount), 14));
        if (root.isEmpty())
            line += QStringLiteral("  %1").arg(displayPath(snapshot.info.root));
        if (!snapshot.info.label.isEmpty())
            line += QStringLiteral("  \"%1\"").arg(displayPath(snapshot.info.label));
        out << line << '\n';
    }
}

QByteArray changesCsv(const QList<ChangeLine>& lines)
{
    QByteArray out = "kind,path,old path,size,modified,group,flags,reasons\r\n";
    for (const ChangeLine& line : lines)
        out += csvLine(line);
    return out;
}

}
