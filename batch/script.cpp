#include "batch/script.h"

#include <string>

#include "batch/types.h"
#include "settings/atomic_file.h"

namespace quillet::batch {
namespace {

std::uint32_t ReadU32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
         std::uint32_t(b[at + 3]) << 24;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

}  // namespace

platform::Outcome ParseBatchScript(std::span<const std::uint8_t> bytes, BatchCommandList& out) {
  out.clear();
  const auto corrupt = [&out] {
    out.clear();
    return platform::Outcome::Failed(std::string(kScriptVersionMessage));
  };
  if (bytes.empty() || bytes[0] != 0) return corrupt();
  std::size_t at = 1;
  while (bytes.size() - at >= 8) {
    BatchCommand c;
    c.type = ReadU32(bytes, at);
    const std::uint32_t length = ReadU32(bytes, at + 4);
    at += 8;
    if (c.type >= kBatchTypeCount || length > bytes.size() - at) return corrupt();
    c.params.assign(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + length));
    at += length;
    if (!CurveBlockValid(c)) return corrupt();
    out.push_back(std::move(c));
  }
  return platform::Outcome::Done();
}

std::string SerializeBatchScript(const BatchCommandList& commands) {
  std::string out(1, '\0');
  for (const BatchCommand& c : commands) {
    PutU32(out, c.type);
    PutU32(out, std::uint32_t(c.params.size()));
    out.append(c.params.begin(), c.params.end());
  }
  return out;
}

ScriptLoad LoadBatchScript(const std::filesystem::path& file, BatchCommandList& out) {
  out.clear();
  std::string bytes;
  // No sensible script comes near this; a larger file is not read into memory.
  constexpr std::size_t kMaxScriptBytes = 16u << 20;
  if (!settings::ReadWholeFile(file, bytes, kMaxScriptBytes + 1)) return ScriptLoad::Unreadable;
  if (bytes.size() > kMaxScriptBytes) return ScriptLoad::Corrupt;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return ParseBatchScript({data, bytes.size()}, out).done() ? ScriptLoad::Loaded
                                                            : ScriptLoad::Corrupt;
}

bool SaveBatchScript(const std::filesystem::path& file, const BatchCommandList& commands) {
  return settings::WriteFileAtomically(file, SerializeBatchScript(commands));
}

}  // namespace quillet::batch
