#pragma once
// The file-type check-list of video and raw-file mode and the found-files rows that count,
// type by type, what a scan found.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>

namespace lumafind {

struct CheckListRow {
    QString Extension;
    QString Description;
    QString Thoro;      // "" when the type is in the basic database, "YES" when only advanced
    bool State = true;  // checked = searched

    QVariant value(const QString &key) const;      // by column identifier
    bool setValue(const QString &key, const QVariant &v);
};

struct FoundFilesRow {
    QString FileTypes;
    QString NoOfFile = QStringLiteral("0");
    QString FileName;
    QString FilePath;
    QString FileTypes_Hidden;

    QString value(const QString &key) const;
};

using CheckList = QList<CheckListRow>;
using FoundFilesList = QList<FoundFilesRow>;

// Row creation: State is true exactly when the low byte of state is non-zero.
void createExtensionListTableRecord(CheckList &rows, const QString &ext, int state,
                                    const QString &descp, const QString &thoro);
void createSignatureListTableRecord(FoundFilesList &rows, const QString &type, uint64_t count,
                                    const QString &name, const QString &path, const QString &hidden);

// Ascending by Extension, without regard to letter case (stable for equal keys).
void sortCheckList(CheckList &rows);

// Rebuild the check-list from a mode's basic and advanced record lists, each extension once,
// every row checked, advanced-only rows marked "YES", sorted.
void Fill_Check_List(CheckList &rows, const QStringList &basic, const QStringList &advanced);

// Select all (true) or none (false), order unchanged.
void Select_Unselect(CheckList &rows, bool all);

// The state the select-all box must show after a click in the "State" column.
bool selectAllState(const CheckList &rows);

bool Check_For_One_Extension_Selection(const CheckList &rows);

// Copy the records of the checked types into the two searched lists and create one
// found-files row per checked type. Returns false when no type is checked (the caller alerts).
bool Apply_Check_List(const CheckList &rows, const QStringList &basic, const QStringList &advanced,
                      QStringList &CheckListHeader_Array, QStringList &CheckListHeader_Adv_Array,
                      FoundFilesList &found);

// Count one found file in the first row whose FileTypes_Hidden equals the name's extension;
// the row is replaced in place. Returns the row index, or -1 when no row matches.
qsizetype countFoundFile(FoundFilesList &rows, const QString &trimmedName);

// Extension of a file name: what follows its last dot ("" when there is none).
QString extensionOf(const QString &name);

} // namespace lumafind
