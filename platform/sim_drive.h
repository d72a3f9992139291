#pragma once
// A simulated MMC CD drive answering the same command blocks as a real one, for
// tests and demos:
//   sim:IMAGE.cue          a pressed disc: the CUE sheet's tracks over its raw BIN
//   sim-blank:OUT.cue      a blank CD-R; closing the session writes OUT.cue, OUT.bin
//   sim-blank-rw:OUT.cue   the same on an erasable CD-RW
// Every command block received is logged. Faults are scripted by an optional text
// file beside the sheet (IMAGE.faults for IMAGE.cue), one directive a line, '#'
// starting a comment:
//   unit-attention-after-load   the first command after a load reports 6/28/00
//   not-ready-after-load MS     commands report 2/04/01 (becoming ready) for MS after a load
//   no-disc                     commands needing a disc report 2/3A/00
//   medium-error SECTOR         a READ CD or WRITE covering SECTOR reports 3/11/00 or 3/0C/00
//   refuse-write12              WRITE(12) reports 5/20/00 (invalid command operation code)
//   write-busy N                the N-th WRITE (1-based) reports 2/04/08, writing nothing
//   sync-busy N                 the first N SYNC CACHE commands report 2/04/07
//   stop-answering-after N      every command after the first N times out
//   capacity MM:SS:FF           last possible lead-out start of a blank disc (79:59:74)
//   written                     the blank disc already holds a closed session
//   reader-only                 the drive writes neither CD-R nor CD-RW
//   max-write-speed KBPS        the highest write speed of page 2A (7056, 40x)
//   descriptor-sense            sense data in descriptor format (72h) instead of fixed
//   busy-polls N                TEST UNIT READY reports 2/04/07 N times after BLANK or
//                               CLOSE SESSION with immediate return (2)
//   log FILE                    also append every command block to FILE (beside the sheet)

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cue_sheet.h"
#include "platform/safe_file_writer.h"
#include "platform/scsi.h"
#include "platform/unique_fd.h"

namespace quillet::platform {

struct SimFaults {
  bool unitAttentionAfterLoad = false;
  std::int64_t notReadyAfterLoadMs = 0;
  bool noDisc = false;
  std::vector<std::int64_t> mediumErrors;
  bool refuseWrite12 = false;
  std::vector<int> writeBusy;
  int syncBusy = 0;
  int stopAnsweringAfter = -1;
  std::int64_t capacityMsf = (79 * 60 + 59) * 75 + 74;
  bool written = false;
  bool readerOnly = false;
  int maxWriteSpeedKbps = 7056;
  bool descriptorSense = false;
  int busyPolls = 2;
  std::string logFile;
};

// Parses a faults file; empty on success, else the line that is wrong.
std::string ParseSimFaults(std::string_view text, SimFaults* faults);

// True for "sim:", "sim-blank:" and "sim-blank-rw:" names.
bool IsSimulatedDriveName(std::string_view name);

class SimulatedDrive final : public ScsiTransport {
 public:
  enum class Kind { Image, Blank, BlankRw };

  // Null with *message when the name, the sheet, its files or its faults are wrong.
  static std::unique_ptr<SimulatedDrive> Open(std::string_view name, std::string* message);
  ~SimulatedDrive() override;

  RawScsiReply Execute(const ScsiCommand& command) override;
  std::string name() const override { return name_; }

  // Every command block received, in order, as CdbText gives it.
  std::vector<std::string> log() const;
  Kind kind() const { return kind_; }
  const SimFaults& faults() const { return faults_; }

 private:
  SimulatedDrive() = default;
  struct Reply;
  struct TrackWrite {
    std::int64_t start = 0;     // disc address
    std::int64_t reserved = 0;  // sectors
    std::int64_t written = 0;
    std::int64_t binStart = 0;  // sector in the output BIN
    std::int64_t pregap = 0;
  };

  void Dispatch(const ScsiCommand& c, Reply& r);
  bool DiscPresent(Reply& r);
  void ReadToc(const ScsiCommand& c, Reply& r);
  void ReadCd(const ScsiCommand& c, Reply& r);
  void ModeSense(const ScsiCommand& c, Reply& r);
  void ModeSelect(const ScsiCommand& c, Reply& r);
  void GetConfiguration(const ScsiCommand& c, Reply& r);
  void ReadDiscInfo(const ScsiCommand& c, Reply& r);
  void ReadTrackInfo(const ScsiCommand& c, Reply& r);
  void ReserveTrack(const ScsiCommand& c, Reply& r);
  void Write(const ScsiCommand& c, Reply& r, bool twelve);
  void CloseSession(const ScsiCommand& c, Reply& r);
  void Blank(const ScsiCommand& c, Reply& r);
  void TestUnitReady(Reply& r);
  std::int64_t NextWritable() const;
  bool WritableDisc() const { return kind_ != Kind::Image; }
  void ReadSectors(std::int64_t lba, std::int64_t count, std::uint8_t* out);

  std::string name_;
  Kind kind_ = Kind::Image;
  std::filesystem::path sheetPath_;
  SimFaults faults_;
  DiscLayout layout_;
  std::vector<UniqueFd> files_;
  std::vector<std::uint64_t> fileBytes_;

  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  int commands_ = 0;
  int writes_ = 0;
  int syncs_ = 0;
  bool unitAttention_ = false;
  std::int64_t notReadyUntilMs_ = 0;  // steady-clock milliseconds
  int busyPollsLeft_ = 0;
  bool trayLoaded_ = true;

  // Writing state.
  enum class DiscState { Blank, Open, Complete } discState_ = DiscState::Complete;
  bool useWrite10Only_ = false;
  std::uint8_t page5_[60] = {};
  bool testWrite_ = false;
  std::int64_t pauseSectors_ = 150;
  std::vector<TrackWrite> tracks_;
  std::unique_ptr<SafeFileWriter> bin_;
};

// Opens a drive by name: a simulated one for "sim...:" names, /dev/srN otherwise.
// Null with *message when it cannot be opened.
std::unique_ptr<ScsiTransport> OpenCdTransport(const std::string& name, std::string* message);

}  // namespace quillet::platform
