// Headerless audio in one of the seven codings of the codec settings dialog, and the
// dialog's model.
#include <array>

#include "formats/raw_file.h"
#include "formats/simple_formats.h"
#include "formats/vox.h"
#include "settings/settings.h"

namespace quillet::formats {
namespace {

constexpr std::array<std::string_view, kRawCodecCount> kCodecNames = {
    "Dialogic ADPCM", "G711 uLaw", "G711 aLaw", "16 bit PCM (LE)", "8 bit unsigned", "8 bit signed", "16 bit PCM (BE)"};

constexpr std::array<std::string_view, 12> kRateChoices = {"6000",  "8000",  "11025", "16000", "22050", "32000",
                                                          "44100", "48000", "64000", "88200", "96000", "196000"};
constexpr std::array<std::string_view, 2> kChannelChoices = {"1 - Mono", "2 - Stereo"};

constexpr std::int64_t kDialogMinRate = 6000;
constexpr std::int64_t kDialogMaxRate = 196000;

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

std::span<const std::string_view> RawCodecNames() { return kCodecNames; }
std::span<const std::string_view> RawSampleRateChoices() { return kRateChoices; }
std::span<const std::string_view> RawChannelChoices() { return kChannelChoices; }

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

std::optional<std::string> CheckRawSampleRate(std::int64_t rate) {
  if (rate >= kDialogMinRate && rate <= kDialogMaxRate) return std::nullopt;
  return std::string("Please enter a sample rate between 6000 and 196000.");
}

RawSettings LoadRawSettings(const settings::Settings& store, std::string_view section) {
  const RawSettings def = section == kVoxSection ? kVoxDefaults : RawSettings{};
  RawSettings s;
  s.sampleRate = store.GetInt(section, "SampleRate", def.sampleRate);
  s.channels = store.GetInt(section, "Channels", def.channels);
  if (s.channels == 0) s.channels = 1;
  s.codec = store.GetInt(section, "Codec", def.codec);
  return s;
}

void StoreRawSettings(settings::Settings& store, std::string_view section, const RawSettings& s) {
  store.SetInt(section, "SampleRate", s.sampleRate);
  store.SetInt(section, "Channels", s.channels == 0 ? 1 : s.channels);
  store.SetInt(section, "Codec", s.codec);
}

}  // namespace quillet::formats
