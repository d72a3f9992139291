#pragma once
// SCSI commands to a CD drive behind one transport interface: the kernel's SG_IO
// pass-through for real drives, a simulated MMC drive for tests and demos. A
// transport reports what happened at its level (the raw reply); JudgeReply decides
// success the same way for every transport.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillet::platform {

enum class ScsiDirection : std::uint8_t {
  None,  // no data phase
  In,    // data from the drive
  Out,   // data to the drive
};

struct ScsiCommand {
  std::array<std::uint8_t, 16> cdb{};
  std::uint8_t cdbLength = 0;  // 6, 10, 12 or 16
  ScsiDirection direction = ScsiDirection::None;
  std::uint8_t* data = nullptr;  // the caller's buffer, kept alive until completion
  std::size_t length = 0;
  int timeoutMs = 5000;

  std::uint8_t opcode() const { return cdb[0]; }
};

// Sense key, additional sense code and qualifier.
struct SenseTriple {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool operator==(const SenseTriple&) const = default;
  bool empty() const { return key == 0 && asc == 0 && ascq == 0; }
};

inline constexpr std::size_t kSenseBytes = 32;

// What a transport saw, before any judgement.
struct RawScsiReply {
  int systemError = 0;  // errno of a failed ioctl (or open); 0: the call went through
  std::uint8_t status = 0;          // SCSI status byte; 0 GOOD, 2 CHECK CONDITION, 8 BUSY
  std::uint16_t hostStatus = 0;     // adapter level; 3 (DID_TIME_OUT) on a time-out
  std::uint16_t driverStatus = 0;   // driver level; 0x08 (DRIVER_SENSE) only says sense came
  std::array<std::uint8_t, kSenseBytes> sense{};
  std::uint8_t senseLength = 0;     // bytes of sense written
  std::size_t residual = 0;         // data bytes not transferred
};

inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kStatusBusy = 0x08;
inline constexpr std::uint16_t kHostTimedOut = 0x03;
inline constexpr std::uint16_t kDriverSense = 0x08;
inline constexpr std::uint16_t kDriverTimeout = 0x06;

// The triple from sense data in fixed (70h/71h) or descriptor (72h/73h) format;
// empty for anything else or too short a buffer.
SenseTriple ParseSense(const std::uint8_t* sense, std::size_t length);
// The information field (the failing block of a medium error) when the sense data
// mark it valid; -1 otherwise.
std::int64_t SenseInformation(const std::uint8_t* sense, std::size_t length);

struct ScsiResult {
  bool ok = false;
  bool timedOut = false;
  int systemError = 0;
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  SenseTriple sense;
  std::int64_t information = -1;  // the sense's information field, when valid
  std::size_t transferred = 0;    // data bytes moved

  // "sense 5/24/00", "status 08", "timed out", "Input/output error": for messages.
  std::string Describe() const;
};

// Success only when the call went through with status GOOD and no host or driver
// error. Sense without a failing status (a recovered error) does not fail; a
// failing status fails even when the sense data are empty.
ScsiResult JudgeReply(const RawScsiReply& raw, const ScsiCommand& command);

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  // Runs one command to completion or its time-out; may block that long. Safe to call
  // from one thread at a time.
  virtual RawScsiReply Execute(const ScsiCommand& command) = 0;
  // What the drive is called in lists and messages ("/dev/sr0", "sim:disc.cue").
  virtual std::string name() const = 0;
};

// "43 00 00 00 00 00 01 08 00 00": the command block in hexadecimal, for logs.
std::string CdbText(const ScsiCommand& command);

// A command from its block bytes (the rest is the caller's to fill).
ScsiCommand MakeCommand(std::initializer_list<std::uint8_t> cdb, ScsiDirection direction,
                        std::uint8_t* data, std::size_t length, int timeoutMs);

}  // namespace quillet::platform
