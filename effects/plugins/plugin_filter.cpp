#include "effects/plugins/plugin_filter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/lv2_host.h"
#include "effects/plugins/vst_host.h"
#include "platform/process.h"

namespace quillet::effects::plugins {
namespace {

// Runs the processor over fixed blocks of the input (zeros past its end, which flush a
// latent plug-in) and queues the output without the latency's leading frames.
class LPluginFilter final : public audio::LSoundSource {
 public:
  LPluginFilter(SourceHandle input, ProcessorFactory open, std::string name)
      : LSoundSource(input->sampleRate(), input->channels(), INT32_MAX),
        input_(std::move(input)),
        open_(std::move(open)),
        name_(std::move(name)) {
    FollowInput(*input_);
    setStatus(input_->status());
    Start();
  }

  void read(Sample* buffer, FrameCount frames) override {
    const int ch = channels();
    while (!failed() && Pending() < frames) Produce();
    const FrameCount have = std::min<FrameCount>(frames, Pending());
    std::copy_n(pending_.begin() + std::ptrdiff_t(head_), std::size_t(have * ch), buffer);
    std::fill(buffer + have * ch, buffer + frames * ch, 0);
    head_ += std::size_t(have * ch);
    position_ += frames;
  }
  FramePos position() const override { return position_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override {
    Start();
    input_->seek(frame);
    position_ = frame;
  }

 private:
  FrameCount Pending() const { return FrameCount(pending_.size() - head_) / channels(); }

  void Start() {
    pending_.clear();
    head_ = 0;
    firstBlock_ = true;
    latencyLeft_ = 0;
    processor_.reset();
    std::string why;
    processor_ = open_(&why);
    if (!processor_) Fail(why.empty() ? "The plug-in " + name_ + " could not be started." : why);
  }

  void Produce() {
    const int ch = channels();
    const FrameCount n = audio::kBlockFrames;
    const std::size_t count = std::size_t(n * ch);
    block_.resize(count);
    in_.resize(count);
    out_.resize(count);
    input_->read(block_.data(), n);
    if (input_->failed() || !processor_) return;
    for (int c = 0; c < ch; ++c) SamplesToFloat(block_.data() + c, ch, in_.data() + std::size_t(c * n), std::size_t(n));
    std::string why;
    if (!processor_->Process(in_.data(), out_.data(), std::size_t(n), &why)) return Fail(why);
    bool finite = true;
    for (int c = 0; c < ch; ++c)
      finite &= FloatToSamples(out_.data() + std::size_t(c * n), block_.data() + c, ch, std::size_t(n));
    if (!finite) return Fail("The plug-in " + name_ + " produced invalid samples (not a number).");
    if (firstBlock_) {
      firstBlock_ = false;
      // A report beyond ten seconds is nonsense, not trusted with the document's length.
      const std::int64_t l = processor_->Latency();
      latencyLeft_ = l > 0 && l <= std::int64_t{sampleRate()} * 10 ? l : 0;
    }
    const FrameCount skip = std::min<FrameCount>(latencyLeft_, n);
    latencyLeft_ -= skip;
    if (head_ > 0) {
      pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(head_));
      head_ = 0;
    }
    pending_.insert(pending_.end(), block_.begin() + skip * ch, block_.end());
  }

  SourceHandle input_;
  ProcessorFactory open_;
  std::string name_;
  std::unique_ptr<LPluginProcessor> processor_;
  std::vector<Sample> block_, pending_;
  std::vector<float> in_, out_;
  std::size_t head_ = 0;
  FramePos position_ = 0;
  bool firstBlock_ = true;
  std::int64_t latencyLeft_ = 0;
};

// A block the plug-in does not answer within this long fails the pass.
constexpr int kAnswerMs = 60000;

// The wire between the two sides: native numbers, since both ends are this program.
// Host to us after start-up and after every block: status (0 ok), message length and
// text when not ok, then for a block the latency and the output floats. Us to host: the
// frame count and the input floats.
class HostedProcessor final : public LPluginProcessor {
 public:
  HostedProcessor(std::string name, int channels) : name_(std::move(name)), channels_(channels) {}

