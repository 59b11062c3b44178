#include "checklist.h"

#include "catalogue/signatures.h"
#include "common/hex.h"

#include <algorithm>

namespace lumafind {

QVariant CheckListRow::value(const QString &key) const
{
    if (key == QLatin1String("Extension")) return Extension;
    if (key == QLatin1String("Description")) return Description;
    if (key == QLatin1String("Thoro")) return Thoro;
    if (key == QLatin1String("State")) return State;
    return {};
}

bool CheckListRow::setValue(const QString &key, const QVariant &v)
{
    if (key == QLatin1String("Extension")) Extension = v.toString();
    else if (key == QLatin1String("Description")) Description = v.toString();
    else if (key == QLatin1String("Thoro")) Thoro = v.toString();
    else if (key == QLatin1String("State")) State = v.toInt() != 0 || v.toBool();
    else return false;
    return true;
}

QString FoundFilesRow::value(const QString &key) const
{
    if (key == QLatin1String("FileTypes")) return FileTypes;
    if (key == QLatin1String("NoOfFile")) return NoOfFile;
    if (key == QLatin1String("FileName")) return FileName;
    if (key == QLatin1String("FilePath")) return FilePath;
    if (key == QLatin1String("FileTypes_Hidden")) return FileTypes_Hidden;
    return {};
}

void createExtensionListTableRecord(CheckList &rows, const QString &ext, int state,
                                    const QString &descp, const QString &thoro)
{
    rows.append(CheckListRow{ext, descp, thoro, (state & 0xFF) != 0});
}

void createSignatureListTableRecord(FoundFilesList &rows, const QString &type, uint64_t count,
                                    const QString &name, const QString &path, const QString &hidden)
{
    rows.append(FoundFilesRow{type, QString::number(count), name, path, hidden});
}

void sortCheckList(CheckList &rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const CheckListRow &a, const CheckListRow &b) {
        return QString::compare(a.Extension, b.Extension, Qt::CaseInsensitive) < 0;
    });
}

static bool hasExtension(const CheckList &rows, const QString &ext)
{
    return std::any_of(rows.begin(), rows.end(), [&](const CheckListRow &r) { return r.Extension == ext; });
}

void Fill_Check_List(CheckList &rows, const QStringList &basic, const QStringList &advanced)
{
    rows.clear();
    for (qsizetype r = 0; r < recordCount(basic); ++r)
        if (!hasExtension(rows, field(basic, r, Ext_Name)))
            createExtensionListTableRecord(rows, field(basic, r, Ext_Name), 1, field(basic, r, Ext_Descp), QString());
    for (qsizetype r = 0; r < recordCount(advanced); ++r)
        if (!hasExtension(rows, field(advanced, r, Ext_Name)))
            createExtensionListTableRecord(rows, field(advanced, r, Ext_Name), 1, field(advanced, r, Ext_Descp),
                                           QStringLiteral("YES"));
    sortCheckList(rows);
}

void Select_Unselect(CheckList &rows, bool all)
{
    const CheckList old = rows;
    rows.clear();
    for (const CheckListRow &r : old)
        createExtensionListTableRecord(rows, r.Extension, all ? 1 : 0, r.Description, r.Thoro);
}

bool selectAllState(const CheckList &rows)
{
    return std::all_of(rows.begin(), rows.end(), [](const CheckListRow &r) { return r.State; });
}

bool Check_For_One_Extension_Selection(const CheckList &rows)
{
    return std::any_of(rows.begin(), rows.end(), [](const CheckListRow &r) { return r.State; });
}

static void removeType(QStringList &list, const QString &ext)
{
    qsizetype pos = 0;
    while (pos + kRecordStrings <= list.size()) {
        if (list.at(pos + Ext_Name) == ext)
            list.remove(pos, kRecordStrings);
        else
            pos += kRecordStrings;
    }
}

bool Apply_Check_List(const CheckList &rows, const QStringList &basic, const QStringList &advanced,
                      QStringList &CheckListHeader_Array, QStringList &CheckListHeader_Adv_Array,
                      FoundFilesList &found)
{
    CheckListHeader_Adv_Array.clear();
    CheckListHeader_Array.clear();
    found.clear();
    CheckListHeader_Array = basic;
    CheckListHeader_Adv_Array = advanced;
    for (const CheckListRow &row : rows) {
        if (!row.State) {
            removeType(CheckListHeader_Array, row.Extension);
            removeType(CheckListHeader_Adv_Array, row.Extension);
        } else {
            createSignatureListTableRecord(found, row.Extension, 0, QString(), QString(), row.Extension);
        }
    }
    return Check_For_One_Extension_Selection(rows);
}

QString extensionOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

qsizetype countFoundFile(FoundFilesList &rows, const QString &trimmedName)
{
    const QString ext = extensionOf(trimmedName);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).FileTypes_Hidden == ext) {
            const auto n = static_cast<uint64_t>(leadingInt64(rows.at(i).NoOfFile)) + 1;
            rows[i] = FoundFilesRow{ext, QString::number(n), trimmedName, trimmedName, ext};
            return i;
        }
    }
    return -1;
}

} // namespace lumafind
