#include "formats/save_options.h"

#include <algorithm>
#include <array>

namespace quillet::formats {

using core::ParamInfo;
using core::ParamKind;
using core::ParamSet;
using core::ParamTable;

namespace {

constexpr std::int64_t kMp3Rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224};
constexpr std::int64_t kOggRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224};
constexpr std::int64_t kOneOrTwo[] = {1, 2};
constexpr std::string_view kMonoStereo[] = {"Mono", "Stereo"};
// The rates the raw and FLAC dialogs suggest; others may be typed.
constexpr std::int64_t kRateSuggestions[] = {6000,  8000,  11025, 16000, 22050, 32000,
                                             44100, 48000, 64000, 88200, 96000, 196000};

constexpr std::string_view kMp3Qualities[] = {"0 (Highest)", "1", "2", "3", "4",
                                              "5",           "6", "7", "8", "9 (Lowest)"};
constexpr std::string_view kMp3Modes[] = {"Stereo", "Joint", "Force", "Mono"};
constexpr std::string_view kOggQualities[] = {"0 (Lowest)", "1", "2", "3", "4", "5",
                                              "6",          "7", "8", "9", "10 (Highest)"};
constexpr std::string_view kFlacLevels[] = {"0 (fastest)", "1", "2", "3", "4",
                                            "5",           "6", "7", "8 (best)"};
constexpr std::string_view kAmrRates[] = {"4.75", "5.15", "5.9", "6.7", "7.4", "7.95", "10.2", "12.2"};
static_assert(std::size(kAmrRates) == std::size(kAmrModeNames));

constexpr std::string_view kMinAboveMax = "The minimum bit rate must not be above the maximum bit rate.";

// ---- MP3

constexpr ParamInfo kMp3Fields[] = {
    {.name = "CBR", .label = "Constant Bitrate (CBR)", .key = "ConstantBitRate", .kind = ParamKind::Bool,
     .def = 1, .section = kMp3Section},
    {.name = "KBPS", .label = "Bitrate:", .key = "CBRBitRate", .def = 128, .min = 8, .max = 224,
     .unit = "kbps", .section = kMp3Section, .values = kMp3Rates},
    {.name = "HQ", .label = "High quality encoding (slower)", .key = "HighQuality",
     .kind = ParamKind::Bool, .def = 1, .section = kMp3Section},
    {.name = "MIN", .label = "Minimum Bitrate:", .key = "VBRMinBitRate", .def = 32, .min = 8, .max = 224,
     .unit = "kbps", .section = kMp3Section, .values = kMp3Rates},
    {.name = "MAX", .label = "Maximum Bitrate:", .key = "VBRMaxBitRate", .def = 128, .min = 8, .max = 224,
     .unit = "kbps", .section = kMp3Section, .values = kMp3Rates},
    {.name = "QUALITY", .label = "Quality:", .key = "VBRQuality", .kind = ParamKind::Choice, .def = 4,
     .choices = kMp3Qualities, .section = kMp3Section},
    {.name = "MODE", .label = "Stereo Encoding", .key = "ChannelMode", .kind = ParamKind::Choice, .def = 1,
     .choices = kMp3Modes, .section = kMp3Section},
    {.name = "CRC", .label = "Include CRC to detect errors", .key = "ErrorProtection",
     .kind = ParamKind::Bool, .def = 0, .section = kMp3Section},
};

std::string CheckMp3(const ParamSet& v) {
  if (!v.Bool(kMp3Cbr) && v.Int(kMp3VbrMin) > v.Int(kMp3VbrMax)) return std::string(kMinAboveMax);
  return {};
}

// A top rate of 161 or more needs a minimum of at least 32.
void RaiseMp3Minimum(ParamSet& v) {
  if (v.Int(kMp3VbrMax) >= 161 && v.Int(kMp3VbrMin) < 32) v.SetInt(kMp3VbrMin, 32);
}

