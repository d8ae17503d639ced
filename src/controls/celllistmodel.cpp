// SPDX-License-Identifier: GPL-3.0-or-later
#include "celllistmodel.h"

#include <QSize>

CCellListModel::CCellListModel(QObject *parent) : QAbstractTableModel(parent) {}

void CCellListModel::SetItemCount(int count)
{
    count = qMax(0, count);
    if (count > itemCount) {
        beginInsertRows({}, itemCount, count - 1);
        itemCount = count;
        endInsertRows();
    } else if (count < itemCount) {
        beginRemoveRows({}, count, itemCount - 1);
        itemCount = count;
        endRemoveRows();
    }
}

void CCellListModel::SetRowHeight(int height)
{
    if (height < 1 || height == rowHeight)
        return;
    // A layout change makes the view measure its uniform row height again.
    emit layoutAboutToBeChanged();
    rowHeight = height;
    emit layoutChanged();
}

int CCellListModel::InsertColumn(int index, const QString &header, Qt::Alignment alignment)
{
    index = qBound(0, index, int(columns.size()));
    beginInsertColumns({}, index, index);
    columns.insert(index, Column{header, alignment & Qt::AlignHorizontal_Mask});
    endInsertColumns();
    return index;
}

Qt::Alignment CCellListModel::GetColumnAlignment(int column) const
{
    if (column < 0 || column >= columns.size())
        return Qt::AlignLeft;
    return columns.at(column).alignment;
}

int CCellListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : itemCount;
}

int CCellListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(columns.size());
}

QVariant CCellListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    // The size hint is answered here so that measuring rows never reaches the owner.
    if (role == Qt::SizeHintRole)
        return QSize(-1, rowHeight);
    if (role == Qt::DisplayRole && textSource)
        return textSource(index.row(), index.column());
    return {};
}

QVariant CCellListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return columns.at(section).header;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columns.at(section).alignment | Qt::AlignVCenter);
    return {};
}
