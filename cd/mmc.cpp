#include "cd/mmc.h"

#include <algorithm>

#include "platform/byte_source.h"

namespace quillet::cd {
namespace {

using platform::LoadBE16;
using platform::LoadBE32;
using platform::MakeCommand;
using platform::ScsiDirection;

constexpr std::uint8_t B(std::uint32_t v, int shift) {
  return static_cast<std::uint8_t>(v >> shift);
}

}  // namespace

ScsiCommand TestUnitReadyCommand() {
  return MakeCommand({0x00, 0, 0, 0, 0, 0}, ScsiDirection::None, nullptr, 0,
                     kTestUnitReadyTimeoutMs);
}

ScsiCommand StartStopCommand(bool load) {
  return MakeCommand({0x1B, 0, 0, 0, static_cast<std::uint8_t>(load ? 0x03 : 0x02), 0},
                     ScsiDirection::None, nullptr, 0, kStartStopTimeoutMs);
}

ScsiCommand ReadTocCommand(std::uint8_t* buf, std::size_t len) {
  const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(len, 0xFFFF));
  return MakeCommand({0x43, 0, 0, 0, 0, 0, 0x01, B(n, 8), B(n, 0), 0}, ScsiDirection::In, buf, n,
                     kTocTimeoutMs);
}

ScsiCommand ReadCdCommand(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf) {
  return MakeCommand({0xBE, 0, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), B(count, 16),
                      B(count, 8), B(count, 0), 0xF0, 0, 0},
                     ScsiDirection::In, buf, std::size_t{count} * kSectorBytes, kReadCdTimeoutMs);
}

ScsiCommand ModeSenseCommand(std::uint8_t page, std::uint16_t len, std::uint8_t* buf,
                             bool altForm) {
  return MakeCommand({0x5A, static_cast<std::uint8_t>(altForm ? 0x80 : 0x00), page, 0, 0, 0, 0,
                      B(len, 8), B(len, 0), 0},
                     ScsiDirection::In, buf, len, kInfoTimeoutMs);
}

ScsiCommand ModeSelectCommand(std::uint8_t* buf) {
  return MakeCommand({0x55, 0x10, 0, 0, 0, 0, 0, 0, 0x3C, 0}, ScsiDirection::Out, buf, 0x3C,
                     kModeSelectTimeoutMs);
}

ScsiCommand ReadTrackInfoCommand(std::uint16_t len, std::uint8_t* buf) {
  return MakeCommand({0x52, 0x01, 0, 0, 0, 0xFF, 0, B(len, 8), B(len, 0), 0}, ScsiDirection::In,
                     buf, len, kInfoTimeoutMs);
}

ScsiCommand ReadDiscInfoCommand(std::uint16_t len, std::uint8_t* buf) {
  return MakeCommand({0x51, 0, 0, 0, 0, 0, 0, B(len, 8), B(len, 0), 0}, ScsiDirection::In, buf,
                     len, kInfoTimeoutMs);
}

ScsiCommand GetConfigurationCommand(std::uint8_t* buf) {
  return MakeCommand({0x46, 0x02, 0x00, 0x2D, 0, 0, 0, 0, 0x08, 0}, ScsiDirection::In, buf, 8,
                     kInfoTimeoutMs);
}

ScsiCommand SetCdSpeedCommand(std::uint16_t writeKbps) {
  return MakeCommand({0xBB, 0, 0xFF, 0xFF, B(writeKbps, 8), B(writeKbps, 0), 0, 0, 0, 0, 0, 0},
                     ScsiDirection::None, nullptr, 0, kInfoTimeoutMs);
}

ScsiCommand ReserveTrackCommand(std::uint32_t sectors) {
  return MakeCommand({0x53, 0, 0, 0, 0, B(sectors, 24), B(sectors, 16), B(sectors, 8),
                      B(sectors, 0), 0},
                     ScsiDirection::None, nullptr, 0, kReserveTimeoutMs);
}

ScsiCommand Write12Command(std::uint32_t lba, std::uint32_t count, std::uint8_t* buf) {
  return MakeCommand({0xAA, 0, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), B(count, 24),
                      B(count, 16), B(count, 8), B(count, 0), 0, 0},
                     ScsiDirection::Out, buf, std::size_t{count} * kSectorBytes, kWriteTimeoutMs);
}

