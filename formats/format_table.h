#pragma once
// Every file format the program knows, one row per extension: how it is read, how it
// is written, the options a save asks for, its place in the file dialogs and the tags
// it carries. The open and save dispatch, the file dialogs, the save check and the
// tag editor all read this table; no other list of extensions exists, so a new
// format (or a change of reader) is one row.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/sound.h"
#include "core/params.h"
#include "formats/external.h"
#include "formats/save_options.h"
#include "formats/tags.h"
#include "formats/wave_format.h"
#include "platform/prompter.h"

namespace quillet::formats {

// How a row's files are read.
enum class ReadWay : std::uint8_t {
  Own,         // one of our readers (FormatRow::open)
  Program,     // a decoder program writes a temporary WAVE file first
  ProgramRaw,  // a decoder program writes raw 8000 Hz mono 16-bit PCM (AMR)
  Container,   // our dictation container around a WAVE file
};

// How a failed read of our own is worded.
enum class ReadFailure : std::uint8_t {
  ByStatus,    // the message of the source's status
  NotMpeg,     // anything but a missing file: "... not a true layer-3 MPEG file."
  CannotOpen,  // anything but corruption: the "Check it exists" message
};

// What a row's writer is given.
struct SinkRequest {
  std::filesystem::path file;
  std::uint32_t rate = 0;  // the document's
  int channels = 0;
  int sourceBits = 0;                       // PCM width of the file the document came from
  const WaveFormat* documentWave = nullptr;  // the document's own WAVE format, when it has one
  const core::ParamSet* options = nullptr;  // the row's record, loaded; null when it has none
  std::string program;                      // the row's encoder program
  FinishingStep finishing;                  // the tags, before the file replaces its target
};

struct FormatRow {
  std::string_view extension;  // with its dot, lower case; empty: the row for anything else
  std::string_view readerName;  // quillet-cli info's reader=
  ReadWay read = ReadWay::Own;
  // Own: opens the file; options is the row's record, loaded (raw and VOX).
  audio::SourceHandle (*open)(const std::filesystem::path& file, const core::ParamSet* options) = nullptr;
  ReadFailure readFailure = ReadFailure::ByStatus;
  std::optional<Component> decoder;  // Program rows
  std::string_view openTitle;        // the decoder task's title
  std::string_view openProgress;     // its first line; empty: the title
  std::string_view decodeFailure;    // a failed decode, "%s" the file; empty: "corrupt"
  bool inOpenFilter = true;          // listed in the open dialog's audio filter

  // Writing: a sink, or a temporary WAVE file handed to the encoder (AMR).
  audio::SinkHandle (*makeSink)(const SinkRequest& request) = nullptr;
  bool encodesFromWave = false;
  std::optional<Component> encoder;       // the program the writer needs
  const OptionRecord* options = nullptr;  // what a save asks (and an interactive raw open)
  bool waveChooser = false;               // a save asks the WAVE format chooser
  std::string_view saveFilter;  // its Save As entry; rows sharing one caption share it
  int saveOrder = 0;            // place in Save As, 1 first; 0: not offered
  TagSupport tags = TagSupport::None;
  // Save asks this question (Yes: Save As) instead of writing the file.
  std::string_view saveQuestion;
  // The most channels the format holds; a document with more is mixed down to it.
  int maxChannels = audio::kMaxChannels;
};

std::span<const FormatRow> FormatRows();
// The row of an extension, compared without regard to case; the row for anything
// else (ffmpeg) when no row has it or there is no extension.
const FormatRow& RowFor(std::string_view extension);
const FormatRow& RowForFile(const std::filesystem::path& file);

// What a save into row says before it mixes down a document of more channels than
// the format holds; empty when nothing is mixed down.
std::string MixdownNote(const FormatRow& row, int channels);

// The extension whose row reads what the first bytes of a file hold (RIFF/RF64
// WAVE, AIFF or AIFF-C, AU, FLAC, Ogg Vorbis, ID3 or an MPEG layer III header, an
// MP4 "ftyp"); "" for an Ogg stream of another codec (ffmpeg's row); nullopt when
// the bytes say nothing we know.
std::optional<std::string_view> SniffExtension(const std::uint8_t* head, std::size_t n);
inline constexpr std::size_t kSniffBytes = 512;

inline bool CanWrite(const FormatRow& row) { return row.makeSink || row.encodesFromWave; }
// Playlists and feeds: the save writes an MP3 beside the target, which holds no sound.
inline bool WritesBesideTarget(const FormatRow& row) {
  return row.options == &kPlaylistOptions || row.options == &kFeedOptions;
}

// The Save As entries in order, "Wave (*.wav)" first: every writable row, and
// nothing the program cannot write.
std::span<const platform::FileFilter> SaveAsFilters();
// "*.wav;*.mp3;...": the open dialog's audio filter.
const std::string& OpenFilterPatterns();

// The output format list of the batch converter and the region export, in the order
// their stored indexes count (".wav" is 0). It names playlists and feeds too, which
// are not audio rows: callers offer the entries they can write.
std::span<const std::string_view> OutputFormatList();
// The audio entries of that list this build can write, as indexes into it.
std::span<const int> WritableOutputFormats();

}  // namespace quillet::formats
