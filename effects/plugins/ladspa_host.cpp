#include "effects/plugins/ladspa_host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <ladspa.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace quillet::effects::plugins {
namespace {

// Rates for ports hinted as fractions of the sample rate, before a document is known.
constexpr float kListingRate = 44100.0f;

// One dlopen'ed library, closed when the last user lets go.
class Library {
 public:
  explicit Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  LADSPA_Descriptor_Function entry() const {
    return handle_ ? reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(handle_, "ladspa_descriptor"))
                   : nullptr;
  }

 private:
  void* handle_;
};

// The default the port's hints ask for, as the LADSPA header defines them.
float DefaultOf(const LADSPA_PortRangeHint& h, float lo, float hi) {
  const LADSPA_PortRangeHintDescriptor d = h.HintDescriptor;
  const bool log = LADSPA_IS_HINT_LOGARITHMIC(d) && lo > 0 && hi > 0;
  auto mix = [&](float w) {
    return log ? std::exp(std::log(lo) * (1 - w) + std::log(hi) * w) : lo * (1 - w) + hi * w;
  };
  switch (d & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_MINIMUM: return lo;
    case LADSPA_HINT_DEFAULT_LOW: return mix(0.25f);
    case LADSPA_HINT_DEFAULT_MIDDLE: return mix(0.5f);
    case LADSPA_HINT_DEFAULT_HIGH: return mix(0.75f);
    case LADSPA_HINT_DEFAULT_MAXIMUM: return hi;
    case LADSPA_HINT_DEFAULT_0: return 0;
    case LADSPA_HINT_DEFAULT_1: return 1;
    case LADSPA_HINT_DEFAULT_100: return 100;
    case LADSPA_HINT_DEFAULT_440: return 440;
    default: return std::clamp(0.0f, lo, hi);
  }
}

PluginInfo Describe(const LADSPA_Descriptor& d, const std::string& path, float rate) {
  PluginInfo info;
  info.family = "ladspa";
  info.id = std::to_string(d.UniqueID);
  info.label = d.Label ? d.Label : "";
  info.name = d.Name ? d.Name : info.label;
  info.path = path;
  for (unsigned long i = 0; i < d.PortCount; ++i) {
    const LADSPA_PortDescriptor pd = d.PortDescriptors[i];
    if (LADSPA_IS_PORT_AUDIO(pd)) {
      (LADSPA_IS_PORT_INPUT(pd) ? info.audioIns : info.audioOuts)++;
      continue;
    }
    if (!LADSPA_IS_PORT_CONTROL(pd) || !LADSPA_IS_PORT_INPUT(pd)) continue;
    const LADSPA_PortRangeHint& h = d.PortRangeHints[i];
    const LADSPA_PortRangeHintDescriptor hd = h.HintDescriptor;
    const float scale = LADSPA_IS_HINT_SAMPLE_RATE(hd) ? rate : 1.0f;
    ControlPort p;
    p.index = int(i);
    p.name = d.PortNames && d.PortNames[i] ? d.PortNames[i] : std::to_string(i);
    p.symbol = p.name;
    p.toggled = LADSPA_IS_HINT_TOGGLED(hd);
    p.integer = LADSPA_IS_HINT_INTEGER(hd);
    p.logarithmic = LADSPA_IS_HINT_LOGARITHMIC(hd);
    // Unbounded ends get a wide but finite range so dialogs and clamps stay sane.
    p.min = LADSPA_IS_HINT_BOUNDED_BELOW(hd) ? h.LowerBound * scale : (p.toggled ? 0.0f : -1e6f);
    p.max = LADSPA_IS_HINT_BOUNDED_ABOVE(hd) ? h.UpperBound * scale : (p.toggled ? 1.0f : 1e6f);
    if (p.max < p.min) std::swap(p.min, p.max);
    p.def = std::clamp(DefaultOf(h, p.min, p.max), p.min, p.max);
    info.controls.push_back(std::move(p));
  }
  return info;
}