constexpr ParamTable kMp3Table = {"MP3 Encoder Settings", kMp3Fields, {}, CheckMp3};
constexpr OptionLook kMp3Looks[] = {
    {.widget = OptionWidget::ModeRadios, .offLabel = "Variable Bitrate (VBR)"},
    {.mode = kMp3Cbr},
    {.mode = kMp3Cbr},
    {.mode = kMp3Cbr, .whenOn = false},
    {.mode = kMp3Cbr, .whenOn = false},
    {.mode = kMp3Cbr, .whenOn = false},
    {},
    {},
};

// ---- playlists and feeds: the MP3 encoder's fields with the root URL after them, so
// the MP3 field indices hold for both records.

constexpr auto kPlaylistFields = [] {
  std::array<ParamInfo, std::size(kMp3Fields) + 1> out{};
  for (std::size_t i = 0; i < std::size(kMp3Fields); ++i) out[i] = kMp3Fields[i];
  out.back() = {.name = "URL", .label = "Root URL:", .key = "RootURL", .kind = ParamKind::Text,
                .unit = "the web address the MP3 is found under", .section = kPlaylistSection};
  return out;
}();
static_assert(kPlaylistFields.size() == kPlaylistRootUrl + 1);
constexpr ParamTable kPlaylistTable = {"Playlist File Settings", kPlaylistFields, {}, CheckMp3};
constexpr ParamTable kFeedTable = {"RSS Podcast File Settings", kPlaylistFields, {}, CheckMp3};

// ---- Ogg

constexpr ParamInfo kOggFields[] = {
    {.name = "BYQUALITY", .label = "Quality", .key = "Quality", .kind = ParamKind::Bool, .def = 1,
     .section = kOggSection},
    {.name = "QUALITY", .label = "Quality:", .key = "VBRQuality", .kind = ParamKind::Choice, .def = 4,
     .choices = kOggQualities, .section = kOggSection},
    {.name = "MIN", .label = "Minimum Bitrate:", .key = "VBRMinBitRate", .def = 96, .min = 32, .max = 224,
     .unit = "kbps", .section = kOggSection, .values = kOggRates},
    {.name = "MAX", .label = "Maximum Bitrate:", .key = "VBRMaxBitRate", .def = 128, .min = 32, .max = 224,
     .unit = "kbps", .section = kOggSection, .values = kOggRates},
    {.name = "CHANNELS", .label = "Channels:", .key = "Channels", .def = 1, .min = 1, .max = 2,
     .choices = kMonoStereo, .section = kOggSection, .values = kOneOrTwo},
    {.name = "STRIP", .label = "Discard Comments", .key = "StripComments", .kind = ParamKind::Bool,
     .def = 0, .section = kOggSection},
};

std::string CheckOgg(const ParamSet& v) {
  if (!v.Bool(kOggByQuality) && v.Int(kOggVbrMin) > v.Int(kOggVbrMax)) return std::string(kMinAboveMax);
  return {};
}

constexpr ParamTable kOggTable = {"Ogg Encoder Settings", kOggFields, {}, CheckOgg};
constexpr OptionLook kOggLooks[] = {
    {.widget = OptionWidget::ModeRadios, .offLabel = "Variable Bitrate (VBR)"},
    {.mode = kOggByQuality},
    {.mode = kOggByQuality, .whenOn = false},
    {.mode = kOggByQuality, .whenOn = false},
    {},
    {},
};

// ---- FLAC

constexpr ParamInfo kFlacFields[] = {
    {.name = "LEVEL", .label = "Compression:", .key = "Compression", .kind = ParamKind::Choice, .def = 4,
     .choices = kFlacLevels, .section = kFlacSection},
    {.name = "HZ", .label = "Sample Rate:", .key = "SampleRate", .def = 44100, .min = 1000, .max = 655350,
     .unit = "Hz", .rangeMessage = "The sample rate must be between 1000 and 655350 Hz.",
     .section = kFlacSection},
    {.name = "CHANNELS", .label = "Channels:", .key = "Channels", .def = 1, .min = 1, .max = 2,
     .choices = kMonoStereo, .section = kFlacSection, .values = kOneOrTwo},
};
constexpr ParamTable kFlacTable = {"Flac Encoder Settings", kFlacFields};
constexpr OptionLook kFlacLooks[] = {
    {},
    {.widget = OptionWidget::EditableList, .suggestions = kRateSuggestions},
    {},
};

