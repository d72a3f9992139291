#pragma once
// The CD commands for the command table, and what their dialogs run: the "Load
// Audio CD Track(s)" dialog's model and the import of chosen tracks into new
// documents.

#include <string>
#include <string_view>
#include <vector>

#include "cd/burn.h"
#include "cd/disc.h"
#include "core/command_table.h"

namespace quillet::cd {

inline constexpr std::string_view kNoDrivesMessage =
    "No CD-ROM drives have been detected. If you do have a CD-ROM drive installed but see this "
    "message please read the Help topic relating to Loading CD Tracks.";
inline constexpr std::string_view kNoMatchMessage = "No CDDB match found";

// What the "Load Audio CD Track(s)" dialog shows.
struct CdLoadModel {
  std::vector<DriveEntry> drives;
  // "CD-ROM %d" for each drive.
  std::vector<std::string> DriveNames() const;
  // A track's row: its title and "%d:%.2d" (minutes and seconds).
  static std::string DurationText(const CdTrack& track);
};

// "Load CD Drives": the drive list, counted under a progress window as the dialog opens.
class CountDrivesTask final : public platform::LProgressDialog {
 public:
  explicit CountDrivesTask(const settings::Settings& s)
      : LProgressDialog("Load CD Drives"), settings_(s) {}
  const std::vector<DriveEntry>& drives() const { return drives_; }

 protected:
  bool Execute() override {
    drives_ = ListCdDrives(settings_);
    result = platform::kTaskDone;
    return true;
  }

 private:
  const settings::Settings& settings_;
  std::vector<DriveEntry> drives_;
};

// Rips each of disc's tracks at indexes (list order) into a new 44100 Hz stereo
// document handed to host, titled with the track's title. A failed or cancelled
// track is dropped and the next one follows; the last failure's message is left in
// ctx.message. Done when every track came in.
platform::TaskResult ImportCdTracks(core::EditContext& ctx, core::CommandHost& host,
                                    const std::string& drive, const CdDisc& disc,
                                    const std::vector<int>& indexes);

// What the CD commands need from the editor: its load dialog and its documents.
class CdFront {
 public:
  virtual ~CdFront() = default;
  // Shows "Load Audio CD Track(s)" and imports the tracks chosen (ImportCdTracks).
  virtual platform::TaskResult LoadCdTracks(core::CommandCall& call) = 0;
  // The open documents, in window order.
  virtual std::vector<const core::WaveDocument*> OpenDocuments() = 0;
  // The "Burn CD" dialog over the stored settings; false when cancelled.
  virtual bool AskBurnSettings(BurnSettings* settings) = 0;
};

// "&Load Audio CD Track(s)..." (Ctrl+L) and "Copy All Open File(s) to CD..." with its
// "Audio" and "Data" items, in the File menu. front must outlive the registry. With
// no burning program configured, "Audio" burns the open documents (one track each,
// in window order) with the built-in writer after the "Burn CD" dialog.
void RegisterCdCommands(core::CommandRegistry& registry, CdFront& front);

}  // namespace quillet::cd
