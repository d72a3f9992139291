#include "cd/device.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/sg_drive.h"
#include "platform/sim_drive.h"

namespace quillet::cd {
namespace {

using Clock = std::chrono::steady_clock;
// The window is pumped at least this often while a command runs.
constexpr int kPumpSliceMs = 30;
// Room beyond a command's own time-out for the transport to report it.
constexpr int kWaitGraceMs = 2000;

}  // namespace

std::vector<DriveEntry> ListCdDrives(const settings::Settings& s) {
  std::vector<DriveEntry> drives;
  for (const platform::CdDriveInfo& d : platform::FindCdDrives())
    drives.push_back({d.path, d.label});
  for (int i = 1; i <= kMaxSimulatedDrives; ++i) {
    const std::string name =
        s.GetString(kCdSection, "SimulatedDrive" + std::to_string(i), "");
    if (platform::IsSimulatedDriveName(name)) drives.push_back({name, "simulated"});
  }
  return drives;
}

std::string DriveDisplayName(int index) { return "CD-ROM " + std::to_string(index + 1); }

std::optional<std::string> ResolveDriveArgument(std::string_view arg,
                                                const std::vector<DriveEntry>& drives) {
  if (!arg.empty() && arg.size() < 4 &&
      std::all_of(arg.begin(), arg.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int n = std::stoi(std::string(arg));
    if (n < 1 || n > static_cast<int>(drives.size())) return std::nullopt;
    return drives[static_cast<std::size_t>(n - 1)].name;
  }
  if (arg.empty()) return std::nullopt;
  return std::string(arg);
}

std::unique_ptr<CdDevice> CdDevice::Open(const std::string& name, std::string* message) {
  std::unique_ptr<platform::ScsiTransport> t = platform::OpenCdTransport(name, message);
  if (!t) return nullptr;
  auto device = std::make_unique<CdDevice>(std::move(t));
  if (!device->worker_->ok()) {
    *message = "cannot start the drive's command thread";
    return nullptr;
  }
  return device;
}

CdDevice::CdDevice(std::unique_ptr<platform::ScsiTransport> transport)
    : transport_(std::move(transport)),
      worker_(std::make_unique<platform::ScsiWorker>(*transport_)) {}

// The worker is joined (after its command ends) before the transport goes.
CdDevice::~CdDevice() { worker_.reset(); }

bool CdDevice::PollCancel() {
  if (!task_ || cancelled_) return cancelled_;
  if (task_->Pump()) cancelled_ = true;
  return cancelled_;
}

bool CdDevice::Sleep(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (PollCancel()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    ::poll(nullptr, 0, static_cast<int>(std::min<std::int64_t>(left, kPumpSliceMs)));
  }
}

bool CdDevice::Start(const platform::ScsiCommand& command) {
  if (hung_) return false;
  started_ = command;
  return worker_->Start(command);
}

platform::ScsiResult CdDevice::Collect(int waitMs) {
  platform::ScsiResult failed;
  if (hung_ || !worker_->pending()) {
    failed.systemError = hung_ ? ETIMEDOUT : EINVAL;
    failed.timedOut = hung_;
    return failed;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    pollfd p{worker_->eventFd(), POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int slice = static_cast<int>(std::clamp<std::int64_t>(left, 0, kPumpSliceMs));
    if (::poll(&p, 1, slice) > 0) break;
    PollCancel();
    if (Clock::now() >= deadline) {
      hung_ = true;
      failed.timedOut = true;
      failed.systemError = ETIMEDOUT;
      return failed;
    }
  }
  return platform::JudgeReply(worker_->Finish(), started_);
}

platform::ScsiResult CdDevice::Execute(const platform::ScsiCommand& command) {
  if (!Start(command)) {
    platform::ScsiResult failed;
    failed.systemError = hung_ ? ETIMEDOUT : EBUSY;
    failed.timedOut = hung_;
    return failed;
  }
  return Collect(command.timeoutMs + kWaitGraceMs);
}

}  // namespace quillet::cd
