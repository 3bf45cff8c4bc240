// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorreports.h"

#include "filesystem.h"
#include "games.h"
#include "pathtext.h"
#include "scan.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mending {

namespace {

// Bounds that keep a hostile or runaway file from costing more than a real one: the game's reports
// are at most a few megabytes, with tracebacks of some dozens of frames.
constexpr qsizetype maxFileBytes = 64 << 20;
constexpr qsizetype maxReports = 10000;
constexpr qsizetype maxFrames = 500;
constexpr qsizetype maxErrorLength = 1000;

qsizetype indexOfTag(QByteArrayView lower, QByteArrayView tag, qsizetype from)
{
    // "<report>" or "<report attribute=...>", never "<reports>".
    for (qsizetype at = lower.indexOf(tag, from); at >= 0; at = lower.indexOf(tag, at + 1)) {
        const qsizetype after = at + tag.size();
        if (after >= lower.size() || lower.at(after) == '>' || lower.at(after) == ' '
            || lower.at(after) == '\t' || lower.at(after) == '\r' || lower.at(after) == '\n')
            return at;
    }
    return -1;
}

// XML's character references and the five named entities; anything else stays as written.
QString decodeEntities(const QString& text)
{
    if (!text.contains(u'&'))
        return text;
    QString decoded;
    decoded.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const qsizetype end = c == u'&' ? text.indexOf(u';', i) : -1;
        if (end < 0 || end - i > 10) {
            decoded += c;
            continue;
        }
        const QStringView name = QStringView(text).sliced(i + 1, end - i - 1);
        char32_t value = 0;
        bool ok = true;
        if (name == u"lt")
            value = '<';
        else if (name == u"gt")
            value = '>';
        else if (name == u"amp")
            value = '&';
        else if (name == u"quot")
            value = '"';
        else if (name == u"apos")
            value = '\'';
        else if (name.startsWith(u"#x") || name.startsWith(u"#X"))
            value = name.sliced(2).toUInt(&ok, 16);
        else if (name.startsWith(u'#'))
            value = name.sliced(1).toUInt(&ok, 10);
        else
            ok = false;
        if (!ok || value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            decoded += c;
            continue;
        }
        decoded += QString::fromUcs4(&value, 1);
        i = end;
    }
    return decoded;
}

// The text of an element: to its end tag, or to the end of the block when the report was cut short.
// Without the element, nothing.
std::optional<QString> elementText(QByteArrayView block, QByteArrayView lower, const char* name)
{
    const QByteArray open = QByteArray("<") + name;
    const qsizetype at = indexOfTag(lower, open, 0);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = lower.indexOf('>', at);
    if (start < 0)
        return QString();
    qsizetype end = lower.indexOf(QByteArray("</") + name, start);
    if (end < 0)
        end = block.size();
    // Character data sections are taken as written, the rest with its entities decoded.
    const QByteArrayView content = block.sliced(start + 1, end - start - 1);
    QString text;
    qsizetype from = 0;
    while (from < content.size()) {
        const qsizetype cdata = content.indexOf("<![CDATA[", from);
        if (cdata < 0) {
            text += decodeEntities(QString::fromUtf8(content.sliced(from)));
            break;
        }
        text += decodeEntities(QString::fromUtf8(content.sliced(from, cdata - from)));
        const qsizetype dataStart = cdata + 9;
        qsizetype dataEnd = content.indexOf("]]>", dataStart);
        if (dataEnd < 0)
            dataEnd = content.size();
        text += QString::fromUtf8(content.sliced(dataStart, dataEnd - dataStart));
        from = dataEnd + 3;
    }
    return text;
}

