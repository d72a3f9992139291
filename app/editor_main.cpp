// quillet: the editor. Starts the sample store and its crash journals, opens the main
// frame, offers what copies that died left behind, runs the command line and the
// event loop; the store goes after every document is closed.
#include <QApplication>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/registry.h"
#include "core/journal_keeper.h"
#include "core/recovery.h"
#include "core/working_folder.h"
#include "effects/dialogs.h"
#include "settings/settings.h"
#include "ui/app_icon.h"
#include "ui/frame_model.h"
#include "ui/main_frame.h"
#include "ui/recover_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Orvanta");
  QApplication::setApplicationName("Quillet");
  QApplication::setDesktopFileName("quillet");
  QApplication::setWindowIcon(quillet::ui::ProgramIcon());

  quillet::settings::Settings& settings = quillet::settings::Settings::Process();
  std::string why;
  std::unique_ptr<quillet::core::StoreSession> store =
      quillet::core::StoreSession::Start(settings, &why);
  if (!store) {
    QMessageBox::critical(nullptr, "Quillet", QString::fromStdString(why));
    std::fprintf(stderr, "quillet: %s\n", why.c_str());
    return 2;
  }
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);

  const quillet::ui::EditorCommandLine commandLine = quillet::ui::ParseEditorCommandLine(args);
  const bool scripted = std::any_of(commandLine.steps.begin(), commandLine.steps.end(),
                                    [](const quillet::ui::EditorArg& a) { return a.kind == quillet::ui::EditorArg::Exit; });

  int status = 0;
  {
    quillet::ui::MainFrame frame(settings, store->store(), quillet::app::BuildCommandRegistry(),
                                 quillet::effects::DefaultDataFolder() / "keys.dat");
    frame.SetJournals(&store->journals());
    frame.show();
    frame.raise();
    // What copies that died left behind; a scripted run leaves it for a person.
    if (!scripted) {
      auto runs = quillet::core::FindDeadRuns(store->base());
      quillet::ui::OfferRecovery(&frame, runs, store->store(), store->journals(),
                                 [&frame](std::unique_ptr<quillet::core::WaveDocument> doc) {
                                   frame.AddRecoveredDocument(std::move(doc));
                                 });
    }
    if (!frame.RunCommandLine(args)) status = QApplication::exec();
    // A save the command line asked for failed: say so to the caller.
    if (frame.saveFailed()) status = 2;
  }
  store.reset();
  return status;
}
