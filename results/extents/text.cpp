// Text documents and their kin: RTF (its outer group, closed when the brace depth is back to
// zero), PostScript (the last %%EOF in the carved range, as for PDF), EPS with a binary header
// (the furthest of the sections it lists), and vCard and iCalendar files (their objects, one
// after another, to the last END line).
//
// Text states no length: apart from RTF's \binN, which declares its bytes, these walks look
// only as far as the next found file (RTF) or the carved range (the line-based ones).
#include "others.h"
#include "window.h"

namespace lumafind {

namespace {
bool isLetter(unsigned char ch)
{
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

// Past one line ending (CR LF, LF or CR) at p, if there is one.
uint64_t afterLineEnd(Window &w, uint64_t p)
{
    const auto a = w.u8(p);
    if (a && *a == '\r') {
        const auto b = w.u8(p + 1);
        return b && *b == '\n' ? p + 2 : p + 1;
    }
    return a && *a == '\n' ? p + 1 : p;
}
} // namespace

// ---- RTF ----

// Braces open and close groups; a backslash starts a control word (letters, an optional
// number and one space that belongs to it) or a control symbol such as \{ \} \\; \binN is
// followed by N raw bytes, which may hold anything. The document ends with the brace that
// closes its outer group, and the line ending right after it.
std::optional<uint64_t> rtfEnd(ByteSource &s, const ExtentContext &c)
{
    Window w(s, 1 << 20);
    const unsigned char *h = w.at(0, 5);
    if (!h || std::memcmp(h, "{\\rtf", 5) != 0)
        return std::nullopt;
    uint64_t depth = 0, p = 0, limit = c.searchLimit(s, 0);
    for (;;) {
        if (p >= limit)
            return std::nullopt;  // still open at the next found file: cut
        size_t avail = 0;
        const unsigned char *b = w.span(p, 1, &avail);
        if (!b)
            return std::nullopt;
        const size_t n = size_t(std::min<uint64_t>(avail, limit - p));
        size_t i = 0;
        for (; i < n; ++i) {
            const unsigned char ch = b[i];
            if (ch == '{') {
                ++depth;
            } else if (ch == '}') {
                if (depth == 0)
                    return std::nullopt;
                if (--depth == 0)
                    return afterLineEnd(w, p + i + 1);
            } else if (ch == '\\') {
                break;
            }
        }
        p += i;
        if (i == n)
            continue;
        // A control word or symbol at p: at most 32 letters and a 10-digit number.
        size_t len = 0;
        const unsigned char *cw = w.span(p, 2, &len);
        if (!cw)
            return std::nullopt;
        len = size_t(std::min<uint64_t>(len, limit - p));
        if (len < 2)
            return std::nullopt;
        if (!isLetter(cw[1])) {
            p += 2;  // a control symbol: \{ \} \\ \' \* ...
            continue;
        }
        size_t k = 1;
        while (k < len && k <= 33 && isLetter(cw[k]))
            ++k;
        const bool bin = k == 4 && std::memcmp(cw + 1, "bin", 3) == 0;
        bool negative = false;
        if (k < len && cw[k] == '-') {
            negative = true;
            ++k;
        }
        uint64_t number = 0;
        for (int digits = 0; k < len && cw[k] >= '0' && cw[k] <= '9' && digits < 10; ++k, ++digits)
            number = number * 10 + (cw[k] - '0');
        if (k >= len)
            return std::nullopt;  // the word runs into the limit
        if (cw[k] == ' ')
            ++k;
        p += k;
        if (bin) {
            if (negative || number > s.size() - std::min(p, s.size()))
                return std::nullopt;
            p += number;
            limit = c.searchLimit(s, p);
        }
    }
}

// ---- PostScript ----

// The last %%EOF comment in the carved range that is not inside an embedded document (the
// %%EOF of an EPS file placed in the page, between %%BeginDocument and %%EndDocument).
std::optional<uint64_t> postScriptEnd(ByteSource &s, const ExtentContext &c)
{
    const uint64_t limit = std::min(c.carved, s.size());
    Searcher search(s, QByteArrayView("%%"));
    Window w(s, 4096);
    std::optional<uint64_t> last;
    uint64_t depth = 0;
    for (uint64_t from = 0; const auto hit = search.next(from, limit);) {
        from = *hit + 2;
        const auto before = *hit > 0 ? w.u8(*hit - 1) : std::optional<uint8_t>('\n');
        if (!before || (*before != '\n' && *before != '\r'))
            continue;  // comments that count start a line
        size_t avail = 0;
        const unsigned char *b = w.span(*hit, 2, &avail);
        if (!b)
            break;
        const size_t n = size_t(std::min<uint64_t>(avail, limit - *hit));
        auto is = [&](const char *word) { return n >= std::strlen(word) && std::memcmp(b, word, std::strlen(word)) == 0; };
        if (is("%%BeginDocument")) {
            ++depth;
        } else if (is("%%EndDocument")) {
            depth -= depth > 0 ? 1 : 0;
        } else if (is("%%EOF") && depth == 0) {
            last = *hit + 5;
        }
    }
    if (!last)
        return std::nullopt;
    return afterLineEnd(w, *last);
}

// An EPS file with a binary header lists its PostScript section and, optionally, a Windows
// metafile and a TIFF preview by offset and length.
std::optional<uint64_t> epsEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char h[30];
    if (!s.get(0, h, 30) || rdLe32(h) != 0xC6D3D0C5u)
        return std::nullopt;
    const uint64_t psAt = rdLe32(h + 4), psLength = rdLe32(h + 8);
    char ps[2];
    if (psAt < 30 || psLength < 2 || !s.get(psAt, ps, 2) || ps[0] != '%' || ps[1] != '!')
        return std::nullopt;
    uint64_t end = psAt + psLength;
    for (const int field : {12, 20}) {  // metafile, TIFF
        const uint64_t at = rdLe32(h + field), length = rdLe32(h + field + 4);
        if (length == 0)
            continue;
        if (at < 30)
            return std::nullopt;
        end = std::max(end, at + length);
    }
    return end <= s.size() ? std::optional<uint64_t>(end) : std::nullopt;
}

// ---- vCard, iCalendar ----

namespace {
bool startsWithNoCase(const unsigned char *p, size_t n, QByteArrayView word)
{
    if (n < size_t(word.size()))
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        unsigned char a = p[i];
        if (a >= 'a' && a <= 'z')
            a = a - 'a' + 'A';
        if (a != static_cast<unsigned char>(word[i]))
            return false;
    }
    return true;
}

// Objects `BEGIN:<name>` ... `END:<name>` (nested ones counted), one after another, blank lines
// allowed between them: the file ends after the END line that closes the last of them. An
// object still open at the end of the carved range gives no answer.
std::optional<uint64_t> objectsEnd(ByteSource &s, const ExtentContext &c, QByteArrayView name)
{
    const QByteArray begin = "BEGIN:" + name.toByteArray(), end = "END:" + name.toByteArray();
    const uint64_t limit = std::min(c.carved, c.searchLimit(s, 0));
    Window w(s, 1 << 20);
    std::optional<uint64_t> last;
    uint64_t depth = 0, p = 0;
    while (p < limit) {
        size_t avail = 0;
        const unsigned char *b = w.span(p, 1, &avail);
        if (!b)
            break;
        size_t n = size_t(std::min<uint64_t>(avail, limit - p));
        // BEGIN or END with the name, then only blanks to the line's end.
        auto whole = [&](size_t k) {
            while (k < n && (b[k] == ' ' || b[k] == '\t'))
                ++k;
            return k == n || b[k] == '\r' || b[k] == '\n' ? std::optional<size_t>(k) : std::nullopt;
        };
        if (n < 64 && p + n < limit) {
            n = size_t(std::min<uint64_t>(64, limit - p));
            b = w.at(p, n);  // a line's start straddles the window's end
            if (!b)
                break;
        }
        std::optional<size_t> at;
        if (startsWithNoCase(b, n, begin) && (at = whole(size_t(begin.size())))) {
            ++depth;
        } else if (startsWithNoCase(b, n, end) && (at = whole(size_t(end.size())))) {
            if (depth == 0)
                break;
            if (--depth == 0) {
                p = afterLineEnd(w, p + *at);
                last = p;
                continue;
            }
        } else if (depth == 0) {
            if (b[0] == '\r' || b[0] == '\n') {  // a blank line between objects
                p = afterLineEnd(w, p);
                continue;
            }
            break;  // something else: the objects have ended
        }
        // On to the next line.
        for (;;) {
            const unsigned char *span = w.span(p, 1, &avail);
            if (!span)
                return depth == 0 ? last : std::nullopt;
            const size_t m = size_t(std::min<uint64_t>(avail, limit - p));
            const void *nl = std::memchr(span, '\n', m);
            if (nl) {
                p += uint64_t(static_cast<const unsigned char *>(nl) - span) + 1;
                break;
            }
            p += m;
            if (p >= limit)
                break;
        }
    }
    if (depth != 0 || !last)
        return std::nullopt;
    return last;
}
} // namespace

std::optional<uint64_t> vcardEnd(ByteSource &s, const ExtentContext &c)
{
    return objectsEnd(s, c, "VCARD");
}

std::optional<uint64_t> icalendarEnd(ByteSource &s, const ExtentContext &c)
{
    return objectsEnd(s, c, "VCALENDAR");
}

} // namespace lumafind
