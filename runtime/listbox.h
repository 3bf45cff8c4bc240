// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>

// The strings behind a list box. Bulk changes reset or extend the model once, so filling a list
// with a hundred thousand names costs one sort and one repaint.
class ListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit ListModel(QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const QStringList& items() const { return m_items; }
    void insert(int row, const QString& item);
    void append(const QStringList& items);
    void replace(QStringList items);
    void remove(int row);

private:
    QStringList m_items;
};

// A list box with the classic operations. In a sorted box every added item goes to its place in
// name order; otherwise items stay in the order they were added. Single selection: the current
// item is the selected one, and there is at most one.
class ListBox : public QListView
{
    Q_OBJECT
public:
    ListBox(bool sorted, QWidget* parent);

    bool Sorted() const { return m_sorted; }
    int ListCount() const;
    int ListIndex() const;
    // -1 leaves no item current; any index outside -1 .. ListCount - 1 fails.
    void setListIndex(int index);
    // The item at an index; at ListCount the empty string; outside that, a failure.
    QString List(int index) const;
    // The current item's text, empty when none is current.
    QString Text() const;
    void AddItem(const QString& item);
    // Inserts at an index from 0 to ListCount; later items move one place down.
    void AddItem(const QString& item, int index);
    // Adds many items at once, as AddItem without an index would one by one: appended in their
    // order, or merged into a sorted box. NewIndex then tells where the last of them landed.
    void AddItems(const QStringList& items);
    int NewIndex() const { return m_newIndex; }
    void RemoveItem(int index);
    void Clear();
    void setSelected(int index, bool selected);

    const QStringList& items() const { return m_model->items(); }

signals:
    void DblClick();

private:
    ListModel* m_model;
    bool m_sorted;
    int m_newIndex = -1;
};
