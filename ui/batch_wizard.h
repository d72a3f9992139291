#pragma once
// "Batch Converter": the three-page wizard over the program-wide batch lists (files;
// commands with their settings and scripts; output format and folder), and the run
// with a bar per file and one for the whole batch.

#include <QWizard>
#include <filesystem>

#include "batch/run.h"
#include "core/command_table.h"
#include "core/edit_services.h"
#include "platform/prompter.h"

namespace quillet::ui {

class BatchWizard final : public QWizard {
 public:
  BatchWizard(QWidget* parent, batch::BatchLists& lists, core::EditContext& ctx,
              const core::CommandRegistry& registry, platform::Prompter& prompter);

  // The file list grew from outside (another "-batch"): show it.
  void FilesChanged();
  // Takes a script as the current one and loads its commands (a "-batch" script).
  void OpenScript(const std::filesystem::path& file);

  batch::BatchLists& lists() { return lists_; }
  // The step-2 state: the script (empty while untitled) and whether it changed.
  const std::filesystem::path& script() const { return script_; }
  bool modified() const { return modified_; }

 private:
  friend class BatchFilesPage;
  friend class BatchCommandsPage;
  friend class BatchOutputPage;
  // Asks to save a changed list; false when the person cancelled.
  bool AskSaveCommands();
  bool SaveScriptAs();
  bool RunBatch(const batch::OutputRule& rule);

  batch::BatchLists& lists_;
  core::EditContext& ctx_;
  const core::CommandRegistry& registry_;
  platform::Prompter& prompter_;
  std::filesystem::path script_;
  bool modified_ = false;
  class BatchFilesPage* files_ = nullptr;
  class BatchCommandsPage* commands_ = nullptr;
};

}  // namespace quillet::ui
