#pragma once
// The models behind the effect dialogs: fields, presets, stored values and the messages
// that refuse a value. The editor draws them; quillet-cli and tests drive them directly.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "effects/levels.h"
#include "effects/status.h"
#include "settings/settings.h"

namespace quillet::effects {

inline constexpr std::string_view kStoredValues = "StoredValues";

struct Preset {
  std::string_view name;
  int value;
};

// A dialog with one percentage field.
struct PercentDialogInfo {
  std::string_view title;
  std::string_view key;  // in "StoredValues"
  int defaultValue;
  int min, max;              // accepted range, both ends included
  std::string_view tooHigh;  // the message for a value above max
  std::span<const Preset> presets;
};

extern const PercentDialogInfo kAmplifyDialog;
extern const PercentDialogInfo kNormalizeDialog;
extern const PercentDialogInfo kStereoPanDialog;
extern const PercentDialogInfo kSpeedAndPitchDialog;
extern const PercentDialogInfo kSpeedDialog;
extern const PercentDialogInfo kPitchDialog;

class PercentDialogModel {
 public:
  explicit PercentDialogModel(const PercentDialogInfo& info)
      : info_(info), value(info.defaultValue) {}

  // The stored value, or the default.
  void Load(const settings::Settings& s);
  // "Select Preset" first, then the presets; empty when the dialog has none.
  std::vector<std::string> PresetEntries() const;
  // Entry 0 does nothing; the others write their value into the field.
  void ChoosePreset(int entry);
  Status Validate() const;
  // Validates and, when accepted, stores the value; a refusal keeps the dialog open.
  Status Confirm(settings::Settings& s) const;
  const PercentDialogInfo& info() const { return info_; }

 private:
  const PercentDialogInfo& info_;

 public:
  int value;
};

// The cross fade dialog: three times in section "CrossFade", and the selection shown
// as times that may be edited.
struct CrossFadeDialogModel {
  CrossFadeParams params;
  std::int64_t startMs = 0, endMs = 0;

  void Load(const settings::Settings& s);
  Status Validate() const;
  Status Confirm(settings::Settings& s) const;
  // The edited selection in frames at rate.
  FramePos StartFrame(std::int64_t rate) const;
  FramePos EndFrame(std::int64_t rate) const;
};

// The sample-rate dialog's list, and its check of a typed value.
std::span<const std::string_view> SampleRateEntries();
// The rate typed or chosen, or the message refusing it.
Status ParseSampleRate(std::string_view text, std::int64_t& rate);

// "envelope.dat" in the data folder: the count byte, then position and level per point.
inline constexpr std::string_view kEnvelopeFileName = "envelope.dat";
inline constexpr std::size_t kMaxEnvelopePoints = 64;
// $XDG_DATA_HOME/Orvanta/Quillet (or ~/.local/share/Orvanta/Quillet).
std::filesystem::path DefaultDataFolder();
// The user's envelope; a missing, empty or damaged file gives the default envelope,
// which is written to it when the file is missing or its count is 0.
EnvelopeShape LoadEnvelope(const std::filesystem::path& folder);
// False when the shape is not valid or the file cannot be written (the old one stays).
bool SaveEnvelope(const std::filesystem::path& folder, const EnvelopeShape& shape);
// The bytes of the file, and back (false for anything but a valid shape of exact size).
std::string EncodeEnvelope(const EnvelopeShape& shape);
bool DecodeEnvelope(std::string_view bytes, EnvelopeShape& shape);

// The envelope dialog's editing: points stay in rising order, the first and last stay
// at the selection's ends, and there are always 2..kMaxEnvelopePoints of them.
class EnvelopeDialogModel {
 public:
  explicit EnvelopeDialogModel(EnvelopeShape shape);
  const EnvelopeShape& shape() const { return shape_; }
  // Adds a point (false when full); returns its index through *index.
  bool AddPoint(int position, int level, std::size_t* index = nullptr);
  // Moves point i, kept between its neighbours; the end points move only in level.
  void MovePoint(std::size_t i, int position, int level);
  // Removes an inner point.
  bool RemovePoint(std::size_t i);
  void Reset() { shape_ = DefaultEnvelope(); }

 private:
  EnvelopeShape shape_;
};

}  // namespace quillet::effects