// A block without the element the traceback is in: its text, tags left out.
// A block without the element the traceback is in: the text of its other elements, each on its own
// line, without those that only describe the report (its time, the game's build, ...).
QString textWithoutTags(QByteArrayView block)
{
    static const QRegularExpression described(
        QStringLiteral(
            "<(version|type|createtime|buildsignature|categoryid|desyncid|sku|systemconfig)\\b[^<>]*>[^<]*"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^<>]*>"));
    return decodeEntities(QString::fromUtf8(block).remove(described).replace(tags, QStringLiteral("\n")));
}

const QRegularExpression& frameLine()
{
    static const QRegularExpression frame(
        QStringLiteral("^\\s*File \"([^\"\\n]+)\", line (\\d+)(?:, in ([^\\n]*))?"));
    return frame;
}

ErrorReport readReport(const QString& text)
{
    ErrorReport report;
    QString normal = text;
    normal.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    const QStringList lines = normal.split(u'\n');
    qsizetype traceback = -1, lastFrame = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (traceback < 0 && line.trimmed().startsWith(QLatin1String("Traceback (most recent call last)")))
            traceback = i;
        const QRegularExpressionMatch match = frameLine().match(line);
        if (match.hasMatch() && report.frames.size() < maxFrames) {
            report.frames.append(
                { match.captured(1), match.captured(2).toInt(), match.captured(3).trimmed() });
            lastFrame = i;
        }
    }
    const auto firstText = [&lines](qsizetype from, qsizetype to) -> QString {
        for (qsizetype i = from; i < to; ++i) {
            if (!lines.at(i).trimmed().isEmpty())
                return lines.at(i).trimmed();
        }
        return {};
    };
    // The game writes what went wrong before the traceback; Python's own form has it after the last
    // frame and the line of code under it.
    if (traceback > 0)
        report.error = firstText(0, traceback);
    if (report.error.isEmpty() && lastFrame >= 0) {
        qsizetype after = lastFrame + 1;
        if (after < lines.size() && lines.at(after).startsWith(u' ') && lines.at(after).trimmed().size() > 0
            && !frameLine().match(lines.at(after)).hasMatch())
            ++after;
        report.error = firstText(after, lines.size());
    }
    if (report.error.isEmpty())
        report.error = firstText(0, lines.size());
    if (report.error.size() > maxErrorLength)
        report.error = report.error.first(maxErrorLength) + QStringLiteral("…");
    return report;
}

ErrorReport reportOfBlock(QByteArrayView block, bool closed)
{
    const QByteArray lower = block.toByteArray().toLower();
    const std::optional<QString> data = elementText(block, lower, "desyncdata");
    ErrorReport report = readReport(data ? *data : textWithoutTags(block));
    // A time is one short line: an end tag lost in a damaged report does not carry the rest along.
    QString time = elementText(block, lower, "createtime").value_or(QString());
    static const QRegularExpression lineEnd(QStringLiteral("[<\\r\\n]"));
    if (const qsizetype end = time.indexOf(lineEnd); end >= 0)
        time.truncate(end);
    report.time = time.trimmed().left(100);
    report.cutShort = !closed;
    return report;
}

// The game often writes one error several times over: kept once, with a count.
class ReportList
{
public:
    void add(ErrorReport report)
    {
        QString key = report.time + u'\x1f' + report.error + u'\x1f' + QChar(report.cutShort ? u'1' : u'0');
        for (const TracebackFrame& frame : std::as_const(report.frames))
            key += u'\x1f' + frame.path + u'\x1e' + QString::number(frame.line) + u'\x1e' + frame.function;
        const auto known = m_index.constFind(key);
        if (known != m_index.constEnd()) {
            ++m_reports[*known].repeats;
            return;
        }
        m_index.insert(key, m_reports.size());
        m_reports.append(std::move(report));
    }
    qsizetype written() const { return m_written; }
    void countWritten() { ++m_written; }
    QList<ErrorReport> take() { return std::move(m_reports); }

private:
    QList<ErrorReport> m_reports;
    QHash<QString, qsizetype> m_index;
    qsizetype m_written = 0;
};

}

QByteArray errorReportKindName(ErrorReportKind kind)
{
    switch (kind) {
    case ErrorReportKind::Exception:
        return QByteArrayLiteral("exception");
    case ErrorReportKind::UiException:
        return QByteArrayLiteral("ui-exception");
    case ErrorReportKind::Crash:
        return QByteArrayLiteral("crash");
    }
    return {};
}

std::optional<ErrorReportKind> errorReportKindOf(QByteArrayView fileName)
{
    const QByteArray lower = fileName.toByteArray().toLower();
    if (!lower.endsWith(".txt") || lower.contains('/'))
        return std::nullopt;
    if (lower.startsWith("lastexception"))
        return ErrorReportKind::Exception;
    if (lower.startsWith("lastuiexception"))
        return ErrorReportKind::UiException;
    if (lower.startsWith("lastcrash"))
        return ErrorReportKind::Crash;
    return std::nullopt;
}

