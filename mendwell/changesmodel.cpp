// SPDX-License-Identifier: GPL-3.0-or-later
#include "changesmodel.h"

#include "namecodec.h"
#include "report.h"

#include <QBrush>
#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QHash>
#include <QLocale>
#include <QPalette>

// Named one by one, as the report module has names of its own.
using mending::Change;
using mending::ChangeKind;
using mending::ChangeLine;
using mending::DiffResult;
using mending::FileEntry;
using mending::flagLine;
using mending::Group;
using mending::GroupKind;
using mending::noiseReason;
using mending::noiseWords;
using mending::QuarantineBatch;
using mending::QuarantinedFile;
using mending::SuspectFlag;
using namespace Qt::StringLiterals;

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ChangesModel", text);
}

QString groupText(const Group& group)
{
    const QString key = QString::fromUtf8(group.key);
    switch (group.kind) {
    case GroupKind::NewFolder:
        return tr("%1 (whole folder)").arg(key);
    case GroupKind::SharedStem:
        return tr("%1 (same name)").arg(key);
    case GroupKind::Single:
        break;
    }
    return key;
}

// The flags in a player's words, as the command line's text gives them.
QString flagWords(const ChangeRow& row)
{
    QStringList words;
    if (row.noise)
        words.append(noiseWords());
    for (const SuspectFlag& flag : row.flags)
        words.append(mending::flagWords(flag.suspect));
    if (!row.clashes.isEmpty())
        words.append(mending::clashWords());
    return words.join(u", "_s);
}

// Each flag's words with its whole reason, one a line.
QString reasons(const ChangeRow& row)
{
    QStringList lines;
    if (row.noise)
        lines.append(u"%1 - %2"_s.arg(noiseWords(), noiseReason()));
    for (const SuspectFlag& flag : row.flags)
        lines.append(flagLine(flag));
    for (const QString& clash : row.clashes)
        lines.append(u"%1 - %2"_s.arg(mending::clashWords(), clash));
    return lines.join(u'\n');
}

QString exactTime(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000).toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

QString countsLine(const QList<const ChangeRow*>& rows)
{
    qsizetype kinds[4] = {}, suspects = 0, noise = 0, movedOut = 0;
    for (const ChangeRow* row : rows) {
        if (row->movedOut)
            ++movedOut;
        else
            ++kinds[int(row->kind)];
        suspects += !row->flags.isEmpty();
        noise += row->noise;
    }
    QString line = (rows.size() == 1
            ? tr("%1 file: %2 added, %3 changed, %4 removed, %5 moved; %6 suspect, %7 noise")
            : tr("%1 files: %2 added, %3 changed, %4 removed, %5 moved; %6 suspect, %7 noise"))
                       .arg(mending::countText(rows.size()))
                       .arg(mending::countText(kinds[0]))
                       .arg(mending::countText(kinds[1]))
                       .arg(mending::countText(kinds[2]))
                       .arg(mending::countText(kinds[3]))
                       .arg(mending::countText(suspects))
                       .arg(mending::countText(noise));
    if (movedOut > 0)
        line += tr("; %1 moved out into the quarantine").arg(mending::countText(movedOut));
    return line;
}

// The lines of a text export or printout; nameOf turns a path's bytes into what the line shows.
template <typename NameOf>
QStringList textLines(const ChangesHeading& heading, const QList<const ChangeRow*>& rows, NameOf nameOf)
{
    QStringList lines;
    lines.append(tr("Mendwell: what changed in %1").arg(nameOf(heading.root)));
    lines.append(tr("Since: %1").arg(heading.since));
    if (heading.topLevelOnly)
        lines.append(tr("Note: a folder list holds top-level names only, so only files added to or removed "
                        "from the top of the folder can be known."));
    lines.append(countsLine(rows));
    lines.append(QString());
    for (const ChangeRow* row : rows) {
        QString line = changeKindText(*row).leftJustified(8) + u' ' + nameOf(row->path);
        if (row->kind == ChangeKind::Moved)
            line += tr("  (was %1)").arg(nameOf(row->oldPath));
        if (row->size >= 0)
            line += tr("  %1 bytes  %2").arg(row->size).arg(exactTime(row->mtimeNs));
        if (row->kind == ChangeKind::Changed && row->oldSize >= 0)
            line += tr("  (was %1 bytes  %2)").arg(row->oldSize).arg(exactTime(row->oldMtimeNs));
        // A file that is a group of its own needs no word about its group.
        if (row->groupKind != GroupKind::Single)
            line += tr("  group: %1").arg(nameOf(row->groupKey));
        lines.append(line);
        for (const SuspectFlag& flag : row->flags)
            lines.append(u"         ! "_s + flagLine(flag));
    }
    return lines;
}

}

QString changeKindText(const ChangeRow& row)
{
    if (row.movedOut)
        return tr("Moved out");
    switch (row.kind) {
    case ChangeKind::Added:
        return tr("Added");
    case ChangeKind::Changed:
        return tr("Changed");
    case ChangeKind::Removed:
        return tr("Removed");
    case ChangeKind::Moved:
        return tr("Moved");
    }
    return {};
}

