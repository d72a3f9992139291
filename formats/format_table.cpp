#include "formats/format_table.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/simple_formats.h"
#include "formats/wav_chooser.h"
#include "formats/mp3_decoder.h"
#include "formats/mp3_source.h"
#include "formats/playlist.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/paths.h"

namespace quillet::formats {
namespace {

using Path = std::filesystem::path;
using core::ParamSet;

// ---- readers of our own

audio::SourceHandle ReadWave(const Path& f, const ParamSet*) { return OpenWaveFile(f); }
audio::SourceHandle ReadMp3(const Path& f, const ParamSet*) { return OpenMp3Source(f); }
audio::SourceHandle ReadAiff(const Path& f, const ParamSet*) { return OpenAiffFile(f); }
audio::SourceHandle ReadAu(const Path& f, const ParamSet*) { return OpenAuFile(f); }
audio::SourceHandle ReadGsm(const Path& f, const ParamSet*) { return OpenGsmFile(f); }
audio::SourceHandle ReadVox(const Path& f, const ParamSet* o) {
  return o ? OpenVoxFile(f, RawFromOptions(*o)) : OpenVoxFile(f);
}
audio::SourceHandle ReadRaw(const Path& f, const ParamSet* o) {
  return OpenRawFile(f, o ? RawFromOptions(*o) : RawSettings{});
}

// ---- writers

audio::SinkHandle WriteWave(const SinkRequest& r) {
  // A PCM file saved back without a stored choice keeps its depth.
  if (r.documentWave)
    return MakeWaveFormatSink(r.file, FollowDocumentFormat(*r.documentWave, r.rate, r.channels), r.finishing);
  const int bits = r.sourceBits;
  if (!ReadWavCodecFile(WavCodecFilePath()) && (bits == 8 || bits == 24 || bits == 32))
    return MakeWaveFormatSink(r.file, MakePcmFormat(r.rate, r.channels, bits), r.finishing);
  return MakeWaveFormatSink(r.file, WaveSaveFormat(r.rate, r.channels, /*followDocument=*/true),
                            r.finishing);
}
audio::SinkHandle WriteAu(const SinkRequest& r) { return MakeAuSink(r.file, r.rate, r.channels); }
audio::SinkHandle WriteAiff(const SinkRequest& r) { return MakeAiffSink(r.file, r.rate, r.channels); }
audio::SinkHandle WriteGsm(const SinkRequest& r) { return MakeGsmSink(r.file); }
audio::SinkHandle WriteVox(const SinkRequest& r) {
  const RawSettings s = RawFromOptions(*r.options);
  return MakeVoxSink(r.file, std::uint32_t(s.sampleRate), s.channels, s.codec);
}
audio::SinkHandle WriteRaw(const SinkRequest& r) {
  const RawSettings s = RawFromOptions(*r.options);
  return MakeRawSink(r.file, std::uint32_t(s.sampleRate), s.channels, s.codec);
}
audio::SinkHandle WriteMp3(const SinkRequest& r) {
  return MakeEncoderSink(
      r.file, [&](const std::string& out) { return Mp3EncodePlan(*r.options, r.program, r.rate, r.channels, out); },
      r.finishing);
}
audio::SinkHandle WriteOgg(const SinkRequest& r) {
  return MakeEncoderSink(
      r.file, [&](const std::string& out) { return OggEncodePlan(*r.options, r.program, r.rate, r.channels, out); },
      r.finishing);
}
audio::SinkHandle WriteFlac(const SinkRequest& r) {
  return MakeEncoderSink(
      r.file, [&](const std::string& out) { return FlacEncodePlan(*r.options, r.program, r.channels, r.sourceBits, out); },
      r.finishing);
}
audio::SinkHandle WriteAac(const SinkRequest& r) {
  return MakeEncoderSink(
      r.file, [&](const std::string& out) { return AacEncodePlan(*r.options, r.program, r.rate, r.channels, out); },
      r.finishing);
}

template <PlaylistKind K>
audio::SinkHandle WritePlaylist(const SinkRequest& r) { return MakePlaylistSink(r, K); }
// A list is no sound: opening one says so rather than guessing.
audio::SourceHandle ReadPlaylist(const Path&, const ParamSet*) {
  return audio::MakeNullSource(audio::SoundStatus::Corrupt);
}
template <PlaylistKind K>
constexpr FormatRow PlaylistRow(std::string_view ext, std::string_view filter, int order) {
  return {.extension = ext, .readerName = "playlist", .open = ReadPlaylist, .inOpenFilter = false,
          .makeSink = WritePlaylist<K>, .encoder = Component::Mp3Enc,
          .options = K == PlaylistKind::Rss ? &kFeedOptions : &kPlaylistOptions,
          .saveFilter = filter, .saveOrder = order, .maxChannels = 2};
}

// ---- what a failed decode says

constexpr std::string_view kUnsupported =
    "Cannot open the file \"%s\". This means that either the file format is not supported by this program "
    "or that a required codec or plugin is not installed. Please see "
    "https://www.orvanta.com/quillet/formats for more information.";
constexpr std::string_view kProtected =
    "Cannot open file \"%s\". It is possible that the file does not exist, it is corrupt or the file is "
    "protected with Digital Rights Management (DRM) which limits the recording to limited players.";
constexpr std::string_view kSonyCodec =
    "Cannot open the file \"%s\" because the codec is not installed. Please download the Sony codec "
    "following the links from https://www.orvanta.com/quillet/codecs";
constexpr std::string_view kRealAudioQuestion =
    "Saving in real audio file format is not supported. Do you want to save in another format "
    "(wav, mp3, gsm, vox) instead?";

constexpr FormatRow Decoded(std::string_view ext, std::string_view title, std::string_view progress,
                            std::string_view failure = kUnsupported, bool inOpenFilter = true) {
  return {.extension = ext, .readerName = "ffmpeg", .read = ReadWay::Program, .decoder = Component::Ffmpeg,
          .openTitle = title, .openProgress = progress, .decodeFailure = failure,
          .inOpenFilter = inOpenFilter};
}
constexpr FormatRow AnyElse(std::string_view ext, std::string_view failure = kUnsupported) {
  return Decoded(ext, "Loading with FFmpeg", "Decoding with FFmpeg", failure);
}
constexpr FormatRow RealAudio(std::string_view ext, bool inOpenFilter, bool askOnSave) {
  FormatRow row = Decoded(ext, "Loading RealAudio file", "Decoding Real Audio", kUnsupported, inOpenFilter);
  if (askOnSave) row.saveQuestion = kRealAudioQuestion;
  return row;
}
constexpr FormatRow AacRow(std::string_view ext, std::string_view filter, int order) {
  return {.extension = ext, .readerName = "faad", .read = ReadWay::Program, .decoder = Component::AacDec,
          .openTitle = "Loading AAC file", .openProgress = "Decoding AAC file", .makeSink = WriteAac,
          .encoder = Component::Ffmpeg, .options = &kAacOptions, .saveFilter = filter, .saveOrder = order,
          .maxChannels = 8};
}
constexpr FormatRow AiffRow(std::string_view ext) {
  return {.extension = ext, .readerName = "aiff", .open = ReadAiff, .makeSink = WriteAiff,
          .saveFilter = "Apple AIFF(*.aif, *.aiff)", .saveOrder = 4};
}

// In the order of the open dialog's filter; the last rows are read but not listed.
constexpr FormatRow kRows[] = {
    {.extension = ".wav", .readerName = "wave", .open = ReadWave, .makeSink = WriteWave,
     .waveChooser = true, .saveFilter = "Wave (*.wav)", .saveOrder = 1, .tags = TagSupport::RiffInfo},
    {.extension = ".mp3", .readerName = "mp3", .open = ReadMp3, .readFailure = ReadFailure::NotMpeg,
     .makeSink = WriteMp3, .encoder = Component::Mp3Enc, .options = &kMp3Options,
     .saveFilter = "MPEG Layer-3 (*.mp3)", .saveOrder = 2, .tags = TagSupport::Id3v1, .maxChannels = 2},
    {.extension = ".ogg", .readerName = "oggdec", .read = ReadWay::Program, .decoder = Component::OggDec,
     .openTitle = "Loading OGG file", .openProgress = "Decoding Ogg file", .makeSink = WriteOgg,
     .encoder = Component::OggEnc, .options = &kOggOptions, .saveFilter = "Ogg Vorbis (*.ogg)",
     .saveOrder = 3},
    Decoded(".wma", "Loading WMA file", "Decoding with FFmpeg", kProtected),
    AiffRow(".aif"),
    AiffRow(".aiff"),
    {.extension = ".au", .readerName = "au", .open = ReadAu, .makeSink = WriteAu,
     .saveFilter = "Sun AU (*.au)", .saveOrder = 5},
    RealAudio(".ra", true, true),
    RealAudio(".ram", true, true),
    {.extension = ".flac", .readerName = "flac", .read = ReadWay::Program, .decoder = Component::FlacDec,
     .openTitle = "Loading FLAC file", .openProgress = "Decoding FLAC file", .makeSink = WriteFlac,
     .encoder = Component::FlacEnc, .options = &kFlacOptions, .saveFilter = "FLAC (*.flac)",
     .saveOrder = 6, .maxChannels = 8},
    AacRow(".aac", "AAC (*.aac)", 7),
    {.extension = ".gsm", .readerName = "gsm", .open = ReadGsm, .readFailure = ReadFailure::CannotOpen,
     .makeSink = WriteGsm, .saveFilter = "GSM (*.gsm)", .saveOrder = 9, .maxChannels = 1},
    {.extension = ".vox", .readerName = "vox", .open = ReadVox, .readFailure = ReadFailure::CannotOpen,
     .makeSink = WriteVox, .options = &kVoxOptions, .saveFilter = "Dialogic Vox (*.vox)", .saveOrder = 10,
     .maxChannels = 2},
    {.extension = ".raw", .readerName = "raw", .open = ReadRaw, .readFailure = ReadFailure::CannotOpen,
     .makeSink = WriteRaw, .options = &kRawOptions, .saveFilter = "Raw Audio (*.raw)", .saveOrder = 11,
     .maxChannels = 2},
    Decoded(".dss", "Loading DSS file", "Decoding DSS File"),
    {.extension = ".dct", .readerName = "dct", .read = ReadWay::Container, .openTitle = "Loading DCT file"},
    AacRow(".m4a", "MPEG-4 Audio (*.m4a)", 8),
    AnyElse(".mp2"),
    Decoded(".sri", "Loading SRI file", "Decoding VoiceIt File"),
    AnyElse(".mpga"),
    AnyElse(".msv", kSonyCodec),
    AnyElse(".dvf", kSonyCodec),
    Decoded(".act", "Loading Record file", "Decoding Record file"),
    Decoded(".rcd", "Loading Record file", "Decoding Record file"),
    Decoded(".rec", "Loading Record file", "Decoding Record file"),
    Decoded(".shn", "Loading Shorten file", "Decoding Shn file"),
    {.extension = ".amr", .readerName = "ffmpeg-amr", .read = ReadWay::ProgramRaw,
     .decoder = Component::Ffmpeg, .openTitle = "Loading AMR file", .encodesFromWave = true,
     .encoder = Component::AmrEnc, .options = &kAmrOptions, .saveFilter = "AMR Narrowband Audio (*.amr)",
     .saveOrder = 16, .maxChannels = 1},
    PlaylistRow<PlaylistKind::Rss>(".rss", "RSS Podcast Audio (*.rss)", 12),
    PlaylistRow<PlaylistKind::M3u>(".m3u", "M3U Playlist File (*.m3u)", 13),
    PlaylistRow<PlaylistKind::Pls>(".pls", "PLS Playlist File (*.pls)", 14),
    PlaylistRow<PlaylistKind::Wpl>(".wpl", "WPL Playlist File (*.wpl)", 15),
    // Sun/NeXT audio: AU by another name.
    {.extension = ".snd", .readerName = "au", .open = ReadAu, .inOpenFilter = false},
    RealAudio(".rm", false, true),
    RealAudio(".rmj", false, false),
};

constexpr FormatRow kAnythingElse = AnyElse("");

}  // namespace

std::span<const FormatRow> FormatRows() { return kRows; }

const FormatRow& RowFor(std::string_view extension) {
  if (extension.empty()) return kAnythingElse;
  for (const FormatRow& row : kRows)
    if (platform::SameExtension(row.extension, extension)) return row;
  return kAnythingElse;
}

const FormatRow& RowForFile(const std::filesystem::path& file) {
  const std::string name = file.string();
  return RowFor(platform::PathExtension(name));
}

std::string MixdownNote(const FormatRow& row, int channels) {
  if (channels <= row.maxChannels) return {};
  const std::string_view name = row.saveFilter.substr(0, row.saveFilter.find(" ("));
  const std::string start = "This document has " + std::to_string(channels) + " channels; " + std::string(name) +
                            " holds " +
                            (row.maxChannels == 1 ? std::string("one") : "at most " + std::to_string(row.maxChannels));
  // The channel converter's rule for stereo to mono: no mix, the left channel.
  if (channels == 2 && row.maxChannels == 1) return start + ", so only the left channel is saved.";
  return start + ", so all of them are mixed down to " +
         (row.maxChannels == 1 ? std::string("mono.")
                               : row.maxChannels == 2 ? std::string("stereo.")
                                                      : std::to_string(row.maxChannels) + " channels.");
}

std::optional<std::string_view> SniffExtension(const std::uint8_t* head, std::size_t n) {
  const auto at = [&](std::size_t offset, std::string_view magic) {
    return n >= offset + magic.size() && std::memcmp(head + offset, magic.data(), magic.size()) == 0;
  };
  if ((at(0, "RIFF") || at(0, "RF64") || at(0, "BW64")) && at(8, "WAVE")) return ".wav";
  if (at(0, "FORM") && (at(8, "AIFF") || at(8, "AIFC"))) return ".aiff";
  if (at(0, ".snd")) return ".au";
  if (at(0, "fLaC")) return ".flac";
  if (at(0, "OggS")) {
    // The first packet names the codec: Vorbis goes to oggdec, the rest to ffmpeg.
    if (n < 27) return std::nullopt;
    const std::size_t packet = 27 + std::size_t{head[26]};
    return at(packet, "\x01vorbis") ? ".ogg" : "";
  }
  if (at(0, "ID3")) return ".mp3";
  Mp3Header h;
  if (n >= 4 && ParseMp3Header(head, h)) return ".mp3";
  if (at(4, "ftyp")) return ".m4a";
  return std::nullopt;
}

std::span<const platform::FileFilter> SaveAsFilters() {
  static const std::vector<platform::FileFilter> filters = [] {
    std::vector<const FormatRow*> offered;
    for (const FormatRow& row : kRows)
      if (row.saveOrder > 0 && CanWrite(row)) offered.push_back(&row);
    std::stable_sort(offered.begin(), offered.end(),
                     [](const FormatRow* a, const FormatRow* b) { return a->saveOrder < b->saveOrder; });
    std::vector<platform::FileFilter> out;
    for (const FormatRow* row : offered) {
      const std::string pattern = "*" + std::string(row->extension);
      if (!out.empty() && out.back().name == row->saveFilter)
        out.back().patterns += ";" + pattern;
      else
        out.push_back({std::string(row->saveFilter), pattern});
    }
    return out;
  }();
  return filters;
}

const std::string& OpenFilterPatterns() {
  static const std::string patterns = [] {
    std::string out;
    for (const FormatRow& row : kRows)
      if (row.inOpenFilter) out += (out.empty() ? "*" : ";*") + std::string(row.extension);
    return out;
  }();
  return patterns;
}

std::span<const std::string_view> OutputFormatList() {
  static constexpr std::string_view kList[] = {".wav", ".mp3", ".au",  ".aiff", ".gsm", ".vox",
                                               ".raw", ".ogg", ".flac", ".aac", ".m4a", ".rss",
                                               ".m3u", ".pls", ".wpl", ".amr"};
  return kList;
}

std::span<const int> WritableOutputFormats() {
  static const std::vector<int> writable = [] {
    std::vector<int> out;
    const auto list = OutputFormatList();
    for (std::size_t i = 0; i < list.size(); ++i) {
      const FormatRow& row = RowFor(list[i]);
      // The row for anything else stands for no real format; a playlist is no sound file.
      if (!row.extension.empty() && CanWrite(row) && !WritesBesideTarget(row))
        out.push_back(static_cast<int>(i));
    }
    return out;
  }();
  return writable;
}

}  // namespace quillet::formats
