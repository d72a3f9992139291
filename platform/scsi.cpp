#include "platform/scsi.h"

#include <algorithm>
#include <cerrno>
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

std::int64_t SenseInformation(const std::uint8_t* sense, std::size_t length) {
  if (!sense || length < 1) return -1;
  const std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && (sense[0] & 0x80) && length >= 7)
    return (std::int64_t{sense[3]} << 24) | (sense[4] << 16) | (sense[5] << 8) | sense[6];
  if (code == 0x72 || code == 0x73) {
    // Descriptors follow the 8-byte header; type 0 is the information descriptor.
    const std::size_t end = std::min<std::size_t>(length, 8u + (length > 7 ? sense[7] : 0));
    for (std::size_t at = 8; at + 2 <= end; at += 2u + sense[at + 1]) {
      if (sense[at] == 0x00 && sense[at + 1] >= 0x0A && at + 12 <= end && (sense[at + 2] & 0x80)) {
        std::int64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | sense[at + 4 + i];
        return v;
      }
    }
  }
  return -1;
}

ScsiResult JudgeReply(const RawScsiReply& raw, const ScsiCommand& command) {
  ScsiResult r;
  r.systemError = raw.systemError;
  r.status = raw.status;
  r.hostStatus = raw.hostStatus;
  r.driverStatus = raw.driverStatus;
  const std::size_t senseLength = std::min<std::size_t>(raw.senseLength, kSenseBytes);
  r.sense = ParseSense(raw.sense.data(), senseLength);
  r.information = SenseInformation(raw.sense.data(), senseLength);
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