QString shownPath(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

QString cellSizeText(qint64 bytes)
{
    if (bytes < 0)
        return {};
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString cellTimeText(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000).toString(u"yyyy-MM-dd HH:mm"_s);
}

QList<ChangeRow> changeRows(const DiffResult& result)
{
    QHash<QByteArray, QStringList> clashes;
    for (const mending::ClashNote& clash : result.clashes)
        clashes[clash.path].append(mending::clashText(clash));
    QList<ChangeRow> rows;
    rows.reserve(result.changes.size());
    for (const Change& change : result.changes) {
        ChangeRow row;
        row.kind = change.kind;
        row.noise = change.noise;
        row.path = change.path;
        row.oldPath = change.oldPath;
        const bool sizeKnown = !(result.topLevelOnly && change.kind == ChangeKind::Removed);
        const FileEntry& file = change.kind == ChangeKind::Removed ? change.before : change.after;
        if (sizeKnown) {
            row.size = file.size;
            row.mtimeNs = file.mtimeNs;
        }
        if (change.kind == ChangeKind::Changed) {
            row.oldSize = change.before.size;
            row.oldMtimeNs = change.before.mtimeNs;
        }
        row.group = change.group;
        const Group& group = result.groups.at(change.group);
        row.groupKey = group.key;
        row.groupKind = group.kind;
        row.flags = change.flags;
        row.clashes = clashes.value(change.path);
        row.pathText = shownPath(change.path);
        row.pathOrder = row.pathText.toCaseFolded();
        row.oldPathText = shownPath(change.oldPath);
        row.groupText = groupText(group);
        row.flagsText = flagWords(row);
        rows.append(std::move(row));
    }
    return rows;
}

void markMovedOut(QList<ChangeRow>& rows, const QList<QuarantineBatch>& batches)
{
    QHash<QByteArray, const QuarantinedFile*> out;
    for (const QuarantineBatch& batch : batches) {
        for (const QuarantinedFile& file : batch.files) {
            if (file.out && !file.beside)
                out.insert(file.path, &file);
        }
    }
    for (ChangeRow& row : rows) {
        const bool gone = row.kind == ChangeKind::Removed;
        row.movedOut = gone && out.contains(row.path);
        // A file in the folder now is not the one kept out; the quarantine names it on the way back.
        out.remove(row.path);
    }
    for (const QuarantinedFile* file : std::as_const(out)) {
        ChangeRow row;
        row.kind = ChangeKind::Removed;
        row.movedOut = true;
        row.path = file->path;
        row.size = file->size;
        row.mtimeNs = file->modifiedNs;
        row.pathText = shownPath(file->path);
        row.pathOrder = row.pathText.toCaseFolded();
        rows.append(std::move(row));
    }
}

ChangesModel::ChangesModel(QObject* parent)
    : QAbstractTableModel(parent)
{ }

void ChangesModel::setRows(QList<ChangeRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

bool ChangesModel::matches(const ChangeRow& row, Filter filter)
{
    switch (filter) {
    case AllKinds:
        return true;
    case AddedOnly:
        return row.kind == ChangeKind::Added;
    case ChangedOnly:
        return row.kind == ChangeKind::Changed;
    case RemovedOnly:
        return row.kind == ChangeKind::Removed && !row.movedOut;
    case MovedOutOnly:
        return row.movedOut;
    case MovedOnly:
        return row.kind == ChangeKind::Moved;
    case SuspectOnly:
        return !row.flags.isEmpty();
    case NoiseOnly:
        return row.noise;
    }
    return true;
}

int ChangesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ChangesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ChangesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const ChangeRow& row = m_rows.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case KindColumn:
            return changeKindText(row);
        case PathColumn:
            return row.pathText;
        case SizeColumn:
            return cellSizeText(row.size);
        case DateColumn:
            return row.size < 0 ? QString() : cellTimeText(row.mtimeNs);
        case GroupColumn:
            return row.groupText;
        case FlagsColumn:
            return row.flagsText;
        }
    } else if (role == Qt::ToolTipRole) {
        switch (index.column()) {
        case PathColumn:
            if (row.kind == ChangeKind::Moved)
                return tr("%1\nmoved here from %2").arg(row.pathText, row.oldPathText);
            return row.pathText;
        case SizeColumn:
            if (row.kind == ChangeKind::Changed)
                return tr("%1 bytes now, %2 bytes before").arg(row.size).arg(row.oldSize);
            return row.size < 0 ? QVariant() : QVariant(tr("%1 bytes").arg(row.size));
        case DateColumn:
            if (row.kind == ChangeKind::Changed)
                return tr("Modified %1; before: %2").arg(exactTime(row.mtimeNs), exactTime(row.oldMtimeNs));
            return row.size < 0 ? QVariant() : QVariant(exactTime(row.mtimeNs));
        case GroupColumn:
            return tr("Files of one mod stay together when they are moved out: a folder that is new as "
                      "a whole, or loose files that share a name.");
        default: {
            const QString why = reasons(row);
            return why.isEmpty() ? QVariant() : QVariant(why);
        }
        }
    } else if (role == Qt::ForegroundRole) {
        if (row.noise)
            return QBrush(QPalette().color(QPalette::Disabled, QPalette::Text));
        if ((!row.flags.isEmpty() || !row.clashes.isEmpty()) && index.column() == FlagsColumn)
            return QBrush(QColor(0xb0, 0x30, 0x00));
    } else if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant ChangesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case KindColumn:
            return tr("Kind");
        case PathColumn:
            return tr("Path");
        case SizeColumn:
            return tr("Size");
        case DateColumn:
            return tr("Modified");
        case GroupColumn:
            return tr("Group");
        case FlagsColumn:
            return tr("Flags");
        }
    } else if (role == Qt::ToolTipRole) {
        switch (section) {
        case KindColumn:
            return tr("Added, changed (size or time), removed or moved since the snapshot. Noise: files mods "
                      "write while the game runs.");
        case PathColumn:
            return tr("Where the file is, below the game folder.");
        case GroupColumn:
            return tr("The mod a file belongs to: its files move out and back together.");
        case FlagsColumn:
            return tr("Why a file may keep the game from working. Point at a flag to read the reason; a "
                      "flag never acts by itself.");
        default:
            return tr("Click to sort by this column.");
        }
    }
    return {};
}

