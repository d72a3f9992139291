#include "batch/regions.h"

#include <algorithm>
#include <system_error>

#include "batch/bookmarks.h"
#include "core/edit_task.h"
#include "formats/document_io.h"
#include "formats/format_table.h"
#include "formats/messages.h"
#include "platform/frame_time.h"
#include "platform/paths.h"

namespace quillet::batch {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

constexpr std::string_view kCaption = "Quillet";

std::string Stem(const std::filesystem::path& file) { return file.stem().string(); }

}  // namespace

std::string InvalidRegionNameMessage(std::string_view name) {
  return "The name of the region \"" + std::string(name) +
         "\" contains characters that are not valid for a file name. Please rename it with a new "
         "name that contains text only and try again.";
}

RegionRow RegionRowOf(const Region& r) {
  return {r.name, BookmarkTimeText(r.startMs) + "-" + BookmarkTimeText(r.endMs),
          std::string(platform::PathFileName(r.path))};
}

int FindRegion(const std::vector<Region>& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (SameName(list[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::string DefaultRegionName(const core::WaveDocument& doc) {
  const std::string base = doc.file().empty() ? doc.Title() : Stem(doc.file());
  return base + "@" + BookmarkTimeText(MsOfFrame(doc.selStart(), doc.sampleRate())) + "-" +
         BookmarkTimeText(MsOfFrame(doc.selEnd(), doc.sampleRate()));
}

Region RegionOfSelection(core::WaveDocument& doc, std::string name) {
  Region r;
  r.name = FitTextField(std::move(name));
  r.path = doc.file().string();
  r.startMs = MsOfFrame(doc.selStart(), doc.sampleRate());
  r.endMs = MsOfFrame(doc.selEnd(), doc.sampleRate());
  r.audio = core::AudioChain(doc.chain().store());
  core::ChainCopyRange(doc.chain(), doc.selStart(), doc.selEnd(), r.audio);
  r.document = &doc;
  return r;
}

bool AddRegion(std::vector<Region>& list, core::WaveDocument& doc, platform::Prompter& prompter) {
  std::string proposed = DefaultRegionName(doc);
  for (;;) {
    const std::optional<std::string> typed = prompter.AskText("Region name:", "Enter Region Name", proposed);
    if (!typed) return false;
    const std::string name = FitTextField(*typed);
    const int existing = FindRegion(list, name);
    if (existing >= 0) {
      const Answer a = prompter.Message(
          "Another region with the same name already exists. Do you want to replace it?", kCaption,
          MessageIcon::Question, MessageButtons::YesNoCancel);
      if (a == Answer::No) {
        proposed = name;
        continue;
      }
      if (a != Answer::Yes) return false;
      list.erase(list.begin() + existing);
    }
    list.push_back(RegionOfSelection(doc, name));
    return true;
  }
}

void AttachRegions(std::vector<Region>& list, core::WaveDocument& doc) {
  if (doc.file().empty()) return;
  const std::string path = doc.file().string();
  for (Region& r : list)
    if (!r.document && SameName(r.path, path)) r.document = &doc;
}

void RepathRegions(std::vector<Region>& list, const core::WaveDocument& doc) {
  for (Region& r : list)
    if (r.document == &doc) r.path = doc.file().string();
}

void DetachRegions(std::vector<Region>& list, const core::WaveDocument& doc) {
  for (Region& r : list)
    if (r.document == &doc) r.document = nullptr;
}

void MoveRegion(std::vector<Region>& list, std::size_t from, std::size_t before) {
  if (from >= list.size() || before > list.size() || before == from || before == from + 1) return;
  Region moved = std::move(list[from]);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(from));
  if (before > from) --before;
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(before), std::move(moved));
}

void WriteRegionRecord(platform::RecordWriter& w, const Region& r) {
  w.Text(r.name);
  w.Text(r.path);
  w.U32(r.startMs);
  w.U32(r.endMs);
}

Region ReadRegionRecord(platform::RecordReader& rd) {
  Region r;
  r.name = rd.Text();
  r.path = rd.Text();
  r.startMs = rd.U32();
  r.endMs = rd.U32();
  return r;
}

int FreeUntitledNumber(const std::vector<core::WaveDocument*>& open) {
  for (int n = 1; n <= 19; ++n) {
    const bool used = std::any_of(open.begin(), open.end(), [n](const core::WaveDocument* d) {
      return d->file().empty() && d->untitledNumber() == n;
    });
    if (!used) return n;
  }
  return 1;
}

std::unique_ptr<core::WaveDocument> DocumentOfAudio(const core::AudioChain& audio, int untitled) {
  auto doc = std::make_unique<core::WaveDocument>(audio, untitled);
  doc->SetModified(true);
  doc->ZoomFull();
  return doc;
}

platform::TaskResult SaveRegionAudio(const Region& region, const std::filesystem::path& file,
                                     const formats::DispatchEnv& env, bool ask,
                                     std::string* message) {
  bool askFlag = ask;
  formats::SaveChainTask task(region.audio, file, env, 0, &askFlag);
  if (env.owner) {
    task.Run(*env.owner);
  } else {
    task.result = platform::kTaskFailed;
  }
  const bool shown = ask && !askFlag;  // the dispatcher used the flag for its own box
  if (task.result == platform::kTaskFailed && message && !shown)
    *message = task.message().empty() ? formats::SaveFailureMessage(file.string()) : task.message();
  return task.result;
}

std::optional<std::filesystem::path> ChooseRegionTarget(platform::Prompter& prompter,
                                                        settings::Settings& s, const Region& region) {
  std::string patterns;
  for (const platform::FileFilter& f : formats::SaveAsFilters())
    patterns += (patterns.empty() ? "" : ";") + f.patterns;
  for (;;) {
    platform::FileRequest r;
    r.mode = platform::FileDialogMode::Save;
    r.title = "Save Region As";
    r.filters = {{"Audio Files", patterns}};
    r.defaultExtension = "wav";
    r.folder = s.GetString("Settings", "SaveRegionDir", "");
    r.fileName = region.name + ".wav";
    const platform::FileChoice choice = prompter.ChooseFiles(r);
    if (!choice.accepted()) return std::nullopt;
    const std::filesystem::path chosen = platform::WithDefaultExtension(choice.files.front(), "wav");
    s.SetString("Settings", "SaveRegionDir", chosen.parent_path().string());
    std::error_code ec;
    if (!std::filesystem::exists(chosen, ec)) return chosen;
    const Answer a = prompter.Message(
        "Another file with the same name already exists. Do you want to replace it?", kCaption,
        MessageIcon::Question, MessageButtons::YesNoCancel);
    if (a == Answer::Yes) return chosen;
    if (a != Answer::No) return std::nullopt;
  }
}

namespace {

std::string CheckExport(const core::ParamSet& v) {
  if (v.Text(kExportFolderField).empty())
    return "The export folder is invalid. Please select a valid folder.";
  const auto writable = formats::WritableOutputFormats();
  if (std::find(writable.begin(), writable.end(), v.Int(kExportFormatField)) == writable.end())
    return "Quillet cannot write regions in this format.";
  return {};
}

const core::ParamInfo kExportFields[] = {
    {.name = "FOLDER", .label = "Export Folder", .key = "ExportRegionFolder",
     .kind = core::ParamKind::Text, .unit = "folder", .section = "Settings"},
    {.name = "FORMAT", .label = "Export Format", .key = "ExportRegionFormat",
     .kind = core::ParamKind::Choice, .def = 0, .min = 0,
     .max = static_cast<std::int64_t>(formats::OutputFormatList().size()) - 1,
     .choices = formats::OutputFormatList(), .section = "Settings"},
};

const core::ParamInfo kAssembleFields[] = {
    {.name = "GAP", .label = "Insert a gap between regions", .key = "AutoGap",
     .kind = core::ParamKind::Bool, .def = 1, .min = 0, .max = 1, .section = "Settings"},
    {.name = "MS", .label = "Gap time", .key = "AutoGapTime", .kind = core::ParamKind::Int,
     .def = 300, .min = 0, .max = 60000, .unit = "ms", .section = "Settings"},
};

}  // namespace

const core::ParamTable kExportRegionsTable{"Export Region(s)", kExportFields, {}, &CheckExport};
const core::ParamTable kAssembleOptionsTable{"Options", kAssembleFields};

std::string ExportExtension(std::int64_t formatIndex) {
  const auto writable = formats::WritableOutputFormats();
  if (std::find(writable.begin(), writable.end(), formatIndex) == writable.end()) return ".wav";
  return std::string(formats::OutputFormatList()[static_cast<std::size_t>(formatIndex)]);
}

bool ExportHasFormatSettings(std::string_view extension) {
  return extension != ".au" && extension != ".aiff" && extension != ".gsm";
}

platform::TaskResult ExportRegions(const std::vector<const Region*>& regions,
                                   const std::filesystem::path& folder, std::string_view extension,
                                   const formats::DispatchEnv& env, std::string* message) {
  auto stop = [&](std::string text, std::string_view caption) {
    if (env.prompter) env.prompter->Message(text, caption, MessageIcon::Warning);
    if (message) *message = std::move(text);
    return platform::kTaskFailed;
  };
  for (const Region* r : regions) {
    if (!platform::IsValidFileName(r->name)) return stop(InvalidRegionNameMessage(r->name), "Invalid File Name");
    const std::filesystem::path file = platform::JoinPath(folder.string(), r->name + std::string(extension));
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
      const std::string question = "The region \"" + r->name +
                                   "\" already exists in the output folder. Do you want to replace it?";
      const Answer a = env.prompter ? env.prompter->Message(question, kCaption, MessageIcon::Question,
                                                            MessageButtons::YesNo)
                                    : Answer::No;
      if (a != Answer::Yes) {
        if (message) *message = question;
        return platform::kTaskCancelled;
      }
    }
    std::string why;
    const platform::TaskResult saved = SaveRegionAudio(*r, file, env, false, &why);
    if (saved == platform::kTaskCancelled) return saved;
    if (saved != platform::kTaskDone) return stop(why, kCaption);
  }
  return platform::kTaskDone;
}

platform::TaskResult AssembleRegions(core::EditContext& ctx, const std::vector<const Region*>& entries,
                                     bool autoGap, std::int64_t gapMs, core::AudioChain& out) {
  ctx.message.clear();
  ctx.messageShown = false;
  if (entries.empty()) return platform::kTaskFailed;
  core::AudioChain work(&ctx.store);
  work = entries.front()->audio;
  const std::uint32_t rate = work.sampleRate;
  const int channels = work.channels;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (autoGap)
      core::ChainInsertSilence(work, core::ChainLength(work), platform::FramesFromMs(gapMs, rate));
    const platform::TaskResult r =
        core::RunEditTask(ctx, "Insert File", [&](core::EditTask& task) -> platform::TaskResult {
          core::AudioChain converted(&ctx.store);
          const platform::TaskResult c =
              core::ConvertChain(ctx, task, entries[i]->audio, rate, channels, converted);
          if (c != platform::kTaskDone) return c;
          if (!core::ChainInsert(work, core::ChainLength(work), converted))
            return core::FailEdit(ctx, &task, "The inserted audio does not fit the document.");
          return platform::kTaskDone;
        });
    if (r != platform::kTaskDone) return r;
  }
  out = std::move(work);
  return platform::kTaskDone;
}

}  // namespace quillet::batch