// ---- AAC / M4A

constexpr ParamInfo kAacFields[] = {
    {.name = "ABR", .label = "Average Bitrate (ABR)", .key = "AverageBitRate", .kind = ParamKind::Bool,
     .def = 0, .section = kAacSection},
    {.name = "KBPS", .label = "Bitrate:", .key = "ABRBitRate", .def = 128, .min = 8, .max = 576,
     .unit = "kbps", .rangeMessage = "The bit rate must be between 8 and 576 kbit/s.",
     .section = kAacSection},
    {.name = "PCT", .label = "Quality:", .key = "VBRQuality", .def = 100, .min = 10, .max = 500,
     .unit = "%", .rangeMessage = "The quality must be between 10 and 500 percent.",
     .section = kAacSection},
    {.name = "MPEG2", .label = "Force MPEG2 Output", .key = "ForceMPEG2", .kind = ParamKind::Bool,
     .def = 0, .section = kAacSection},
    {.name = "NOTNS", .label = "Disable Temporal Noise Shaping", .key = "DisableTNS",
     .kind = ParamKind::Bool, .def = 0, .section = kAacSection},
};
constexpr ParamTable kAacTable = {"AAC / M4A Encoder Settings", kAacFields};
constexpr OptionLook kAacLooks[] = {
    {.widget = OptionWidget::ModeRadios, .offLabel = "Variable Bitrate (VBR)"},
    {.mode = kAacAbr},
    {.mode = kAacAbr, .whenOn = false},
    {},
    {},
};

// ---- AMR

constexpr ParamInfo kAmrFields[] = {
    {.name = "KBPS", .label = "Encoding Bitrate (kbps):", .key = "ModeRateSelection",
     .kind = ParamKind::Choice, .def = 4, .choices = kAmrRates, .section = kAmrSection},
};
constexpr ParamTable kAmrTable = {"AMR Encoder Settings", kAmrFields};
constexpr OptionLook kAmrLooks[] = {{}};

// ---- raw and VOX: one layout, two sections with their own defaults

constexpr std::string_view kRawChannelNames[] = {"1 - Mono", "2 - Stereo"};

constexpr std::array<ParamInfo, 3> RawFields(std::string_view section, std::int64_t codec,
                                             std::int64_t rate) {
  return {{
      {.name = "CODEC", .label = "Format:", .key = "Codec", .kind = ParamKind::Choice, .def = codec,
       .choices = kRawCodecNames, .section = section},
      {.name = "HZ", .label = "Sample:", .key = "SampleRate", .def = rate, .min = 6000, .max = 196000,
       .unit = "Hz", .rangeMessage = "Please enter a sample rate between 6000 and 196000.",
       .section = section},
      {.name = "CHANNELS", .label = "Channels:", .key = "Channels", .def = 1, .min = 1, .max = 2,
       .choices = kRawChannelNames, .section = section, .values = kOneOrTwo},
  }};
}

constexpr auto kRawFields = RawFields(kRawSection, kRawPcm16LE, 44100);
constexpr auto kVoxFields = RawFields(kVoxSection, kRawDialogicAdpcm, 8000);
constexpr ParamTable kRawTable = {"Codec Settings", kRawFields};
constexpr ParamTable kVoxTable = {"Codec Settings", kVoxFields};
constexpr OptionLook kRawLooks[] = {
    {},
    {.widget = OptionWidget::EditableList, .suggestions = kRateSuggestions},
    {},
};

}  // namespace

constexpr OptionRecord kMp3Options = {.dialogName = "LMp3EncodeDlg", .table = &kMp3Table,
                                      .looks = kMp3Looks, .restoreDefaults = true,
                                      .afterLoad = RaiseMp3Minimum};
// Ogg and FLAC take the document's channels (and FLAC its rate) until someone
// chooses otherwise: a stereo recording is never folded to mono, nor a lossless
// save resampled, by a default.
constexpr OptionRecord kOggOptions = {.dialogName = "OggEncodeDlg", .table = &kOggTable,
                                      .looks = kOggLooks, .channelsField = kOggChannels,
                                      .followsDocument = true, .restoreDefaults = true};
