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

namespace lumafind {

CheckListModel::CheckListModel(CheckList *rows, QObject *parent)
    : RowTableModel({{"State", ""}, {"Extension", "Type"}, {"Description", "Description"}, {"Thoro", "Thorough only"}},
                    parent),
      rows_(rows)
{
}

int CheckListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_->size());
}

QVariant CheckListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_->size())
        return {};
    const CheckListRow &row = rows_->at(index.row());
    const QString id = identifier(index.column());
    if (id == QLatin1String("State"))
        return role == Qt::CheckStateRole ? QVariant(row.State ? Qt::Checked : Qt::Unchecked) : QVariant();
    return role == Qt::DisplayRole ? row.value(id) : QVariant();
}

bool CheckListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= rows_->size() || role != Qt::CheckStateRole
        || identifier(index.column()) != QLatin1String("State"))
        return false;
    (*rows_)[index.row()].State = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {role});
    emit stateClicked();
    return true;
}

Qt::ItemFlags CheckListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (identifier(index.column()) == QLatin1String("State"))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

FoundFilesModel::FoundFilesModel(const FoundFilesList *rows, QObject *parent)
    : RowTableModel({{"FileTypes", "Type"}, {"NoOfFile", "Found"}, {"FileName", "Last file"}}, parent), rows_(rows)
{
}

int FoundFilesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_->size());
}

QVariant FoundFilesModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_->size())
        return {};
    return rows_->at(index.row()).value(identifier(index.column()));
}

} // namespace lumafind
