#pragma once
// The formats besides WAVE that we read and write ourselves: AIFF, Sun AU, headerless
// raw audio in seven codings (Dialogic ADPCM, G.711 u-law and A-law, 16-bit PCM in
// either byte order, 8-bit unsigned and signed), Dialogic VOX, and GSM 06.10 files.
// Readers never return null: a failed open is an LNullSoundSource whose status says
// why (CannotOpen, Corrupt, CodecMissing for an unsupported AIFF sample size or AU
// encoding). Writers go through a temporary file that replaces the target only when
// Finish succeeds; a failed sink carries the reason in failureMessage().

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/sound.h"
#include "formats/parse_log.h"
#include "platform/byte_source.h"

namespace quillet::formats {

// Indices of the raw codec list (the order of the codec settings dialog).
enum RawCodec : int {
  kRawDialogicAdpcm = 0,  // always one channel
  kRawMuLaw = 1,
  kRawALaw = 2,
  kRawPcm16LE = 3,
  kRawPcm8Unsigned = 4,
  kRawPcm8Signed = 5,
  kRawPcm16BE = 6,
};
inline constexpr int kRawCodecCount = 7;

// How a headerless file is to be read or written.
struct RawSettings {
  std::int32_t sampleRate = 44100;
  int channels = 1;
  int codec = kRawPcm16LE;  // index into kRawCodecNames
};
// The defaults of a ".vox" file: 8000 Hz mono Dialogic ADPCM.
inline constexpr RawSettings kVoxDefaults{8000, 1, kRawDialogicAdpcm};

// The raw codec list, in the words of the codec settings dialog.
inline constexpr std::string_view kRawCodecNames[kRawCodecCount] = {
    "Dialogic ADPCM", "G711 uLaw", "G711 aLaw", "16 bit PCM (LE)",
    "8 bit unsigned", "8 bit signed", "16 bit PCM (BE)"};

// Readers. The ByteSource forms are for tests and fuzzing; a log receives what was
// corrected or refused.
audio::SourceHandle OpenAiffFile(const std::filesystem::path& file, ParseLog* log = nullptr);
audio::SourceHandle OpenAiffSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log = nullptr);
audio::SourceHandle OpenAuFile(const std::filesystem::path& file, ParseLog* log = nullptr);
audio::SourceHandle OpenAuSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log = nullptr);
audio::SourceHandle OpenGsmFile(const std::filesystem::path& file);
audio::SourceHandle OpenGsmSource(std::shared_ptr<platform::ByteSource> bytes);
// A codec index outside the list gives an empty source (status Empty); a rate outside
// 1..196000 or channels outside 1..255 give status Corrupt. Dialogic ADPCM is mono
// whatever s.channels says.
audio::SourceHandle OpenRawFile(const std::filesystem::path& file, const RawSettings& s);
audio::SourceHandle OpenRawSource(std::shared_ptr<platform::ByteSource> bytes, const RawSettings& s);
// A ".vox" file: the raw reader with the VOX record (kVoxDefaults unless stored otherwise).
audio::SourceHandle OpenVoxFile(const std::filesystem::path& file, const RawSettings& s = kVoxDefaults);
audio::SourceHandle OpenVoxSource(std::shared_ptr<platform::ByteSource> bytes,
                                  const RawSettings& s = kVoxDefaults);

// Writers: 16-bit big-endian AIFF and AU at the given rate and channels; GSM always
// writes 8000 Hz mono (its sink says so, and the transfer converts to that).
audio::SinkHandle MakeAiffSink(const std::filesystem::path& file, std::uint32_t rate, int channels);
audio::SinkHandle MakeAuSink(const std::filesystem::path& file, std::uint32_t rate, int channels);
audio::SinkHandle MakeGsmSink(const std::filesystem::path& file, std::uint32_t rate = 8000, int channels = 1);
// Bare samples in the coding of the codec index; null for an index outside the list.
// Dialogic ADPCM is written mono.
audio::SinkHandle MakeRawSink(const std::filesystem::path& file, std::uint32_t rate, int channels, int codec);
audio::SinkHandle MakeVoxSink(const std::filesystem::path& file, std::uint32_t rate, int channels,
                              int codec = kRawDialogicAdpcm);

}  // namespace quillet::formats
