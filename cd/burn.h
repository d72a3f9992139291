#pragma once
// Writing audio CDs in Track-At-Once mode through the drive's MMC commands, with
// the checks of drive and disc (and the erasing of a CD-RW) that come first, and
// the recorder settings of the "Burn CD" dialog.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sound.h"
#include "cd/device.h"
#include "cd/mmc.h"
#include "platform/task.h"
#include "settings/settings.h"

namespace quillet::cd {

inline constexpr std::string_view kRecorderSection = "CDRecorder";
inline constexpr int kHighestSpeed = 65535;
inline constexpr std::int64_t kMinTrackSectors = 300;
inline constexpr std::int64_t kPauseSectors = 150;
inline constexpr int kWritePieceSectors = 27;

struct BurnSettings {
  bool internal = true;    // "Internal": our own Track-At-Once writer; else the external program
  int drive = 0;           // "CDDrive": index into ListCdDrives
  int speed = kHighestSpeed;  // "Speed": in 177 kB/s units (1x); 65535: the highest
  bool eraseCdrw = true;   // "EraseCDRW"
  bool overburn = false;   // "Overburn"
  bool loadEject = true;   // "CDLoadEject"
  bool simulate = false;   // a test write that burns nothing (not stored)

  static BurnSettings Load(const settings::Settings& s);
  void Store(settings::Settings& s) const;
};

// The messages of a burn, word for word.
inline constexpr std::string_view kBurnFailedMessage =
    "Burn has failed. Please try another disk or try a lower speed.";
inline constexpr std::string_view kCannotAccessMessage =
    "The CD drive you have selected cannot be accessed.";
inline constexpr std::string_view kNoDiskMessage =
    "There appears to be no disk in the drive. Please check and try again.";
inline constexpr std::string_view kCannotWriteMessage =
    "The selected CD-ROM drive cannot write or record CDs. Please select another drive.";
inline constexpr std::string_view kNoCdMessage =
    "There is no CD in the CD-ROM drive. Please insert a blank CDR and try again.";
inline constexpr std::string_view kWrittenCdrMessage =
    "The CD-R you are attempting to use has already been written to and you cannot overwrite "
    "it. Please insert another blank CD-R.";
inline constexpr std::string_view kNoCdrwSupportMessage =
    "The drive you have selected does not support CD-RWs. Please insert a blank CD-R and try "
    "again.";
inline constexpr std::string_view kCdrwNotBlankMessage =
    "The CD-RW is not blank. To erase it, select the option \"Erase CD-RWs if they are not "
    "blank\" and try again.";
inline constexpr std::string_view kEraseFailedMessage =
    "There was an error erasing the CD-RW. Please try another disk or try using a lower speed.";

// Sectors a track of frames (44100 Hz stereo) takes: whole sectors, at least 300.
std::int64_t TrackSectors(audio::FrameCount frames);
// Sectors a disc of these tracks needs, counting the pauses between tracks.
std::int64_t DiscSectors(const std::vector<audio::FrameCount>& trackFrames);
// SET CD SPEED's write speed for a speed setting and the drive's highest (kB/s, 0:
// unknown): limited to the drive, FFFFh for "highest", never past 16 bits.
std::uint16_t WriteSpeedKbps(int speed, int maxWriteKbps);
// The capacity message with both lengths as "m:ss" times.
std::string CapacityMessage(std::int64_t capacitySectors, std::int64_t neededSectors);
// A sample of the internal form as 16 bits: (s + 8) >> 4, saturated.
std::int16_t To16(audio::Sample s);

// The drive and disc as the check found them.
struct DiscCheck {
  WriteCapabilities caps;
  DiscInfo disc;
  std::uint8_t mediumType = 0;
};

// One burn on an open drive. Each step returns an empty string on success and the
// message to show on failure ("" with device.cancelled() for a cancel).
class AudioBurner {
 public:
  AudioBurner(CdDevice& device, const BurnSettings& settings,
              platform::LProgressDialog* task = nullptr);

  // "Checking drive and CD": load, readiness, capabilities, speed, disc status and
  // the erase of a CD-RW that is not blank.
  std::string CheckDriveAndDisc(DiscCheck* check);
  // "Recording CD Audio": every track (converted to 44100 Hz stereo by the caller),
  // then the lead-in and lead-out.
  std::string BurnTracks(const DiscCheck& check, std::vector<audio::SourceHandle>& tracks);

  bool usedWrite10() const { return write10_; }

 private:
  std::string Erase();
  bool WaitReady(int ms);
  platform::ScsiResult SyncCache();
  std::string WriteTrack(audio::LSoundSource& source, const std::vector<std::uint8_t>& page,
                         double from, double to);
  platform::ScsiResult WriteAt(std::uint32_t lba, std::uint32_t count, std::uint8_t* data);
  void Progress(double f);
  void Text(int line, const std::string& text);
  void Eject();

  CdDevice& device_;
  BurnSettings settings_;
  platform::LProgressDialog* task_;
  bool write10_ = false;
};

// "Burn Audio CD": the audio burn of tracks on the drive of settings (its name
// resolved by the caller), converting each to 44100 Hz stereo first.
class BurnAudioTask final : public platform::LProgressDialog {
 public:
  BurnAudioTask(std::string drive, std::vector<audio::SourceHandle> tracks, BurnSettings settings);
  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  std::string drive_;
  std::vector<audio::SourceHandle> tracks_;
  BurnSettings settings_;
  std::string message_;
};

}  // namespace quillet::cd