ChangesFilter::ChangesFilter(ChangesModel* source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(source);
}

void ChangesFilter::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    invalidateRowsFilter();
}

void ChangesFilter::setKind(ChangesModel::Filter kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    invalidateRowsFilter();
}

QList<const ChangeRow*> ChangesFilter::shownRows() const
{
    QList<const ChangeRow*> shown;
    shown.reserve(rowCount());
    for (int i = 0; i < rowCount(); ++i)
        shown.append(&m_source->row(mapToSource(index(i, 0)).row()));
    return shown;
}

bool ChangesFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const ChangeRow& row = m_source->row(sourceRow);
    if (!ChangesModel::matches(row, m_kind))
        return false;
    if (m_text.isEmpty())
        return true;
    return row.pathText.contains(m_text, Qt::CaseInsensitive)
        || row.oldPathText.contains(m_text, Qt::CaseInsensitive)
        || row.groupText.contains(m_text, Qt::CaseInsensitive)
        || row.flagsText.contains(m_text, Qt::CaseInsensitive);
}

bool ChangesFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const ChangeRow& a = m_source->row(left.row());
    const ChangeRow& b = m_source->row(right.row());
    // Ties fall back on the path, so the order never depends on the order the diff gave.
    switch (left.column()) {
    case ChangesModel::KindColumn: {
        if (a.kind != b.kind)
            return a.kind < b.kind;
        if (a.movedOut != b.movedOut)
            return b.movedOut;
        break;
    }
    case ChangesModel::SizeColumn:
        if (a.size != b.size)
            return a.size < b.size;
        break;
    case ChangesModel::DateColumn:
        if (a.mtimeNs != b.mtimeNs)
            return a.mtimeNs < b.mtimeNs;
        break;
    case ChangesModel::GroupColumn:
        if (a.groupKey != b.groupKey)
            return a.groupKey < b.groupKey;
        break;
    case ChangesModel::FlagsColumn:
        if (a.flags.size() != b.flags.size())
            return a.flags.size() < b.flags.size();
        if (a.flagsText != b.flagsText)
            return a.flagsText < b.flagsText;
        break;
    default:
        break;
    }
    // Letter case ignored first, as a player reads names; bytes then keep the order total.
    if (a.pathOrder != b.pathOrder)
        return a.pathOrder < b.pathOrder;
    return a.path < b.path;
}

QByteArray changesCsv(const QList<const ChangeRow*>& rows)
{
    QList<ChangeLine> lines;
    lines.reserve(rows.size());
    for (const ChangeRow* row : rows) {
        lines.append({ row->kind, row->movedOut, row->noise, row->path, row->oldPath, row->size, row->mtimeNs,
            row->groupKey, row->flags });
    }
    return mending::changesCsv(lines);
}

QByteArray changesText(const ChangesHeading& heading, const QList<const ChangeRow*>& rows)
{
    // The reversible codec keeps every byte of a name through the text and back.
    const QStringList lines
        = textLines(heading, rows, [](const QByteArray& bytes) { return decodeName(bytes); });
    QByteArray out;
    for (const QString& line : lines)
        out += encodeName(line) + "\r\n";
    return out;
}

QStringList changesPrintLines(const ChangesHeading& heading, const QList<const ChangeRow*>& rows)
{
    return textLines(heading, rows, [](const QByteArray& bytes) { return QString::fromUtf8(bytes); });
}
