#pragma once
// Digital extraction of audio tracks: READ CD in pieces, one read running on the
// drive while the previous piece is converted into the track's sink, and the tasks
// that load a disc's table of contents (with its CDDB lookup) and rip one track.

#include <functional>
#include <string>

#include "audio/sound.h"
#include "cd/cddb.h"
#include "cd/device.h"
#include "cd/disc.h"
#include "platform/result.h"
#include "platform/task.h"

namespace quillet::cd {

inline constexpr int kFirstPieceSectors = 13;
inline constexpr int kPieceSectors = 27;

// Copies sectors [track.start, track.end) into sink as 44100 Hz stereo samples (each
// 16-bit sample times 16). progress gets the share done; device.cancelled() is
// checked before every read. A failed read fails with the track, the time into it
// and the sector where it failed. The sink is neither finished nor abandoned.
platform::Outcome RipTrack(CdDevice& device, const CdTrack& track, audio::LSoundSink& sink,
                           const std::function<void(double)>& progress = {});

// "Loading Track(s)": opens the drive, reads its table of contents and, with
// lookup, asks the CDDB server for the titles.
class LoadDiscTask final : public platform::LProgressDialog {
 public:
  LoadDiscTask(std::string drive, bool lookup, platform::HostPort server);
  const CdDisc& disc() const { return disc_; }
  const std::string& message() const { return message_; }
  const CddbOutcome& cddb() const { return cddb_; }

 protected:
  bool Execute() override;

 private:
  std::string drive_;
  bool lookup_;
  platform::HostPort server_;
  CdDisc disc_;
  std::string message_;
  CddbOutcome cddb_{CddbOutcome::NoMatch, {}};
};

// "Import CD Track(s)": rips one track of drive into sink, finishing it when
// everything was read and abandoning it otherwise.
class RipTrackTask final : public platform::LProgressDialog {
 public:
  RipTrackTask(std::string drive, CdTrack track, audio::LSoundSink& sink);
  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  std::string drive_;
  CdTrack track_;
  audio::LSoundSink& sink_;
  std::string message_;
};

}  // namespace quillet::cd
