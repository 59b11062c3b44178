#include "hex.h"

#include <cmath>
#include <limits>

namespace lumafind {

int32_t hex2dec(const QString &c)
{
    if (c.isEmpty())
        return 0;
    // Only the low 8 bits of the first code unit count, read as a signed byte.
    const auto ch = static_cast<signed char>(c.at(0).unicode() & 0xFF);
    if (ch >= '1' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return 0;
}

int32_t hex2int(const QString &h)
{
    const qsizetype len = h.size();
    int32_t result = 0;
    for (qsizetype i = len - 1; i >= 0; --i) {
        const auto weight = static_cast<int32_t>(std::pow(16.0, static_cast<double>(len - 1 - i)));
        // Wrapping 32-bit arithmetic as the helper is defined; callers pass at most two digits.
        result = static_cast<int32_t>(static_cast<uint32_t>(result)
                                      + static_cast<uint32_t>(hex2dec(h.mid(i, 1)))
                                            * static_cast<uint32_t>(weight));
    }
    return result;
}

bool Find_Str(const QString &s, const QString &t)
{
    if (t.isEmpty() || s.isEmpty())
        return false;
    return s.indexOf(t, 0, Qt::CaseSensitive) >= 0;
}

static bool scanCore(const QString &text, int64_t *value, bool *found)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    uint64_t acc = 0;
    bool digits = false;
    bool overflow = false;
    while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9') {
        digits = true;
        const uint64_t d = static_cast<uint64_t>(text.at(i).unicode() - u'0');
        if (acc > (std::numeric_limits<uint64_t>::max() - d) / 10)
            overflow = true;
        else
            acc = acc * 10 + d;
        ++i;
    }
    *found = digits;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    if (overflow || acc > limit)
        acc = limit; // saturate like the platform's scanners do
    if (negative)
        *value = acc == uint64_t(std::numeric_limits<int64_t>::max()) + 1
                     ? std::numeric_limits<int64_t>::min()
                     : -static_cast<int64_t>(acc);
    else
        *value = static_cast<int64_t>(acc);
    return digits;
}

int64_t leadingInt64(const QString &text)
{
    int64_t v = 0;
    bool found = false;
    scanCore(text, &v, &found);
    return found ? v : 0;
}

bool scanInt64(const QString &text, int64_t *value)
{
    bool found = false;
    int64_t v = 0;
    scanCore(text, &v, &found);
    if (found && value)
        *value = v;
    return found;
}

} // namespace lumafind