  bool Start(const std::vector<std::string>& argv, std::string* why) {
    platform::ProcessOptions o;
    o.argv = argv;
    o.input = platform::StreamMode::Pipe;
    o.output = platform::StreamMode::Pipe;
    o.terminateGraceMs = 200;
    if (!child_.Start(o)) {
      *why = "The plug-in host " + argv[0] + " could not be started: " + std::strerror(child_.startError());
      return false;
    }
    return Answer(why);
  }

  bool Process(const float* in, float* out, std::size_t frames, std::string* why) override {
    const std::uint32_t n = static_cast<std::uint32_t>(frames);
    const std::size_t bytes = frames * std::size_t(channels_) * sizeof(float);
    if (!Send(&n, sizeof n) || !Send(in, bytes)) return Lost(why);
    if (!Answer(why)) return false;
    return (Receive(&latency_, sizeof latency_) && Receive(out, bytes)) || Lost(why);
  }
  std::int64_t Latency() const override { return latency_; }

 private:
  bool Answer(std::string* why) {
    std::int32_t status = 0;
    if (!Receive(&status, sizeof status)) return Lost(why);
    if (status == 0) return true;
    std::uint32_t length = 0;
    if (!Receive(&length, sizeof length) || length > 4096) return Lost(why);
    std::string text(length, '\0');
    if (!Receive(text.data(), length)) return Lost(why);
    *why = text;
    return false;
  }

  // What the host's end means: a crash or a hang, said in the user's terms.
  bool Lost(std::string* why) {
    if (child_.running()) child_.Terminate();
    child_.Wait(1000);
    const platform::ExitStatus& e = child_.exitStatus();
    if (!e.exited && e.signal != 0)
      *why = "The plug-in " + name_ + " crashed (signal " + std::to_string(e.signal) + ": " +
             strsignal(e.signal) + "); the audio was left as it was.";
    else
      *why = "The plug-in " + name_ + " stopped answering; the audio was left as it was.";
    return false;
  }

  // Until a pipe is ready; false once the host has ended or kept silent too long.
  bool Wait() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const platform::ChildProcess::Ready r = child_.WaitIo(100);
      if (r.input || r.output) return true;
      if (child_.Poll()) return false;
    }
    return false;
  }

  bool Send(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const platform::IoResult r = child_.Write(p, size);
      if (r.error == EAGAIN) {
        if (!Wait()) return false;
        continue;
      }
      if (r.error != 0) return false;
      p += r.bytes;
      size -= r.bytes;
    }
    return true;
  }

  bool Receive(void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
      const platform::IoResult r = child_.Read(p, size);
      if (r.error == EAGAIN) {
        if (!Wait()) return false;
        continue;
      }
      if (r.error != 0 || r.bytes == 0) return false;
      p += r.bytes;
      size -= r.bytes;
    }
    return true;
  }

  std::string name_;
  int channels_;
  platform::ChildProcess child_;
  std::int64_t latency_ = 0;
};

// Blocking transfers on the host's side.
bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}
bool ReadAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}
bool WriteStatus(int fd, const std::string& failure) {
  const std::int32_t status = failure.empty() ? 0 : 1;
  if (!WriteAll(fd, &status, sizeof status)) return false;
  if (failure.empty()) return true;
  const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::size_t>(failure.size(), 4096));
  return WriteAll(fd, &length, sizeof length) && WriteAll(fd, failure.data(), length);
}

}  // namespace

SourceHandle MakePluginFilter(SourceHandle input, ProcessorFactory open, std::string name) {
  return SourceHandle(audio::MakeRef<LPluginFilter>(std::move(input), std::move(open), std::move(name)));
}

std::string PluginHostProgram() {
  if (const char* given = std::getenv("QUILLET_PLUGIN_HOST"); given && *given) return given;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && ::access((self.parent_path() / "quillet-plugin-host").c_str(), X_OK) == 0)
    return (self.parent_path() / "quillet-plugin-host").string();
  return platform::FindProgram("quillet-plugin-host").string();
}

