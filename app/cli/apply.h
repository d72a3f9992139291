#pragma once
// quillet-cli apply: the table of commands it runs on a document. Each module adds
// its rows from its own file through a function returning a span of rows; the
// tables are put together in one place (AllApplyCommands in cmd_apply.cpp).

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.h"
#include "core/edit_services.h"
#include "platform/result.h"

namespace quillet::app {

// Edits work on the range given with --from/--to (and then on the selection they
// leave); effects without a range work on the whole document.
enum class ApplyKind { Edit, Effect };

struct ApplyCall {
  core::EditContext& ctx;
  core::WaveDocument& doc;
  std::vector<std::string> params;  // the text after ':' split at ','; empty: stored values
  std::string rawParams;            // the text after ':' as given (paths may hold ',')
  std::FILE* err;
};

// A task result; a refusal writes its reason to call.err or leaves it in ctx.message.
using ApplyFn = platform::TaskResult (*)(ApplyCall& call);

struct ApplyCommand {
  std::string_view name;    // menu or batch name, lower case with hyphens
  std::string_view params;  // e.g. "MS" or "PATH,VOLUME,PAN,LONGER,FADE"; empty: none
  ApplyKind kind;
  ApplyFn run;
};

// The edit commands (cmd_apply.cpp).
std::span<const ApplyCommand> EditApplyCommands();
// The level, time, speed and format effects (apply_effects.cpp).
std::span<const ApplyCommand> EffectApplyCommands();
// Every row of every module, in the order the help lists them.
std::span<const ApplyCommand> AllApplyCommands();

// Records message as the command's refusal; returns kTaskFailed.
platform::TaskResult RefuseApply(ApplyCall& call, const std::string& message);
// Parameter i as a whole number, stored when it is not given; nullopt after a refusal
// when it is not a number (what names it in the message).
std::optional<long long> NumberParam(ApplyCall& call, std::size_t i, long long stored,
                                     std::string_view what);

// Whole decimal number of text, or nullopt (nothing else may follow it).
std::optional<long long> ParseWholeNumber(std::string_view text);

}  // namespace quillet::app
