#include "platform/terminal_progress.h"

#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace quillet::platform {
namespace {

volatile sig_atomic_t gInterrupted = 0;
int gOpenWindows = 0;
struct sigaction gPreviousAction;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

// The handler is ours while any window is open; SA_RESETHAND lets a second Ctrl+C
// end the program if the task does not stop.
void WindowOpened() {
  if (gOpenWindows++ > 0) return;
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, &gPreviousAction);
}

void WindowClosed() {
  if (--gOpenWindows > 0) return;
  sigaction(SIGINT, &gPreviousAction, nullptr);
  gInterrupted = 0;
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);  // Ctrl+C ends the sleep early, which is what we want
}

void PrintMessage(std::FILE* out, std::string_view text, std::string_view caption) {
  std::string body(text);
  std::replace(body.begin(), body.end(), '\r', '\n');
  std::fprintf(out, "%.*s: %s\n", static_cast<int>(caption.size()), caption.data(),
               body.c_str());
  std::fflush(out);
}

}  // namespace

class TerminalProgressFactory::Window final : public ProgressWindow {
 public:
  Window(std::FILE* out, bool draw) : out_(out), draw_(draw) { WindowOpened(); }
  ~Window() override {
    ClearLine();
    WindowClosed();
  }
  void SetCaption(std::string_view caption) override {
    caption_ = caption;
    Draw();
  }
  void SetText(int line, std::string_view text) override {
    lines_[line == 0 ? 0 : 1] = text;
    Draw();
  }
  void SetProgress(int percent) override {
    percent_ = std::clamp(percent, 0, 100);
    Draw();
  }
  bool PumpEvents(int waitMs) override {
    // Ctrl+C is the only event; sleep in short steps so that it is seen quickly.
    // A request to stop the program, unlike Ctrl+C, stays: every later window cancels too.
    for (int left = std::max(waitMs, 0); !gInterrupted && !ProgramStopRequested() && left > 0; left -= 20)
      SleepMs(std::min(left, 20));
    return gInterrupted != 0 || ProgramStopRequested();
  }
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon) override {
    ClearLine();
    PrintMessage(out_, text, caption);
    Draw();
  }

 private:
  void Draw() {
    if (!draw_) return;
    std::string line = caption_;
    for (const std::string& t : lines_)
      if (!t.empty()) line += (line.empty() ? "" : "  ") + t;
    std::fprintf(out_, "\r%s  %3d%%\x1b[K", line.c_str(), percent_);
    std::fflush(out_);
    drawn_ = true;
  }
  void ClearLine() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", out_);
    std::fflush(out_);
    drawn_ = false;
  }

  std::FILE* out_;
  bool draw_;
  bool drawn_ = false;
  std::string caption_;
  std::string lines_[2];
  int percent_ = 0;
};

TerminalProgressFactory::TerminalProgressFactory(std::FILE* out)
    : out_(out), draw_(out && ::isatty(::fileno(out)) == 1) {}

std::unique_ptr<ProgressWindow> TerminalProgressFactory::Create() {
  return std::make_unique<Window>(out_, draw_);
}

void TerminalProgressFactory::ShowOwnerMessage(std::string_view text, std::string_view caption,
                                               MessageIcon) {
  PrintMessage(out_, text, caption);
}

void TerminalProgressFactory::RequestCancel() { gInterrupted = 1; }

}  // namespace quillet::platform
