#include "tablemodels.h"

namespace lumafind {

QVariant RowTableModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columns_.size())
        return columns_.at(section).title;
    return {};
}

MediaTableModel::MediaTableModel(const QList<MyDataObject> *rows, QObject *parent)
    : RowTableModel({{"Collumn1", "Disk"}, {"Collumn2", "Volume Name"}, {"Collumn3", "File System"},
                     {"Collumn4", "Capacity"}, {"Collumn5", "Parent Disk"}, {"Collumn6", "Sectors"}},
                    parent),
      rows_(rows)
{
}

int MediaTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_->size());
}

QVariant MediaTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_->size())
        return {};
    return rows_->at(index.row()).column(identifier(index.column()));
}

} // namespace lumafind
