#include "cd/burn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "audio/resample.h"
#include "platform/byte_source.h"

namespace quillet::cd {
namespace {

using platform::ScsiResult;
using platform::SenseTriple;

constexpr int kPollMs = 500;
constexpr int kReadyAfterLoadMs = 30000;
constexpr int kReadyRetryMs = 5000;
constexpr int kEraseMs = 240000;
constexpr int kCloseMs = 240000;
constexpr int kWriteReadyMs = 60000;
constexpr std::int32_t kCdRate = 44100;

bool InProgress(const SenseTriple& s) {
  return s == kBecomingReady || s == kFormatInProgress || s == kOperationInProgress ||
         s == kLongWriteInProgress;
}

// MODE SENSE(10) of page, first for its length, then whole (at most maxPage bytes of
// page); the page's bytes, or empty. mediumType gets the header's byte 2.
std::vector<std::uint8_t> ModeSensePage(CdDevice& device, std::uint8_t page, std::size_t maxPage,
                                        std::uint8_t* mediumType) {
  std::uint8_t head[2] = {};
  bool alt = false;
  ScsiResult r = device.Execute(ModeSenseCommand(page, 2, head));
  if (!r.ok) {
    alt = true;
    r = device.Execute(ModeSenseCommand(page, 2, head, true));
    if (!r.ok) return {};
  }
  const std::size_t total = std::min<std::size_t>(platform::LoadBE16(head) + 2u, 8 + 255 + maxPage);
  std::vector<std::uint8_t> reply(std::max<std::size_t>(total, 8), 0);
  r = device.Execute(
      ModeSenseCommand(page, static_cast<std::uint16_t>(reply.size()), reply.data(), alt));
  if (!r.ok || r.transferred < 8) return {};
  if (mediumType) *mediumType = reply[2];
  const std::size_t offset = 8u + platform::LoadBE16(&reply[6]);
  if (offset >= r.transferred) return {};
  const std::size_t n = std::min(r.transferred - offset, maxPage);
  return std::vector<std::uint8_t>(reply.begin() + static_cast<std::ptrdiff_t>(offset),
                                   reply.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

// A two-step information read (2 bytes for the length, then the data, at most max).
std::vector<std::uint8_t> ReadInfo(CdDevice& device, bool disc, std::size_t max) {
  std::uint8_t head[2] = {};
  ScsiResult r = device.Execute(disc ? ReadDiscInfoCommand(2, head) : ReadTrackInfoCommand(2, head));
  if (!r.ok || r.transferred < 2) return {};
  const std::size_t want = std::min<std::size_t>(platform::LoadBE16(head) + 2u, max);
  std::vector<std::uint8_t> data(want, 0);
  const auto len = static_cast<std::uint16_t>(want);
  r = device.Execute(disc ? ReadDiscInfoCommand(len, data.data())
                          : ReadTrackInfoCommand(len, data.data()));
  if (!r.ok) return {};
  data.resize(r.transferred);
  return data;
}

std::string MinutesText(std::int64_t sectors) {
  const std::int64_t seconds = sectors / kSectorsPerSecond;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

BurnSettings BurnSettings::Load(const settings::Settings& s) {
  BurnSettings b;
  b.internal = s.GetBool(kRecorderSection, "Internal", true);
  b.drive = std::max(0, s.GetInt(kRecorderSection, "CDDrive", 0));
  b.speed = std::clamp(s.GetInt(kRecorderSection, "Speed", kHighestSpeed), 0, kHighestSpeed);
  b.eraseCdrw = s.GetBool(kRecorderSection, "EraseCDRW", true);
  b.overburn = s.GetBool(kRecorderSection, "Overburn", false);
  b.loadEject = s.GetBool(kRecorderSection, "CDLoadEject", true);
  return b;
}

void BurnSettings::Store(settings::Settings& s) const {
  s.SetBool(kRecorderSection, "Internal", internal);
  s.SetInt(kRecorderSection, "CDDrive", drive);
  s.SetInt(kRecorderSection, "Speed", speed);
  s.SetBool(kRecorderSection, "EraseCDRW", eraseCdrw);
  s.SetBool(kRecorderSection, "Overburn", overburn);
  s.SetBool(kRecorderSection, "CDLoadEject", loadEject);
}

std::int64_t TrackSectors(audio::FrameCount frames) {
  const std::int64_t sectors = (std::max<std::int64_t>(frames, 0) + kFramesPerSector - 1) /
                               kFramesPerSector;
  return std::max(sectors, kMinTrackSectors);
}

std::int64_t DiscSectors(const std::vector<audio::FrameCount>& trackFrames) {
  std::int64_t total = 0;
  for (std::size_t i = 0; i < trackFrames.size(); ++i)
    total += TrackSectors(trackFrames[i]) + (i > 0 ? kPauseSectors : 0);
  return total;
}

std::uint16_t WriteSpeedKbps(int speed, int maxWriteKbps) {
  std::int64_t s = std::clamp(speed, 0, kHighestSpeed);
  if (maxWriteKbps > 0 && s * 177 > maxWriteKbps) s = maxWriteKbps / 177;
  if (s == 0 || s == kHighestSpeed) return 0xFFFF;
  return static_cast<std::uint16_t>(std::min<std::int64_t>(s * 177, 0xFFFF));
}

std::string CapacityMessage(std::int64_t capacitySectors, std::int64_t neededSectors) {
  return "The CD has a capacity of " + MinutesText(capacitySectors) +
         " minutes and you are trying to write " + MinutesText(neededSectors) +
         " minutes. Please insert a larger capacity CD or try fewer tracks.";
}

std::int16_t To16(audio::Sample s) {
  const std::int64_t v = (std::int64_t{s} + 8) >> 4;
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

AudioBurner::AudioBurner(CdDevice& device, const BurnSettings& settings,
                         platform::LProgressDialog* task)
    : device_(device), settings_(settings), task_(task) {
  device_.SetTask(task);
}

void AudioBurner::Progress(double f) {
  if (task_) task_->SetProgress(f);
}

void AudioBurner::Text(int line, const std::string& text) {
  if (task_) task_->SetText(line, text);
}

void AudioBurner::Eject() {
  if (settings_.loadEject) device_.Execute(StartStopCommand(false));
}

bool AudioBurner::WaitReady(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const ScsiResult r = device_.Execute(TestUnitReadyCommand());
    if (r.ok) return true;
    if (r.timedOut || device_.hung()) return false;
    // A unit attention tells of the load itself; it is not a missing disc.
    if (!InProgress(r.sense) && !IsUnitAttention(r.sense)) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (device_.Sleep(kPollMs)) return false;
  }
}

std::string AudioBurner::CheckDriveAndDisc(DiscCheck* check) {
  *check = {};
  Text(0, "Checking drive and CD");
  if (settings_.loadEject) device_.Execute(StartStopCommand(true));
  if (!WaitReady(kReadyAfterLoadMs))
    return device_.cancelled() ? "" : std::string(kNoDiskMessage);

  const std::vector<std::uint8_t> caps = ModeSensePage(device_, 0x2A, 30, nullptr);
  if (!ParseCapabilities(caps.data(), caps.size(), &check->caps)) {
    check->caps = {true, false, 0};  // unreadable: assume a CD-R writer of any speed
  }
  if (!check->caps.cdr && !check->caps.cdrw) {
    std::uint8_t config[8] = {};
    const ScsiResult r = device_.Execute(GetConfigurationCommand(config));
    // Only feature 2Dh was asked for: a data length past the header means it is there.
    if (!r.ok || platform::LoadBE32(config) <= 4) return std::string(kCannotWriteMessage);
  }
  device_.Execute(SetCdSpeedCommand(WriteSpeedKbps(settings_.speed, check->caps.maxWriteKbps)));

  std::vector<std::uint8_t> info = ReadInfo(device_, true, 24);
  if (info.size() < 3) {
    WaitReady(kReadyRetryMs);
    info = ReadInfo(device_, true, 24);
    if (info.size() < 3) {
      Eject();
      return std::string(kNoCdMessage);
    }
  }
  ParseDiscInfo(info.data(), info.size(), &check->disc);
  if (check->disc.blank()) return {};
  if (!check->disc.erasable) {
    Eject();
    return std::string(kWrittenCdrMessage);
  }
  if (!check->caps.cdrw) return std::string(kNoCdrwSupportMessage);
  if (!settings_.eraseCdrw) return std::string(kCdrwNotBlankMessage);
  std::string erase = Erase();
  if (!erase.empty() || device_.cancelled()) return erase;
  // The capacity is known only once the disc is blank.
  info = ReadInfo(device_, true, 24);
  if (info.size() < 3) return std::string(kEraseFailedMessage);
  ParseDiscInfo(info.data(), info.size(), &check->disc);
  return check->disc.blank() ? "" : std::string(kEraseFailedMessage);
}

std::string AudioBurner::Erase() {
  Text(0, "Erasing CD-RW Disk");
  const ScsiResult start = device_.Execute(BlankMinimalCommand());
  if (!start.ok) return std::string(kEraseFailedMessage);
  const int steps = kEraseMs / kPollMs;
  double p = 0;
  for (int i = 0; i < steps; ++i) {
    if (device_.Sleep(kPollMs)) return {};
    platform::ScsiCommand tur = TestUnitReadyCommand();
    tur.timeoutMs = 1000;
    const ScsiResult r = device_.Execute(tur);
    if (r.ok) return {};
    if (device_.hung() || (!InProgress(r.sense) && !IsUnitAttention(r.sense)))
      return std::string(kEraseFailedMessage);
    p += (1 - p) / steps;
    Progress(p);
  }
  return std::string(kEraseFailedMessage);
}

ScsiResult AudioBurner::SyncCache() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSyncCacheTimeoutMs);
  for (;;) {
    const ScsiResult r = device_.Execute(SyncCacheCommand());
    if (r.ok || !(r.sense == kOperationInProgress || r.sense == kLongWriteInProgress) ||
        std::chrono::steady_clock::now() >= deadline)
      return r;
    device_.Sleep(kPollMs);
  }
}

ScsiResult AudioBurner::WriteAt(std::uint32_t lba, std::uint32_t count, std::uint8_t* data) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteReadyMs);
  for (;;) {
    const ScsiResult r = device_.Execute(write10_ ? Write10Command(lba, static_cast<std::uint16_t>(count), data)
                                                  : Write12Command(lba, count, data));
    if (r.ok) {
      WaitReady(kWriteReadyMs);
      return r;
    }
    if (!write10_ && (r.sense == kInvalidField || r.sense == kInvalidOpcode)) {
      write10_ = true;
      continue;
    }
    // Still busy with earlier data: the same address again, never counted as written.
    if (!(r.sense == kFormatInProgress || r.sense == kOperationInProgress ||
          r.sense == kLongWriteInProgress) ||
        std::chrono::steady_clock::now() >= deadline)
      return r;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    WaitReady(static_cast<int>(std::max<std::int64_t>(left, 0)));
    if (device_.hung()) return r;
  }
}

std::string AudioBurner::WriteTrack(audio::LSoundSource& source,
                                    const std::vector<std::uint8_t>& page, double from, double to) {
  std::vector<std::uint8_t> list = page;
  ScsiResult r = device_.Execute(ModeSelectCommand(list.data()));
  if (!r.ok) return "The CD drive refused the write parameters (" + r.Describe() + ").";
  const std::vector<std::uint8_t> info = ReadInfo(device_, false, 28);
  TrackInfo track;
  if (!ParseTrackInfo(info.data(), info.size(), &track))
    return "The CD drive did not tell where to write the track.";
  const audio::FrameCount frames = std::max<audio::FrameCount>(source.length(), 0);
  const std::int64_t reserved = TrackSectors(frames);
  r = device_.Execute(ReserveTrackCommand(static_cast<std::uint32_t>(reserved)));
  if (!r.ok) return "The CD drive could not reserve the track (" + r.Describe() + ").";

  std::vector<std::uint8_t> piece(std::size_t{kWritePieceSectors} * kSectorBytes);
  std::vector<audio::Sample> run(static_cast<std::size_t>(audio::kBlockFrames) * 2);
  audio::FrameCount framesLeft = frames;
  std::int64_t written = 0;
  while (written < reserved) {
    const std::int64_t count = std::min<std::int64_t>(kWritePieceSectors, reserved - written);
    // Audio as far as it goes, silence after it up to the reserved size.
    std::fill(piece.begin(), piece.end(), 0);
    const audio::FrameCount pieceFrames =
        std::min<audio::FrameCount>(framesLeft, count * kFramesPerSector);
    for (audio::FrameCount done = 0; done < pieceFrames;) {
      const audio::FrameCount n = std::min<audio::FrameCount>(audio::kBlockFrames, pieceFrames - done);
      source.read(run.data(), n);
      std::uint8_t* out = piece.data() + done * 4;
      for (audio::FrameCount i = 0; i < n * 2; ++i)
        platform::StoreLE16(out + 2 * i, static_cast<std::uint16_t>(To16(run[static_cast<std::size_t>(i)])));
      done += n;
    }
    framesLeft -= pieceFrames;
    r = WriteAt(static_cast<std::uint32_t>(track.nextWritable + written),
                static_cast<std::uint32_t>(count), piece.data());
    if (!r.ok)
      return "Writing sector " + std::to_string(track.nextWritable + written) + " failed (" +
             r.Describe() + ").";
    written += count;
    Progress(from + (to - from) * static_cast<double>(written) / static_cast<double>(reserved));
    if (device_.PollCancel()) return {};
  }
  r = SyncCache();
  if (!r.ok) return "The CD drive could not flush its cache (" + r.Describe() + ").";
  return {};
}

std::string AudioBurner::BurnTracks(const DiscCheck& check, std::vector<audio::SourceHandle>& tracks) {
  Text(0, "Recording CD Audio");
  std::vector<audio::FrameCount> frames;
  for (const audio::SourceHandle& t : tracks) frames.push_back(std::max<audio::FrameCount>(t->length(), 0));
  const std::int64_t needed = DiscSectors(frames);
  // The free blocks of the blank disc; its last possible lead-out start otherwise.
  std::int64_t capacity = check.disc.capacitySectors();
  const std::vector<std::uint8_t> info = ReadInfo(device_, false, 28);
  TrackInfo free;
  if (ParseTrackInfo(info.data(), info.size(), &free)) capacity = free.freeBlocks;
  if (!settings_.overburn && needed > capacity) return CapacityMessage(capacity, needed);

  std::uint8_t mediumType = check.mediumType;
  ModeSensePage(device_, 0x05, 52, &mediumType);
  const std::vector<std::uint8_t> page = WriteParametersList(mediumType, settings_.simulate);
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    Text(0, "Burning Track " + std::to_string(i + 1));
    const double n = static_cast<double>(tracks.size());
    std::string error = WriteTrack(*tracks[i], page, static_cast<double>(i) / n,
                                   static_cast<double>(i + 1) / n);
    if (!error.empty() || device_.cancelled()) return error;
  }
  Text(0, "Writing Lead-in/Lead-out");
  ScsiResult r = device_.Execute(CloseSessionCommand());
  if (!r.ok) return "The CD drive could not close the session (" + r.Describe() + ").";
  WaitReady(kCloseMs);
  r = SyncCache();
  if (!r.ok) return "The CD drive could not flush its cache (" + r.Describe() + ").";
  Eject();
  return {};
}

