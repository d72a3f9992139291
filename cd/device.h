#pragma once
// One open CD drive (`CdDevice`) and the list of drives the program offers. Every
// command runs on the drive's worker thread while the caller's task keeps its
// window alive; a command that outlives its time-out fails, and the drive is then
// not used again until it is closed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scsi.h"
#include "platform/scsi_worker.h"
#include "platform/task.h"
#include "settings/settings.h"

namespace quillet::cd {

// Settings of the CD commands beside "CDRecorder": the CDDB server and the
// simulated drives that join the drive list.
inline constexpr std::string_view kCdSection = "CD";
inline constexpr std::string_view kCddbServerKey = "CDDBServer";
// "SimulatedDrive1" .. "SimulatedDrive8": one simulated drive name each.
inline constexpr int kMaxSimulatedDrives = 8;

struct DriveEntry {
  std::string name;   // what OpenCdTransport takes: "/dev/sr0", "sim:disc.cue"
  std::string label;  // the drive's model, or the image
};

// Real drives first (in /dev/srN order), then the simulated ones of the settings.
std::vector<DriveEntry> ListCdDrives(const settings::Settings& s);
// "CD-ROM %d" (1-based), as the drive list shows entry index.
std::string DriveDisplayName(int index);

// A drive named on a command line: a 1-based number into drives, a device path or a
// simulated drive name. Nullopt for a number outside the list.
std::optional<std::string> ResolveDriveArgument(std::string_view arg,
                                                const std::vector<DriveEntry>& drives);

class CdDevice {
 public:
  // Null with *message when the drive cannot be opened.
  static std::unique_ptr<CdDevice> Open(const std::string& name, std::string* message);
  explicit CdDevice(std::unique_ptr<platform::ScsiTransport> transport);
  ~CdDevice();
  CdDevice(const CdDevice&) = delete;
  CdDevice& operator=(const CdDevice&) = delete;

  // Waits on this task's window from now on (null: plain waits). A window closed
  // while a command runs does not break the command off: cancelled() tells later.
  void SetTask(platform::LProgressDialog* task) { task_ = task; }
  bool cancelled() const { return cancelled_; }
  // Pumps the task's window; true once it was closed.
  bool PollCancel();
  // Pumps the window for ms, or until it is closed (true).
  bool Sleep(int ms);

  // Runs command and waits for it.
  platform::ScsiResult Execute(const platform::ScsiCommand& command);
  // Starts command (its buffer must live until Collect) without waiting.
  bool Start(const platform::ScsiCommand& command);
  // Waits up to waitMs for the started command.
  platform::ScsiResult Collect(int waitMs);

  platform::ScsiTransport& transport() { return *transport_; }
  std::string name() const { return transport_->name(); }
  // A command outlived its wait: nothing more is sent.
  bool hung() const { return hung_; }

 private:
  std::unique_ptr<platform::ScsiTransport> transport_;
  std::unique_ptr<platform::ScsiWorker> worker_;
  platform::ScsiCommand started_;
  platform::LProgressDialog* task_ = nullptr;
  bool cancelled_ = false;
  bool hung_ = false;
};

}  // namespace quillet::cd