std::unique_ptr<LPluginProcessor> OpenHere(const PluginInfo& info, const std::vector<float>& values,
                                           std::int32_t rate, int channels, std::string* why) {
  if (info.family == "lv2") return OpenLv2Here(info, values, rate, channels, why);
  if (info.family == "vst") return OpenVstHere(info, values, rate, channels, why);
  return OpenLadspaHere(info, values, rate, channels, why);
}

SourceHandle MakePluginEffectFilter(SourceHandle input, const PluginInfo& info, std::vector<float> values,
                                    bool hosted) {
  const std::int32_t rate = input->sampleRate();
  const int channels = input->channels();
  ProcessorFactory open = [=](std::string* why) {
    return hosted ? OpenHosted(info, values, rate, channels, why) : OpenHere(info, values, rate, channels, why);
  };
  return MakePluginFilter(std::move(input), std::move(open), info.name);
}

std::unique_ptr<LPluginProcessor> OpenHosted(const PluginInfo& info, const std::vector<float>& values,
                                                   std::int32_t rate, int channels, std::string* why) {
  const std::string program = PluginHostProgram();
  if (program.empty()) {
    *why = "The plug-in host quillet-plugin-host is missing; reinstall Quillet.";
    return nullptr;
  }
  std::vector<std::string> argv{program, info.family, info.path, info.id, std::to_string(rate),
                                std::to_string(channels)};
  for (float v : values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(v));
    argv.emplace_back(text);
  }
  auto p = std::make_unique<HostedProcessor>(info.name, channels);
  if (!p->Start(argv, why)) return nullptr;
  return p;
}

namespace {

// One field of a described plug-in on its own line: tabs and line breaks become blanks.
std::string Field(std::string s) {
  std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return s;
}

// "describe-vst PATH": the plug-in as lines, "ok" first; or "error" and the reason.
int DescribeVst(int out, const std::string& path) {
  PluginInfo info;
  std::string why;
  std::string text;
  if (!LoadVstInfo(path, info, &why)) {
    text = "error\n" + Field(why) + "\n";
  } else {
    text = "ok\n" + Field(info.name) + "\n" + std::to_string(info.audioIns) + "\t" +
           std::to_string(info.audioOuts) + "\t" + (info.hasEditor ? "1" : "0") + "\n";
    for (const ControlPort& c : info.controls) {
      char def[32];
      std::snprintf(def, sizeof def, "%.9g", double(c.def));
      text += std::string(def) + "\t" + Field(c.name) + "\n";
    }
  }
  return WriteAll(out, text.data(), text.size()) ? 0 : 2;
}

}  // namespace

bool LoadVstInfoHosted(const std::string& path, PluginInfo& info, std::string* why) {
  const std::string name = std::filesystem::path(path).filename().string();
  const std::string program = PluginHostProgram();
  if (program.empty()) {
    *why = "The plug-in host quillet-plugin-host is missing; reinstall Quillet.";
    return false;
  }
  platform::RunRequest req;
  req.process.argv = {program, "describe-vst", path};
  req.timeoutMs = 10000;
  req.maxOutput = std::size_t{4} << 20;
  const platform::RunResult run = platform::RunProcess(req);
  // The answer counts even when the host ends badly afterwards (a plug-in that crashes
  // as it is unloaded, a leak report).
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < run.output.size();) {
    const std::size_t end = std::min(run.output.find('\n', at), run.output.size());
    lines.push_back(run.output.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() >= 2 && lines[0] == "error") {
    *why = lines[1];
    return false;
  }
  if (lines.size() < 3 || lines[0] != "ok") {
    if (run.outcome == platform::RunResult::Outcome::Finished && !run.exit.exited && run.exit.signal != 0)
      *why = "The plug-in " + name + " crashed while it was read (signal " + std::to_string(run.exit.signal) +
             ": " + strsignal(run.exit.signal) + ").";
    else if (run.outcome == platform::RunResult::Outcome::Finished)
      *why = "The plug-in " + name + " ended while it was read, without an answer (exit status " +
             std::to_string(run.exit.code) + ").";
    else
      *why = "The plug-in " + name + " could not be read by quillet-plugin-host.";
    return false;
  }
  info = {};
  info.family = "vst";
  info.id = info.label = info.path = path;
  info.name = lines[1];
  int editor = 0;
  std::sscanf(lines[2].c_str(), "%d\t%d\t%d", &info.audioIns, &info.audioOuts, &editor);
  info.hasEditor = editor != 0;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::size_t tab = lines[i].find('\t');
    if (tab == std::string::npos) continue;
    ControlPort c;
    c.index = int(info.controls.size());
    c.symbol = std::to_string(c.index);
    c.name = lines[i].substr(tab + 1);
    c.def = std::clamp(std::strtof(lines[i].c_str(), nullptr), 0.0f, 1.0f);
    if (!std::isfinite(c.def)) c.def = 0;
    info.controls.push_back(std::move(c));
  }
  return true;
}

