#pragma once
// Hexadecimal and text helpers used by every header comparison.
#include <QString>
#include <cstdint>

namespace lumafind {

// Value 0-15 of the first character of c as a hex digit; anything else (and "0") gives 0.
int32_t hex2dec(const QString &c);
// h read as a hexadecimal number; a non-hex character counts as 0 and does not stop the scan.
int32_t hex2int(const QString &h);
// True when t occurs in s (case-sensitive, UTF-16 code units); an empty t gives false.
bool Find_Str(const QString &s, const QString &t);

// Leading-number readers with the forgiving semantics the databases and fields rely on:
// optional leading white space and sign, then digits; no digits gives 0.
int64_t leadingInt64(const QString &text);
// Strict scan used by the range check: optional leading white space and sign, then at least
// one digit. Returns false when no integer is found.
bool scanInt64(const QString &text, int64_t *value);

} // namespace lumafind
