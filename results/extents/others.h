#pragma once
// The end finders and header checks of the video and other-file types beyond the big
// families: archives and compressed files (archives.cpp), audio and video streams
// (streams.cpp), programs (programs.cpp) and text documents (text.cpp); their checks are in
// otherchecks.cpp. The family table in extent.cpp says which type uses which.
#include "check.h"
#include "extent.h"

namespace lumafind {

// archives.cpp
std::optional<uint64_t> rarEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> sevenZipEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> gzipEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> bzip2End(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> xzEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> cabEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> sqliteEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> kdbxEnd(ByteSource &s, const ExtentContext &c);

// streams.cpp
std::optional<uint64_t> flvEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> mxfEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> realMediaEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> mp3End(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> oggEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> amrEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> flacEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> aiffEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> midiEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> djvuEnd(ByteSource &s, const ExtentContext &c);

// programs.cpp
std::optional<uint64_t> peEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> elfEnd(ByteSource &s, const ExtentContext &c);

// text.cpp
std::optional<uint64_t> rtfEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> postScriptEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> epsEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> vcardEnd(ByteSource &s, const ExtentContext &c);
std::optional<uint64_t> icalendarEnd(ByteSource &s, const ExtentContext &c);

// otherchecks.cpp
HeaderCheck flvCheck(const HitView &v);
HeaderCheck mxfCheck(const HitView &v);
HeaderCheck realMediaCheck(const HitView &v);
HeaderCheck rarCheck(const HitView &v);
HeaderCheck sevenZipCheck(const HitView &v);
HeaderCheck bzip2Check(const HitView &v);
HeaderCheck xzCheck(const HitView &v);
HeaderCheck oggCheck(const HitView &v);
HeaderCheck flacCheck(const HitView &v);
HeaderCheck sqliteCheck(const HitView &v);
HeaderCheck peCheck(const HitView &v);
HeaderCheck elfCheck(const HitView &v);
HeaderCheck amrCheck(const HitView &v);
HeaderCheck aiffCheck(const HitView &v);
HeaderCheck midiCheck(const HitView &v);
HeaderCheck postScriptCheck(const HitView &v);
HeaderCheck epsCheck(const HitView &v);
HeaderCheck djvuCheck(const HitView &v);
HeaderCheck cabCheck(const HitView &v);
HeaderCheck kdbxCheck(const HitView &v);
HeaderCheck rtfCheck(const HitView &v);

// The Ogg page checksum (its own CRC-32: no reflection, no final inversion).
uint32_t oggCrc(const unsigned char *p, size_t n, uint32_t crc = 0);

} // namespace lumafind