QList<ErrorReport> parseErrorReports(QByteArrayView bytes)
{
    const QByteArray lower = bytes.toByteArray().toLower();
    qsizetype at = indexOfTag(lower, "<report", 0);
    if (at < 0) {
        QList<ErrorReport> reports;
        // XML without a report holds none; any other text is searched for traceback lines as it is.
        if (lower.contains("<?xml") || lower.contains("<root"))
            return reports;
        ErrorReport report = readReport(decodeEntities(QString::fromUtf8(bytes)));
        report.cutShort = true;
        if (!report.error.isEmpty() || !report.frames.isEmpty())
            reports.append(std::move(report));
        return reports;
    }
    ReportList list;
    qsizetype close = lower.indexOf("</report>", at);
    while (at >= 0 && list.written() < maxReports) {
        // Each end tag is looked for once, so that many reports without one cost no more than a few.
        if (close >= 0 && close < at)
            close = lower.indexOf("</report>", at);
        const qsizetype next = indexOfTag(lower, "<report", at + 1);
        // A report whose end tag is missing ends where the next one begins, or with the file.
        const bool closed = close >= 0 && (next < 0 || close < next);
        const qsizetype end = closed ? close : (next >= 0 ? next : lower.size());
        list.add(reportOfBlock(bytes.sliced(at, end - at), closed));
        list.countWritten();
        at = next;
    }
    return list.take();
}

QList<ErrorReportFile> readErrorReports(const QByteArray& gameFolder, QList<ScanProblem>& problems)
{
    QList<ErrorReportFile> files;
    const int folderFd = ::open(gameFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        problems.append({ {}, errorText(errno).toUtf8() });
        return files;
    }
    DIR* dir = ::fdopendir(folderFd);
    if (!dir) {
        problems.append({ {}, errorText(errno).toUtf8() });
        ::close(folderFd);
        return files;
    }
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (errorReportKindOf(entry->d_name))
            names.append(QByteArray(entry->d_name));
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : std::as_const(names)) {
        const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        // The game writes its reports as files: a link of that name is no report of it.
        if (fd < 0 && errno == ELOOP)
            continue;
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            problems.append({ name, errorText(errno).toUtf8() });
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        QFile file;
        QByteArray bytes;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            problems.append({ name, file.errorString().toUtf8() });
            continue;
        }
        bytes = file.read(maxFileBytes);
        if (file.error() != QFileDevice::NoError) {
            problems.append({ name, file.errorString().toUtf8() });
            continue;
        }
        files.append({ name, *errorReportKindOf(name),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, parseErrorReports(bytes) });
    }
    ::closedir(dir);
    return files;
}

ModuleFinder::ModuleFinder(const QList<ScriptMod>& mods)
{
    for (qsizetype i = 0; i < mods.size(); ++i) {
        const QByteArray& path = mods.at(i).path;
        m_archives[QString::fromUtf8(path.sliced(path.lastIndexOf('/') + 1)).toLower()].append(i);
        for (const ScriptModule& module : mods.at(i).modules) {
            QList<qsizetype>& providers = m_modules[QString::fromUtf8(moduleOfEntry(module.entry)).toLower()];
            if (!providers.contains(i))
                providers.append(i);
        }
    }
}

QList<qsizetype> ModuleFinder::modsOf(const QString& framePath) const
{
    QString path = framePath.trimmed().toLower().replace(u'\\', u'/');
    // Separators after the name (a path cut or mangled in the report) say nothing, as "./" folders do.
    while (path.endsWith(u'/'))
        path.chop(1);
    if (path.endsWith(QLatin1String(".pyc")))
        path.chop(4);
    else if (path.endsWith(QLatin1String(".py")))
        path.chop(3);
    else
        return {};
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    // "./" folders say nothing; the file's own name stays whatever it is ("..py" is a file too).
    const QString name = parts.takeLast();
    parts.removeAll(QStringLiteral("."));
    parts.append(name);
    // A frame inside an archive named in the path ("Name.ts4script/package/module.py").
    for (const QString& part : std::as_const(parts)) {
        if (part.endsWith(QLatin1String(".ts4script")) && m_archives.contains(part))
            return m_archives.value(part);
    }
    const qsizetype shortest = parts.size() == 1 ? 1 : 2;
    for (qsizetype length = parts.size(); length >= shortest; --length) {
        const auto it = m_modules.constFind(parts.sliced(parts.size() - length).join(u'/'));
        if (it != m_modules.constEnd())
            return *it;
    }
    return {};
}

