#pragma once
// The batch converter's 18 command types: each type's name, parameter block, the
// stored values (with the converter's own defaults) that stand in for a missing block,
// its summary and the registered command that runs it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/script.h"
#include "core/command_table.h"
#include "settings/settings.h"

namespace quillet::batch {

// One number of a parameter block.
struct BlockField {
  std::string_view key;  // in "StoredValues"
  std::int64_t def;      // the converter's default
  std::uint8_t bytes;    // 1, 2 or 4, little-endian
  bool isSigned = false;
};

enum class BlockKind : std::uint8_t { None, Numbers, Curve };

struct BatchType {
  std::string_view name;  // as the command list shows it
  BlockKind kind = BlockKind::None;
  std::array<BlockField, 3> fields{};
  std::uint8_t fieldCount = 0;
  std::string_view summary;  // printf-like: %d for numbers, %s for the ratio label
  core::CommandId command = core::kCmdNone;
  std::string_view curveFile;  // Curve kind: the file used without a block
};

inline constexpr std::size_t kCurveBlockBytes = 129;
inline constexpr std::size_t kMaxCurvePoints = 64;

const BatchType& TypeOf(std::uint32_t type);  // type < kBatchTypeCount
// The length of a type's block: what the settings dialog stores and the least that
// is read.
std::size_t BlockLength(const BatchType& t);

// "1:1" .. "Limit" for the compressor's ratio indexes 0..6; empty outside.
std::string_view CompressorRatioLabel(std::int64_t index);

// A curve command whose block claims more points than the block holds.
bool CurveBlockValid(const BatchCommand& c);

// The numbers a command runs with: its block when it is long enough, else the stored
// values of s (the converter's defaults where a key is missing). Empty for a curve.
std::vector<std::int64_t> ValuesOf(const BatchCommand& c, const settings::Settings& s);
// A block of the type's length holding values (what a settings dialog stores).
std::vector<std::uint8_t> BlockOf(std::uint32_t type, const std::vector<std::int64_t>& values);
// A curve block's points as "POS/LEVEL;..." with positions raised so they never fall
// ("0/128;255/128" for no points); empty without a block: the curve file is used.
std::string CurveTextOf(const BatchCommand& c);
// The "Settings" column: the summary filled with the values the run would use.
std::string SummaryOf(const BatchCommand& c, const settings::Settings& s);

// The values a command's dialog starts from: its table filled with what the run would
// use (not yet checked); nullopt for a command without a table.
std::optional<core::ParamSet> DialogValuesOf(const BatchCommand& c, const core::Command& command,
                                             const settings::Settings& s);
// The command as a dialog's accepted values store it: a block of the type's length (a
// curve's points, none for an empty curve text: the curve file is used).
BatchCommand CommandFromValues(std::uint32_t type, const core::ParamSet& values);

// The registered command and its values for one batch command, checked as its dialog
// checks them; message says why not when command is null.
struct PreparedStep {
  const core::Command* command = nullptr;
  std::optional<core::ParamSet> values;
  bool skip = false;  // a compressor ratio outside the table: the command is left out
  std::string message;
};
PreparedStep PrepareStep(const BatchCommand& c, const core::CommandRegistry& registry,
                         const settings::Settings& s);

}  // namespace quillet::batch
