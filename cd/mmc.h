#pragma once
// The MMC command blocks the program sends to CD drives, and the readers of their
// replies. Replies come from a drive, so every length and count in them is checked
// against the bytes actually received.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/scsi.h"

namespace quillet::cd {

using platform::ScsiCommand;

inline constexpr int kSectorBytes = 2352;
inline constexpr int kFramesPerSector = 588;  // 16-bit stereo at 44100 Hz
inline constexpr int kSectorsPerSecond = 75;
inline constexpr int kMaxTracks = 99;
inline constexpr std::size_t kTocReplyBytes = 2048;

// Time-outs, milliseconds.
inline constexpr int kTocTimeoutMs = 20000;
inline constexpr int kReadCdTimeoutMs = 40000;
inline constexpr int kStartStopTimeoutMs = 10000;
inline constexpr int kTestUnitReadyTimeoutMs = 500;
inline constexpr int kInfoTimeoutMs = 5000;
inline constexpr int kModeSelectTimeoutMs = 40000;
inline constexpr int kReserveTimeoutMs = 60000;
inline constexpr int kWriteTimeoutMs = 120000;
inline constexpr int kSyncCacheTimeoutMs = 600000;
// Close and blank return at once (immediate bit) and are then polled. The kernel
// resets a drive whose command outlives its time-out, so these get room to answer.
inline constexpr int kImmediateTimeoutMs = 10000;

ScsiCommand TestUnitReadyCommand();
// START STOP UNIT: load (close the tray) or eject.
ScsiCommand StartStopCommand(bool load);
// READ TOC, LBA form, format 0, from track 1, into buf[0..len).
ScsiCommand ReadTocCommand(std::uint8_t* buf, std::size_t len);
// READ CD of count raw sectors from lba into buf (count * 2352 bytes).
ScsiCommand ReadCdCommand(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf);
// MODE SENSE(10) of page with allocation len; altForm sets byte 1 to 80h (the retry).
ScsiCommand ModeSenseCommand(std::uint8_t page, std::uint16_t len, std::uint8_t* buf,
                             bool altForm = false);
// MODE SELECT(10) with the 60-byte write parameters list in buf.
ScsiCommand ModeSelectCommand(std::uint8_t* buf);
ScsiCommand ReadTrackInfoCommand(std::uint16_t len, std::uint8_t* buf);
ScsiCommand ReadDiscInfoCommand(std::uint16_t len, std::uint8_t* buf);
// GET CONFIGURATION of feature 2Dh (CD Track at Once), 8 bytes.
ScsiCommand GetConfigurationCommand(std::uint8_t* buf);
// SET CD SPEED: reading as fast as possible, writing at kbps (FFFFh: the highest).
ScsiCommand SetCdSpeedCommand(std::uint16_t writeKbps);
ScsiCommand ReserveTrackCommand(std::uint32_t sectors);
ScsiCommand Write12Command(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf);
ScsiCommand Write10Command(std::uint32_t lba, std::uint16_t count, std::uint8_t* buf);
ScsiCommand SyncCacheCommand();
ScsiCommand CloseSessionCommand();
ScsiCommand BlankMinimalCommand();

struct TocEntry {
  int number = 0;
  bool audio = true;
  std::int64_t start = 0;
};

struct Toc {
  std::vector<TocEntry> tracks;  // audio and data, in disc order
  std::int64_t leadOut = 0;
};

// Reads a format-0 LBA TOC reply of which `received` bytes arrived. Refuses (with
// the reason) a reply that claims more than it holds, more than 99 tracks, track
// numbers that do not rise, addresses that do not rise, or no lead-out.
std::string ParseToc(const std::uint8_t* reply, std::size_t received, Toc* toc);

// Fields of READ DISC INFORMATION.
struct DiscInfo {
  int status = 0;           // 0 blank, 1 appendable, 2 complete, 3 other
  bool erasable = false;
  int leadOutMinutes = 0;   // last possible lead-out start
  int leadOutSeconds = 0;
  int leadOutFrames = 0;
  bool blank() const { return status == 0; }
  // The last possible lead-out start as a disc address (MSF less the 2-second lead-in).
  std::int64_t capacitySectors() const;
};
// False when fewer than 3 bytes arrived.
bool ParseDiscInfo(const std::uint8_t* reply, std::size_t received, DiscInfo* info);

struct TrackInfo {
  std::int64_t nextWritable = 0;
  std::int64_t freeBlocks = 0;
};
// False when the reply is too short to hold both fields.
bool ParseTrackInfo(const std::uint8_t* reply, std::size_t received, TrackInfo* info);

// What the capabilities page 2Ah says about writing.
struct WriteCapabilities {
  bool cdr = false;
  bool cdrw = false;
  int maxWriteKbps = 0;  // 0: unknown
};
// page points at the page itself (after the mode header and block descriptors).
bool ParseCapabilities(const std::uint8_t* page, std::size_t received, WriteCapabilities* caps);

// The 60-byte MODE SELECT list for Track-At-Once audio: buffer-underrun protection,
// multi-session 01, audio track mode, raw 2352-byte blocks, 150-sector pauses; the
// header's medium type from the drive's MODE SENSE reply. testWrite: the drive goes
// through the motions without burning.
std::vector<std::uint8_t> WriteParametersList(std::uint8_t mediumType, bool testWrite);

// Sense triples of interest.
inline constexpr platform::SenseTriple kBecomingReady{2, 0x04, 0x01};
inline constexpr platform::SenseTriple kFormatInProgress{2, 0x04, 0x04};
inline constexpr platform::SenseTriple kOperationInProgress{2, 0x04, 0x07};
inline constexpr platform::SenseTriple kLongWriteInProgress{2, 0x04, 0x08};
inline constexpr platform::SenseTriple kInvalidField{5, 0x24, 0x00};
inline constexpr platform::SenseTriple kInvalidOpcode{5, 0x20, 0x00};

// Unit attention (medium changed, reset): the drive tells of an event, not a fault.
inline bool IsUnitAttention(const platform::SenseTriple& s) { return s.key == 6; }

}  // namespace quillet::cd
