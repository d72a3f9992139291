#include "platform/scsi.h"

#include <cstdio>
#include <cstring>

namespace quillet::platform {

SenseTriple ParseSense(const std::uint8_t* sense, std::size_t length) {
  if (!sense || length < 1) return {};
  const std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x70 || code == 0x71) {
    if (length < 3) return {};
    SenseTriple t;
    t.key = sense[2] & 0x0F;
    // Bytes 12 and 13 exist only when the additional length (byte 7) reaches them.
    const std::size_t have = length >= 8 ? std::min<std::size_t>(length, 8u + sense[7]) : length;
    if (have > 12) t.asc = sense[12];
    if (have > 13) t.ascq = sense[13];
    return t;
  }
  if (code == 0x72 || code == 0x73) {
    if (length < 4) return {};
    return {static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
  }
  return {};
}

ScsiResult JudgeReply(const RawScsiReply& raw, const ScsiCommand& command) {
  ScsiResult r;
  r.systemError = raw.systemError;
  r.status = raw.status;
  r.hostStatus = raw.hostStatus;
  r.driverStatus = raw.driverStatus;
  r.sense = ParseSense(raw.sense.data(), std::min<std::size_t>(raw.senseLength, kSenseBytes));
  r.timedOut = raw.hostStatus == kHostTimedOut || (raw.driverStatus & 0x0F) == kDriverTimeout ||
               raw.systemError == ETIMEDOUT;
  const bool driverError = (raw.driverStatus & ~kDriverSense) != 0;
  r.ok = raw.systemError == 0 && raw.status == kStatusGood && raw.hostStatus == 0 &&
         !driverError && !r.timedOut;
  // A drive that reports GOOD but whose driver flags sense with a real error key
  // (anything above "recovered error") has not done the command either.
  if (r.ok && (raw.driverStatus & kDriverSense) && r.sense.key > 1) r.ok = false;
  if (command.direction != ScsiDirection::None)
    r.transferred = raw.residual <= command.length ? command.length - raw.residual : 0;
  return r;
}

std::string ScsiResult::Describe() const {
  if (ok) return "done";
  char text[96];
  if (timedOut) return "timed out";
  if (systemError != 0) return std::strerror(systemError);
  if (!sense.empty()) {
    std::snprintf(text, sizeof text, "sense %X/%02X/%02X", sense.key, sense.asc, sense.ascq);
    return text;
  }
  std::snprintf(text, sizeof text, "status %02X, host %04X, driver %04X", status, hostStatus,
                driverStatus);
  return text;
}

std::string CdbText(const ScsiCommand& command) {
  std::string out;
  char hex[4];
  for (std::size_t i = 0; i < command.cdbLength && i < command.cdb.size(); ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", command.cdb[i]);
    out += hex;
  }
  return out;
}

ScsiCommand MakeCommand(std::initializer_list<std::uint8_t> cdb, ScsiDirection direction,
                        std::uint8_t* data, std::size_t length, int timeoutMs) {
  ScsiCommand c;
  std::size_t i = 0;
  for (std::uint8_t b : cdb) {
    if (i >= c.cdb.size()) break;
    c.cdb[i++] = b;
  }
  c.cdbLength = static_cast<std::uint8_t>(i);
  c.direction = direction;
  c.data = data;
  c.length = length;
  c.timeoutMs = timeoutMs;
  return c;
}

}  // namespace quillet::platform
