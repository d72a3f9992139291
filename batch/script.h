#pragma once
// Batch scripts (".qlb"): a version byte (0), then commands back to back, each a
// little-endian u32 type, a u32 parameter length and that many parameter bytes, up to
// the end of the file. Script bytes are outside data: nothing here trusts them.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace quillet::batch {

inline constexpr std::uint32_t kBatchTypeCount = 18;

struct BatchCommand {
  std::uint32_t type = 0;  // 0 .. kBatchTypeCount - 1
  std::vector<std::uint8_t> params;  // empty: the stored values are used
  bool operator==(const BatchCommand&) const = default;
};
using BatchCommandList = std::vector<BatchCommand>;

inline constexpr std::string_view kFileErrorCaption = "File Error";
inline constexpr std::string_view kScriptVersionMessage =
    "This file does not have the same version with the current Quillet version or it is "
    "corrupted.";
inline constexpr std::string_view kScriptCreateMessage =
    "Quillet cannot open this file. The file does not exist or may be corrupted.";

// The commands of a script's bytes. A wrong version byte, a length running past the
// end, a type above 17 or a curve block claiming more than 64 points fail with
// kScriptVersionMessage and leave out empty. A trailing command header cut short
// ends the list, as the format has no count.
platform::Outcome ParseBatchScript(std::span<const std::uint8_t> bytes, BatchCommandList& out);
std::string SerializeBatchScript(const BatchCommandList& commands);

enum class ScriptLoad { Loaded, Unreadable, Corrupt };
// Unreadable and Corrupt leave out empty.
ScriptLoad LoadBatchScript(const std::filesystem::path& file, BatchCommandList& out);
// Written whole through a temporary file, so a failed save keeps the old script.
bool SaveBatchScript(const std::filesystem::path& file, const BatchCommandList& commands);

}  // namespace quillet::batch
