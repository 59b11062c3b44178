#pragma once
// Qt table models over the controller's row lists. Each column is identified by a row key
// (or "Collumn1".."Collumn6" for the media table) and shows that key's value.
#include "catalogue/checklist.h"
#include "media/MyDataObject.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

namespace lumafind {

struct Column {
    QString identifier;
    QString title;
};

class RowTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RowTableModel(QList<Column> columns, QObject *parent = nullptr)
        : QAbstractTableModel(parent), columns_(std::move(columns)) {}
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(columns_.size()); }
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    QString identifier(int column) const { return column >= 0 && column < columns_.size() ? columns_.at(column).identifier : QString(); }
    void reload() { beginResetModel(); endResetModel(); }

protected:
    QList<Column> columns_;
};

class MediaTableModel : public RowTableModel {
    Q_OBJECT
public:
    MediaTableModel(const QList<MyDataObject> *rows, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const QList<MyDataObject> *rows_;
};

} // namespace lumafind

namespace lumafind {

// The file-type check-list; the "State" column is a check box the user edits.
class CheckListModel : public RowTableModel {
    Q_OBJECT
public:
    CheckListModel(CheckList *rows, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void stateClicked();

private:
    CheckList *rows_;
};

// The found-files table: one row per checked type with its count.
class FoundFilesModel : public RowTableModel {
    Q_OBJECT
public:
    FoundFilesModel(const FoundFilesList *rows, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const FoundFilesList *rows_;
};

} // namespace lumafind