QList<qsizetype> modsBehind(const ErrorReport& report, const ModuleFinder& finder)
{
    QList<qsizetype> mods;
    for (auto frame = report.frames.crbegin(); frame != report.frames.crend(); ++frame) {
        for (qsizetype mod : finder.modsOf(frame->path)) {
            if (!mods.contains(mod))
                mods.append(mod);
        }
    }
    return mods;
}

namespace {

// The name of the game's mods folder in a folder, in any letter case (under Wine "mods" is Mods too).
QByteArray modsFolderIn(const QByteArray& folder)
{
    const QByteArray& wanted = gameRules(4)->modsFolder;
    QByteArray found;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            struct stat st;
            if (name.toLower() == wanted.toLower() && ::stat((folder + '/' + name).constData(), &st) == 0
                && S_ISDIR(st.st_mode) && (found.isEmpty() || name == wanted))
                found = name;
        }
        ::closedir(dir);
    }
    return found;
}

}

GameErrorReports readGameErrorReports(const QByteArray& folder, const Snapshot* since)
{
    GameErrorReports result;
    result.gameFolder = canonicalFolder(folder);
    result.modsFolder = modsFolderIn(result.gameFolder);
    const QByteArray name = fs::lastName(result.gameFolder);
    if (result.modsFolder.isEmpty() && name.toLower() == gameRules(4)->modsFolder.toLower()) {
        result.modsFolder = name;
        result.gameFolder = fs::parentPath(result.gameFolder);
    }
    const QByteArray modsPath
        = result.modsFolder.isEmpty() ? QByteArray() : result.gameFolder + '/' + result.modsFolder;
    if (since && since->root != result.gameFolder && (modsPath.isEmpty() || since->root != modsPath))
        throw Failure(QStringLiteral("the snapshot was taken of %1, not of %2 or its Mods folder")
                          .arg(displayPath(since->root), displayPath(result.gameFolder)));
    result.files = readErrorReports(result.gameFolder, result.problems);
    if (modsPath.isEmpty())
        return result;

    // One scan serves both: of the folder the snapshot was taken of, else of Mods alone. Paths are
    // then made relative to the game's folder, "Mods/..." as the player sees them.
    const QByteArray scanned = since ? since->root : modsPath;
    const ScanResult now = scanFolder(scanned);
    const QByteArray toGame = scanned == modsPath ? result.modsFolder + '/' : QByteArray();
    const QByteArray modsPrefix = result.modsFolder + '/';
    for (const ScanProblem& problem : now.problems)
        result.problems.append({ toGame + problem.path, problem.reason });
    QList<qsizetype> loaded;
    for (qsizetype i = 0; i < now.files.size(); ++i) {
        const FileEntry& file = now.files.at(i);
        if (file.kind != FileKind::Regular || !hasExtension(file.path, ".ts4script"))
            continue;
        const QByteArray path = toGame + file.path;
        if (path.startsWith(modsPrefix) && path.count('/') - 1 <= gameRules(4)->deepestScript)
            loaded.append(i);
    }
    QList<ScanProblem> unread;
    result.mods = readScriptMods(scanned, now.files, loaded, unread);
    for (ScriptMod& mod : result.mods)
        mod.path = toGame + mod.path;
    for (const ScanProblem& problem : unread)
        result.problems.append({ toGame + problem.path, problem.reason });
    if (since) {
        result.compared = true;
        const DiffResult diff = diffFiles(since->files, now.files, since->problems + now.problems);
        for (const Change& change : diff.changes) {
            if (change.kind != ChangeKind::Removed)
                result.changes.insert(toGame + change.path, change.kind);
        }
    }
    return result;
}

QList<QByteArray> modsNamedByReports(const GameErrorReports& findings)
{
    const ModuleFinder finder = findings.finder();
    QList<QByteArray> named;
    for (const ErrorReportFile& file : findings.files) {
        for (const ErrorReport& report : file.reports) {
            for (qsizetype mod : modsBehind(report, finder)) {
                const QByteArray path = findings.gameFolder + '/' + findings.mods.at(mod).path;
                if (!named.contains(path))
                    named.append(path);
            }
        }
    }
    return named;
}

}
