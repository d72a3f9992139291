#pragma once
// The plug-in choosers and the speech dialog. Each writes the command's one text
// ("LABEL,PORT=VALUE...", "PATH,INDEX=VALUE..." or the voice) back into the values,
// so that the command, quillet-cli and a script all run the same words.

#include "ui/dialogs.h"

namespace quillet::ui {

// "LADSPA/LV2 Effects...": the installed LADSPA and LV2 effects by family, name and id,
// and a field per control port of the one chosen, from its stored values.
bool AskPluginEffect(DialogCall& call);
// "VST Plugins...": the VST folder with "Browse...", its plug-ins and their parameters.
bool AskVstPlugin(DialogCall& call);
// "Synthesize Speech": espeak-ng's voices in a list, and the text.
bool AskSpeech(DialogCall& call);

}  // namespace quillet::ui
