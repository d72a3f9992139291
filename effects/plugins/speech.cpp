#include "effects/plugins/speech.h"

#include <filesystem>
#include <sstream>

#include "core/edit_commands.h"
#include "core/edit_task.h"
#include "platform/process.h"

namespace quillet::effects::plugins {
namespace {

// espeak-ng speaks a long text in well under this; a hung one is stopped.
constexpr std::int64_t kSpeakTimeoutMs = 120000;

constexpr core::ParamInfo kSpeechFields[] = {
    {.name = "VOICE", .label = "&Voice (number or language):", .key = "TextToSpeechVoice",
     .kind = core::ParamKind::Text, .unit = "a voice's number or language", .textDefault = "0",
     .section = "Settings"},
    {.name = "TEXT", .label = "&Text to speak:", .key = "", .kind = core::ParamKind::Text,
     .unit = "the words to speak", .required = true}};
const core::ParamTable kSpeechTable{"Synthesize Speech", kSpeechFields};

// Removes the scratch file on every path out.
struct RemoveOnExit {
  std::filesystem::path path;
  ~RemoveOnExit() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

}  // namespace

std::vector<Voice> ParseVoices(const std::string& listing) {
  std::vector<Voice> voices;
  std::istringstream in(listing);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string priority, language, ageGender, name;
    if (words >> priority >> language >> ageGender >> name) voices.push_back({language, name});
  }
  return voices;
}

std::vector<Voice> SpeechVoices(std::string* why) {
  platform::RunRequest req;
  req.process.argv = {"espeak-ng", "--voices"};
  req.timeoutMs = 20000;
  const platform::RunResult r = platform::RunProcess(req);
  if (!r.ok()) {
    *why = kNoSpeechEngine;
    return {};
  }
  std::vector<Voice> voices = ParseVoices(r.output);
  if (voices.empty()) *why = kNoSpeechEngine;
  return voices;
}

int FindVoice(const std::vector<Voice>& voices, const std::string& voice) {
  if (!voice.empty() && voice.find_first_not_of("0123456789") == std::string::npos) {
    const long i = std::strtol(voice.c_str(), nullptr, 10);
    return i < long(voices.size()) ? int(i) : -1;
  }
  for (std::size_t i = 0; i < voices.size(); ++i)
    if (voices[i].language == voice || voices[i].name == voice) return int(i);
  return -1;
}

platform::TaskResult TextToSpeechCommand(core::EditContext& ctx, core::WaveDocument& doc, const std::string& voice,
                                         const std::string& text) {
  auto fail = [&](const std::string& why) {
    ctx.message = why;
    return platform::kTaskFailed;
  };
  if (doc.busy()) return fail("The document is busy.");
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return fail("There is no text to speak.");
  std::string why;
  const std::vector<Voice> voices = SpeechVoices(&why);
  if (voices.empty()) return fail(why);
  const int chosen = FindVoice(voices, voice);
  if (chosen < 0) return fail("There is no voice \"" + voice + "\": quillet-cli's VOICE is a number below " +
                              std::to_string(voices.size()) + " or a language such as en-us.");
  // Never the current folder: this copy's private one, and the file goes whatever happens.
  const RemoveOnExit scratch{ctx.store.workingFolder() / "Synthesized.wav"};
  platform::TaskResult spoken = platform::kTaskFailed;
  const platform::TaskResult r = core::RunEditTask(ctx, "Synthesize Voice", [&](core::EditTask& task) {
    task.SetText(0, "Synthesizing Voice");
    task.SetText(1, "Please wait");
    platform::RunRequest req;
    // The text goes on standard input, so that words starting with '-' stay words.
    req.process.argv = {"espeak-ng", "-v", voices[std::size_t(chosen)].language, "-w", scratch.path.string(),
                        "--stdin"};
    req.input = text;
    req.timeoutMs = kSpeakTimeoutMs;
    req.cancel = [&task] { return task.Pump(); };
    const platform::RunResult run = platform::RunProcess(req);
    if (run.outcome == platform::RunResult::Outcome::Cancelled) return spoken = platform::kTaskCancelled;
    if (run.outcome == platform::RunResult::Outcome::StartFailed) return core::FailEdit(ctx, &task, kNoSpeechEngine);
    if (!run.ok() || !std::filesystem::exists(scratch.path))
      return core::FailEdit(ctx, &task, "espeak-ng could not speak the text: " + run.errorOutput);
    return spoken = platform::kTaskDone;
  });
  if (r != platform::kTaskDone || spoken != platform::kTaskDone) return r;
  core::AudioChain speech(&ctx.store);
  if (const platform::TaskResult loaded = core::LoadAudioFile(ctx, scratch.path, speech);
      loaded != platform::kTaskDone)
    return loaded;
  return core::InsertMadeAudio(ctx, doc, speech, "Text To Speech");
}

void RegisterSpeechCommands(core::CommandRegistry& r) {
  r.Add({.id = core::kCmdTextToSpeech, .menuText = "Text To &Speech", .description = "Converts text to audio.",
         .cliName = "text-to-speech", .undoLabel = "Text To Speech", .progressText = "Synthesizing Voice",
         .progressCaption = "Synthesize Voice", .needs = core::kNeedsDocument, .params = &kSpeechTable,
         .dialog = "speech", .place = {"&Tools", "", 400, false}, .range = core::CliRange::Edit,
         .run = [](core::CommandCall& c) {
           return TextToSpeechCommand(c.ctx, *c.doc, c.params->Text(0), c.params->Text(1));
         }});
}

}  // namespace quillet::effects::plugins
