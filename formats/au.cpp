// Sun AU (also NeXT ".snd"): a 24-byte big-endian header (".snd", data offset, data
// size, encoding, rate, channels), samples from the data offset on. We read linear PCM
// of 8 to 32 bits, floating point and G.711; the ADPCM encodings are left to a decoder
// program (status CodecMissing).
#include <cstring>

#include "formats/raw_file.h"
#include "formats/simple_formats.h"

namespace quillet::formats {
namespace {

using audio::SoundStatus;
using platform::LoadBE32;

constexpr std::uint32_t kAuHeaderBytes = 24;
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

std::vector<std::uint8_t> AuHeader(int channels, std::uint32_t rate, bool final, std::uint64_t dataBytes) {
  std::vector<std::uint8_t> h(kAuHeaderBytes);
  std::memcpy(h.data(), ".snd", 4);
  platform::StoreBE32(h.data() + 4, kAuHeaderBytes);
  // A size that does not fit stays "unknown", which readers take as "to the end".
  platform::StoreBE32(h.data() + 8, final && dataBytes < kUnknownSize ? static_cast<std::uint32_t>(dataBytes) : kUnknownSize);
  platform::StoreBE32(h.data() + 12, 3);  // 16-bit linear PCM
  platform::StoreBE32(h.data() + 16, rate);
  platform::StoreBE32(h.data() + 20, static_cast<std::uint32_t>(channels));
  return h;
}

}  // namespace

audio::SourceHandle OpenAuSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log) {
  unsigned char h[kAuHeaderBytes];
  if (!bytes->ReadExact(0, h, kAuHeaderBytes)) return Refuse(SoundStatus::Corrupt, log, "AU header cut short");
  if (std::memcmp(h, ".snd", 4) != 0) return Refuse(SoundStatus::Corrupt, log, "no .snd magic");
  std::uint64_t offset = LoadBE32(h + 4);
  const std::uint32_t size = LoadBE32(h + 8);
  const std::uint32_t encoding = LoadBE32(h + 12);
  const std::uint32_t rate = LoadBE32(h + 16);
  const std::uint32_t channels = LoadBE32(h + 20);
  if (offset < kAuHeaderBytes) {
    if (log) log->Add("data offset : " + std::to_string(offset) + " (should be at least 24)");
    offset = kAuHeaderBytes;
  }
  if (offset > bytes->Size()) return Refuse(SoundStatus::Corrupt, log, "data offset " + std::to_string(offset) + " past the end of the file");
  if (!ValidRateAndChannels(rate, channels, log)) return audio::MakeNullSource(SoundStatus::Corrupt);
  RawCoding coding;
  switch (encoding) {
    case 1: coding = RawCoding::MuLaw; break;
    case 2: coding = RawCoding::S8; break;
    case 3: coding = RawCoding::S16BE; break;
    case 4: coding = RawCoding::S24BE; break;
    case 5: coding = RawCoding::S32BE; break;
    case 6: coding = RawCoding::F32BE; break;
    case 7: coding = RawCoding::F64BE; break;
    case 27: coding = RawCoding::ALaw; break;
    default:
      return Refuse(SoundStatus::CodecMissing, log, "AU encoding " + std::to_string(encoding) + " is not supported");
  }
  const std::uint64_t dataBytes = ClampDataBytes(bytes->Size(), offset, size, log, "data size");
  return audio::SourceHandle(audio::MakeRef<LRawFileSoundSource>(std::move(bytes), coding, static_cast<std::int32_t>(rate),
                                                                 static_cast<int>(channels), offset, dataBytes));
}

audio::SourceHandle OpenAuFile(const std::filesystem::path& file, ParseLog* log) {
  auto bytes = OpenForReading(file, log);
  if (!bytes) return audio::MakeNullSource(SoundStatus::CannotOpen);
  return OpenAuSource(std::move(bytes), log);
}

audio::SinkHandle MakeAuSink(const std::filesystem::path& file, std::uint32_t rate, int channels) {
  const int ch = channels < 1 || channels > audio::kMaxChannels ? 1 : channels;
  return audio::SinkHandle(audio::MakeRef<LRawFileSink>(
      file, rate, channels, RawCoding::S16BE,
      [ch, rate](bool final, std::uint64_t dataBytes) { return AuHeader(ch, rate, final, dataBytes); }));
}

}  // namespace quillet::formats
