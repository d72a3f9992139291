#pragma once
// The region list's dialogs: "Export Region(s)" (folder, format and its settings) and
// "Assemble Region(s)" (two lists, play, add and remove, and the gap options).

#include <functional>

#include "batch/project.h"
#include "formats/dispatch.h"

class QWidget;

namespace quillet::ui {

class RegionPlayer;

// Edits and stores the "Export Region(s)" values; false when cancelled. An empty
// folder is refused with its message and the dialog stays open.
bool AskExportRegions(QWidget* parent, settings::Settings& s,
                      const std::function<formats::DispatchEnv()>& env);

// "Options" of the assemble dialog: "AutoGap" and "AutoGapTime" (the time only while
// the gap is on); stored on OK.
bool AskAssembleOptions(QWidget* parent, settings::Settings& s);

// The assemble dialog; on OK the chosen regions become a new document.
void RunAssembleDialog(QWidget* parent, batch::ProjectSession& session, settings::Settings& s,
                       RegionPlayer& player);

}  // namespace quillet::ui
