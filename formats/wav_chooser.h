#pragma once
// Choosing the format of a WAVE save: the chooser's model (what the codec manager can
// write, restricted by channel count), the remembered choice in WavCodec.wff, and the
// save-options steps. Drawing the chooser is the front end's job (FormatChooserUi).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/wave_format.h"

namespace quillet::formats {

inline constexpr std::string_view kFormatNotAvailableText =
    "The requested format is not available because the required CODEC is not installed on this computer.";
inline constexpr std::string_view kFormatNotAvailableCaption = "Format Not Available";
inline constexpr std::string_view kWaveSaveOptionsTitle = "Select Wave File Format";
inline constexpr std::string_view kWavCodecFileName = "WavCodec.wff";

class FormatChooserModel {
 public:
  // channels 0: no restriction. The initial choice is kept even when not listed.
  FormatChooserModel(WaveFormat initial, int channels, std::uint32_t rate, std::string title);

  const std::string& title() const { return title_; }
  // The tags offered, in list order, and the attribute lines of one of them.
  std::vector<std::uint16_t> Tags() const;
  std::vector<WaveFormat> FormatsOf(std::uint16_t tag) const;
  const std::vector<WaveFormat>& formats() const { return formats_; }
  const WaveFormat& initial() const { return initial_; }

  // A format is usable when it is PCM or a stream from 16-bit PCM to it can be opened.
  static bool IsUsable(const WaveFormat& f);

 private:
  WaveFormat initial_;
  std::string title_;
  std::vector<WaveFormat> formats_;
};

// The front end's side: show the chooser (nullopt on cancel) and a stop message.
class FormatChooserUi {
 public:
  virtual ~FormatChooserUi() = default;
  virtual std::optional<WaveFormat> Choose(const FormatChooserModel& model) = 0;
  virtual void ShowStop(std::string_view text, std::string_view caption) = 0;
};

// Shows the chooser until the user accepts a usable format (true, left in *format) or
// cancels (false, *format unchanged). channels 0: any channel count.
bool ChooseFormat(WaveFormat* format, int channels, std::string_view title, FormatChooserUi& ui);

// WavCodec.wff: $XDG_DATA_HOME/Orvanta/Quillet/WavCodec.wff (~/.local/share when unset).
std::filesystem::path WavCodecFilePath();
// The stored record, or nullopt when the file is missing, short or holds a record
// that cannot be written (rate 0, an unknown codec...).
std::optional<WaveFormat> ReadWavCodecFile(const std::filesystem::path& file);
// The record padded to 1024 bytes, replacing the file only when written whole.
bool WriteWavCodecFile(const std::filesystem::path& file, const WaveFormat& format);

// The save options steps: preset 16-bit PCM at the document's rate and channels, the
// stored record over it (a PCM one takes the document's rate and channels), the
// chooser, and the choice stored back. False when cancelled.
bool WaveSaveOptions(std::uint32_t rate, int channels, FormatChooserUi& ui,
                     const std::filesystem::path& wffFile = WavCodecFilePath());
// The same for a document with a format of its own (*own set): the chooser starts
// from it, and the accepted one goes into *own as well as the stored record.
bool WaveSaveOptions(std::uint32_t rate, int channels, FormatChooserUi& ui, std::optional<WaveFormat>* own,
                     const std::filesystem::path& wffFile = WavCodecFilePath());
// The document's own format, following its rate and channels when PCM.
WaveFormat FollowDocumentFormat(const WaveFormat& own, std::uint32_t rate, int channels);
// The record a WAVE save writes: the preset with the stored record over it. With
// followDocument a PCM record takes the document's rate and channels, as it does
// after the save options.
WaveFormat WaveSaveFormat(std::uint32_t rate, int channels, bool followDocument,
                          const std::filesystem::path& wffFile = WavCodecFilePath());

}  // namespace quillet::formats
