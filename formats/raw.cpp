// Headerless audio in one of the seven codings of the codec settings dialog.

#include "formats/raw_file.h"
#include "formats/simple_formats.h"
#include "formats/vox.h"

namespace quillet::formats {
namespace {

// The fixed-width coding of a codec index other than Dialogic ADPCM.
RawCoding CodingOf(int codec) {
  switch (codec) {
    case kRawMuLaw: return RawCoding::MuLaw;
    case kRawALaw: return RawCoding::ALaw;
    case kRawPcm8Unsigned: return RawCoding::U8;
    case kRawPcm8Signed: return RawCoding::S8;
    case kRawPcm16BE: return RawCoding::S16BE;
    default: return RawCoding::S16LE;
  }
}

bool KnownCodec(int codec) { return codec >= 0 && codec < kRawCodecCount; }

}  // namespace

audio::SourceHandle OpenRawSource(std::shared_ptr<platform::ByteSource> bytes, const RawSettings& s) {
  if (!KnownCodec(s.codec)) return audio::MakeNullSource(audio::SoundStatus::Empty);
  const int channels = s.codec == kRawDialogicAdpcm ? 1 : s.channels;
  if (!ValidRateAndChannels(s.sampleRate, channels, nullptr)) return audio::MakeNullSource(audio::SoundStatus::Corrupt);
  if (s.codec == kRawDialogicAdpcm)
    return audio::SourceHandle(audio::MakeRef<LVoxSoundSource>(std::move(bytes), s.sampleRate));
  const std::uint64_t size = bytes->Size();
  return audio::SourceHandle(
      audio::MakeRef<LRawFileSoundSource>(std::move(bytes), CodingOf(s.codec), s.sampleRate, channels, 0, size));
}

audio::SourceHandle OpenRawFile(const std::filesystem::path& file, const RawSettings& s) {
  if (!KnownCodec(s.codec)) return audio::MakeNullSource(audio::SoundStatus::Empty);
  auto bytes = OpenForReading(file, nullptr);
  if (!bytes) return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
  return OpenRawSource(std::move(bytes), s);
}

audio::SourceHandle OpenVoxSource(std::shared_ptr<platform::ByteSource> bytes, const RawSettings& s) {
  return OpenRawSource(std::move(bytes), s);
}

audio::SourceHandle OpenVoxFile(const std::filesystem::path& file, const RawSettings& s) { return OpenRawFile(file, s); }

audio::SinkHandle MakeRawSink(const std::filesystem::path& file, std::uint32_t rate, int channels, int codec) {
  if (!KnownCodec(codec)) return {};
  if (codec == kRawDialogicAdpcm) return MakeDialogicSink(file, rate);
  return audio::SinkHandle(audio::MakeRef<LRawFileSink>(file, rate, channels, CodingOf(codec)));
}

audio::SinkHandle MakeVoxSink(const std::filesystem::path& file, std::uint32_t rate, int channels, int codec) {
  return MakeRawSink(file, rate, channels, codec);
}

}  // namespace quillet::formats
