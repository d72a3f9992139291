#include "formats/wav_chooser.h"

#include <algorithm>
#include <cstdlib>

#include "formats/codec.h"
#include "settings/atomic_file.h"

namespace quillet::formats {
namespace {

bool IsWritablePcm(const WaveFormat& f) {
  return f.tag == wave_tag::kPcm && f.channels >= 1 && f.channels <= kMaxWaveChannels && f.rate >= 1 &&
         f.rate <= kMaxWaveRate && f.bits <= 32;
}

WaveFormat Preset(std::uint32_t rate, int channels) {
  return MakePcmFormat(rate >= 1 && rate <= kMaxWaveRate ? rate : 44100, std::clamp(channels, 1, kMaxWaveChannels), 16);
}

WaveFormat FollowDocument(WaveFormat f, std::uint32_t rate, int channels) {
  if (f.tag != wave_tag::kPcm) return f;
  return MakePcmFormat(rate ? rate : f.rate, channels ? channels : f.channels, f.bits ? f.bits : 16);
}

}  // namespace

FormatChooserModel::FormatChooserModel(WaveFormat initial, int channels, std::uint32_t rate, std::string title)
    : initial_(std::move(initial)), title_(std::move(title)), formats_(EncodableFormats(rate, channels)) {}

std::vector<std::uint16_t> FormatChooserModel::Tags() const {
  std::vector<std::uint16_t> tags;
  for (const WaveFormat& f : formats_)
    if (std::find(tags.begin(), tags.end(), f.tag) == tags.end()) tags.push_back(f.tag);
  return tags;
}

std::vector<WaveFormat> FormatChooserModel::FormatsOf(std::uint16_t tag) const {
  std::vector<WaveFormat> out;
  std::copy_if(formats_.begin(), formats_.end(), std::back_inserter(out),
               [tag](const WaveFormat& f) { return f.tag == tag; });
  return out;
}

bool FormatChooserModel::IsUsable(const WaveFormat& f) {
  if (f.tag == wave_tag::kPcm) return IsWritablePcm(f);
  WaveFormat pcm;
  if (SuggestPcm(f, &pcm) != CodecResult::Ok) return false;
  std::unique_ptr<CodecStream> none;
  return CodecStream::Open(&none, pcm, f, kStreamOpenQuery) == CodecResult::Ok ||
         CodecStream::Open(&none, pcm, f, kStreamOpenQuery | kStreamOpenNonRealtime) == CodecResult::Ok;
}

bool ChooseFormat(WaveFormat* format, int channels, std::string_view title, FormatChooserUi& ui) {
  for (;;) {
    const FormatChooserModel model(*format, channels, format->rate, std::string(title));
    std::optional<WaveFormat> chosen = ui.Choose(model);
    if (!chosen) return false;
    if (FormatChooserModel::IsUsable(*chosen) && (channels == 0 || chosen->channels == channels)) {
      *format = std::move(*chosen);
      return true;
    }
    ui.ShowStop(kFormatNotAvailableText, kFormatNotAvailableCaption);
  }
}

std::filesystem::path WavCodecFilePath() {
  std::filesystem::path base;
  if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/')
    base = d;
  else if (const char* h = std::getenv("HOME"); h && *h)
    base = std::filesystem::path(h) / ".local" / "share";
  else
    base = "/tmp";
  return base / "Orvanta" / "Quillet" / kWavCodecFileName;
}

std::optional<WaveFormat> ReadWavCodecFile(const std::filesystem::path& file) {
  std::string bytes;
  if (!settings::ReadWholeFile(file, bytes, kFormatBufferBytes) || bytes.size() < kFormatHeaderBytes)
    return std::nullopt;
  auto f = WaveFormat::FromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // A stored record that could not be written would make every later save fail.
  if (!f || !FormatChooserModel::IsUsable(*f)) return std::nullopt;
  return f;
}

bool WriteWavCodecFile(const std::filesystem::path& file, const WaveFormat& format) {
  std::vector<std::uint8_t> rec = format.ToBytes();
  if (rec.size() > kFormatBufferBytes) return false;
  rec.resize(kFormatBufferBytes, 0);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  return settings::WriteFileAtomically(file, std::string_view(reinterpret_cast<const char*>(rec.data()), rec.size()));
}

bool WaveSaveOptions(std::uint32_t rate, int channels, FormatChooserUi& ui, const std::filesystem::path& wffFile) {
  return WaveSaveOptions(rate, channels, ui, nullptr, wffFile);
}

bool WaveSaveOptions(std::uint32_t rate, int channels, FormatChooserUi& ui, std::optional<WaveFormat>* own,
                     const std::filesystem::path& wffFile) {
  WaveFormat f = own && *own ? FollowDocument(**own, rate, channels) : WaveSaveFormat(rate, channels, true, wffFile);
  if (!ChooseFormat(&f, 0, kWaveSaveOptionsTitle, ui)) return false;
  WriteWavCodecFile(wffFile, f);  // a failed write keeps the old choice, as settings writes do
  if (own) *own = f;
  return true;
}

WaveFormat FollowDocumentFormat(const WaveFormat& own, std::uint32_t rate, int channels) {
  return FollowDocument(own, rate, channels);
}

WaveFormat WaveSaveFormat(std::uint32_t rate, int channels, bool followDocument,
                          const std::filesystem::path& wffFile) {
  const WaveFormat preset = Preset(rate, channels);
  std::optional<WaveFormat> stored = ReadWavCodecFile(wffFile);
  if (!stored) return preset;
  return followDocument ? FollowDocument(*stored, rate, channels) : *stored;
}

}  // namespace quillet::formats
