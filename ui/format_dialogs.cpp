#include "ui/format_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <functional>
#include <span>

#include "formats/simple_formats.h"
#include "formats/wave_format.h"
#include "ui/dialogs.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The raw codec dialog's rate list.
constexpr int kRawRates[] = {6000,  8000,  11025, 16000, 22050, 32000,
                             44100, 48000, 64000, 88200, 96000, 196000};

template <typename T>
QComboBox* Combo(const char* name, std::span<const T> values, const QString& suffix = {}) {
  auto* c = new QComboBox;
  c->setObjectName(name);
  for (const T& v : values) {
    if constexpr (std::is_arithmetic_v<T>) c->addItem(QString::number(v) + suffix);
    else c->addItem(Q(v));
  }
  return c;
}

// Selects the entry holding value (the first when it is not listed).
template <typename T>
void Select(QComboBox* c, std::span<const T> values, T value) {
  const auto it = std::find(values.begin(), values.end(), value);
  c->setCurrentIndex(it == values.end() ? 0 : int(it - values.begin()));
}
template <typename T>
T Chosen(const QComboBox* c, std::span<const T> values) {
  return values[std::size_t(std::clamp<int>(c->currentIndex(), 0, int(values.size()) - 1))];
}

// An editable list of rates; a typed rate that is no number reads as 0 (refused).
QComboBox* RateList(const char* name, std::span<const int> rates, std::int64_t rate) {
  QComboBox* c = Combo(name, rates);
  c->setEditable(true);
  c->setCurrentText(QString::number(rate));
  return c;
}
std::int64_t TypedRate(const QComboBox* c) {
  bool ok = false;
  const qlonglong v = c->currentText().trimmed().toLongLong(&ok);
  return ok ? v : 0;
}

QComboBox* QualityList(const char* name, int top, const char* best, const char* worst,
                       bool bestFirst) {
  auto* c = new QComboBox;
  c->setObjectName(name);
  for (int i = 0; i <= top; ++i) {
    QString text = QString::number(i);
    if (i == 0) text += QString(" (") + (bestFirst ? best : worst) + ")";
    if (i == top) text += QString(" (") + (bestFirst ? worst : best) + ")";
    c->addItem(text);
  }
  return c;
}

QComboBox* ChannelList(const char* name) {
  auto* c = new QComboBox;
  c->setObjectName(name);
  c->addItems({"Mono", "Stereo"});
  return c;
}

template <typename W>
W* Named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

// Refuses with the record's own check, under "Invalid value".
CheckedDialog::Validator CheckWith(std::function<std::string()> check) {
  return [check = std::move(check)]() -> std::optional<CheckedDialog::Refusal> {
    std::string message = check();
    if (message.empty()) return std::nullopt;
    return CheckedDialog::Refusal{std::move(message), std::string(formats::kInvalidValueCaption)};
  };
}

void AddRestoreDefaults(CheckedDialog& d, std::function<void()> restore) {
  auto* b = new QPushButton("Restore Defaults");
  b->setObjectName("restoreDefaults");
  QObject::connect(b, &QPushButton::clicked, &d, std::move(restore));
  d.AddRow("", b);
}

}  // namespace

