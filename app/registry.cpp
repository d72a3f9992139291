#include "app/registry.h"

#include "core/edit_commands.h"
#include "effects/registry.h"
#include "send/send_command.h"

namespace quillet::app {

core::CommandRegistry BuildCommandRegistry() {
  core::CommandRegistry r;
  core::RegisterEditCommands(r);
  effects::RegisterEffectCommands(r);
  send::RegisterSendCommands(r);
  return r;
}

}  // namespace quillet::app
