#pragma once
// The program's clipboard, and its exchange with the system clipboard: a copy offers
// a WAVE file that is written only when another program asks for it, to a private
// file of a unique name that is deleted as soon as its bytes are taken.

#include <optional>
#include <string>

#include "core/chain.h"
#include "platform/result.h"

namespace quillet::core {

class AudioFileIo;

// One chain shared by every document of the program (documents paste copies of it).
class ProgramClipboard {
 public:
  explicit ProgramClipboard(SegmentStore* store) : chain(store) {}
  // Empty when it holds less than one whole millisecond of audio.
  bool Empty() const;

  AudioChain chain;
};

// The WAVE file of chain, as bytes (the system clipboard's rendering). Written under
// a task titled "Saving to clipboard"; nullopt, with *message set, when it failed or
// was cancelled.
struct EditContext;
std::optional<std::string> RenderClipboardWave(EditContext& ctx, const AudioChain& chain,
                                               std::string* message);
// Loads WAVE bytes from the system clipboard into out under "Loading Audio File
// Source". A task result; out is untouched unless it is kTaskDone.
platform::TaskResult LoadClipboardWave(EditContext& ctx, const std::string& bytes, AudioChain& out);

}  // namespace quillet::core