// The plug-in's instances, one per group of channels, activated once and run on
// buffers connected once: the block size never changes under a stateful effect.
class LadspaProcessor final : public LPluginProcessor {
 public:
  ~LadspaProcessor() override {
    for (LADSPA_Handle h : instances_) {
      if (desc_->deactivate) desc_->deactivate(h);
      desc_->cleanup(h);
    }
  }

  bool Start(const PluginInfo& info, const std::vector<float>& values, std::int32_t rate, int channels,
             std::string* why) {
    channels_ = channels;
    library_ = std::make_unique<Library>(info.path);
    const LADSPA_Descriptor_Function entry = library_->entry();
    for (unsigned long i = 0; entry && (desc_ = entry(i)) != nullptr; ++i)
      if (std::to_string(desc_->UniqueID) == info.id) break;
    if (!desc_) {
      *why = "The LADSPA plug-in " + info.name + " could not be loaded.";
      return false;
    }
    if (std::string refusal = CheckChannels(info, channels); !refusal.empty()) {
      *why = std::move(refusal);
      return false;
    }
    const int perInstance = info.audioIns == 1 ? 1 : channels;
    const int count = channels / perInstance;
    in_.assign(std::size_t(channels) * audio::kBlockFrames, 0.0f);
    out_.assign(in_.size(), 0.0f);
    controls_.assign(std::size_t(count), values);
    outputControls_.assign(std::size_t(count), std::vector<float>(desc_->PortCount, 0.0f));
    for (int k = 0; k < count; ++k) {
      LADSPA_Handle h = desc_->instantiate(desc_, static_cast<unsigned long>(rate));
      if (!h) {
        *why = "The LADSPA plug-in " + info.name + " could not be started.";
        return false;
      }
      instances_.push_back(h);
      int audioIn = 0, audioOut = 0;
      std::size_t control = 0;
      for (unsigned long p = 0; p < desc_->PortCount; ++p) {
        const LADSPA_PortDescriptor pd = desc_->PortDescriptors[p];
        LADSPA_Data* where;
        if (LADSPA_IS_PORT_AUDIO(pd)) {
          const int c = k * perInstance + (LADSPA_IS_PORT_INPUT(pd) ? audioIn++ : audioOut++);
          where = (LADSPA_IS_PORT_INPUT(pd) ? in_ : out_).data() + std::size_t(c) * audio::kBlockFrames;
        } else if (LADSPA_IS_PORT_INPUT(pd) && control < controls_[std::size_t(k)].size()) {
          where = &controls_[std::size_t(k)][control++];
        } else {
          where = &outputControls_[std::size_t(k)][p];
        }
        desc_->connect_port(h, p, where);
      }
      if (desc_->activate) desc_->activate(h);
    }
    return true;
  }

  bool Process(const float* in, float* out, std::size_t frames, std::string*) override {
    for (std::size_t done = 0; done < frames;) {
      const std::size_t n = std::min<std::size_t>(frames - done, audio::kBlockFrames);
      for (int c = 0; c < channels_; ++c)
        std::copy_n(in + std::size_t(c) * frames + done, n, in_.data() + std::size_t(c) * audio::kBlockFrames);
      for (LADSPA_Handle h : instances_) desc_->run(h, static_cast<unsigned long>(n));
      for (int c = 0; c < channels_; ++c)
        std::copy_n(out_.data() + std::size_t(c) * audio::kBlockFrames, n, out + std::size_t(c) * frames + done);
      done += n;
    }
    return true;
  }

  // From an output control named "latency", as LADSPA plug-ins report it.
  std::int64_t Latency() const override {
    for (unsigned long p = 0; p < desc_->PortCount; ++p) {
      const LADSPA_PortDescriptor pd = desc_->PortDescriptors[p];
      if (LADSPA_IS_PORT_CONTROL(pd) && LADSPA_IS_PORT_OUTPUT(pd) && desc_->PortNames[p] &&
          strcasecmp(desc_->PortNames[p], "latency") == 0) {
        const float l = outputControls_[0][p];
        return std::isfinite(l) && l > 0 && l < 1e9f ? std::int64_t(l) : 0;
      }
    }
    return 0;
  }

