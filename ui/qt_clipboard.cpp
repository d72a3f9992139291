#include "ui/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace quillet::ui {
namespace {

// Renders the WAVE file on the first request and keeps it for later ones.
class LazyWaveData final : public QMimeData {
 public:
  explicit LazyWaveData(platform::SystemClipboard::WaveRenderer render)
      : render_(std::move(render)) {}
  QStringList formats() const override { return {platform::kWaveMimeType}; }
  bool hasFormat(const QString& mime) const override { return mime == platform::kWaveMimeType; }

 protected:
  QVariant retrieveData(const QString& mime, QMetaType) const override {
    if (mime != platform::kWaveMimeType) return {};
    if (!rendered_) {
      std::string bytes;
      ok_ = render_ && render_(bytes);
      bytes_ = QByteArray(bytes.data(), qsizetype(bytes.size()));
      rendered_ = true;
    }
    return ok_ ? QVariant(bytes_) : QVariant();
  }

 private:
  platform::SystemClipboard::WaveRenderer render_;
  mutable bool rendered_ = false, ok_ = false;
  mutable QByteArray bytes_;
};

}  // namespace

void QtClipboard::OfferWave(WaveRenderer render) {
  QGuiApplication::clipboard()->setMimeData(new LazyWaveData(std::move(render)));
}

std::optional<std::string> QtClipboard::ReadWave() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasFormat(platform::kWaveMimeType)) return std::nullopt;
  const QByteArray bytes = data->data(platform::kWaveMimeType);
  if (bytes.isEmpty()) return std::nullopt;
  return std::string(bytes.constData(), std::size_t(bytes.size()));
}

}  // namespace quillet::ui
