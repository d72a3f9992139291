#include "effects/plugins/plugin_info.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <strings.h>

namespace quillet::effects::plugins {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string Number(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", double(v));
  return text;
}

}  // namespace

bool ParsePluginRequest(std::string_view text, PluginRequest& request, std::string* why) {
  request = {};
  std::size_t at = 0;
  bool first = true;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string_view word = Trim(text.substr(at, comma - at));
    at = comma + 1;
    if (first) {
      request.id = std::string(word);
      first = false;
      continue;
    }
    if (word.empty()) continue;
    const std::size_t eq = word.find('=');
    if (eq == std::string_view::npos) {
      *why = "\"" + std::string(word) + "\" is not PORT=VALUE.";
      return false;
    }
    const std::string value(Trim(word.substr(eq + 1)));
    char* end = nullptr;
    const float v = std::strtof(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(v)) {
      *why = "\"" + value + "\" is not a number.";
      return false;
    }
    request.values.emplace_back(std::string(Trim(word.substr(0, eq))), v);
  }
  if (request.id.empty()) {
    *why = "No plug-in was named.";
    return false;
  }
  return true;
}

bool ResolveControls(const PluginInfo& info, const PluginRequest& request, std::vector<float>& values,
                     std::string* why) {
  values.clear();
  for (const ControlPort& p : info.controls) values.push_back(p.def);
  for (const auto& given : request.values) {
    const std::string& name = given.first;
    const float v = given.second;
    auto it = std::find_if(info.controls.begin(), info.controls.end(), [&](const ControlPort& p) {
      return p.symbol == name || SameName(p.name, name) || std::to_string(p.index) == name;
    });
    if (it == info.controls.end()) {
      *why = info.name + " has no control \"" + name + "\".";
      return false;
    }
    float x = v;
    if (it->toggled) x = x > 0 ? 1.0f : 0.0f;
    if (it->integer) x = std::round(x);
    // Clamped last, so that rounding cannot step outside a fractional bound.
    values[std::size_t(it - info.controls.begin())] = std::clamp(x, it->min, it->max);
  }
  return true;
}

std::string FormatPluginRequest(const PluginInfo& info, const std::vector<float>& values) {
  std::string s = info.family == "ladspa" ? info.label : info.id;
  for (std::size_t i = 0; i < info.controls.size() && i < values.size(); ++i)
    s += "," + (info.controls[i].symbol.empty() ? std::to_string(info.controls[i].index)
                                                 : info.controls[i].symbol) +
         "=" + Number(values[i]);
  return s;
}

std::string DescribePlugin(const PluginInfo& info) {
  std::string s = info.family + "\t" + info.id + "\t" + (info.family == "ladspa" ? info.label + "\t" : "") +
                  info.name + "\t" + std::to_string(info.audioIns) + " in, " +
                  std::to_string(info.audioOuts) + " out\n";
  for (const ControlPort& p : info.controls) {
    s += "  " + std::to_string(p.index) + " " + p.symbol;
    if (p.name != p.symbol) s += " \"" + p.name + "\"";
    s += " " + Number(p.min) + ".." + Number(p.max) + " default " + Number(p.def);
    if (p.toggled) s += " toggle";
    if (p.integer) s += " integer";
    for (const auto& [v, label] : p.choices) s += " " + Number(v) + "=" + label;
    s += "\n";
  }
  return s;
}

void SamplesToFloat(const audio::Sample* in, int stride, float* out, std::size_t frames) {
  constexpr float k = 1.0f / kFloatScale;
  for (std::size_t i = 0; i < frames; ++i) out[i] = float(in[i * std::size_t(stride)]) * k;
}

bool FloatToSamples(const float* in, audio::Sample* out, int stride, std::size_t frames) {
  bool finite = true;
  for (std::size_t i = 0; i < frames; ++i) {
    const float v = in[i];
    audio::Sample s = 0;
    if (!std::isfinite(v)) {
      finite = false;
    } else {
      const double x = std::trunc(double(v) * kFloatScale);
      s = audio::SaturateSample(std::int64_t(std::clamp(x, -2147483648.0, 2147483647.0)));
    }
    out[i * std::size_t(stride)] = s;
  }
  return finite;
}

}  // namespace quillet::effects::plugins
