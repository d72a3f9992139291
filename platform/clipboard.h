#pragma once
// The system clipboard, as far as audio goes: offering a WAVE file that is made only
// when another program asks for it, and reading one that another program put there.
// The editor implements it with the Qt clipboard (MIME type "audio/wav"); tests and
// quillet-cli use FakeClipboard.

#include <functional>
#include <optional>
#include <string>

namespace quillet::platform {

inline constexpr const char* kWaveMimeType = "audio/wav";

class SystemClipboard {
 public:
  // Writes the whole WAVE file into bytes; false when it cannot be made.
  using WaveRenderer = std::function<bool(std::string& bytes)>;

  virtual ~SystemClipboard() = default;
  // Empties the clipboard and announces audio without data: render is called only
  // when someone asks for it, and never once this program has ended.
  virtual void OfferWave(WaveRenderer render) = 0;
  // The WAVE bytes on the clipboard (rendering our own offer if need be); nullopt
  // when the clipboard holds no audio or the rendering failed.
  virtual std::optional<std::string> ReadWave() = 0;
};

// An in-process clipboard for tests and the headless program.
class FakeClipboard final : public SystemClipboard {
 public:
  void OfferWave(WaveRenderer render) override {
    offer_ = std::move(render);
    bytes_.reset();
  }
  std::optional<std::string> ReadWave() override {
    if (bytes_) return bytes_;
    if (!offer_) return std::nullopt;
    ++renders_;
    std::string bytes;
    if (!offer_(bytes)) return std::nullopt;
    return bytes;
  }
  // Another program copying bytes (empty optional: copying something that is not audio).
  void SetFromOtherProgram(std::optional<std::string> bytes) {
    offer_ = nullptr;
    bytes_ = std::move(bytes);
  }
  bool offered() const { return static_cast<bool>(offer_); }
  int renders() const { return renders_; }

 private:
  WaveRenderer offer_;
  std::optional<std::string> bytes_;
  int renders_ = 0;
};

}  // namespace quillet::platform
