// Apple AIFF: big-endian chunks in a "FORM" of type "AIFF" or "AIFC". We read PCM of
// 1 to 32 bits in either byte order, floating point and G.711 (the compression types
// of AIFF-C that are not compressions), and write 16-bit AIFF. Other compressions
// are left to a decoder program (status CodecMissing).
#include <cstring>
#include <optional>
#include <string_view>

#include "formats/raw_file.h"
#include "formats/simple_formats.h"

namespace quillet::formats {
namespace {

using audio::SoundStatus;
using platform::LoadBE16;
using platform::LoadBE32;

constexpr std::size_t kAiffHeaderBytes = 54;
constexpr int kMaxChunks = 100000;

bool PlausibleId(const unsigned char* id) {
  for (int i = 0; i < 4; ++i)
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  return true;
}

// The 80-bit extended rate, rounded to an integer; -1 when it is not a positive
// number below 2^31.
std::int64_t DecodeExtendedRate(const unsigned char* p) {
  if (p[0] & 0x80) return -1;
  const int exponent = ((p[0] & 0x7F) << 8 | p[1]) - 16383;
  std::uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa = mantissa << 8 | p[2 + i];
  if (mantissa == 0 || exponent < 0 || exponent > 30) return -1;
  const int shift = 63 - exponent;
  const std::uint64_t whole = mantissa >> shift;
  const bool roundUp = (mantissa >> (shift - 1)) & 1;
  return static_cast<std::int64_t>(whole + (roundUp ? 1 : 0));
}

void EncodeExtendedRate(std::uint32_t rate, unsigned char* p) {
  int top = 31;
  while (top > 0 && !(rate >> top & 1)) --top;
  platform::StoreBE16(p, static_cast<std::uint16_t>(16383 + top));
  const std::uint64_t mantissa = std::uint64_t{rate} << (63 - top);
  platform::StoreBE32(p + 2, static_cast<std::uint32_t>(mantissa >> 32));
  platform::StoreBE32(p + 6, static_cast<std::uint32_t>(mantissa));
}

struct AiffLayout {
  int channels = 0, bits = 0;
  std::int64_t rate = 0;
  std::uint64_t dataOffset = 0, dataBytes = 0;
  bool aifc = false;
  char compression[5] = "NONE";
};

// Big-endian integer PCM of a sample size; samples narrower than their bytes are
// left-justified, so reading the whole bytes gives them at full scale.
std::optional<RawCoding> PcmOfSize(int bits, bool littleEndian) {
  if (bits < 1 || bits > 32) return std::nullopt;
  if (bits <= 8) return RawCoding::S8;
  if (bits <= 16) return littleEndian ? RawCoding::S16LE : RawCoding::S16BE;
  if (bits <= 24) return littleEndian ? RawCoding::S24LE : RawCoding::S24BE;
  return littleEndian ? RawCoding::S32LE : RawCoding::S32BE;
}

// The coding of a layout; nullopt for a compression we do not decode.
std::optional<RawCoding> CodingOf(const AiffLayout& l) {
  const std::string_view c(l.compression, 4);
  if (!l.aifc || c == "NONE" || c == "twos") return PcmOfSize(l.bits, false);
  if (c == "sowt") return PcmOfSize(l.bits, true);
  if (c == "in24") return RawCoding::S24BE;
  if (c == "in32") return RawCoding::S32BE;
  if (c == "fl32" || c == "FL32") return RawCoding::F32BE;
  if (c == "fl64" || c == "FL64") return RawCoding::F64BE;
  if (c == "raw ") return RawCoding::U8;
  if (c == "ulaw" || c == "ULAW") return RawCoding::MuLaw;
  if (c == "alaw" || c == "ALAW") return RawCoding::ALaw;
  return std::nullopt;
}

SoundStatus ParseAiff(platform::ByteSource& bytes, AiffLayout* out, ParseLog* log) {
  auto refuse = [log](std::string why) {
    if (log) log->Add(std::move(why));
    return SoundStatus::Corrupt;
  };
  unsigned char form[12];
  if (!bytes.ReadExact(0, form, 12) || std::memcmp(form, "FORM", 4) != 0) return refuse("no FORM header");
  out->aifc = std::memcmp(form + 8, "AIFC", 4) == 0;
  if (!out->aifc && std::memcmp(form + 8, "AIFF", 4) != 0) return refuse("FORM is not of type AIFF or AIFC");

  const std::uint64_t fileSize = bytes.Size();
  bool haveComm = false, haveSound = false;
  std::uint64_t pos = 12;
  for (int chunks = 0; !(haveComm && haveSound); ++chunks) {
    // Real files hold a handful of chunks; a run of empty ones is garbage to stop at.
    if (chunks == kMaxChunks) return refuse("more than " + std::to_string(kMaxChunks) + " chunks");
    unsigned char h[8];
    if (!bytes.ReadExact(pos, h, 8)) break;
    const std::uint32_t size = LoadBE32(h + 4);
    const std::uint64_t body = pos + 8;
    if (std::memcmp(h, "COMM", 4) == 0) {
      unsigned char c[18];
      if (size < 18 || !bytes.ReadExact(body, c, 18)) return refuse("COMM chunk of " + std::to_string(size) + " bytes");
      out->channels = LoadBE16(c);
      out->bits = LoadBE16(c + 6);
      out->rate = DecodeExtendedRate(c + 8);
      if (out->aifc) {
        // The compression type follows the plain COMM fields.
        unsigned char type[4];
        if (size < 22 || !bytes.ReadExact(body + 18, type, 4))
          return refuse("AIFC COMM chunk of " + std::to_string(size) + " bytes has no compression type");
        std::memcpy(out->compression, type, 4);
      }
      haveComm = true;
    } else if (std::memcmp(h, "SSND", 4) == 0) {
      unsigned char s[8] = {};
      bytes.ReadExact(body, s, 8);
      // The offset field says where the samples start inside the chunk.
      const std::uint64_t offset = std::min<std::uint64_t>(LoadBE32(s), 0xFFFFFFFFull);
      out->dataOffset = body + 8 + offset;
      const std::uint32_t stated = size == 0xFFFFFFFF ? size : size < 8 + offset ? 0 : static_cast<std::uint32_t>(size - 8 - offset);
      out->dataBytes = ClampDataBytes(fileSize, out->dataOffset, stated, log, "SSND");
      haveSound = true;
      if (size == 0xFFFFFFFF) break;  // an unfinished file: nothing follows the samples
    }
    // Chunks are padded to even sizes; some writers forget the pad byte.
    std::uint64_t next = body + size;
    if (size & 1) {
      unsigned char id[4];
      const bool paddedOk = bytes.ReadExact(next + 1, id, 4) && PlausibleId(id);
      const bool unpaddedOk = bytes.ReadExact(next, id, 4) && PlausibleId(id);
      if (paddedOk || !unpaddedOk) ++next;
      else if (log) log->Add("chunk of odd size " + std::to_string(size) + " without its pad byte");
    }
    if (next > fileSize) break;
    pos = next;
  }
  if (!haveComm) return refuse("no COMM chunk");
  if (!haveSound) return refuse("no SSND chunk");
  if (!ValidRateAndChannels(out->rate, out->channels, log)) return SoundStatus::Corrupt;
  if (out->bits < 1 && !(out->aifc && CodingOf(*out))) return refuse("sample size 0");
  if (!CodingOf(*out)) {
    if (log)
      log->Add(out->aifc ? "AIFF-C compression '" + std::string(out->compression, 4) + "' is not supported"
                         : "sample size " + std::to_string(out->bits) + " bits is not supported (1 to 32)");
    return SoundStatus::CodecMissing;
  }
  return SoundStatus::Ready;
}

std::vector<std::uint8_t> AiffHeader(int channels, std::uint32_t rate, bool final, std::uint64_t dataBytes) {
  std::vector<std::uint8_t> h(kAiffHeaderBytes);
  unsigned char* p = h.data();
  const auto data = static_cast<std::uint32_t>(dataBytes);
  std::memcpy(p, "FORM", 4);
  platform::StoreBE32(p + 4, final ? data + 46 : 46);
  std::memcpy(p + 8, "AIFFCOMM", 8);
  platform::StoreBE32(p + 16, 18);
  platform::StoreBE16(p + 20, static_cast<std::uint16_t>(channels));
  platform::StoreBE32(p + 22, final ? static_cast<std::uint32_t>(dataBytes / (2 * static_cast<std::uint64_t>(channels))) : 0);
  platform::StoreBE16(p + 26, 16);
  EncodeExtendedRate(rate, p + 28);
  std::memcpy(p + 38, "SSND", 4);
  platform::StoreBE32(p + 42, final ? data + 8 : 0xFFFFFFFF);
  // Offset and block size stay 0.
  return h;
}

}  // namespace

audio::SourceHandle OpenAiffSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log) {
  AiffLayout l;
  const SoundStatus st = ParseAiff(*bytes, &l, log);
  if (st != SoundStatus::Ready) return audio::MakeNullSource(st);
  const RawCoding coding = *CodingOf(l);
  return audio::SourceHandle(audio::MakeRef<LRawFileSoundSource>(std::move(bytes), coding, static_cast<std::int32_t>(l.rate),
                                                                 l.channels, l.dataOffset, l.dataBytes));
}

audio::SourceHandle OpenAiffFile(const std::filesystem::path& file, ParseLog* log) {
  auto bytes = OpenForReading(file, log);
  if (!bytes) return audio::MakeNullSource(SoundStatus::CannotOpen);
  return OpenAiffSource(std::move(bytes), log);
}

audio::SinkHandle MakeAiffSink(const std::filesystem::path& file, std::uint32_t rate, int channels) {
  const int ch = channels < 1 || channels > audio::kMaxChannels ? 1 : channels;
  // FORM's size field holds the data plus 46 bytes; 16-bit frames keep the data even.
  const std::uint64_t frameBytes = 2 * static_cast<std::uint64_t>(ch);
  const std::uint64_t maxData = (0xFFFFFFFFull - 46) / frameBytes * frameBytes;
  return audio::SinkHandle(audio::MakeRef<LRawFileSink>(
      file, rate, channels, RawCoding::S16BE,
      [ch, rate](bool final, std::uint64_t dataBytes) { return AiffHeader(ch, rate, final, dataBytes); }, maxData));
}

}  // namespace quillet::formats
