// convert IN OUT: IN's reader straight into the writer OUT's extension chooses, with its
// stored format options (--set SECTION/KEY=VALUE changes them for one run), as saving a
// document opened from IN would write it, but with no sample files. Nothing is asked and
// nothing is installed: a missing codec program is named in the message.
#include "app/cli/cli.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::app {

platform::TaskResult RunConvertCommand(CommandContext& c) {
  if (c.args.size() != 2) {
    std::fputs("usage: quillet-cli convert IN OUT\n", c.err);
    return platform::kTaskFailed;
  }
  formats::DispatchEnv env(settings::Settings::Process());
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  std::vector<std::string> notices;
  env.notices = &notices;
  // The input's tags go with its audio, as the batch converter carries them.
  formats::LAudioTagList tags;
  formats::ReadTags(tags, c.args[0]);
  formats::ConvertFileTask convert(c.args[0], c.args[1], env, std::move(tags));
  convert.Run(c.progress);
  PrintNotices(c.err, notices);
  if (convert.result != platform::kTaskDone && !convert.message().empty())
    std::fprintf(c.err, "%s\n", convert.message().c_str());
  return convert.result;
}

}  // namespace quillet::app