ScsiCommand Write10Command(std::uint32_t lba, std::uint16_t count, std::uint8_t* buf) {
  return MakeCommand({0x2A, 0, B(lba, 24), B(lba, 16), B(lba, 8), B(lba, 0), 0, B(count, 8),
                      B(count, 0), 0},
                     ScsiDirection::Out, buf, std::size_t{count} * kSectorBytes, kWriteTimeoutMs);
}

ScsiCommand SyncCacheCommand() {
  return MakeCommand({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScsiDirection::None, nullptr, 0,
                     kSyncCacheTimeoutMs);
}

ScsiCommand CloseSessionCommand() {
  return MakeCommand({0x5B, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0}, ScsiDirection::None, nullptr, 0,
                     kImmediateTimeoutMs);
}

ScsiCommand BlankMinimalCommand() {
  return MakeCommand({0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScsiDirection::None, nullptr, 0,
                     kImmediateTimeoutMs);
}

namespace {

std::string ParseTocInto(const std::uint8_t* reply, std::size_t received, Toc* toc) {
  if (received < 4) return "the table of contents is empty";
  const std::size_t claimed = LoadBE16(reply);
  // Descriptors the length field claims, cut to those that actually arrived.
  const std::size_t claimedDescriptors = claimed >= 2 ? (claimed - 2) / 8 : 0;
  const std::size_t descriptors = std::min(claimedDescriptors, (received - 4) / 8);
  bool leadOut = false;
  for (std::size_t i = 0; i < descriptors; ++i) {
    const std::uint8_t* d = reply + 4 + 8 * i;
    const int number = d[2];
    const std::int64_t start = static_cast<std::int32_t>(LoadBE32(d + 4));
    const std::int64_t previous = toc->tracks.empty() ? -1 : toc->tracks.back().start;
    if (start <= previous || start < 0)
      return "the table of contents has addresses that do not rise";
    if (number == 0xAA) {
      toc->leadOut = start;
      leadOut = true;
      break;
    }
    if (number < 1 || number > kMaxTracks ||
        (!toc->tracks.empty() && number <= toc->tracks.back().number))
      return "the table of contents has track numbers that do not rise";
    if (toc->tracks.size() >= static_cast<std::size_t>(kMaxTracks))
      return "the table of contents lists more than 99 tracks";
    toc->tracks.push_back({number, (d[1] & 0x04) == 0, start});
  }
  if (!leadOut || toc->tracks.empty()) return "the table of contents has no tracks";
  return {};
}

}  // namespace

std::string ParseToc(const std::uint8_t* reply, std::size_t received, Toc* toc) {
  *toc = {};
  std::string error = ParseTocInto(reply, received, toc);
  if (!error.empty()) *toc = {};
  return error;
}

std::int64_t DiscInfo::capacitySectors() const {
  return std::max<std::int64_t>(
      0, (std::int64_t{leadOutMinutes} * 60 + leadOutSeconds) * kSectorsPerSecond + leadOutFrames -
             150);
}

bool ParseDiscInfo(const std::uint8_t* reply, std::size_t received, DiscInfo* info) {
  *info = {};
  if (received < 3) return false;
  info->status = reply[2] & 0x03;
  info->erasable = (reply[2] & 0x10) != 0;
  if (received >= 24) {
    info->leadOutMinutes = reply[21];
    info->leadOutSeconds = reply[22];
    info->leadOutFrames = reply[23];
  }
  return true;
}

bool ParseTrackInfo(const std::uint8_t* reply, std::size_t received, TrackInfo* info) {
  *info = {};
  if (received < 20) return false;
  info->nextWritable = LoadBE32(reply + 12);
  info->freeBlocks = LoadBE32(reply + 16);
  return true;
}

bool ParseCapabilities(const std::uint8_t* page, std::size_t received, WriteCapabilities* caps) {
  *caps = {};
  if (received < 4 || (page[0] & 0x3F) != 0x2A) return false;
  caps->cdr = (page[3] & 0x01) != 0;
  caps->cdrw = (page[3] & 0x02) != 0;
  if (received >= 20) caps->maxWriteKbps = LoadBE16(page + 18);
  return true;
}

std::vector<std::uint8_t> WriteParametersList(std::uint8_t mediumType, bool testWrite) {
  std::vector<std::uint8_t> list(60, 0);
  list[2] = mediumType;
  std::uint8_t* page = list.data() + 8;
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = static_cast<std::uint8_t>(0x41 | (testWrite ? 0x10 : 0));
  page[3] = 0x40;
  page[4] = 0x00;
  page[14] = 0x00;
  page[15] = 0x96;
  return list;
}

}  // namespace quillet::cd
