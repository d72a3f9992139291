// quillet: the editor. Starts the sample store, opens the main frame, runs its command
// line and the event loop; the store goes after every document is closed.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/registry.h"
#include "core/working_folder.h"
#include "effects/dialogs.h"
#include "settings/settings.h"
#include "ui/app_icon.h"
#include "ui/main_frame.h"

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

  int status = 0;
  {
    quillet::ui::MainFrame frame(settings, store->store(), quillet::app::BuildCommandRegistry(),
                                 quillet::effects::DefaultDataFolder() / "keys.dat");
    frame.show();
    frame.raise();
    if (!frame.RunCommandLine(args)) status = QApplication::exec();
    // A save the command line asked for failed: say so to the caller.
    if (frame.saveFailed()) status = 2;
  }
  store.reset();
  return status;
}
