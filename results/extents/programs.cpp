// Programs: Windows PE files (the furthest byte their headers, sections, COFF symbols and
// certificate table reach) and ELF files (the furthest of their section and program contents
// and their header tables).
#include "others.h"
#include "window.h"

namespace lumafind {

// What a PE file's headers point at. An installer or self-extracting archive appends its
// payload (an "overlay") after all of that: no header states its length, so it is outside
// the structure found here and is not kept.
std::optional<uint64_t> peEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char mz[64];
    if (!s.get(0, mz, 64) || mz[0] != 'M' || mz[1] != 'Z')
        return std::nullopt;
    const uint64_t pe = rdLe32(mz + 0x3C);
    unsigned char coff[24];
    if (pe < 64 || pe > (1u << 24) || !s.get(pe, coff, 24) || std::memcmp(coff, "PE\0\0", 4) != 0)
        return std::nullopt;
    const unsigned sections = rdLe16(coff + 6), optionalSize = rdLe16(coff + 20);
    const uint64_t symbols = rdLe32(coff + 12), symbolCount = rdLe32(coff + 16);
    if (sections == 0 || optionalSize < 64)
        return std::nullopt;
    std::vector<unsigned char> opt(optionalSize);
    if (!s.get(pe + 24, opt.data(), optionalSize))
        return std::nullopt;
    const unsigned magic = rdLe16(opt.data());
    const size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (directories == 0 || optionalSize < directories)
        return std::nullopt;
    uint64_t end = rdLe32(opt.data() + 60);  // the headers
    const uint64_t entries = rdLe32(opt.data() + directories - 4);
    if (entries > 4 && optionalSize >= directories + 40) {
        // The certificate table's address is a file offset, and it is usually last.
        const uint64_t at = rdLe32(opt.data() + directories + 32), size = rdLe32(opt.data() + directories + 36);
        if (size > 0)
            end = std::max(end, at + size);
    }
    std::vector<unsigned char> table(size_t(sections) * 40);
    const uint64_t tableAt = pe + 24 + optionalSize;
    if (!s.get(tableAt, table.data(), int64_t(table.size())))
        return std::nullopt;
    end = std::max(end, tableAt + table.size());
    for (unsigned i = 0; i < sections; ++i) {
        const unsigned char *section = table.data() + 40 * size_t(i);
        const uint64_t size = rdLe32(section + 16), at = rdLe32(section + 20);
        if (size > 0 && at > 0)
            end = std::max(end, at + size);
    }
    if (symbols != 0) {
        // COFF symbols (left in by some toolchains), followed by their string table, whose
        // first four bytes give its length.
        const uint64_t strings = symbols + 18 * symbolCount;
        const auto length = s.le32(strings);
        if (!length)
            return std::nullopt;
        end = std::max(end, strings + std::max<uint64_t>(*length, 4));
    }
    return end <= s.size() ? std::optional<uint64_t>(end) : std::nullopt;
}

// ELF: the header, the program and section header tables, and every section and segment's
// bytes in the file; the file ends at the furthest of them.
std::optional<uint64_t> elfEnd(ByteSource &s, const ExtentContext &)
{
    unsigned char e[64];
    if (!s.get(0, e, 52) || std::memcmp(e, "\x7F" "ELF", 4) != 0 || e[6] != 1 || (e[4] != 1 && e[4] != 2)
        || (e[5] != 1 && e[5] != 2))
        return std::nullopt;
    const bool wide = e[4] == 2, big = e[5] == 2;
    if (wide && !s.get(0, e, 64))
        return std::nullopt;
    auto u16 = [&](const unsigned char *p) -> uint64_t { return big ? rdBe16(p) : rdLe16(p); };
    auto u32 = [&](const unsigned char *p) -> uint64_t { return big ? rdBe32(p) : rdLe32(p); };
    auto u64 = [&](const unsigned char *p) -> uint64_t { return big ? rdBe64(p) : rdLe64(p); };
    auto word = [&](const unsigned char *p) { return wide ? u64(p) : u32(p); };
    const uint64_t phoff = word(e + (wide ? 32 : 28)), shoff = word(e + (wide ? 40 : 32));
    const unsigned char *sizes = e + (wide ? 52 : 40);
    const uint64_t ehsize = u16(sizes), phentsize = u16(sizes + 2), shentsize = u16(sizes + 6);
    uint64_t phnum = u16(sizes + 4), shnum = u16(sizes + 8);
    if (u32(e + 20) != 1 || ehsize != (wide ? 64u : 52u))
        return std::nullopt;
    const uint64_t shWant = wide ? 64 : 40, phWant = wide ? 56 : 32;
    const uint64_t size = s.size();
    uint64_t end = ehsize;
    unsigned char first[64];
    if (shoff != 0) {
        if (shentsize != shWant || shoff > size || !s.get(shoff, first, int64_t(shWant)))
            return std::nullopt;
        // More sections or segments than the header's fields hold: the counts are in section 0.
        if (shnum == 0)
            shnum = wide ? u64(first + 32) : u32(first + 20);
        if (phnum == 0xFFFF)
            phnum = u32(first + (wide ? 44 : 28));
        if (shnum > (size - shoff) / shWant || shnum > (1u << 20))
            return std::nullopt;
        end = std::max(end, shoff + shnum * shWant);
        std::vector<unsigned char> table(shnum * shWant);
        if (!s.get(shoff, table.data(), int64_t(table.size())))
            return std::nullopt;
        for (uint64_t i = 0; i < shnum; ++i) {
            const unsigned char *sh = table.data() + i * shWant;
            const uint64_t type = u32(sh + 4);
            const uint64_t at = word(sh + (wide ? 24 : 16)), bytes = word(sh + (wide ? 32 : 20));
            if (type == 8 || type == 0)  // no bytes in the file
                continue;
            const auto last = addSize(at, bytes);
            if (!last || *last > size)
                return std::nullopt;
            end = std::max(end, *last);
        }
    }
    if (phoff != 0 && phnum != 0) {
        if (phentsize != phWant || phoff > size || phnum > (size - phoff) / phWant || phnum > (1u << 20))
            return std::nullopt;
        end = std::max(end, phoff + phnum * phWant);
        std::vector<unsigned char> table(phnum * phWant);
        if (!s.get(phoff, table.data(), int64_t(table.size())))
            return std::nullopt;
        for (uint64_t i = 0; i < phnum; ++i) {
            const unsigned char *ph = table.data() + i * phWant;
            const uint64_t at = word(ph + (wide ? 8 : 4)), bytes = word(ph + (wide ? 32 : 16));
            const auto last = addSize(at, bytes);
            if (!last || *last > size)
                return std::nullopt;
            end = std::max(end, *last);
        }
    }
    return end <= size ? std::optional<uint64_t>(end) : std::nullopt;
}

} // namespace lumafind
