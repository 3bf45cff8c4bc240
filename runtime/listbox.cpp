// SPDX-License-Identifier: GPL-3.0-or-later
#include "listbox.h"

#include "names.h"
#include "runerror.h"

#include <algorithm>

using namespace Qt::StringLiterals;

ListModel::ListModel(QObject* parent)
    : QAbstractListModel(parent)
{ }

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_items.at(index.row());
    return {};
}

void ListModel::insert(int row, const QString& item)
{
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(row, item);
    endInsertRows();
}

void ListModel::append(const QStringList& items)
{
    if (items.isEmpty())
        return;
    const int first = int(m_items.size());
    beginInsertRows(QModelIndex(), first, first + int(items.size()) - 1);
    m_items.append(items);
    endInsertRows();
}

void ListModel::replace(QStringList items)
{
    beginResetModel();
    m_items = std::move(items);
    endResetModel();
}

void ListModel::remove(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    endRemoveRows();
}

ListBox::ListBox(bool sorted, QWidget* parent)
    : QListView(parent)
    , m_model(new ListModel(this))
    , m_sorted(sorted)
{
    setModel(m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QAbstractItemView::doubleClicked, this, &ListBox::DblClick);
}

int ListBox::ListCount() const
{
    return m_model->rowCount();
}

int ListBox::ListIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ListBox::setListIndex(int index)
{
    if (index < -1 || index >= ListCount())
        throw RunError(ErrorNumber::InvalidPropertyValue, u"Invalid property value"_s);
    if (index == -1) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    const QModelIndex item = m_model->index(index);
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    scrollTo(item);
}

QString ListBox::List(int index) const
{
    if (index == ListCount())
        return {};
    if (index < 0 || index > ListCount())
        throw RunError(ErrorNumber::InvalidPropertyArrayIndex, u"Invalid property array index"_s);
    return items().at(index);
}

QString ListBox::Text() const
{
    const int index = ListIndex();
    return index < 0 ? QString() : items().at(index);
}

void ListBox::AddItem(const QString& item)
{
    if (!m_sorted) {
        AddItem(item, ListCount());
        return;
    }
    const auto place = std::upper_bound(items().begin(), items().end(), item, nameLess);
    AddItem(item, int(place - items().begin()));
}

void ListBox::AddItem(const QString& item, int index)
{
    if (index < 0 || index > ListCount())
        throw RunError(ErrorNumber::InvalidPropertyArrayIndex, u"Invalid property array index"_s);
    m_model->insert(index, item);
    m_newIndex = index;
}

void ListBox::AddItems(const QStringList& added)
{
    if (added.isEmpty())
        return;
    if (!m_sorted) {
        m_model->append(added);
        m_newIndex = ListCount() - 1;
        return;
    }
    QStringList incoming = added;
    sortNames(incoming);
    if (items().isEmpty()) {
        const auto place = std::upper_bound(incoming.cbegin(), incoming.cend(), added.last(), nameLess);
        m_newIndex = int(place - incoming.cbegin()) - 1;
        m_model->replace(std::move(incoming));
        return;
    }
    QStringList merged;
    merged.reserve(items().size() + incoming.size());
    std::merge(items().begin(), items().end(), incoming.begin(), incoming.end(), std::back_inserter(merged),
        nameLess);
    const QString& last = added.last();
    const auto place = std::upper_bound(merged.cbegin(), merged.cend(), last, nameLess);
    m_newIndex = int(place - merged.cbegin()) - 1;
    m_model->replace(std::move(merged));
}

void ListBox::RemoveItem(int index)
{
    if (index < 0 || index >= ListCount())
        throw RunError(ErrorNumber::InvalidPropertyArrayIndex, u"Invalid property array index"_s);
    m_model->remove(index);
}

void ListBox::Clear()
{
    m_model->replace({});
    m_newIndex = -1;
}

void ListBox::setSelected(int index, bool selected)
{
    if (index < 0 || index >= ListCount())
        throw RunError(ErrorNumber::InvalidPropertyArrayIndex, u"Invalid property array index"_s);
    if (selected)
        setListIndex(index);
    else
        selectionModel()->select(m_model->index(index), QItemSelectionModel::Deselect);
}
