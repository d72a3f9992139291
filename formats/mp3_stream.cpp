#include "formats/mp3_stream.h"

#include <cstring>

namespace quillet::formats {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

uint64_t Id3v2TagSize(const uint8_t* data, size_t size) {
  if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
  if (data[3] == 0xFF || data[4] == 0xFF) return 0;
  // Sizes are "syncsafe": 7 bits per byte, the top bit always clear.
  if ((data[6] | data[7] | data[8] | data[9]) & 0x80) return 0;
  const uint64_t body = uint64_t{data[6]} << 21 | uint64_t{data[7]} << 14 | uint64_t{data[8]} << 7 | data[9];
  const bool footer = data[3] >= 4 && (data[5] & 0x10);
  return 10 + body + (footer ? 10 : 0);
}

bool IsId3v1Tag(const uint8_t* last128) { return std::memcmp(last128, "TAG", 3) == 0; }

Mp3VbrHeader ParseMp3VbrHeader(const uint8_t* frame, size_t size, const Mp3Header& h) {
  Mp3VbrHeader vbr;
  const size_t plain = 4 + static_cast<size_t>(h.sideInfoBytes());
  for (const size_t xing : {plain + (h.crc ? 2 : 0), plain}) {
    if (xing + 8 > size ||
        (std::memcmp(frame + xing, "Xing", 4) != 0 && std::memcmp(frame + xing, "Info", 4) != 0))
      continue;
    vbr.present = true;
    const uint32_t flags = BigEndian32(frame + xing + 4);
    size_t at = xing + 8;
    if (flags & 1) {
      if (at + 4 <= size) {
        vbr.frames = BigEndian32(frame + at);
        vbr.hasFrames = vbr.frames > 0;
      }
      at += 4;
    }
    if (flags & 2) at += 4;    // byte count
    if (flags & 4) at += 100;  // seek table
    if (flags & 8) at += 4;    // quality
    // The LAME extension: a 9-byte encoder name, then 12 bytes of settings, then the
    // delay and padding as two 12-bit numbers.
    if (at + 24 <= size && (std::memcmp(frame + at, "LAME", 4) == 0 || std::memcmp(frame + at, "Lavf", 4) == 0 ||
                            std::memcmp(frame + at, "Lavc", 4) == 0)) {
      const uint8_t* d = frame + at + 21;
      vbr.gapless = true;
      vbr.delay = d[0] << 4 | d[1] >> 4;
      vbr.padding = (d[1] & 0x0F) << 8 | d[2];
    }
    return vbr;
  }
  // VBRI sits 32 bytes after the header whatever the mode: tag, version, delay, quality,
  // bytes, frames.
  constexpr size_t kVbri = 4 + 32;
  if (kVbri + 18 <= size && std::memcmp(frame + kVbri, "VBRI", 4) == 0) {
    vbr.present = true;
    vbr.frames = BigEndian32(frame + kVbri + 14);
    vbr.hasFrames = vbr.frames > 0;
  }
  return vbr;
}

int64_t FindMp3Frame(const uint8_t* data, size_t size, size_t from, size_t maxSkip, bool atEnd, int freeBytes,
                     Mp3Header& out) {
  for (size_t pos = from; pos + 4 <= size && pos - from <= maxSkip; ++pos) {
    if (data[pos] != 0xFF) continue;
    Mp3Header h;
    if (!ParseMp3Header(data + pos, h)) continue;
    if (h.freeFormat()) {
      h.freeBytes = freeBytes ? freeBytes : FindFreeFormatBytes(data + pos, size - pos, atEnd);
      if (h.freeBytes == 0 || h.frameBytes() > h.maxFrameBytes()) continue;
    }
    const size_t next = pos + static_cast<size_t>(h.frameBytes());
    bool confirmed = false;
    if (next + 4 <= size) {
      Mp3Header n;
      confirmed = ParseMp3Header(data + next, n) && n.SameStream(h);
    } else {
      // Nothing follows in the data we have: trust a frame that ends exactly at the end.
      confirmed = atEnd && next == size;
    }
    if (confirmed) {
      out = h;
      return static_cast<int64_t>(pos);
    }
  }
  return -1;
}

}  // namespace quillet::formats
