#pragma once
// Text to speech through the espeak-ng program: the voices it lists, and speech written
// to a scratch WAVE file in this copy's private folder, loaded, inserted at the cursor
// (or over the selection) and the file removed whatever happened.

#include <string>
#include <vector>

#include "core/command_table.h"
#include "core/document.h"

namespace quillet::effects::plugins {

inline constexpr char kNoSpeechEngine[] =
    "No Speech Engine Installed.\r\n\r\nIn order to use the Speech Synthesizer you must install a speech "
    "engine. Install the Debian package espeak-ng (sudo apt-get install espeak-ng), then try again.";

struct Voice {
  std::string language;  // what espeak-ng's -v takes: "en-us"
  std::string name;      // "English_(America)"
};

// Parses espeak-ng --voices.
std::vector<Voice> ParseVoices(const std::string& listing);
// The installed voices; empty (with *why) when espeak-ng is missing or fails.
std::vector<Voice> SpeechVoices(std::string* why);
// VOICE as an index into voices or a language or name; -1 when none matches.
int FindVoice(const std::vector<Voice>& voices, const std::string& voice);

// "Text To Speech": text spoken with voice (see FindVoice) into doc.
platform::TaskResult TextToSpeechCommand(core::EditContext& ctx, core::WaveDocument& doc,
                                         const std::string& voice, const std::string& text);

void RegisterSpeechCommands(core::CommandRegistry& r);

}  // namespace quillet::effects::plugins