std::vector<std::string> VstEditorCommand(const std::string& path, unsigned long parent,
                                          const std::vector<float>& values) {
  std::vector<std::string> argv{PluginHostProgram(), "edit-vst", path, std::to_string(parent)};
  for (float v : values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(v));
    argv.emplace_back(text);
  }
  return argv;
}

bool ReadVstEditorAnswer(const std::string& output, std::vector<float>& values, std::string* why) {
  std::istringstream in(output);
  std::string line;
  std::getline(in, line);
  if (line == "error") {
    std::getline(in, *why);
    return false;
  }
  if (line != "ok") {
    *why = "The plug-in's window ended without an answer.";
    return false;
  }
  std::vector<float> read;
  while (std::getline(in, line)) {
    const float v = std::strtof(line.c_str(), nullptr);
    read.push_back(std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f);
  }
  values = std::move(read);
  return true;
}

int ServePlugin(int in, int out, const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "describe-vst") return DescribeVst(out, args[1]);
  // FAMILY PATH ID RATE CHANNELS VALUE...
  std::string why;
  std::unique_ptr<LPluginProcessor> processor;
  int channels = 0;
  if (args.size() < 5 || (args[0] != "ladspa" && args[0] != "lv2" && args[0] != "vst")) {
    why = "usage: quillet-plugin-host ladspa|lv2|vst PATH ID RATE CHANNELS [VALUE...]";
  } else {
    const long rate = std::strtol(args[3].c_str(), nullptr, 10);
    channels = int(std::strtol(args[4].c_str(), nullptr, 10));
    PluginInfo info;
    if (rate < 1 || rate > 10'000'000 || channels < 1 || channels > audio::kMaxChannels) {
      why = "The rate or channel count given to the plug-in host is out of range.";
    } else if (args[0] == "lv2"   ? FindLv2(args[2], info, &why)
               : args[0] == "vst" ? LoadVstInfo(args[1], info, &why)
                                  : LoadLadspaInfo(args[1], args[2], info, &why)) {
      std::vector<float> values;
      for (std::size_t i = 5; i < args.size(); ++i) values.push_back(std::strtof(args[i].c_str(), nullptr));
      values.resize(info.controls.size());
      processor = OpenHere(info, values, std::int32_t(rate), channels, &why);
    }
  }
  if (!WriteStatus(out, processor ? std::string() : why)) return 2;
  if (!processor) return 2;
  std::vector<float> inBuf, outBuf;
  for (std::uint32_t n = 0; ReadAll(in, &n, sizeof n);) {
    if (n > 1u << 20) return 2;
    inBuf.resize(std::size_t(n) * std::size_t(channels));
    outBuf.resize(inBuf.size());
    if (!ReadAll(in, inBuf.data(), inBuf.size() * sizeof(float))) return 2;
    why.clear();
    const bool ok = processor->Process(inBuf.data(), outBuf.data(), n, &why);
    if (!WriteStatus(out, ok ? std::string() : why)) return 2;
    if (!ok) continue;
    const std::int64_t latency = processor->Latency();
    if (!WriteAll(out, &latency, sizeof latency) || !WriteAll(out, outBuf.data(), outBuf.size() * sizeof(float)))
      return 2;
  }
  return 0;
}

}  // namespace quillet::effects::plugins
