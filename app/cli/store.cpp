#include "app/cli/store.h"

#include <memory>
#include <string>

#include "core/working_folder.h"
#include "settings/settings.h"

namespace quillet::app {

core::SegmentStore* CliStore(std::FILE* err) {
  // Destroyed at exit, after every chain of the run is gone.
  static std::unique_ptr<core::StoreSession> session;
  if (!session) {
    std::string message;
    session = core::StoreSession::Start(settings::Settings::Process(), &message);
    if (!session) {
      std::fprintf(err, "%s\n", message.c_str());
      return nullptr;
    }
  }
  return &session->store();
}

}  // namespace quillet::app
