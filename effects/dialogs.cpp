#include "effects/dialogs.h"

#include <algorithm>
#include <cstdlib>

#include "platform/record_file.h"

namespace quillet::effects {

std::span<const std::string_view> SampleRateEntries() {
  static constexpr std::string_view kRates[] = {"6000",  "8000",  "11025", "16000",
                                                "22050", "32000", "44100", "48000",
                                                "64000", "88200", "96000"};
  return kRates;
}

std::filesystem::path DefaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home ? home : "/tmp") / ".local" / "share";
  }
  return base / "Orvanta" / "Quillet";
}

std::string EncodeEnvelope(const EnvelopeShape& shape) {
  std::string out;
  out.push_back(static_cast<char>(shape.size()));
  for (const EnvelopePoint& p : shape) {
    out.push_back(static_cast<char>(p.position));
    out.push_back(static_cast<char>(p.level));
  }
  return out;
}

bool DecodeEnvelope(std::string_view bytes, EnvelopeShape& shape) {
  if (bytes.empty()) return false;
  const std::size_t n = static_cast<unsigned char>(bytes[0]);
  if (n > kMaxEnvelopePoints || bytes.size() != 1 + 2 * n) return false;
  EnvelopeShape s(n);
  for (std::size_t i = 0; i < n; ++i)
    s[i] = {static_cast<std::uint8_t>(bytes[1 + 2 * i]),
            static_cast<std::uint8_t>(bytes[2 + 2 * i])};
  if (!IsValidEnvelope(s)) return false;
  shape = std::move(s);
  return true;
}

EnvelopeShape LoadCurveFile(const std::filesystem::path& folder, std::string_view name,
                            const EnvelopeShape& fallback) {
  const auto file = folder / name;
  std::string bytes;
  EnvelopeShape shape;
  const bool read = platform::ReadFile(file, bytes);
  if (read && DecodeEnvelope(bytes, shape)) return shape;
  if (!read || bytes.empty() || bytes[0] == 0) SaveCurveFile(folder, name, fallback);
  return fallback;
}

bool SaveCurveFile(const std::filesystem::path& folder, std::string_view name,
                   const EnvelopeShape& shape) {
  if (!IsValidEnvelope(shape) || shape.size() > kMaxEnvelopePoints) return false;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return platform::WriteFileAtomically(folder / name, EncodeEnvelope(shape));
}

EnvelopeShape LoadEnvelope(const std::filesystem::path& folder) {
  return LoadCurveFile(folder, kEnvelopeFileName, DefaultEnvelope());
}

bool SaveEnvelope(const std::filesystem::path& folder, const EnvelopeShape& shape) {
  return SaveCurveFile(folder, kEnvelopeFileName, shape);
}

CurveEditModel::CurveEditModel(EnvelopeShape shape) : shape_(std::move(shape)) {
  if (!IsValidEnvelope(shape_) || shape_.size() > kMaxEnvelopePoints) shape_ = DefaultEnvelope();
}

bool CurveEditModel::AddPoint(int position, int level, std::size_t* index) {
  if (shape_.size() >= kMaxEnvelopePoints) return false;
  const EnvelopePoint p{static_cast<std::uint8_t>(std::clamp(position, 0, 255)),
                        static_cast<std::uint8_t>(std::clamp(level, 0, 255))};
  // Never before the first point or after the last: those mark the selection's ends.
  auto it = std::upper_bound(
      shape_.begin() + 1, shape_.end() - 1, p,
      [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.position < b.position; });
  const auto at = static_cast<std::size_t>(it - shape_.begin());
  shape_.insert(it, p);
  MovePoint(at, p.position, p.level);
  if (index) *index = at;
  return true;
}

void CurveEditModel::MovePoint(std::size_t i, int position, int level) {
  if (i >= shape_.size()) return;
  EnvelopePoint& p = shape_[i];
  p.level = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
  if (i == 0 || i + 1 == shape_.size()) return;
  p.position = static_cast<std::uint8_t>(
      std::clamp<int>(position, shape_[i - 1].position, shape_[i + 1].position));
}

bool CurveEditModel::RemovePoint(std::size_t i) {
  if (i == 0 || i + 1 >= shape_.size()) return false;
  shape_.erase(shape_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

}  // namespace quillet::effects

