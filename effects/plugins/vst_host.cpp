#include "effects/plugins/vst_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/vst_abi.h"

namespace quillet::effects::plugins {
namespace {

// We answer the version and nothing else: anything more would be a promise we cannot keep.
intptr_t HostCallback(VstPlugin*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == kVstHostVersion ? kVstHostVersionAnswer : 0;
}

// One loaded and opened plug-in object, closed and unloaded on every path out.
class VstInstance {
 public:
  ~VstInstance() {
    if (plugin_ && opened_) {
      plugin_->dispatcher(plugin_, kVstOpMainsChanged, 0, 0, nullptr, 0);
      plugin_->dispatcher(plugin_, kVstOpClose, 0, 0, nullptr, 0);
    }
    if (handle_) dlclose(handle_);
  }

  // Load, entry point, magic, in-place check; opened only when rate > 0.
  bool Load(const std::string& path, std::string* why) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      *why = "The VST plug-in " + path + " could not be loaded: " + dlerror();
      return false;
    }
    auto entry = reinterpret_cast<VstEntry>(dlsym(handle_, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<VstEntry>(dlsym(handle_, "main"));
    if (!entry) {
      *why = path + " is not a VST plug-in (it has no entry point).";
      return false;
    }
    plugin_ = entry(&HostCallback);
    if (!plugin_ || plugin_->magic != kVstMagic) {
      *why = path + " is not a VST plug-in (wrong magic number).";
      plugin_ = nullptr;
      return false;
    }
    if (!(plugin_->flags & kVstFlagCanReplacing) || !plugin_->processReplacing) {
      *why = "The VST plug-in " + path + " cannot process audio in place, which this program needs.";
      // Made but refused: closing lets it free itself.
      plugin_->dispatcher(plugin_, kVstOpClose, 0, 0, nullptr, 0);
      plugin_ = nullptr;
      return false;
    }
    return true;
  }

  // Open, mains off, rate, the one block size, mains on: set once, never per block,
  // so that stateful effects keep their state.
  void Open(std::int32_t rate) {
    plugin_->dispatcher(plugin_, kVstOpOpen, 0, 0, nullptr, 0);
    opened_ = true;
    plugin_->dispatcher(plugin_, kVstOpMainsChanged, 0, 0, nullptr, 0);
    plugin_->dispatcher(plugin_, kVstOpSetSampleRate, 0, 0, nullptr, float(rate));
    plugin_->dispatcher(plugin_, kVstOpSetBlockSize, 0, audio::kBlockFrames, nullptr, 0);
    plugin_->dispatcher(plugin_, kVstOpMainsChanged, 0, 1, nullptr, 0);
  }

  VstPlugin* plugin() const { return plugin_; }

 private:
  void* handle_ = nullptr;
  VstPlugin* plugin_ = nullptr;
  bool opened_ = false;
};

std::string Text(const char* buffer, std::size_t size) { return std::string(buffer, strnlen(buffer, size)); }

class VstProcessor final : public LPluginProcessor {
 public:
  bool Start(const PluginInfo& info, const std::vector<float>& values, std::int32_t rate, int channels,
             std::string* why) {
    if (std::string refusal = CheckChannels(info, channels); !refusal.empty()) {
      *why = std::move(refusal);
      return false;
    }
    channels_ = channels;
    perInstance_ = info.audioIns == 1 ? 1 : channels;
    in_.assign(std::size_t(channels) * audio::kBlockFrames, 0.0f);
    out_.assign(in_.size(), 0.0f);
    for (int k = 0; k < channels / perInstance_; ++k) {
      auto v = std::make_unique<VstInstance>();
      if (!v->Load(info.path, why)) return false;
      v->Open(rate);
      VstPlugin* p = v->plugin();
      for (std::size_t i = 0; i < values.size() && int(i) < p->parameters; ++i)
        p->setParameter(p, int32_t(i), values[i]);
      instances_.push_back(std::move(v));
    }
    return true;
  }