bool QtSaveOptions::EditMp3(formats::Mp3EncoderSettings& m) {
  using formats::kMp3BitRates;
  const std::span<const int> rates(kMp3BitRates);
  CheckedDialog d(parent_, "MP3 Encoder Settings");
  d.setObjectName("LMp3EncodeDlg");
  auto* cbr = Named(new QRadioButton("Constant Bitrate (CBR)"), "cbr");
  auto* cbrRate = Combo("cbrRate", rates, " kbps");
  auto* hq = Named(new QCheckBox("High quality encoding (slower)"), "highQuality");
  auto* vbr = Named(new QRadioButton("Variable Bitrate (VBR)"), "vbr");
  auto* vbrMin = Combo("vbrMin", rates, " kbps");
  auto* vbrMax = Combo("vbrMax", rates, " kbps");
  auto* quality = QualityList("vbrQuality", 9, "Highest", "Lowest", true);
  auto* mode = Combo("channelMode", std::span<const std::string_view>(formats::kMp3ChannelModes));
  auto* crc = Named(new QCheckBox("Include CRC to detect errors"), "crc");
  auto enable = [=] {
    for (QWidget* w : {static_cast<QWidget*>(cbrRate), static_cast<QWidget*>(hq)})
      w->setEnabled(cbr->isChecked());
    for (QWidget* w : {vbrMin, vbrMax, quality}) w->setEnabled(!cbr->isChecked());
  };
  auto show = [=](const formats::Mp3EncoderSettings& s) {
    (s.constantBitRate ? cbr : vbr)->setChecked(true);
    Select(cbrRate, rates, s.cbrBitRate);
    hq->setChecked(s.highQuality);
    Select(vbrMin, rates, s.vbrMinBitRate);
    Select(vbrMax, rates, s.vbrMaxBitRate);
    quality->setCurrentIndex(std::clamp(s.vbrQuality, 0, 9));
    mode->setCurrentIndex(std::clamp(s.channelMode, 0, 3));
    crc->setChecked(s.errorProtection);
    enable();
  };
  auto read = [=](formats::Mp3EncoderSettings& out) {
    out.constantBitRate = cbr->isChecked();
    out.cbrBitRate = Chosen(cbrRate, rates);
    out.highQuality = hq->isChecked();
    out.vbrMinBitRate = Chosen(vbrMin, rates);
    out.vbrMaxBitRate = Chosen(vbrMax, rates);
    out.vbrQuality = quality->currentIndex();
    out.channelMode = mode->currentIndex();
    out.errorProtection = crc->isChecked();
  };
  QObject::connect(cbr, &QRadioButton::toggled, &d, enable);
  d.AddRow("", cbr);
  d.AddRow("Bitrate:", cbrRate);
  d.AddRow("", hq);
  d.AddRow("", vbr);
  d.AddRow("Minimum Bitrate:", vbrMin);
  d.AddRow("Maximum Bitrate:", vbrMax);
  d.AddRow("Quality:", quality);
  d.AddRow("Stereo Encoding", mode);
  d.AddRow("", crc);
  AddRestoreDefaults(d, [=] { show(formats::Mp3EncoderSettings{}); });
  d.Finish();
  show(m);
  formats::Mp3EncoderSettings edited = m;
  d.SetValidator(CheckWith([&] {
    read(edited);
    return formats::ValidateMp3(edited);
  }));
  if (d.exec() != QDialog::Accepted) return false;
  m = edited;
  return true;
}

bool QtSaveOptions::EditOgg(formats::OggEncoderSettings& o) {
  const std::span<const int> rates(formats::kOggBitRates);
  CheckedDialog d(parent_, "Ogg Encoder Settings");
  d.setObjectName("OggEncodeDlg");
  auto* byQuality = Named(new QRadioButton("Quality"), "quality");
  auto* quality = QualityList("vbrQuality", 10, "Highest", "Lowest", false);
  auto* byRate = Named(new QRadioButton("Variable Bitrate (VBR)"), "vbr");
  auto* vbrMin = Combo("vbrMin", rates, " kbps");
  auto* vbrMax = Combo("vbrMax", rates, " kbps");
  auto* channels = ChannelList("channels");
  auto* strip = Named(new QCheckBox("Discard Comments"), "stripComments");
  auto enable = [=] {
    quality->setEnabled(byQuality->isChecked());
    vbrMin->setEnabled(!byQuality->isChecked());
    vbrMax->setEnabled(!byQuality->isChecked());
  };
  auto show = [=](const formats::OggEncoderSettings& s) {
    (s.quality ? byQuality : byRate)->setChecked(true);
    quality->setCurrentIndex(std::clamp(s.vbrQuality, 0, 10));
    Select(vbrMin, rates, s.vbrMinBitRate);
    Select(vbrMax, rates, s.vbrMaxBitRate);
    channels->setCurrentIndex(s.channels == 1 ? 0 : 1);
    strip->setChecked(s.stripComments);
    enable();
  };
  QObject::connect(byQuality, &QRadioButton::toggled, &d, enable);
  d.AddRow("", byQuality);
  d.AddRow("Quality:", quality);
  d.AddRow("", byRate);
  d.AddRow("Minimum Bitrate:", vbrMin);
  d.AddRow("Maximum Bitrate:", vbrMax);
  d.AddRow("Channels:", channels);
  d.AddRow("", strip);
  const int documentChannels = o.channels;
  AddRestoreDefaults(d, [=] {
    formats::OggEncoderSettings s;
    s.channels = documentChannels;
    show(s);
  });
  d.Finish();
  show(o);
  formats::OggEncoderSettings edited = o;
  d.SetValidator(CheckWith([&] {
    edited.quality = byQuality->isChecked();
    edited.vbrQuality = quality->currentIndex();
    edited.vbrMinBitRate = Chosen(vbrMin, rates);
    edited.vbrMaxBitRate = Chosen(vbrMax, rates);
    edited.channels = channels->currentIndex() + 1;
    edited.stripComments = strip->isChecked();
    return formats::ValidateOgg(edited);
  }));
  if (d.exec() != QDialog::Accepted) return false;
  o = edited;
  return true;
}

