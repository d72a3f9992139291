#pragma once
// The command table both programs run on: every module's commands, registered in
// layer order. The editor adds its own (files, playback, view) on top.

#include "core/command_table.h"

namespace quillet::app {

core::CommandRegistry BuildCommandRegistry();

}  // namespace quillet::app
