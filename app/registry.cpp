#include "app/registry.h"

#include "core/edit_commands.h"
#include "effects/registry.h"

namespace quillet::app {

core::CommandRegistry BuildCommandRegistry() {
  core::CommandRegistry r;
  core::RegisterEditCommands(r);
  effects::RegisterEffectCommands(r);
  return r;
}

}  // namespace quillet::app
