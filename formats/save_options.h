#pragma once
// The options a save asks for (and a raw open), one field table per record: MP3, Ogg,
// FLAC, AAC/M4A, AMR, raw and VOX. Each table gives the stored keys, defaults, ranges
// and the dialog's labels in field order; loading, storing, checking and drawing all
// go through it, so a key is written once. The encoders read the loaded values by
// field index.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/params.h"
#include "formats/simple_formats.h"
#include "settings/settings.h"

namespace quillet::formats {

class FormatChooserUi;

inline constexpr std::string_view kMp3Section = "MP3Encoder";
inline constexpr std::string_view kOggSection = "OggEncoder";
inline constexpr std::string_view kFlacSection = "FlacEncoder";
inline constexpr std::string_view kAacSection = "AACEncoder";
inline constexpr std::string_view kAmrSection = "AMREncoder";
inline constexpr std::string_view kRawSection = "RawAudio";
inline constexpr std::string_view kVoxSection = "VoxAudio";

// How the options dialog draws a field beyond what its kind says.
enum class OptionWidget : std::uint8_t {
  Auto,          // Bool: check box; Choice or listed Int: a list; Int: a number box
  ModeRadios,    // a Bool as two radio buttons, each heading the fields it enables
  EditableList,  // an Int typed or picked from suggestions
};

struct OptionLook {
  OptionWidget widget = OptionWidget::Auto;
  // ModeRadios: the off button's text; it goes before the first field it enables
  // (the label is the on button's).
  std::string_view offLabel;
  // The ModeRadios field that enables this one, and in which state; -1: always.
  int mode = -1;
  bool whenOn = true;
  std::span<const std::int64_t> suggestions;  // EditableList
};

// One record: its table, how its dialog looks, and how it meets the document.
struct OptionRecord {
  std::string_view dialogName;  // the dialog's resource name ("LMp3EncodeDlg")
  const core::ParamTable* table = nullptr;
  std::span<const OptionLook> looks;  // one per field of table
  // The fields holding a rate and a channel count (-1: none). With followsDocument
  // they take the document's when nothing is stored; with startsFromDocument the
  // dialog shows the document's whatever is stored (raw and VOX).
  int rateField = -1;
  int channelsField = -1;
  bool followsDocument = false;
  bool startsFromDocument = false;
  bool restoreDefaults = false;  // the dialog offers "Restore Defaults"
  std::string_view refusalCaption = "Invalid value";
  void (*afterLoad)(core::ParamSet& values) = nullptr;  // a rule across stored values
  // The leading fields that are another record's (the playlist's MP3 fields): its own
  // dialog edits them behind the button nestedButton; this dialog draws the rest.
  const OptionRecord* nested = nullptr;
  std::string_view nestedButton;
};

extern const OptionRecord kMp3Options;   // "MP3 Encoder Settings"
extern const OptionRecord kOggOptions;   // "Ogg Encoder Settings"
extern const OptionRecord kFlacOptions;  // "Flac Encoder Settings"
extern const OptionRecord kAacOptions;   // "AAC / M4A Encoder Settings"
extern const OptionRecord kAmrOptions;   // "AMR Encoder Settings"
extern const OptionRecord kRawOptions;   // "Codec Settings" on "RawAudio"
extern const OptionRecord kVoxOptions;   // "Codec Settings" on "VoxAudio"
// The playlist and feed rows: the MP3 fields, then "RootURL" on "RSSEncode"; one
// dialog under two titles.
extern const OptionRecord kPlaylistOptions;  // "Playlist File Settings"
extern const OptionRecord kFeedOptions;      // "RSS Podcast File Settings"
inline constexpr std::string_view kPlaylistSection = "RSSEncode";

// Field indices, in dialog order.
enum Mp3Field : std::size_t {
  kMp3Cbr, kMp3CbrRate, kMp3HighQuality, kMp3VbrMin, kMp3VbrMax, kMp3VbrQuality,
  kMp3ChannelMode, kMp3Crc,
  kPlaylistRootUrl,  // the playlist record's last field
};
enum OggField : std::size_t {
  kOggByQuality, kOggQuality, kOggVbrMin, kOggVbrMax, kOggChannels, kOggStripComments,
};
enum FlacField : std::size_t { kFlacCompression, kFlacRate, kFlacChannels };
enum AacField : std::size_t { kAacAbr, kAacAbrRate, kAacQuality, kAacMpeg2, kAacNoTns };
enum AmrField : std::size_t { kAmrMode };
enum RawField : std::size_t { kRawCodec, kRawRate, kRawChannels };

inline constexpr std::string_view kAmrModeNames[] = {"MR475", "MR515", "MR59", "MR67",
                                                     "MR74",  "MR795", "MR102", "MR122"};

// The record's values for a document of rate and channels (0: unknown), from the
// stored ones over the defaults. A stored value that is not a number or not offered
// falls back to the default and adds a line to *notices.
core::ParamSet LoadOptions(const OptionRecord& record, const settings::Settings& s,
                           std::uint32_t rate = 0, int channels = 0,
                           std::vector<std::string>* notices = nullptr);

// The dialog's starting values: the document's rate and channels over the stored
// ones when the record starts from the document.
void StartFromDocument(const OptionRecord& record, core::ParamSet& values, std::uint32_t rate,
                       int channels);

// MP3: the top and bottom bit rates of the chosen mode, kbit/s.
int Mp3TopBitRate(const core::ParamSet& m);
int Mp3BottomBitRate(const core::ParamSet& m);
// The raw reader's and writer's layout from a raw or VOX record.
RawSettings RawFromOptions(const core::ParamSet& values);

// The dialogs of the save options (and of opening raw files), answered by the front
// end. EditOptions shows the record's dialog over values, with note (when not empty)
// as a line of its own; on OK values holds what was accepted (already checked), on
// cancel it is unchanged and the answer is false.
class SaveOptionsUi {
 public:
  virtual ~SaveOptionsUi() = default;
  virtual bool EditOptions(const OptionRecord& record, core::ParamSet& values,
                           const std::string& note = {}) = 0;
  // The WAVE format chooser.
  virtual FormatChooserUi& WaveChooser() = 0;
};

}  // namespace quillet::formats
