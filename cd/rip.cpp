#include "cd/rip.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "audio/sample.h"

namespace quillet::cd {
namespace {

using audio::Sample;

// "m:ss.ff" (75ths of a second) of sectors.
std::string SectorTime(std::int64_t sectors) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld",
                static_cast<long long>(sectors / (75 * 60)),
                static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
  return text;
}

// Little-endian 16-bit stereo to internal samples, into sink in runs of at most
// kBlockFrames frames.
void Convert(const std::uint8_t* bytes, std::int64_t sectors, std::vector<Sample>& run,
             audio::LSoundSink& sink) {
  const std::int64_t frames = sectors * kFramesPerSector;
  for (std::int64_t done = 0; done < frames;) {
    const std::int64_t n = std::min<std::int64_t>(audio::kBlockFrames, frames - done);
    const std::uint8_t* p = bytes + done * 4;
    for (std::int64_t i = 0; i < n * 2; ++i)
      run[static_cast<std::size_t>(i)] =
          static_cast<std::int16_t>(p[2 * i] | p[2 * i + 1] << 8) * 16;
    sink.write(run.data(), n);
    done += n;
  }
}

}  // namespace

platform::Outcome RipTrack(CdDevice& device, const CdTrack& track, audio::LSoundSink& sink,
                           const std::function<void(double)>& progress) {
  if (!track.audio)
    return platform::Outcome::Failed("Track " + std::to_string(track.number) +
                                     " is a data track, not audio.");
  const std::int64_t total = track.end - track.start;
  if (total <= 0) return platform::Outcome::Done();
  std::vector<std::uint8_t> buffers[2] = {
      std::vector<std::uint8_t>(std::size_t{kPieceSectors} * kSectorBytes),
      std::vector<std::uint8_t>(std::size_t{kPieceSectors} * kSectorBytes)};
  std::vector<Sample> run(static_cast<std::size_t>(audio::kBlockFrames) * 2);

  const auto failure = [&](std::int64_t at, const platform::ScsiResult& r) {
    const std::int64_t sector = r.information >= at && r.information < track.end ? r.information : at;
    return platform::Outcome::Failed("Reading track " + std::to_string(track.number) +
                                     " failed at " + SectorTime(sector - track.start) +
                                     " (sector " + std::to_string(sector) + "): " + r.Describe() +
                                     ".");
  };

  std::int64_t next = track.start;  // first sector not yet asked for
  std::int64_t pieceStart = next;
  std::int64_t pieceCount = std::min<std::int64_t>(kFirstPieceSectors, total);
  int current = 0;
  if (device.cancelled()) return platform::Outcome::Cancelled();
  platform::ScsiResult r = device.Execute(ReadCdCommand(static_cast<std::uint32_t>(pieceStart),
                                                        static_cast<std::uint32_t>(pieceCount),
                                                        buffers[current].data()));
  if (!r.ok) return failure(pieceStart, r);
  next += pieceCount;

  for (;;) {
    // Start the next read into the other buffer, convert this one meanwhile.
    const std::int64_t count = std::min<std::int64_t>(kPieceSectors, track.end - next);
    const bool reading = count > 0 && !device.PollCancel();
    if (reading &&
        !device.Start(ReadCdCommand(static_cast<std::uint32_t>(next),
                                    static_cast<std::uint32_t>(count), buffers[1 - current].data())))
      return platform::Outcome::Failed("The CD drive did not take the next read.");
    Convert(buffers[current].data(), pieceCount, run, sink);
    if (sink.failed()) {
      if (reading) device.Collect(kReadCdTimeoutMs);
      return platform::Outcome::Failed(sink.failureMessage());
    }
    if (progress) progress(static_cast<double>(next - track.start) / static_cast<double>(total));
    if (!reading) break;
    r = device.Collect(kReadCdTimeoutMs);
    if (!r.ok) return failure(next, r);
    current = 1 - current;
    pieceStart = next;
    pieceCount = count;
    next += count;
  }
  if (next < track.end) return platform::Outcome::Cancelled();
  return platform::Outcome::Done();
}

LoadDiscTask::LoadDiscTask(std::string drive, bool lookup, platform::HostPort server)
    : LProgressDialog("Loading Track(s)"),
      drive_(std::move(drive)),
      lookup_(lookup),
      server_(std::move(server)) {}

bool LoadDiscTask::Execute() {
  SetText(0, "Loading Table of Contents");
  SetText(1, "Please wait...");
  std::unique_ptr<CdDevice> device = CdDevice::Open(drive_, &message_);
  if (!device) {
    result = platform::kTaskFailed;
    return true;
  }
  device->SetTask(this);
  Toc toc;
  message_ = ReadDiscToc(*device, &toc);
  device.reset();
  if (!message_.empty()) {
    result = platform::kTaskFailed;
    return true;
  }
  disc_ = DiscFromToc(toc);
  disc_.lookup = lookup_;
  if (lookup_) {
    CddbHooks hooks;
    hooks.cancel = [this] { return Pump(); };
    hooks.connected = [this](std::string_view host) {
      SetText(0, "Connected to CDDB server");
      SetText(1, host);
    };
    cddb_ = CddbLookup(disc_, server_, hooks);
    if (cddb_.kind == CddbOutcome::Cancelled) {
      result = platform::kTaskCancelled;
      return true;
    }
  }
  result = platform::kTaskDone;
  return true;
}

RipTrackTask::RipTrackTask(std::string drive, CdTrack track, audio::LSoundSink& sink)
    : LProgressDialog("Import CD Track(s)"),
      drive_(std::move(drive)),
      track_(std::move(track)),
      sink_(sink) {}

bool RipTrackTask::Execute() {
  SetText(0, "Loading " + track_.title);
  SetText(1, "Ripping Digital Audio...");
  std::unique_ptr<CdDevice> device = CdDevice::Open(drive_, &message_);
  platform::Outcome o = platform::Outcome::Failed(message_);
  if (device) {
    device->SetTask(this);
    o = RipTrack(*device, track_, sink_, [this](double f) { SetProgress(f); });
    if (o.done() && device->cancelled()) o = platform::Outcome::Cancelled();
  }
  device.reset();
  if (o.done() && !sink_.Finish()) o = platform::Outcome::Failed(sink_.failureMessage());
  if (!o.done()) sink_.Abandon();
  message_ = o.message;
  result = o.result;
  return true;
}

}  // namespace quillet::cd
