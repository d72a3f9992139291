#include "effects/plugins/lv2_host.h"

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/port-props/port-props.h>

#include <algorithm>
#include <cmath>

#include "effects/plugins/ladspa_host.h"

namespace quillet::effects::plugins {
namespace {

// lilv's world and the URIs we ask about, freed together.
class World {
 public:
  World() : world_(lilv_world_new()) {
    lilv_world_load_all(world_);
    audio_ = lilv_new_uri(world_, LV2_CORE__AudioPort);
    control_ = lilv_new_uri(world_, LV2_CORE__ControlPort);
    input_ = lilv_new_uri(world_, LV2_CORE__InputPort);
    output_ = lilv_new_uri(world_, LV2_CORE__OutputPort);
    optional_ = lilv_new_uri(world_, LV2_CORE__connectionOptional);
    toggled_ = lilv_new_uri(world_, LV2_CORE__toggled);
    integer_ = lilv_new_uri(world_, LV2_CORE__integer);
    enumeration_ = lilv_new_uri(world_, LV2_CORE__enumeration);
    logarithmic_ = lilv_new_uri(world_, LV2_PORT_PROPS__logarithmic);
  }
  ~World() {
    for (LilvNode* n : {audio_, control_, input_, output_, optional_, toggled_, integer_, enumeration_, logarithmic_})
      lilv_node_free(n);
    lilv_world_free(world_);
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const LilvPlugin* Find(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world_, uri.c_str());
    const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
    lilv_node_free(node);
    return p;
  }

  // The plug-in's description; false when it needs what we cannot give.
  bool Describe(const LilvPlugin* p, PluginInfo& info) const {
    if (LilvNodes* required = lilv_plugin_get_required_features(p)) {
      const bool any = lilv_nodes_size(required) > 0;
      lilv_nodes_free(required);
      if (any) return false;
    }
    info = {};
    info.family = "lv2";
    info.id = info.label = lilv_node_as_uri(lilv_plugin_get_uri(p));
    LilvNode* name = lilv_plugin_get_name(p);
    info.name = name ? lilv_node_as_string(name) : info.id;
    lilv_node_free(name);
    if (const LilvNode* lib = lilv_plugin_get_library_uri(p))
      if (char* path = lilv_file_uri_parse(lilv_node_as_uri(lib), nullptr)) {
        info.path = path;
        lilv_free(path);
      }
    const std::uint32_t ports = lilv_plugin_get_num_ports(p);
    std::vector<float> lo(ports), hi(ports), def(ports);
    lilv_plugin_get_port_ranges_float(p, lo.data(), hi.data(), def.data());
    for (std::uint32_t i = 0; i < ports; ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(p, i);
      const bool in = lilv_port_is_a(p, port, input_);
      if (lilv_port_is_a(p, port, audio_)) {
        (in ? info.audioIns : info.audioOuts)++;
        continue;
      }
      if (!lilv_port_is_a(p, port, control_)) {
        if (lilv_port_has_property(p, port, optional_)) continue;
        return false;
      }
      if (!in) continue;
      ControlPort c;
      c.index = int(i);
      c.symbol = lilv_node_as_string(lilv_port_get_symbol(p, port));
      LilvNode* pn = lilv_port_get_name(p, port);
      c.name = pn ? lilv_node_as_string(pn) : c.symbol;
      lilv_node_free(pn);
      c.toggled = lilv_port_has_property(p, port, toggled_);
      c.integer = lilv_port_has_property(p, port, integer_) || lilv_port_has_property(p, port, enumeration_);
      c.logarithmic = lilv_port_has_property(p, port, logarithmic_);
      c.min = std::isfinite(lo[i]) ? lo[i] : (c.toggled ? 0.0f : -1e6f);
      c.max = std::isfinite(hi[i]) ? hi[i] : (c.toggled ? 1.0f : 1e6f);
      if (c.max < c.min) std::swap(c.min, c.max);
      c.def = std::clamp(std::isfinite(def[i]) ? def[i] : c.min, c.min, c.max);
      if (LilvScalePoints* points = lilv_port_get_scale_points(p, port)) {
        LILV_FOREACH(scale_points, it, points) {
          const LilvScalePoint* sp = lilv_scale_points_get(points, it);
          c.choices.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(sp)),
                                 lilv_node_as_string(lilv_scale_point_get_label(sp)));
        }
        lilv_scale_points_free(points);
        std::sort(c.choices.begin(), c.choices.end());
      }
      info.controls.push_back(std::move(c));
    }
    return true;
  }

  LilvWorld* world() const { return world_; }

 private:
  LilvWorld* world_;
  LilvNode *audio_, *control_, *input_, *output_, *optional_, *toggled_, *integer_, *enumeration_, *logarithmic_;
};

// One instance per group of channels, like the LADSPA host; the world outlives them.
class Lv2Processor final : public LPluginProcessor {
 public:
  ~Lv2Processor() override {
    for (LilvInstance* i : instances_) {
      lilv_instance_deactivate(i);
      lilv_instance_free(i);
    }
  }