BurnAudioTask::BurnAudioTask(std::string drive, std::vector<audio::SourceHandle> tracks,
                             BurnSettings settings)
    : LProgressDialog("Burn Audio CD"),
      drive_(std::move(drive)),
      tracks_(std::move(tracks)),
      settings_(settings) {}

bool BurnAudioTask::Execute() {
  result = platform::kTaskFailed;
  std::vector<audio::SourceHandle> converted;
  for (audio::SourceHandle& t : tracks_) {
    std::string why;
    audio::SourceHandle c = audio::ConvertFormat(t, kCdRate, 2, &why);
    if (!c || !c->ready()) {
      message_ = why.empty() ? "A track cannot be read." : why;
      ShowError(message_);
      return true;
    }
    converted.push_back(std::move(c));
  }
  std::string ignored;
  std::unique_ptr<CdDevice> device = CdDevice::Open(drive_, &ignored);
  if (!device) {
    message_ = std::string(kCannotAccessMessage);
    ShowError(message_);
    return true;
  }
  AudioBurner burner(*device, settings_, this);
  DiscCheck check;
  message_ = burner.CheckDriveAndDisc(&check);
  if (message_.empty() && !device->cancelled()) message_ = burner.BurnTracks(check, converted);
  const bool cancelled = device->cancelled();
  device.reset();
  if (cancelled && message_.empty()) {
    result = platform::kTaskCancelled;
    return true;
  }
  if (!message_.empty()) {
    ShowError(message_);
    return true;
  }
  result = platform::kTaskDone;
  return true;
}

}  // namespace quillet::cd
