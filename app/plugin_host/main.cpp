// quillet-plugin-host ladspa|lv2|vst PATH ID RATE CHANNELS [VALUE...]: runs one plug-in for the
// editor or quillet-cli, reading blocks on stdin and answering on stdout, so that a
// plug-in that crashes takes only this process with it. quillet-plugin-host describe-vst
// PATH reads a VST library's names and parameters the same way, and edit-vst PATH
// PARENT [VALUE...] shows its own editor in an X11 window kept over the window PARENT
// until the person closes it or stdin ends, then prints "ok" and the values.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/vst_host.h"

namespace {

class X11EditorWindow final : public quillet::effects::plugins::LVstEditorWindow {
 public:
  explicit X11EditorWindow(unsigned long parent) : parent_(parent) {}
  ~X11EditorWindow() override {
    if (!display_) return;
    if (window_) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }

  void* Open(int width, int height, const std::string& title, std::string* why) override {
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
      *why = "There is no X display to show the plug-in's own window on.";
      return nullptr;
    }
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, unsigned(width), unsigned(height), 0,
                                  0, 0);
    XSelectInput(display_, window_, StructureNotifyMask);
    XStoreName(display_, window_, title.c_str());
    if (parent_) XSetTransientForHint(display_, window_, Window(parent_));
    close_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display_, window_, &close_, 1);
    XMapRaised(display_, window_);
    XFlush(display_);
    // Xlib's window IDs are what VST editors on Linux take as their parent.
    return reinterpret_cast<void*>(window_);
  }

  bool Pump() override {
    while (XPending(display_)) {
      XEvent e;
      XNextEvent(display_, &e);
      if (e.type == ClientMessage && Atom(e.xclient.data.l[0]) == close_) return false;
      if (e.type == DestroyNotify && e.xdestroywindow.window == window_) {
        window_ = 0;  // taken away by another client
        return false;
      }
    }
    // The dialog that started us went away or gave up: close too.
    pollfd in{0, POLLIN, 0};
    if (poll(&in, 1, 20) > 0) {
      char c;
      if (read(0, &c, 1) <= 0) return false;
    }
    return true;
  }

 private:
  unsigned long parent_;
  Display* display_ = nullptr;
  Window window_ = 0;
  Atom close_ = 0;
};

// Xlib's own handler ends the process, and with it the values the person chose.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

int EditVst(const std::vector<std::string>& args) {
  XSetErrorHandler(&IgnoreXError);
  std::vector<float> values;
  for (std::size_t i = 3; i < args.size(); ++i) values.push_back(std::strtof(args[i].c_str(), nullptr));
  X11EditorWindow window(std::strtoul(args[2].c_str(), nullptr, 10));
  std::string why;
  if (!quillet::effects::plugins::RunVstEditor(args[1], values, window, &why)) {
    for (char& c : why)
      if (c == '\n' || c == '\r') c = ' ';
    std::printf("error\n%s\n", why.c_str());
    return 0;
  }
  std::printf("ok\n");
  for (float v : values) std::printf("%.9g\n", double(v));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args[0] == "edit-vst") return EditVst(args);
  return quillet::effects::plugins::ServePlugin(0, 1, args);
}