bool QtSaveOptions::EditFlac(formats::FlacEncoderSettings& f) {
  CheckedDialog d(parent_, "Flac Encoder Settings");
  d.setObjectName("FlacEncodeDlg");
  auto* compression = QualityList("compression", 8, "best", "fastest", false);
  compression->setCurrentIndex(std::clamp(f.compression, 0, 8));
  auto* rate = RateList("sampleRate", kRawRates, f.sampleRate);
  auto* channels = ChannelList("channels");
  channels->setCurrentIndex(f.channels == 1 ? 0 : 1);
  d.AddRow("Compression:", compression);
  d.AddRow("Sample Rate:", rate);
  d.AddRow("Channels:", channels);
  AddRestoreDefaults(d, [=] {
    compression->setCurrentIndex(4);
    rate->setCurrentText("44100");
  });
  d.Finish();
  formats::FlacEncoderSettings edited = f;
  d.SetValidator(CheckWith([&] {
    edited.compression = compression->currentIndex();
    edited.sampleRate = std::uint32_t(std::clamp<std::int64_t>(TypedRate(rate), 0, 1 << 30));
    edited.channels = channels->currentIndex() + 1;
    return formats::ValidateFlac(edited);
  }));
  if (d.exec() != QDialog::Accepted) return false;
  f = edited;
  return true;
}

bool QtSaveOptions::EditAac(formats::AacEncoderSettings& a) {
  CheckedDialog d(parent_, "AAC / M4A Encoder Settings");
  d.setObjectName("LAACEncodeDlg");
  auto* abr = Named(new QRadioButton("Average Bitrate (ABR)"), "abr");
  auto* abrRate = Named(new QSpinBox, "abrBitRate");
  abrRate->setRange(8, 576);
  abrRate->setSuffix(" kbps");
  auto* vbr = Named(new QRadioButton("Variable Bitrate (VBR)"), "vbr");
  auto* quality = Named(new QSpinBox, "vbrQuality");
  quality->setRange(10, 500);
  quality->setSuffix(" %");
  auto* mpeg2 = Named(new QCheckBox("Force MPEG2 Output"), "forceMpeg2");
  auto* tns = Named(new QCheckBox("Disable Temporal Noise Shaping"), "disableTns");
  auto enable = [=] {
    abrRate->setEnabled(abr->isChecked());
    quality->setEnabled(!abr->isChecked());
  };
  auto show = [=](const formats::AacEncoderSettings& s) {
    (s.averageBitRate ? abr : vbr)->setChecked(true);
    abrRate->setValue(s.abrBitRate);
    quality->setValue(s.vbrQuality);
    mpeg2->setChecked(s.forceMpeg2);
    tns->setChecked(s.disableTns);
    enable();
  };
  QObject::connect(abr, &QRadioButton::toggled, &d, enable);
  d.AddRow("", abr);
  d.AddRow("Bitrate:", abrRate);
  d.AddRow("", vbr);
  d.AddRow("Quality:", quality);
  d.AddRow("", mpeg2);
  d.AddRow("", tns);
  AddRestoreDefaults(d, [=] { show(formats::AacEncoderSettings{}); });
  d.Finish();
  show(a);
  formats::AacEncoderSettings edited = a;
  d.SetValidator(CheckWith([&] {
    edited.averageBitRate = abr->isChecked();
    edited.abrBitRate = abrRate->value();
    edited.vbrQuality = quality->value();
    edited.forceMpeg2 = mpeg2->isChecked();
    edited.disableTns = tns->isChecked();
    return formats::ValidateAac(edited);
  }));
  if (d.exec() != QDialog::Accepted) return false;
  a = edited;
  return true;
}

