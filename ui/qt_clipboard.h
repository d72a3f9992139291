#pragma once
// The system clipboard for audio: WAVE bytes under the MIME type "audio/wav", made
// only when another program (or a paste here) asks for them.

#include "platform/clipboard.h"

namespace quillet::ui {

class QtClipboard final : public platform::SystemClipboard {
 public:
  void OfferWave(WaveRenderer render) override;
  std::optional<std::string> ReadWave() override;
};

}  // namespace quillet::ui
