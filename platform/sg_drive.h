#pragma once
// Real CD drives: found under /sys/class/block/sr*, opened as /dev/srN and sent
// commands with the SG_IO ioctl.

#include <scsi/sg.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/scsi.h"
#include "platform/unique_fd.h"

namespace quillet::platform {

struct CdDriveInfo {
  std::string path;   // "/dev/sr0"
  std::string label;  // "VENDOR MODEL" from sysfs; empty when unknown
};

// Every sr* entry of sysRoot (sorted by number: sr2 before sr10), as devRoot/srN.
std::vector<CdDriveInfo> FindCdDrives(const std::filesystem::path& sysRoot = "/sys/class/block",
                                      const std::filesystem::path& devRoot = "/dev");

// The request SG_IO gets for command, with sense going to senseBuffer.
sg_io_hdr_t MakeSgIoHeader(const ScsiCommand& command, std::uint8_t* senseBuffer,
                           std::uint8_t senseCapacity);
// The raw reply from a finished header and the ioctl's return value and errno.
RawScsiReply ReplyFromSgIo(const sg_io_hdr_t& header, int ioctlResult, int ioctlErrno);

class SgIoTransport final : public ScsiTransport {
 public:
  // Read and write, non-blocking (a drive without a disc still opens); read-only
  // when that is refused, which still allows reading commands. Null with *errnoOut
  // when neither opens.
  static std::unique_ptr<SgIoTransport> Open(const std::string& path, int* errnoOut = nullptr);

  RawScsiReply Execute(const ScsiCommand& command) override;
  std::string name() const override { return path_; }
  bool readOnly() const { return readOnly_; }

 private:
  SgIoTransport(UniqueFd fd, std::string path, bool readOnly)
      : fd_(std::move(fd)), path_(std::move(path)), readOnly_(readOnly) {}
  UniqueFd fd_;
  std::string path_;
  bool readOnly_;
};

}  // namespace quillet::platform
