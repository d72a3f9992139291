#pragma once
// The CD dialogs: "Load Audio CD Track(s)" (drive, tracks with their CDDB titles,
// Load and Refresh) and "Burn CD" (the recorder settings).

#include "cd/burn.h"
#include "core/command_table.h"

class QWidget;

namespace quillet::ui {

// Runs the load dialog over parent; chosen tracks become new documents of host.
// The result of the last import (kTaskCancelled when nothing was loaded).
platform::TaskResult RunLoadCdDialog(QWidget* parent, core::EditContext& ctx,
                                     core::CommandHost& host);

// The "Burn CD" dialog from the stored "CDRecorder" settings; on OK they are
// stored and *out holds them.
bool AskBurnSettings(QWidget* parent, settings::Settings& s, cd::BurnSettings* out);

}  // namespace quillet::ui
