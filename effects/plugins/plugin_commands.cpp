#include "effects/plugins/plugin_commands.h"

#include <algorithm>
#include <cctype>

#include "core/document.h"
#include "effects/commands.h"
#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/lv2_host.h"
#include "effects/plugins/vst_host.h"

namespace quillet::effects::plugins {
namespace {

std::string StoreKey(const PluginInfo& info) { return info.family + ":" + info.id; }

constexpr core::ParamInfo kLadspaFields[] = {
    {.name = "LABEL[,PORT=VALUE...]", .label = "&Plug-in (LADSPA label or number, or LV2 URI; then PORT=VALUE):",
     .key = "LadspaEffect", .kind = core::ParamKind::Text, .unit = "a LADSPA label and its settings",
     .textDefault = "amp_mono"}};
const core::ParamTable kLadspaTable{"LADSPA/LV2 Effects", kLadspaFields};

constexpr core::ParamInfo kLv2Fields[] = {
    {.name = "URI[,SYMBOL=VALUE...]", .label = "&Plug-in URI, then SYMBOL=VALUE:", .key = "Lv2Effect",
     .kind = core::ParamKind::Text, .unit = "an LV2 URI and its settings", .required = true}};
const core::ParamTable kLv2Table{"LV2 Effect", kLv2Fields};

constexpr core::ParamInfo kVstFields[] = {
    {.name = "PATH[,INDEX=VALUE...]", .label = "&Plug-in (file in the VST folder, or a path; then INDEX=VALUE):",
     .key = "VstEffect", .kind = core::ParamKind::Text, .unit = "a VST .so file and its parameters (0..1)",
     .required = true}};
const core::ParamTable kVstTable{"VST Plugins", kVstFields};

}  // namespace

std::vector<PluginInfo> InstalledPlugins(const settings::Settings& settings) {
  std::vector<PluginInfo> all = ScanLadspa(LadspaFoldersFromEnvironment());
  for (PluginInfo& p : ScanLv2()) all.push_back(std::move(p));
  for (const std::string& path : VstLibraries(VstFolder(settings))) {
    PluginInfo info;
    std::string why;
    if (LoadVstInfoHosted(path, info, &why)) all.push_back(std::move(info));
  }
  return all;
}

bool ValuesFor(const PluginInfo& info, const PluginRequest& request, const settings::Settings& settings,
               std::vector<float>& values, std::string* why) {
  PluginRequest merged{info.id, {}};
  if (const auto stored = settings.Find(kPluginValuesSection, StoreKey(info))) {
    PluginRequest old;
    std::string ignored;
    // Stored values of a port the plug-in has lost since are dropped quietly.
    if (ParsePluginRequest(*stored, old, &ignored))
      for (const auto& v : old.values) {
        std::vector<float> probe;
        if (ResolveControls(info, PluginRequest{info.id, {v}}, probe, &ignored)) merged.values.push_back(v);
      }
  }
  merged.values.insert(merged.values.end(), request.values.begin(), request.values.end());
  return ResolveControls(info, merged, values, why);
}

void StoreValues(const PluginInfo& info, const std::vector<float>& values, settings::Settings& settings) {
  settings.SetString(kPluginValuesSection, StoreKey(info), FormatPluginRequest(info, values));
}

platform::TaskResult PluginEffectCommand(core::EditContext& ctx, core::WaveDocument& doc,
                                         const std::string& family, const std::string& text) {
  // The menu's one field takes either family: an LV2 plug-in is named by its URI.
  const bool vst = family == "vst";
  const bool lv2 = !vst && (family == "lv2" || text.find("://") != std::string::npos || text.starts_with("urn:"));
  const char* failure = vst ? kVstFailure : lv2 ? kLv2Failure : kLadspaFailure;
  auto refuse = [&](const std::string& why) {
    ctx.message = std::string(failure) + "\n\n" + why;
    return platform::kTaskFailed;
  };
  PluginRequest request;
  std::string why;
  if (!ParsePluginRequest(text, request, &why)) return refuse(why);
  PluginInfo info;
  if (vst) {
    // A bare file name is looked for in the VST folder.
    const std::string folder = VstFolder(ctx.settings);
    const std::string path = request.id.find('/') == std::string::npos && !folder.empty() ? folder + "/" + request.id : request.id;
    if (!LoadVstInfoHosted(path, info, &why)) return refuse(why);
  } else if (!(lv2 ? FindLv2(request.id, info, &why)
                   : FindLadspa(LadspaFoldersFromEnvironment(), request.id, info, &why))) {
    return refuse(why);
  }
  std::vector<float> values;
  if (!ValuesFor(info, request, ctx.settings, values, &why)) return refuse(why);
  StoreValues(info, values, ctx.settings);
  FunctionFilterFactory factory([&](SourceHandle in) { return MakePluginEffectFilter(std::move(in), info, values); });
  return OutsideEffectCommand(ctx, doc,
                              {vst ? "VST Effects" : "LADSPA/LV2 Effects",
                               vst ? "Applying VST Effect" : "Applying LADSPA/LV2 Effect", failure,
                               CheckChannels(info, doc.channels())},
                              factory);
}

void RegisterPluginCommands(core::CommandRegistry& r) {
  r.Add({.id = core::kCmdPluginEffects, .menuText = "&LADSPA/LV2 Effects...",
         .description = "Applies an installed LADSPA or LV2 effect to the selection",
         .cliName = "ladspa", .undoLabel = "LADSPA/LV2 Effects", .progressText = "Applying LADSPA/LV2 Effect",
         .needs = core::kNeedsAudio, .params = &kLadspaTable,
         .dialog = "plugins", .place = {"&Effects", "", 900, false},
         .run = [](core::CommandCall& c) {
           return PluginEffectCommand(c.ctx, *c.doc, "ladspa", c.params->Text(0));
         }});
  r.Add({.id = core::kCmdVstPlugins, .menuText = "&VST Plugins...",
         .description = "Applies a VST plug-in from the VST folder to the selection", .cliName = "vst",
         .undoLabel = "VST Effects", .progressText = "Applying VST Effect", .needs = core::kNeedsAudio,
         .params = &kVstTable, .dialog = "vst-plugins", .place = {"&Effects", "", 910, false},
         .run = [](core::CommandCall& c) { return PluginEffectCommand(c.ctx, *c.doc, "vst", c.params->Text(0)); }});
  // quillet-cli's lv2 word; the editor reaches LV2 through the menu item above.
  r.Add({.id = r.NextDynamicId(), .cliName = "lv2", .undoLabel = "LADSPA/LV2 Effects",
         .progressText = "Applying LADSPA/LV2 Effect", .needs = core::kNeedsAudio, .params = &kLv2Table,
         .dialog = std::string(core::kNoDialog),
         .run = [](core::CommandCall& c) { return PluginEffectCommand(c.ctx, *c.doc, "lv2", c.params->Text(0)); }});
}

void RegisterInstalledPlugins(core::CommandRegistry& r, const std::vector<PluginInfo>& installed) {
  // A submenu per family, each in name order: a system with the common packages has
  // hundreds of effects, too many for one unsorted list.
  std::vector<PluginInfo> plugins = installed;
  const auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  std::stable_sort(plugins.begin(), plugins.end(), [&](const PluginInfo& a, const PluginInfo& b) {
    return lower(a.name) < lower(b.name);
  });
  for (const PluginInfo& p : plugins) {
    const bool vst = p.family == "vst";
    std::string menuText;
    for (char ch : p.name) menuText += ch == '&' ? "&&" : std::string(1, ch);
    const std::string family = p.family;
    // LADSPA by its number: labels need not be unique across libraries.
    const std::string id = vst ? p.path : p.id;
    r.Add({.id = r.NextDynamicId(), .menuText = menuText + "...",
           .description = "Applies the " + std::string(vst ? "VST" : family == "lv2" ? "LV2" : "LADSPA") +
                          " plug-in " + p.name + " to the selection",
           .undoLabel = vst ? "VST Effects" : "LADSPA/LV2 Effects",
           .progressText = vst ? "Applying VST Effect" : "Applying LADSPA/LV2 Effect", .needs = core::kNeedsAudio,
           .params = vst ? &kVstTable : &kLadspaTable, .dialog = vst ? "vst-plugins" : "plugins",
           .place = {"&Effects", vst ? "VST Plug-ins" : family == "lv2" ? "LV2 Plug-ins" : "LADSPA Plug-ins",
                     vst ? 922 : family == "lv2" ? 921 : 920, false},
           .run = [family](core::CommandCall& c) {
             return PluginEffectCommand(c.ctx, *c.doc, family, c.params->Text(0));
           },
           .prepare = [id](core::ParamSet& values, const core::WaveDocument*) { values.SetText(0, id); }});
  }
}

}  // namespace quillet::effects::plugins
