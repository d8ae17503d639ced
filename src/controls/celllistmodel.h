// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QVector>

#include <functional>

// The task list's model: it stores the item count and the columns' headers, never item data.
// Cell texts are asked for through a callback, as the list asks its owner.
class CCellListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using TextSource = std::function<QString(int row, int column)>;

    explicit CCellListModel(QObject *parent = nullptr);

    void SetTextSource(TextSource source) { textSource = std::move(source); }
    void SetItemCount(int count);
    int GetItemCount() const { return itemCount; }
    void SetRowHeight(int height);
    int GetRowHeight() const { return rowHeight; }

    // Inserts a column before index (appends when index is past the end); returns its index.
    int InsertColumn(int index, const QString &header, Qt::Alignment alignment);
    Qt::Alignment GetColumnAlignment(int column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Column {
        QString header;
        Qt::Alignment alignment;
    };
    QVector<Column> columns;
    int itemCount = 0;
    int rowHeight = 17;
    TextSource textSource;
};
