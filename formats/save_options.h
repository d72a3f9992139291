#pragma once
// The format options of the encoders: each record with its settings section, keys and
// defaults, the choices its dialog offers, and the validation the dialog runs. The
// dialogs themselves are the front end's (SaveOptionsUi); these models are what they
// edit, and what the sink factory reads.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/simple_formats.h"
#include "settings/settings.h"

namespace quillet::formats {

class FormatChooserUi;

// Bit rates of the MP3 dialog, kbit/s.
inline constexpr std::array<int, 16> kMp3BitRates = {8,  16, 24,  32,  40,  48,  56,  64,
                                                     80, 96, 112, 128, 144, 160, 192, 224};
// Bit rates of the Ogg dialog, kbit/s.
inline constexpr std::array<int, 13> kOggBitRates = {32,  40,  48,  56,  64,  80, 96,
                                                     112, 128, 144, 160, 192, 224};
inline constexpr std::array<std::string_view, 4> kMp3ChannelModes = {"Stereo", "Joint", "Force",
                                                                     "Mono"};

inline constexpr std::string_view kMp3Section = "MP3Encoder";
inline constexpr std::string_view kOggSection = "OggEncoder";
inline constexpr std::string_view kFlacSection = "FlacEncoder";
inline constexpr std::string_view kAacSection = "AACEncoder";
inline constexpr std::string_view kAmrSection = "AMREncoder";

struct Mp3EncoderSettings {
  bool constantBitRate = true;
  int cbrBitRate = 128;  // kbit/s
  bool highQuality = true;
  int vbrMinBitRate = 32;   // kbit/s
  int vbrMaxBitRate = 128;  // kbit/s
  int vbrQuality = 4;       // 0 (highest) .. 9
  bool errorProtection = false;
  int channelMode = 1;  // index into kMp3ChannelModes

  // With a top rate of 161 or more the minimum is at least 32.
  static Mp3EncoderSettings Load(const settings::Settings& s);
  void Store(settings::Settings& s) const;
  int topBitRate() const { return constantBitRate ? cbrBitRate : vbrMaxBitRate; }
  int bottomBitRate() const { return constantBitRate ? cbrBitRate : vbrMinBitRate; }
};

struct OggEncoderSettings {
  bool quality = true;  // quality mode rather than bit-rate mode
  int vbrQuality = 4;   // 0 .. 10
  int vbrMinBitRate = 96;
  int vbrMaxBitRate = 128;
  int channels = 2;  // 1 or 2
  bool stripComments = false;

  // A missing "Channels" follows the document (mono only for mono documents): a
  // stereo recording is never folded to mono unless someone chose it.
  static OggEncoderSettings Load(const settings::Settings& s, int documentChannels);
  void Store(settings::Settings& s) const;
};

struct FlacEncoderSettings {
  int compression = 4;  // 0 (fastest) .. 8 (best)
  int channels = 2;     // 1 or 2
  std::uint32_t sampleRate = 44100;

  // FLAC is lossless: a missing "Channels" or "SampleRate" follows the document
  // instead of downmixing and resampling it.
  static FlacEncoderSettings Load(const settings::Settings& s, std::uint32_t documentRate,
                                  int documentChannels);
  void Store(settings::Settings& s) const;
};

struct AacEncoderSettings {
  bool averageBitRate = false;  // ABR rather than VBR
  int abrBitRate = 128;         // kbit/s
  int vbrQuality = 100;         // percent
  bool forceMpeg2 = false;
  bool disableTns = false;

  static AacEncoderSettings Load(const settings::Settings& s);
  void Store(settings::Settings& s) const;
};

inline constexpr std::array<std::string_view, 8> kAmrRateNames = {
    "4.75", "5.15", "5.9", "6.7", "7.4", "7.95", "10.2", "12.2"};
inline constexpr std::array<std::string_view, 8> kAmrModeNames = {
    "MR475", "MR515", "MR59", "MR67", "MR74", "MR795", "MR102", "MR122"};

struct AmrEncoderSettings {
  int modeRateSelection = 4;  // index into kAmrModeNames

  static AmrEncoderSettings Load(const settings::Settings& s);
  void Store(settings::Settings& s) const;
};

// A dialog's refusal: the text of the "Invalid value" box, empty when acceptable.
std::string ValidateMp3(const Mp3EncoderSettings& m);
std::string ValidateOgg(const OggEncoderSettings& o);
std::string ValidateFlac(const FlacEncoderSettings& f);
std::string ValidateAac(const AacEncoderSettings& a);
inline constexpr std::string_view kInvalidValueCaption = "Invalid value";

// The dialogs of the save options (and of opening raw files). Each edits its record
// in place and returns false when cancelled; the caller stores what was accepted.
class SaveOptionsUi {
 public:
  virtual ~SaveOptionsUi() = default;
  virtual bool EditMp3(Mp3EncoderSettings& m) = 0;  // "MP3 Encoder Settings"
  virtual bool EditOgg(OggEncoderSettings& o) = 0;  // "Ogg Encoder Settings"
  virtual bool EditFlac(FlacEncoderSettings& f) = 0;  // "Flac Encoder Settings"
  virtual bool EditAac(AacEncoderSettings& a) = 0;    // "AAC / M4A Encoder Settings"
  virtual bool EditAmr(AmrEncoderSettings& a) = 0;    // "AMR Encoder Settings"
  // "Codec Settings" on the record of section ("RawAudio" or "VoxAudio").
  virtual bool EditRaw(RawSettings& r, std::string_view section) = 0;
  // The WAVE format chooser.
  virtual FormatChooserUi& WaveChooser() = 0;
};

}  // namespace quillet::formats
