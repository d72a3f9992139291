#include "platform/sg_drive.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace quillet::platform {
namespace {

std::string ReadTrimmed(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
    text.pop_back();
  return text;
}

// "sr12" -> 12; -1 for any other name.
int SrNumber(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sr") != 0) return -1;
  int n = 0;
  for (std::size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

}  // namespace

std::vector<CdDriveInfo> FindCdDrives(const std::filesystem::path& sysRoot,
                                      const std::filesystem::path& devRoot) {
  std::vector<std::pair<int, CdDriveInfo>> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysRoot, ec)) {
    const std::string name = entry.path().filename().string();
    const int n = SrNumber(name);
    if (n < 0) continue;
    CdDriveInfo info;
    info.path = (devRoot / name).string();
    const std::string vendor = ReadTrimmed(entry.path() / "device" / "vendor");
    const std::string model = ReadTrimmed(entry.path() / "device" / "model");
    info.label = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
    found.emplace_back(n, std::move(info));
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CdDriveInfo> drives;
  for (auto& f : found) drives.push_back(std::move(f.second));
  return drives;
}

sg_io_hdr_t MakeSgIoHeader(const ScsiCommand& command, std::uint8_t* senseBuffer,
                           std::uint8_t senseCapacity) {
  sg_io_hdr_t h{};
  h.interface_id = 'S';
  switch (command.direction) {
    case ScsiDirection::None: h.dxfer_direction = SG_DXFER_NONE; break;
    case ScsiDirection::In: h.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case ScsiDirection::Out: h.dxfer_direction = SG_DXFER_TO_DEV; break;
  }
  const bool hasData = command.direction != ScsiDirection::None && command.data;
  h.dxfer_len = hasData ? static_cast<unsigned>(command.length) : 0;
  h.dxferp = hasData ? command.data : nullptr;
  if (!hasData) h.dxfer_direction = SG_DXFER_NONE;
  h.cmd_len = command.cdbLength;
  h.cmdp = const_cast<unsigned char*>(command.cdb.data());
  h.mx_sb_len = senseCapacity;
  h.sbp = senseBuffer;
  h.timeout = static_cast<unsigned>(std::max(command.timeoutMs, 1));
  return h;
}

RawScsiReply ReplyFromSgIo(const sg_io_hdr_t& h, int ioctlResult, int ioctlErrno) {
  RawScsiReply r;
  if (ioctlResult < 0) {
    r.systemError = ioctlErrno ? ioctlErrno : EIO;
    return r;
  }
  r.status = h.status;
  r.hostStatus = h.host_status;
  r.driverStatus = h.driver_status;
  r.senseLength = static_cast<std::uint8_t>(std::min<unsigned>(h.sb_len_wr, kSenseBytes));
  if (h.sbp && r.senseLength)
    std::copy_n(static_cast<const std::uint8_t*>(h.sbp), r.senseLength, r.sense.begin());
  r.residual = h.resid > 0 ? static_cast<std::size_t>(h.resid) : 0;
  return r;
}

std::unique_ptr<SgIoTransport> SgIoTransport::Open(const std::string& path, int* errnoOut) {
  bool readOnly = false;
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    readOnly = fd >= 0;
  }
  if (fd < 0) {
    if (errnoOut) *errnoOut = errno;
    return nullptr;
  }
  return std::unique_ptr<SgIoTransport>(new SgIoTransport(UniqueFd(fd), path, readOnly));
}

RawScsiReply SgIoTransport::Execute(const ScsiCommand& command) {
  std::uint8_t sense[kSenseBytes] = {};
  sg_io_hdr_t h = MakeSgIoHeader(command, sense, kSenseBytes);
  int rc;
  do {
    rc = ::ioctl(fd_.get(), SG_IO, &h);
  } while (rc < 0 && errno == EINTR);
  return ReplyFromSgIo(h, rc, rc < 0 ? errno : 0);
}

}  // namespace quillet::platform