bool QtSaveOptions::EditAmr(formats::AmrEncoderSettings& a) {
  CheckedDialog d(parent_, "AMR Encoder Settings");
  d.setObjectName("LAMREncodeDlg");
  auto* rate = Combo("modeRate", std::span<const std::string_view>(formats::kAmrRateNames));
  rate->setCurrentIndex(std::clamp(a.modeRateSelection, 0, int(formats::kAmrRateNames.size()) - 1));
  d.AddRow("Encoding Bitrate (kbps):", rate);
  d.Finish();
  if (d.exec() != QDialog::Accepted) return false;
  a.modeRateSelection = rate->currentIndex();
  return true;
}

bool QtSaveOptions::EditRaw(formats::RawSettings& r, std::string_view) {
  CheckedDialog d(parent_, "Codec Settings");
  d.setObjectName("LRawDlg");
  auto* codec = Combo("codec", formats::RawCodecNames());
  codec->setCurrentIndex(std::clamp(r.codec, 0, codec->count() - 1));
  auto* rate = RateList("sampleRate", kRawRates, r.sampleRate);
  auto* channels = new QComboBox;
  channels->setObjectName("channels");
  channels->addItems({"1 - Mono", "2 - Stereo"});
  channels->setCurrentIndex(r.channels == 2 ? 1 : 0);
  d.AddRow("Format:", codec);
  d.AddRow("Sample:", rate);
  d.AddRow("Channels:", channels);
  d.Finish();
  // The rate message is a stop box with the default title.
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    if (auto message = formats::CheckRawSampleRate(TypedRate(rate)))
      return CheckedDialog::Refusal{*message, "Quillet"};
    return std::nullopt;
  });
  if (d.exec() != QDialog::Accepted) return false;
  r.codec = codec->currentIndex();
  r.sampleRate = std::int32_t(TypedRate(rate));
  r.channels = channels->currentIndex() + 1;
  return true;
}

std::optional<formats::WaveFormat> QtSaveOptions::Choose(const formats::FormatChooserModel& model) {
  CheckedDialog d(parent_, Q(model.title()));
  d.setObjectName("FormatChooser");
  auto* tags = Named(new QComboBox, "format");
  auto* lines = Named(new QComboBox, "attributes");
  const std::vector<std::uint16_t> tagList = model.Tags();
  for (std::uint16_t t : tagList) tags->addItem(Q(formats::FormatTagName(t)));
  std::vector<formats::WaveFormat> shown;
  auto fill = [&](int tagIndex, const formats::WaveFormat* select) {
    lines->clear();
    shown = tagIndex >= 0 && tagIndex < int(tagList.size())
                ? model.FormatsOf(tagList[std::size_t(tagIndex)])
                : std::vector<formats::WaveFormat>{};
    int pick = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      lines->addItem(Q(formats::DescribeFormat(shown[i])));
      if (select && shown[i] == *select) pick = int(i);
    }
    lines->setCurrentIndex(pick);
  };
  const formats::WaveFormat& initial = model.initial();
  const auto at = std::find(tagList.begin(), tagList.end(), initial.tag);
  const int initialTag = at == tagList.end() ? 0 : int(at - tagList.begin());
  tags->setCurrentIndex(initialTag);
  fill(initialTag, &initial);
  QObject::connect(tags, &QComboBox::currentIndexChanged, &d, [&](int i) { fill(i, nullptr); });
  d.AddRow("Format:", tags);
  d.AddRow("Attributes:", lines);
  d.Finish();
  if (d.exec() != QDialog::Accepted || shown.empty()) return std::nullopt;
  return shown[std::size_t(std::clamp(lines->currentIndex(), 0, int(shown.size()) - 1))];
}

void QtSaveOptions::ShowStop(std::string_view text, std::string_view caption) {
  ShowMessageBox(parent_, text, caption, platform::MessageIcon::Error, platform::MessageButtons::Ok);
}

}  // namespace quillet::ui
