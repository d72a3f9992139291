#pragma once
// The effect commands of this module (the Effects menu's level, time and speed
// effects, and the File menu's rate and channel conversions) into the command table.

#include "core/command_table.h"

namespace quillet::effects {

void RegisterEffectCommands(core::CommandRegistry& r);

}  // namespace quillet::effects
