#pragma once
// The save options of a document opened from a compressed file, read from that file:
// an MP3 stream's bit rate and channel mode, a Vorbis stream's nominal rate and
// channels, an MP4 stream's average bit rate, an AMR stream's mode. A plain save then
// re-encodes at the quality the file had, not at whatever was stored last.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/params.h"
#include "formats/format_table.h"
#include "platform/byte_source.h"
#include "settings/settings.h"

namespace quillet::formats {

struct DocumentOptions {
  const OptionRecord* record = nullptr;
  std::optional<core::ParamSet> values;  // the stored ones with what the file says over them
  std::string note;                      // for the options dialog: what could not be kept
  bool confirmed = false;                // a save of this document has used them

  bool Covers(const FormatRow& row) const { return record && values && row.options == record; }
  // A save into row asks for the options first: they were read, never confirmed.
  bool AsksBeforeSave(const FormatRow& row) const { return Covers(row) && !confirmed; }
};

// The options a document of rate and channels starts with when opened from bytes
// that row reads; nullopt unless the row's format loses quality on each encode.
// Whatever the bytes do not say keeps the stored value from s.
std::optional<DocumentOptions> OptionsFromSource(const FormatRow& row, platform::ByteSource& bytes,
                                                 std::uint32_t rate, int channels,
                                                 const settings::Settings& s);
// The part that reads: what bytes say goes over values (a set of record's table);
// false when record is not of such a format.
bool ReadSourceOptions(const OptionRecord& record, platform::ByteSource& bytes, core::ParamSet& values,
                       std::string* note);
std::optional<DocumentOptions> OptionsFromFile(const std::filesystem::path& file, std::uint32_t rate,
                                               int channels, const settings::Settings& s);

}  // namespace quillet::formats
