#pragma once
// Signature databases: six text files of six-line records, read into flat lists of seven
// strings per record (Ext_Name, Max_File_Size, Header_Hex, Header_Pos, Reserved_Value,
// Ext_Descp, First_Byte).
#include <QString>
#include <QStringList>
#include <cstdint>

namespace lumafind {

enum RecordField {
    Ext_Name = 0,
    Max_File_Size = 1,
    Header_Hex = 2,
    Header_Pos = 3,
    Reserved_Value = 4,
    Ext_Descp = 5,
    First_Byte = 6,
};
constexpr int kRecordStrings = 7;

inline qsizetype recordCount(const QStringList &list) { return list.size() / kRecordStrings; }
inline const QString &field(const QStringList &list, qsizetype record, RecordField f)
{
    return list.at(record * kRecordStrings + f);
}

enum class LoadStatus { Loaded, Missing, Unreadable, NotUtf8, NoRecords };

// Stateful reader: the pending first-byte text lives for the whole run of the reader, as the
// format defines it, so a run that reads the six files in order uses one reader.
class SignatureReader {
public:
    // Appends the records of resourceDir + fileName (fileName keeps its leading slash) to list.
    // A trailing record with fewer than six value lines is dropped so every record is whole.
    LoadStatus load(const QString &resourceDir, const QString &fileName, QStringList &list);
    // The same rules applied to text already in memory (used by load and by tools).
    void parse(const QString &text, QStringList &list);

private:
    QString pending_;
};

// One record's header decoded once for a pass.
struct DecodedHeader {
    QByteArray bytes;      // Header_Hex as bytes (L = length / 2)
    int firstByte = 0;     // First_Byte as an integer
    enum Kind { AtStart, Anywhere, AtOffset, Never } kind = Never;
    int offset = 0;        // 0-based byte for AtStart/AtOffset
};
DecodedHeader decodeHeader(const QStringList &list, qsizetype record);

// Does the decoded header match the 512-byte sector? Exactly the matching rules of the
// carving passes: the First_Byte test, the "nn" candidate chain, numeric positions 1..507.
bool headerMatches(const DecodedHeader &h, const unsigned char *sector);

// Is a record usable by the carving loops (header of two or more hex digits, a position
// they try, a numeric size)? Used by tests and the formats tool; empty string = usable.
QString recordProblem(const QStringList &list, qsizetype record);

// The six databases in start-up order.
struct DatabaseFile {
    const char *name;       // with its leading slash
    const char *title;
};
extern const DatabaseFile kDatabaseFiles[6];

} // namespace lumafind
