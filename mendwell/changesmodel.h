// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "diff.h"
#include "quarantine.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

// One line of the changes view. Its texts are made where the diff ran, off the window's thread, so
// showing 100,000 changes costs the window no more than swapping a list.
struct ChangeRow
{
    mending::ChangeKind kind = mending::ChangeKind::Added;
    bool noise = false;
    // Gone from the folder into the quarantine beside it (the kind then says Removed): shown as moved
    // out, so the player does not take a file kept safe for one lost.
    bool movedOut = false;
    QByteArray path; // the name's bytes, as the file system has them
    QByteArray oldPath; // where a moved file was
    qint64 size = -1; // -1 where nothing is known (a name gone since a folder list)
    qint64 mtimeNs = 0;
    qint64 oldSize = -1; // a changed file's size before
    qint64 oldMtimeNs = 0;
    int group = 0;
    QByteArray groupKey;
    mending::GroupKind groupKind = mending::GroupKind::Single;
    QList<mending::SuspectFlag> flags;
    QStringList clashes; // a new or changed package's clashes with other mods, in diff's words

    QString pathText; // bytes that are not UTF-8 show as a replacement mark
    QString pathOrder; // pathText case-folded once, so sorting 100,000 rows compares plain strings
    QString oldPathText;
    QString groupText;
    QString flagsText;
};

QList<ChangeRow> changeRows(const mending::DiffResult& result);

// Marks the removed rows whose file is out in the quarantine now, and adds a row for each file out
// there that the comparison cannot see (a file added since, then moved out).
void markMovedOut(QList<ChangeRow>& rows, const QList<mending::QuarantineBatch>& batches);

QString changeKindText(const ChangeRow& row);
// A path as the window shows it: bytes that are not UTF-8 show as a replacement mark.
QString shownPath(const QByteArray& path);
// The table's cells: sizes in the locale's units, times to the minute.
QString cellSizeText(qint64 bytes);
QString cellTimeText(qint64 ns);

class ChangesModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { KindColumn, PathColumn, SizeColumn, DateColumn, GroupColumn, FlagsColumn, ColumnCount };
    // What the kind filter can ask for.
    enum Filter {
        AllKinds,
        AddedOnly,
        ChangedOnly,
        RemovedOnly,
        MovedOnly,
        SuspectOnly,
        NoiseOnly,
        MovedOutOnly
    };

    explicit ChangesModel(QObject* parent);

    void setRows(QList<ChangeRow> rows);
    const QList<ChangeRow>& rows() const { return m_rows; }
    const ChangeRow& row(int index) const { return m_rows.at(index); }
    static bool matches(const ChangeRow& row, Filter filter);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<ChangeRow> m_rows;
};

// Sorts by the values behind the texts (sizes as numbers, dates as times, paths as bytes) and
// filters by a text found in the path, old path or group, and by kind.
class ChangesFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ChangesFilter(ChangesModel* source, QObject* parent);

    void setText(const QString& text);
    void setKind(ChangesModel::Filter kind);
    // The rows as shown, in the order shown.
    QList<const ChangeRow*> shownRows() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    ChangesModel* m_source;
    QString m_text;
    ChangesModel::Filter m_kind = ChangesModel::AllKinds;
};

// What was compared, for the head of an export or a printout.
struct ChangesHeading
{
    QByteArray root;
    QString since;
    bool topLevelOnly = false;
};

// Exports keep each path's exact bytes. CSV: one header line, fields quoted where they hold a comma,
// a quote or a line end, lines ending in CR LF. Text: a head, then one line per file with its flags below.
QByteArray changesCsv(const QList<const ChangeRow*>& rows);
QByteArray changesText(const ChangesHeading& heading, const QList<const ChangeRow*>& rows);
// The same text as lines to print (names shown as on the screen).
QStringList changesPrintLines(const ChangesHeading& heading, const QList<const ChangeRow*>& rows);