  bool Start(const PluginInfo& info, const std::vector<float>& values, std::int32_t rate, int channels,
             std::string* why) {
    const LilvPlugin* p = world_.Find(info.id);
    PluginInfo now;
    if (!p || !world_.Describe(p, now)) {
      *why = "The LV2 plug-in " + info.id + " is not installed or needs what this host cannot give.";
      return false;
    }
    if (std::string refusal = CheckChannels(now, channels); !refusal.empty()) {
      *why = std::move(refusal);
      return false;
    }
    channels_ = channels;
    const int perInstance = now.audioIns == 1 ? 1 : channels;
    const int count = channels / perInstance;
    const std::uint32_t ports = lilv_plugin_get_num_ports(p);
    in_.assign(std::size_t(channels) * audio::kBlockFrames, 0.0f);
    out_.assign(in_.size(), 0.0f);
    controls_.assign(std::size_t(count), std::vector<float>(ports, 0.0f));
    const uint32_t latencyPort = lilv_plugin_has_latency(p) ? lilv_plugin_get_latency_port_index(p) : UINT32_MAX;
    latencyPort_ = latencyPort;
    LilvNode* audioClass = lilv_new_uri(world_.world(), LV2_CORE__AudioPort);
    LilvNode* inputClass = lilv_new_uri(world_.world(), LV2_CORE__InputPort);
    LilvNode* controlClass = lilv_new_uri(world_.world(), LV2_CORE__ControlPort);
    for (int k = 0; k < count && why->empty(); ++k) {
      LilvInstance* inst = lilv_plugin_instantiate(p, double(rate), nullptr);
      if (!inst) {
        *why = "The LV2 plug-in " + now.name + " could not be started.";
        break;
      }
      instances_.push_back(inst);
      std::vector<float>& control = controls_[std::size_t(k)];
      for (std::size_t c = 0; c < now.controls.size() && c < values.size(); ++c)
        control[std::size_t(now.controls[c].index)] = values[c];
      int audioIn = 0, audioOut = 0;
      for (std::uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(p, i);
        void* where = nullptr;
        if (lilv_port_is_a(p, port, audioClass)) {
          const bool in = lilv_port_is_a(p, port, inputClass);
          const int c = k * perInstance + (in ? audioIn++ : audioOut++);
          where = (in ? in_ : out_).data() + std::size_t(c) * audio::kBlockFrames;
        } else if (lilv_port_is_a(p, port, controlClass)) {
          where = &control[i];
        }
        lilv_instance_connect_port(inst, i, where);
      }
      lilv_instance_activate(inst);
    }
    lilv_node_free(audioClass);
    lilv_node_free(inputClass);
    lilv_node_free(controlClass);
    return why->empty();
  }

  bool Process(const float* in, float* out, std::size_t frames, std::string*) override {
    for (std::size_t done = 0; done < frames;) {
      const std::size_t n = std::min<std::size_t>(frames - done, audio::kBlockFrames);
      for (int c = 0; c < channels_; ++c)
        std::copy_n(in + std::size_t(c) * frames + done, n, in_.data() + std::size_t(c) * audio::kBlockFrames);
      for (LilvInstance* i : instances_) lilv_instance_run(i, std::uint32_t(n));
      for (int c = 0; c < channels_; ++c)
        std::copy_n(out_.data() + std::size_t(c) * audio::kBlockFrames, n, out + std::size_t(c) * frames + done);
      done += n;
    }
    return true;
  }

  std::int64_t Latency() const override {
    if (latencyPort_ == UINT32_MAX || controls_.empty()) return 0;
    const float l = controls_[0][latencyPort_];
    return std::isfinite(l) && l > 0 && l < 1e9f ? std::int64_t(l) : 0;
  }

 private:
  World world_;
  int channels_ = 1;
  std::uint32_t latencyPort_ = UINT32_MAX;
  std::vector<LilvInstance*> instances_;
  std::vector<float> in_, out_;
  std::vector<std::vector<float>> controls_;
};

}  // namespace

std::vector<PluginInfo> ScanLv2() {
  World world;
  std::vector<PluginInfo> found;
  const LilvPlugins* all = lilv_world_get_all_plugins(world.world());
  LILV_FOREACH(plugins, it, all) {
    PluginInfo info;
    if (world.Describe(lilv_plugins_get(all, it), info)) found.push_back(std::move(info));
  }
  std::sort(found.begin(), found.end(), [](const PluginInfo& a, const PluginInfo& b) { return a.id < b.id; });
  return found;
}

bool FindLv2(const std::string& uri, PluginInfo& info, std::string* why) {
  World world;
  const LilvPlugin* p = world.Find(uri);
  if (p && world.Describe(p, info)) return true;
  *why = p ? "The LV2 plug-in " + uri + " needs features this host does not offer."
           : "No LV2 plug-in \"" + uri + "\" is installed.";
  return false;
}

std::unique_ptr<LPluginProcessor> OpenLv2Here(const PluginInfo& info, const std::vector<float>& values,
                                              std::int32_t rate, int channels, std::string* why) {
  auto p = std::make_unique<Lv2Processor>();
  if (!p->Start(info, values, rate, channels, why)) return nullptr;
  return p;
}

}  // namespace quillet::effects::plugins