constexpr OptionRecord kFlacOptions = {.dialogName = "FlacEncodeDlg", .table = &kFlacTable,
                                       .looks = kFlacLooks, .rateField = kFlacRate,
                                       .channelsField = kFlacChannels, .followsDocument = true,
                                       .restoreDefaults = true};
constexpr OptionRecord kAacOptions = {.dialogName = "LAACEncodeDlg", .table = &kAacTable,
                                      .looks = kAacLooks, .restoreDefaults = true};
constexpr OptionRecord kAmrOptions = {.dialogName = "LAMREncodeDlg", .table = &kAmrTable,
                                      .looks = kAmrLooks};
// The rate message is a stop box with the default title. Like FLAC, a raw file
// nobody chose a layout for keeps the document's rate and channels; VOX keeps its
// telephone defaults.
constexpr OptionRecord kRawOptions = {.dialogName = "LRawDlg", .table = &kRawTable, .looks = kRawLooks,
                                      .rateField = kRawRate, .channelsField = kRawChannels,
                                      .followsDocument = true, .startsFromDocument = true,
                                      .refusalCaption = "Quillet"};
constexpr OptionRecord kPlaylistOptions = {.dialogName = "LPlaylistEncodeDlg", .table = &kPlaylistTable,
                                           .afterLoad = RaiseMp3Minimum, .nested = &kMp3Options,
                                           .nestedButton = "MP3 Settings ..."};
constexpr OptionRecord kFeedOptions = {.dialogName = "LPlaylistEncodeDlg", .table = &kFeedTable,
                                       .afterLoad = RaiseMp3Minimum, .nested = &kMp3Options,
                                       .nestedButton = "MP3 Settings ..."};
constexpr OptionRecord kVoxOptions = {.dialogName = "LRawDlg", .table = &kVoxTable, .looks = kRawLooks,
                                      .rateField = kRawRate, .channelsField = kRawChannels,
                                      .startsFromDocument = true, .refusalCaption = "Quillet"};

namespace {

// The document's value for a field, within what the field takes.
std::int64_t Fit(const ParamInfo& f, std::int64_t value) {
  if (!f.values.empty() && std::find(f.values.begin(), f.values.end(), value) == f.values.end())
    return f.values.back();  // a 6-channel document is saved as stereo
  return std::clamp(value, f.min, f.max);
}

}  // namespace

ParamSet LoadOptions(const OptionRecord& record, const settings::Settings& s, std::uint32_t rate,
                     int channels, std::vector<std::string>* notices) {
  ParamSet v(*record.table);
  if (record.followsDocument) {
    for (auto [field, value] : {std::pair{record.rateField, std::int64_t(rate)},
                                std::pair{record.channelsField, std::int64_t(channels)}})
      if (field >= 0 && value > 0) v.SetDefault(std::size_t(field), Fit(v.field(std::size_t(field)), value));
  }
  v.Load(s, notices);
  if (record.afterLoad) record.afterLoad(v);
  return v;
}

void StartFromDocument(const OptionRecord& record, ParamSet& values, std::uint32_t rate, int channels) {
  if (!record.startsFromDocument) return;
  for (auto [field, value] : {std::pair{record.rateField, std::int64_t(rate)},
                              std::pair{record.channelsField, std::int64_t(channels)}})
    if (field >= 0 && value > 0) values.SetInt(std::size_t(field), Fit(values.field(std::size_t(field)), value));
}

int Mp3TopBitRate(const ParamSet& m) {
  return int(m.Bool(kMp3Cbr) ? m.Int(kMp3CbrRate) : m.Int(kMp3VbrMax));
}

int Mp3BottomBitRate(const ParamSet& m) {
  return int(m.Bool(kMp3Cbr) ? m.Int(kMp3CbrRate) : m.Int(kMp3VbrMin));
}

RawSettings RawFromOptions(const ParamSet& v) {
  return {std::int32_t(v.Int(kRawRate)), int(v.Int(kRawChannels)), int(v.Int(kRawCodec))};
}

}  // namespace quillet::formats
