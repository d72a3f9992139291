#pragma once
// The CD dialogs: "Load Audio CD Track(s)" (drive, tracks with their CDDB titles,
// Load and Refresh) and "Burn CD" (the recorder settings).

#include <functional>
#include <vector>

#include "cd/burn.h"
#include "cd/commands.h"
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

// The editor's side of the CD commands: its dialogs over parent, its documents
// from documents().
class QtCdFront final : public cd::CdFront {
 public:
  QtCdFront(QWidget* parent, settings::Settings& s,
            std::function<std::vector<const core::WaveDocument*>()> documents)
      : parent_(parent), settings_(s), documents_(std::move(documents)) {}
  platform::TaskResult LoadCdTracks(core::CommandCall& call) override;
  std::vector<const core::WaveDocument*> OpenDocuments() override { return documents_(); }
  bool AskBurnSettings(cd::BurnSettings* out) override;

 private:
  QWidget* parent_;
  settings::Settings& settings_;
  std::function<std::vector<const core::WaveDocument*>()> documents_;
};

}  // namespace quillet::ui
