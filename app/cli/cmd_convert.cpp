// convert IN OUT: open IN into the store as a document would, then save the
// document to OUT with the writer OUT's extension chooses and its stored format
// options (--set SECTION/KEY=VALUE changes them for one run). Nothing is asked and
// nothing is installed: a missing codec program is named in the message.
#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "formats/document_io.h"

namespace quillet::app {

platform::TaskResult RunConvertCommand(CommandContext& c) {
  if (c.args.size() != 2) {
    std::fputs("usage: quillet-cli convert IN OUT\n", c.err);
    return platform::kTaskFailed;
  }
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return platform::kTaskFailed;

  formats::DispatchEnv env;
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  formats::LoadFileTask load(c.args[0], *store, nullptr, env);
  load.Run(c.progress);
  if (load.result != platform::kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return load.result;
  }
  formats::SaveChainTask save(load.chain(), c.args[1], load.sourceBits(), nullptr, env);
  save.Run(c.progress);
  if (save.result == platform::kTaskFailed) std::fprintf(c.err, "%s\n", save.message().c_str());
  return save.result;
}

}  // namespace quillet::app
