#pragma once
// What the effect dialogs keep beside their parameter tables: the offered sample
// rates, the user's envelope file and the envelope editing rules.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "effects/levels.h"

namespace quillet::effects {

// The sample-rate dialog's list (and the new-file dialog's).
std::span<const std::string_view> SampleRateEntries();

// "envelope.dat" in the data folder: the count byte, then position and level per point.
inline constexpr std::string_view kEnvelopeFileName = "envelope.dat";
// $XDG_DATA_HOME/Orvanta/Quillet (or ~/.local/share/Orvanta/Quillet).
std::filesystem::path DefaultDataFolder();
// The user's envelope; a missing, empty or damaged file gives the default envelope,
// which is written to it when the file is missing or its count is 0.
EnvelopeShape LoadEnvelope(const std::filesystem::path& folder);
// False when the shape is not valid or the file cannot be written (the old one stays).
bool SaveEnvelope(const std::filesystem::path& folder, const EnvelopeShape& shape);
// The bytes of the file, and back (false for anything but a valid shape of exact size).
// "equalizer.dat" holds its curve the same way.
std::string EncodeEnvelope(const EnvelopeShape& shape);
bool DecodeEnvelope(std::string_view bytes, EnvelopeShape& shape);
// A curve file of this layout in folder; a missing, empty or damaged one gives
// fallback, which is written to it when it is missing or its count is 0.
EnvelopeShape LoadCurveFile(const std::filesystem::path& folder, std::string_view name,
                            const EnvelopeShape& fallback);
// False when the shape is not valid or the file cannot be written (the old one stays).
bool SaveCurveFile(const std::filesystem::path& folder, std::string_view name,
                   const EnvelopeShape& shape);

// The curve editor's rules (the envelope's and the equalizer's): points stay in rising
// order, the first and last stay at the ends (the selection's, or 0 and 20000 Hz), and
// there are always 2..kMaxEnvelopePoints of them.
class CurveEditModel {
 public:
  explicit CurveEditModel(EnvelopeShape shape);
  const EnvelopeShape& shape() const { return shape_; }
  // Adds a point (false when full); returns its index through *index.
  bool AddPoint(int position, int level, std::size_t* index = nullptr);
  // Moves point i, kept between its neighbours; the end points move only in level.
  void MovePoint(std::size_t i, int position, int level);
  // Removes an inner point.
  bool RemovePoint(std::size_t i);
  // The flat line at unity, which is also the default envelope and equalizer curve.
  void Reset() { shape_ = DefaultEnvelope(); }

 private:
  EnvelopeShape shape_;
};

}  // namespace quillet::effects
