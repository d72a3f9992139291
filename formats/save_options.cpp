#include "formats/save_options.h"

#include <algorithm>
#include <span>

namespace quillet::formats {

using settings::Settings;

namespace {

bool Listed(std::span<const int> list, int v) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

bool Missing(const Settings& s, std::string_view section, std::string_view key) {
  const std::optional<std::string> v = s.Find(section, key);
  return !v || v->empty();
}

}  // namespace

Mp3EncoderSettings Mp3EncoderSettings::Load(const Settings& s) {
  Mp3EncoderSettings m;
  m.constantBitRate = s.GetBool(kMp3Section, "ConstantBitRate", true);
  m.cbrBitRate = s.GetInt(kMp3Section, "CBRBitRate", 128);
  m.highQuality = s.GetBool(kMp3Section, "HighQuality", true);
  m.vbrMinBitRate = s.GetInt(kMp3Section, "VBRMinBitRate", 32);
  m.vbrMaxBitRate = s.GetInt(kMp3Section, "VBRMaxBitRate", 128);
  m.vbrQuality = s.GetInt(kMp3Section, "VBRQuality", 4);
  m.errorProtection = s.GetBool(kMp3Section, "ErrorProtection", false);
  m.channelMode = s.GetInt(kMp3Section, "ChannelMode", 1);
  if (m.vbrMaxBitRate >= 161 && m.vbrMinBitRate < 32) m.vbrMinBitRate = 32;
  return m;
}

void Mp3EncoderSettings::Store(Settings& s) const {
  s.SetBool(kMp3Section, "ConstantBitRate", constantBitRate);
  s.SetInt(kMp3Section, "CBRBitRate", cbrBitRate);
  s.SetBool(kMp3Section, "HighQuality", highQuality);
  s.SetInt(kMp3Section, "VBRMinBitRate", vbrMinBitRate);
  s.SetInt(kMp3Section, "VBRMaxBitRate", vbrMaxBitRate);
  s.SetInt(kMp3Section, "VBRQuality", vbrQuality);
  s.SetBool(kMp3Section, "ErrorProtection", errorProtection);
  s.SetInt(kMp3Section, "ChannelMode", channelMode);
}

OggEncoderSettings OggEncoderSettings::Load(const Settings& s, int documentChannels) {
  OggEncoderSettings o;
  o.quality = s.GetBool(kOggSection, "Quality", true);
  o.vbrQuality = s.GetInt(kOggSection, "VBRQuality", 4);
  o.vbrMinBitRate = s.GetInt(kOggSection, "VBRMinBitRate", 96);
  o.vbrMaxBitRate = s.GetInt(kOggSection, "VBRMaxBitRate", 128);
  const int followed = documentChannels >= 2 ? 2 : 1;
  o.channels = Missing(s, kOggSection, "Channels") ? followed
                                                   : std::clamp(s.GetInt(kOggSection, "Channels", 1), 1, 2);
  o.stripComments = s.GetBool(kOggSection, "StripComments", false);
  return o;
}

void OggEncoderSettings::Store(Settings& s) const {
  s.SetBool(kOggSection, "Quality", quality);
  s.SetInt(kOggSection, "VBRQuality", vbrQuality);
  s.SetInt(kOggSection, "VBRMinBitRate", vbrMinBitRate);
  s.SetInt(kOggSection, "VBRMaxBitRate", vbrMaxBitRate);
  s.SetInt(kOggSection, "Channels", channels);
  s.SetBool(kOggSection, "StripComments", stripComments);
}

FlacEncoderSettings FlacEncoderSettings::Load(const Settings& s, std::uint32_t documentRate,
                                              int documentChannels) {
  FlacEncoderSettings f;
  f.compression = std::clamp(s.GetInt(kFlacSection, "Compression", 4), 0, 8);
  f.channels = Missing(s, kFlacSection, "Channels") ? std::clamp(documentChannels, 1, 2)
                                                    : std::clamp(s.GetInt(kFlacSection, "Channels", 1), 1, 2);
  const int rate = s.GetInt(kFlacSection, "SampleRate", 0);
  f.sampleRate = rate > 0 ? static_cast<std::uint32_t>(rate)
                          : (documentRate > 0 ? documentRate : 44100u);
  return f;
}

void FlacEncoderSettings::Store(Settings& s) const {
  s.SetInt(kFlacSection, "Compression", compression);
  s.SetInt(kFlacSection, "Channels", channels);
  s.SetInt(kFlacSection, "SampleRate", static_cast<int>(sampleRate));
}

AacEncoderSettings AacEncoderSettings::Load(const Settings& s) {
  AacEncoderSettings a;
  a.averageBitRate = s.GetBool(kAacSection, "AverageBitRate", false);
  a.abrBitRate = s.GetInt(kAacSection, "ABRBitRate", 128);
  a.vbrQuality = s.GetInt(kAacSection, "VBRQuality", 100);
  a.forceMpeg2 = s.GetBool(kAacSection, "ForceMPEG2", false);
  a.disableTns = s.GetBool(kAacSection, "DisableTNS", false);
  return a;
}

void AacEncoderSettings::Store(Settings& s) const {
  s.SetBool(kAacSection, "AverageBitRate", averageBitRate);
  s.SetInt(kAacSection, "ABRBitRate", abrBitRate);
  s.SetInt(kAacSection, "VBRQuality", vbrQuality);
  s.SetBool(kAacSection, "ForceMPEG2", forceMpeg2);
  s.SetBool(kAacSection, "DisableTNS", disableTns);
}

AmrEncoderSettings AmrEncoderSettings::Load(const Settings& s) {
  AmrEncoderSettings a;
  a.modeRateSelection = s.GetInt(kAmrSection, "ModeRateSelection", 4);
  if (a.modeRateSelection < 0 || a.modeRateSelection >= static_cast<int>(kAmrModeNames.size()))
    a.modeRateSelection = 4;
  return a;
}

void AmrEncoderSettings::Store(Settings& s) const {
  s.SetInt(kAmrSection, "ModeRateSelection", modeRateSelection);
}

std::string ValidateMp3(const Mp3EncoderSettings& m) {
  if (m.constantBitRate && !Listed(kMp3BitRates, m.cbrBitRate))
    return "The bit rate must be one of the listed rates.";
  if (!m.constantBitRate) {
    if (!Listed(kMp3BitRates, m.vbrMinBitRate) || !Listed(kMp3BitRates, m.vbrMaxBitRate))
      return "The bit rates must be among the listed rates.";
    if (m.vbrMinBitRate > m.vbrMaxBitRate)
      return "The minimum bit rate must not be above the maximum bit rate.";
    if (m.vbrQuality < 0 || m.vbrQuality > 9) return "The quality must be between 0 and 9.";
  }
  if (m.channelMode < 0 || m.channelMode > 3) return "Choose a stereo encoding.";
  return {};
}

std::string ValidateOgg(const OggEncoderSettings& o) {
  if (o.quality && (o.vbrQuality < 0 || o.vbrQuality > 10))
    return "The quality must be between 0 and 10.";
  if (!o.quality) {
    if (!Listed(kOggBitRates, o.vbrMinBitRate) || !Listed(kOggBitRates, o.vbrMaxBitRate))
      return "The bit rates must be among the listed rates.";
    if (o.vbrMinBitRate > o.vbrMaxBitRate)
      return "The minimum bit rate must not be above the maximum bit rate.";
  }
  if (o.channels != 1 && o.channels != 2) return "Choose Mono or Stereo.";
  return {};
}

std::string ValidateFlac(const FlacEncoderSettings& f) {
  if (f.compression < 0 || f.compression > 8) return "The compression must be between 0 and 8.";
  if (f.sampleRate < 1000 || f.sampleRate > 655350)
    return "The sample rate must be between 1000 and 655350 Hz.";
  if (f.channels != 1 && f.channels != 2) return "Choose Mono or Stereo.";
  return {};
}

std::string ValidateAac(const AacEncoderSettings& a) {
  if (a.averageBitRate && (a.abrBitRate < 8 || a.abrBitRate > 576))
    return "The bit rate must be between 8 and 576 kbit/s.";
  if (!a.averageBitRate && (a.vbrQuality < 10 || a.vbrQuality > 500))
    return "The quality must be between 10 and 500 percent.";
  return {};
}

}  // namespace quillet::formats
