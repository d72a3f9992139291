// The ALSA sound system. Streams are opened non-blocking, so a busy device fails at
// once instead of hanging the caller, and every wait is bounded by snd_pcm_wait.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <mutex>

#include "platform/sound_device.h"

namespace quillet::platform {
namespace {

// ALSA prints its own diagnostics to stderr; we report failures in our words.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void InstallQuietErrors() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsaErrors); });
}

std::string DeviceLabel(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string OpenFailure(std::string_view name, StreamDirection dir, int err) {
  const std::string what = dir == StreamDirection::Playback ? "sound output device "
                                                            : "sound input device ";
  switch (-err) {
    case EBUSY:
    case EAGAIN:
      return "The " + what + DeviceLabel(name) +
             " is in use by another program. Close that program or choose another device "
             "in Options.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "The " + what + DeviceLabel(name) +
             " was not found. Check that it is connected, or choose another device in "
             "Options.";
    case EACCES:
    case EPERM:
      return "You do not have permission to use the " + what + DeviceLabel(name) + ".";
    default:
      return "The " + what + DeviceLabel(name) + " cannot be opened: " + snd_strerror(err) + ".";
  }
}

class AlsaStream final : public SoundStream {
 public:
  AlsaStream(snd_pcm_t* pcm, int rate, int channels, bool playback)
      : SoundStream(rate, channels), pcm_(pcm), playback_(playback) {}
  ~AlsaStream() override {
    // Whatever is still queued is dropped: stopping must be immediate.
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
  }

  std::int64_t WaitReady(int timeoutMs) override {
    std::int64_t avail = Avail();
    if (avail != 0) return avail;
    const int r = snd_pcm_wait(pcm_, timeoutMs);
    if (r < 0 && Recover(r) < 0) return r;
    return Avail();
  }

  std::int64_t Write(const std::int16_t* data, std::int64_t frames) override {
    return Transfer(frames, [&](snd_pcm_uframes_t n) { return snd_pcm_writei(pcm_, data, n); });
  }

  std::int64_t Read(std::int16_t* data, std::int64_t frames) override {
    return Transfer(frames, [&](snd_pcm_uframes_t n) { return snd_pcm_readi(pcm_, data, n); });
  }

  int Start() override {
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) return 0;
    return snd_pcm_start(pcm_);
  }

  void Flush() override {
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
  }

  std::int64_t Delay() override {
    if (!playback_) return 0;
    const snd_pcm_state_t st = snd_pcm_state(pcm_);
    // After an underrun everything written has been heard.
    if (st != SND_PCM_STATE_RUNNING && st != SND_PCM_STATE_PREPARED &&
        st != SND_PCM_STATE_DRAINING)
      return 0;
    snd_pcm_sframes_t d = 0;
    if (snd_pcm_delay(pcm_, &d) < 0) return 0;
    return std::max<std::int64_t>(d, 0);
  }

  void Drop() override {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

 private:
  std::int64_t Avail() {
    snd_pcm_sframes_t a = snd_pcm_avail(pcm_);
    if (a < 0) {
      if (Recover(static_cast<int>(a)) < 0) return a;
      a = snd_pcm_avail(pcm_);
      if (a < 0) return a;
    }
    return a;
  }

  int Recover(int err) {
    const int r = snd_pcm_recover(pcm_, err, 1);
    if (r == 0 && !playback_) snd_pcm_start(pcm_);
    return r;
  }

  template <class Io>
  std::int64_t Transfer(std::int64_t frames, Io io) {
    if (frames <= 0) return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const snd_pcm_sframes_t n = io(static_cast<snd_pcm_uframes_t>(frames));
      if (n >= 0) return n;
      if (n == -EAGAIN) return 0;
      if (Recover(static_cast<int>(n)) < 0) return n;
    }
    return 0;
  }

  snd_pcm_t* pcm_;
  bool playback_;
};

// Sets the stream up; a negative errno and *what on failure.
int Configure(snd_pcm_t* pcm, const StreamRequest& rq, std::string* what) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err < 0) return *what = "has no usable configuration", err;
  snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
  if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0)
    return *what = "does not take 16-bit samples", err;
  if ((err = snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(rq.channels))) < 0)
    return *what = "does not take " + std::to_string(rq.channels) + " channels", err;
  if ((err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(rq.rate), 0)) < 0)
    return *what = "does not take a rate of " + std::to_string(rq.rate) + " Hz", err;
  unsigned bufferUs = static_cast<unsigned>(std::max(rq.bufferMs, 20)) * 1000;
  unsigned periodUs = static_cast<unsigned>(std::clamp(rq.periodMs, 5, rq.bufferMs / 2)) * 1000;
  int dir = 0;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
  dir = 0;
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0) return *what = "refused the stream's format", err;

  snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
  snd_pcm_get_params(pcm, &bufferFrames, &periodFrames);
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_sw_params_current(pcm, sw);
  // Playback starts once half the device buffer is filled (Flush starts a shorter
  // sound); capture is started by hand.
  snd_pcm_sw_params_set_start_threshold(
      pcm, sw,
      rq.direction == StreamDirection::Playback ? std::max<snd_pcm_uframes_t>(bufferFrames / 2, 1)
                                                : bufferFrames * 2);
  snd_pcm_sw_params_set_avail_min(pcm, sw, std::max<snd_pcm_uframes_t>(periodFrames, 1));
  if ((err = snd_pcm_sw_params(pcm, sw)) < 0) return *what = "refused its start settings", err;
  return snd_pcm_prepare(pcm);
}