 private:
  std::unique_ptr<Library> library_;
  const LADSPA_Descriptor* desc_ = nullptr;
  int channels_ = 1;
  std::vector<LADSPA_Handle> instances_;
  std::vector<float> in_, out_;
  std::vector<std::vector<float>> controls_, outputControls_;
};

}  // namespace

std::vector<std::string> SharedObjectsIn(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return files;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) files.push_back(folder + "/" + name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> LadspaFolders(const char* pathValue, const char* home) {
  std::vector<std::string> folders;
  if (pathValue && *pathValue) {
    std::string_view s = pathValue;
    while (!s.empty()) {
      const std::size_t colon = std::min(s.find(':'), s.size());
      if (colon > 0) folders.emplace_back(s.substr(0, colon));
      s.remove_prefix(std::min(colon + 1, s.size()));
    }
    return folders;
  }
  folders = {"/usr/lib/ladspa", "/usr/local/lib/ladspa"};
  if (home && *home) folders.push_back(std::string(home) + "/.ladspa");
  return folders;
}

std::vector<std::string> LadspaFoldersFromEnvironment() {
  return LadspaFolders(std::getenv("LADSPA_PATH"), std::getenv("HOME"));
}

std::vector<PluginInfo> ScanLadspa(const std::vector<std::string>& folders) {
  std::vector<PluginInfo> found;
  for (const std::string& folder : folders) {
    for (const std::string& path : SharedObjectsIn(folder)) {
      Library lib(path);
      const LADSPA_Descriptor_Function entry = lib.entry();
      if (!entry) continue;
      for (unsigned long i = 0; i < 100000; ++i) {
        const LADSPA_Descriptor* d = entry(i);
        if (!d) break;
        found.push_back(Describe(*d, path, kListingRate));
      }
    }
  }
  return found;
}

bool FindLadspa(const std::vector<std::string>& folders, const std::string& id, PluginInfo& info,
                std::string* why) {
  int matches = 0;
  for (PluginInfo& p : ScanLadspa(folders)) {
    if (p.id == id) {
      info = std::move(p);
      return true;
    }
    if (p.label == id && matches++ == 0) info = std::move(p);
  }
  if (matches == 1) return true;
  *why = matches == 0 ? "No LADSPA plug-in \"" + id + "\" is installed."
                      : "Several LADSPA plug-ins are labelled \"" + id + "\": name one by its number.";
  return false;
}

std::string CheckChannels(const PluginInfo& info, int channels) {
  if (info.audioIns == 1 && info.audioOuts == 1) return {};
  if (info.audioIns == channels && info.audioOuts == channels) return {};
  return "The plug-in " + info.name + " has " + std::to_string(info.audioIns) + " audio inputs and " +
         std::to_string(info.audioOuts) + " outputs; it cannot process audio with " +
         std::to_string(channels) + (channels == 1 ? " channel." : " channels.");
}

std::unique_ptr<LPluginProcessor> OpenLadspaHere(const PluginInfo& info, const std::vector<float>& values,
                                                 std::int32_t rate, int channels, std::string* why) {
  auto p = std::make_unique<LadspaProcessor>();
  if (!p->Start(info, values, rate, channels, why)) return nullptr;
  return p;
}

bool LoadLadspaInfo(const std::string& path, const std::string& id, PluginInfo& info, std::string* why) {
  Library lib(path);
  const LADSPA_Descriptor_Function entry = lib.entry();
  for (unsigned long i = 0; entry && i < 100000; ++i) {
    const LADSPA_Descriptor* d = entry(i);
    if (!d) break;
    if (std::to_string(d->UniqueID) == id) {
      info = Describe(*d, path, kListingRate);
      return true;
    }
  }
  *why = "No LADSPA plug-in " + id + " in " + path + ".";
  return false;
}

}  // namespace quillet::effects::plugins