  bool Process(const float* in, float* out, std::size_t frames, std::string*) override {
    for (std::size_t done = 0; done < frames;) {
      const std::size_t n = std::min<std::size_t>(frames - done, audio::kBlockFrames);
      for (int c = 0; c < channels_; ++c)
        std::copy_n(in + std::size_t(c) * frames + done, n, in_.data() + std::size_t(c) * audio::kBlockFrames);
      for (std::size_t k = 0; k < instances_.size(); ++k) {
        std::vector<float*> ins, outs;
        for (int c = 0; c < perInstance_; ++c) {
          const std::size_t at = (k * std::size_t(perInstance_) + std::size_t(c)) * audio::kBlockFrames;
          ins.push_back(in_.data() + at);
          outs.push_back(out_.data() + at);
        }
        VstPlugin* p = instances_[k]->plugin();
        p->processReplacing(p, ins.data(), outs.data(), int32_t(n));
      }
      for (int c = 0; c < channels_; ++c)
        std::copy_n(out_.data() + std::size_t(c) * audio::kBlockFrames, n, out + std::size_t(c) * frames + done);
      done += n;
    }
    return true;
  }

  std::int64_t Latency() const override {
    return instances_.empty() ? 0 : std::max<std::int64_t>(0, instances_[0]->plugin()->initialDelay);
  }

 private:
  int channels_ = 1, perInstance_ = 1;
  std::vector<std::unique_ptr<VstInstance>> instances_;
  std::vector<float> in_, out_;
};

}  // namespace

std::string VstFolder(const settings::Settings& settings) { return settings.GetString("Settings", "VSTFolder", ""); }

std::vector<std::string> VstLibraries(const std::string& folder) {
  if (folder.empty()) return {};
  return SharedObjectsIn(folder);
}

bool LoadVstInfo(const std::string& path, PluginInfo& info, std::string* why) {
  VstInstance v;
  if (!v.Load(path, why)) return false;
  v.Open(44100);
  VstPlugin* p = v.plugin();
  info = {};
  info.family = "vst";
  info.id = info.label = info.path = path;
  char name[256] = {};
  p->dispatcher(p, kVstOpGetEffectName, 0, 0, name, 0);
  info.name = name[0] ? Text(name, sizeof name) : std::filesystem::path(path).stem().string();
  info.audioIns = p->inputs;
  info.audioOuts = p->outputs;
  info.hasEditor = (p->flags & kVstFlagHasEditor) != 0;
  for (int32_t i = 0; i < p->parameters && i < 10000; ++i) {
    // Generous room: many plug-ins write past the documented eight characters.
    char text[kVstParamNameBytes * 4] = {};
    p->dispatcher(p, kVstOpGetParamName, i, 0, text, 0);
    ControlPort c;
    c.index = int(i);
    c.symbol = std::to_string(i);
    c.name = text[0] ? Text(text, sizeof text) : c.symbol;
    c.min = 0;
    c.max = 1;
    c.def = std::clamp(p->getParameter(p, i), 0.0f, 1.0f);
    info.controls.push_back(std::move(c));
  }
  return true;
}

bool RunVstEditor(const std::string& path, std::vector<float>& values, LVstEditorWindow& window, std::string* why) {
  VstInstance v;
  if (!v.Load(path, why)) return false;
  v.Open(44100);
  VstPlugin* p = v.plugin();
  if (!(p->flags & kVstFlagHasEditor)) {
    *why = "The VST plug-in " + path + " has no window of its own.";
    return false;
  }
  for (std::size_t i = 0; i < values.size() && int(i) < p->parameters; ++i) p->setParameter(p, int32_t(i), values[i]);
  VstRect* rect = nullptr;
  p->dispatcher(p, kVstOpEditGetRect, 0, 0, &rect, 0);
  int width = 400, height = 300;
  if (rect && rect->right > rect->left && rect->bottom > rect->top) {
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
  }
  char name[256] = {};
  p->dispatcher(p, kVstOpGetEffectName, 0, 0, name, 0);
  void* native = window.Open(width, height, name[0] ? Text(name, sizeof name) : path, why);
  if (!native) return false;
  p->dispatcher(p, kVstOpEditOpen, 0, 0, native, 0);
  while (window.Pump()) p->dispatcher(p, kVstOpEditIdle, 0, 0, nullptr, 0);
  p->dispatcher(p, kVstOpEditClose, 0, 0, nullptr, 0);
  values.resize(std::size_t(std::max<int32_t>(0, std::min<int32_t>(p->parameters, 10000))));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float x = p->getParameter(p, int32_t(i));
    values[i] = std::isfinite(x) ? std::clamp(x, 0.0f, 1.0f) : 0.0f;
  }
  return true;
}

std::unique_ptr<LPluginProcessor> OpenVstHere(const PluginInfo& info, const std::vector<float>& values,
                                              std::int32_t rate, int channels, std::string* why) {
  auto p = std::make_unique<VstProcessor>();
  if (!p->Start(info, values, rate, channels, why)) return nullptr;
  return p;
}

}  // namespace quillet::effects::plugins