class AlsaSystem final : public SoundSystem {
 public:
  std::vector<SoundDeviceName> ListDevices(StreamDirection direction) override {
    InstallQuietErrors();
    std::vector<SoundDeviceName> out{{std::string(kDefaultSoundDevice), "Default"}};
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return out;
    const char* skip = direction == StreamDirection::Playback ? "Input" : "Output";
    for (void** h = hints; *h != nullptr; ++h) {
      char* name = snd_device_name_get_hint(*h, "NAME");
      char* desc = snd_device_name_get_hint(*h, "DESC");
      char* ioid = snd_device_name_get_hint(*h, "IOID");
      const bool wanted = name != nullptr && (ioid == nullptr || std::string_view(ioid) != skip) &&
                          std::string_view(name) != "null";
      if (wanted && std::none_of(out.begin(), out.end(), [&](const SoundDeviceName& d) {
            return d.name == name;
          }))
        out.push_back({name, desc ? desc : name});
      std::free(name);
      std::free(desc);
      std::free(ioid);
    }
    snd_device_name_free_hint(hints);
    return out;
  }

  std::unique_ptr<SoundStream> Open(const StreamRequest& rq, std::string* message) override {
    InstallQuietErrors();
    const std::string name = rq.device.empty() ? std::string(kDefaultSoundDevice) : rq.device;
    if (rq.rate < 1 || rq.channels < 1 || rq.channels > 255) {
      if (message) *message = "The sound format is not valid.";
      return nullptr;
    }
    const bool playback = rq.direction == StreamDirection::Playback;
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(),
                           playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                           SND_PCM_NONBLOCK);
    if (err < 0) {
      if (message) *message = OpenFailure(name, rq.direction, err);
      return nullptr;
    }
    std::string what;
    err = Configure(pcm, rq, &what);
    if (err < 0) {
      snd_pcm_close(pcm);
      if (message)
        *message = std::string(playback ? "The sound output device " : "The sound input device ") +
                   DeviceLabel(name) + " " + (what.empty() ? "cannot be prepared" : what) + ".";
      return nullptr;
    }
    return std::make_unique<AlsaStream>(pcm, rq.rate, rq.channels, playback);
  }
};

}  // namespace

SoundSystem& AlsaSoundSystem() {
  static AlsaSystem system;
  return system;
}

}  // namespace quillet::platform
