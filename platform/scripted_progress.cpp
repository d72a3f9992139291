#include "platform/scripted_progress.h"

namespace quillet::platform {

class ScriptedProgressFactory::Window final : public ProgressWindow {
 public:
  explicit Window(ScriptedProgressFactory& f) : f_(f) {
    ++f_.open_;
    f_.log_.push_back("create");
  }
  ~Window() override {
    --f_.open_;
    f_.log_.push_back("close");
  }
  void SetCaption(std::string_view caption) override {
    f_.log_.push_back("caption " + std::string(caption));
  }
  void SetText(int line, std::string_view text) override {
    f_.log_.push_back("text" + std::to_string(line) + " " + std::string(text));
  }
  void SetProgress(int percent) override {
    f_.lastProgress_ = percent;
    f_.log_.push_back("progress " + std::to_string(percent));
  }
  bool PumpEvents(int) override {
    f_.log_.push_back("pump");
    return ++f_.pumps_ == f_.cancelAtPump_;
  }
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon) override {
    f_.log_.push_back("message " + std::string(caption) + ": " + std::string(text));
  }

 private:
  ScriptedProgressFactory& f_;
};

std::unique_ptr<ProgressWindow> ScriptedProgressFactory::Create() {
  if (refuse_) return nullptr;
  return std::make_unique<Window>(*this);
}

void ScriptedProgressFactory::SetOwnerEnabled(bool enabled) {
  ownerEnabled_ = enabled;
  log_.push_back(enabled ? "owner enabled" : "owner disabled");
}

void ScriptedProgressFactory::ShowOwnerMessage(std::string_view text, std::string_view caption,
                                               MessageIcon) {
  log_.push_back("owner message " + std::string(caption) + ": " + std::string(text));
}

}  // namespace quillet::platform
