// The option records of the save dialogs: each field table stores and loads its own
// values, refuses with the dialog's words, and takes a stored value it cannot use back
// to its default with a notice instead of guessing.
#include "formats/save_options.h"

#include <gtest/gtest.h>

#include <set>

#include "fixtures/temp_dir.h"

namespace quillet::formats {
namespace {

using core::ParamInfo;
using core::ParamKind;
using core::ParamSet;
using quillet::testing::TempDir;

const OptionRecord* const kRecords[] = {&kMp3Options, &kOggOptions, &kFlacOptions, &kAacOptions,
                                        &kAmrOptions, &kRawOptions, &kVoxOptions};

// A value of f other than current that f accepts.
std::int64_t OtherValue(const ParamInfo& f, std::int64_t current) {
  if (!f.values.empty()) return f.values.front() != current ? f.values.front() : f.values.back();
  switch (f.kind) {
    case ParamKind::Bool: return current ? 0 : 1;
    case ParamKind::Choice: return (current + 1) % std::int64_t(f.choices.size());
    default: return current != f.min ? f.min : f.max;
  }
}

TEST(OptionRecords, EveryFieldStoresAndLoadsBackUnderItsOwnKey) {
  for (const OptionRecord* r : kRecords) {
    SCOPED_TRACE(std::string(r->dialogName) + " / " + std::string(r->table->title));
    TempDir dir;
    settings::Settings s(settings::FolderLocations(dir.path()));
    ParamSet v(*r->table);
    std::set<std::pair<std::string_view, std::string_view>> keys;
    for (std::size_t i = 0; i < v.size(); ++i) {
      v.SetInt(i, OtherValue(v.field(i), v.Int(i)));
      EXPECT_TRUE(keys.insert({v.field(i).section, v.field(i).key}).second) << v.field(i).key;
    }
    ASSERT_EQ(v.Validate(), "");
    v.Store(s);
    std::vector<std::string> notices;
    const ParamSet back = LoadOptions(*r, s, 44100, 2, &notices);
    for (std::size_t i = 0; i < v.size(); ++i) EXPECT_EQ(back.Int(i), v.Int(i)) << v.field(i).key;
    EXPECT_TRUE(notices.empty());
  }
}

TEST(OptionRecords, UnusableStoredValuesFallBackToTheDefaultWithANotice) {
  struct Case {
    const OptionRecord* record;
    const char* key;
    const char* stored;
    std::size_t field;
    std::int64_t want;  // for a 48000 Hz stereo document
    bool notice;
  } cases[] = {
      {&kMp3Options, "CBRBitRate", "abc", kMp3CbrRate, 128, true},
      {&kMp3Options, "CBRBitRate", "-5", kMp3CbrRate, 128, true},
      {&kMp3Options, "CBRBitRate", "130", kMp3CbrRate, 128, true},  // no rate the dialog offers
      {&kMp3Options, "CBRBitRate", " 64 ", kMp3CbrRate, 64, false},
      {&kMp3Options, "ChannelMode", "7", kMp3ChannelMode, 1, true},  // not the nearest, Mono
      {&kMp3Options, "VBRQuality", "12", kMp3VbrQuality, 4, true},
      {&kOggOptions, "Channels", "0", kOggChannels, 2, true},       // the document's
      {&kFlacOptions, "SampleRate", "fast", kFlacRate, 48000, true},  // the document's
      {&kAacOptions, "VBRQuality", "9999", kAacQuality, 500, true},  // a plain range: its end
      {&kAmrOptions, "ModeRateSelection", "8", kAmrMode, 4, true},
      {&kVoxOptions, "Channels", "0", kRawChannels, 1, true},
      {&kRawOptions, "Codec", "3", kRawCodec, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=\"" + c.stored + "\"");
    TempDir dir;
    settings::Settings s(settings::FolderLocations(dir.path()));
    s.SetString(c.record->table->fields[c.field].section, c.key, c.stored);
    std::vector<std::string> notices;
    const ParamSet v = LoadOptions(*c.record, s, 48000, 2, &notices);
    EXPECT_EQ(v.Int(c.field), c.want);
    ASSERT_EQ(notices.size(), c.notice ? 1u : 0u);
    if (c.notice) {
      EXPECT_NE(notices[0].find(c.key), std::string::npos) << notices[0];
      EXPECT_NE(notices[0].find(std::to_string(c.want) + " is used instead"), std::string::npos) << notices[0];
    }
  }
}

TEST(OptionRecords, TheDocumentGivesDefaultsOnlyWhereTheRecordTakesThem) {
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  // Lossless FLAC and Ogg keep a stereo document stereo, and FLAC its rate.
  ParamSet flac = LoadOptions(kFlacOptions, s, 96000, 2);
  EXPECT_EQ(flac.Int(kFlacRate), 96000);
  EXPECT_EQ(flac.Int(kFlacChannels), 2);
  EXPECT_EQ(LoadOptions(kOggOptions, s, 44100, 6).Int(kOggChannels), 2);  // at most stereo
  EXPECT_EQ(LoadOptions(kOggOptions, s, 44100, 1).Int(kOggChannels), 1);
  // Restore Defaults gives the same.
  flac.SetInt(kFlacRate, 8000);
  flac.RestoreDefaults();
  EXPECT_EQ(flac.Int(kFlacRate), 96000);
  // A stored choice wins.
  s.SetInt(kFlacSection, "SampleRate", 22050);
  s.SetInt(kFlacSection, "Channels", 1);
  flac = LoadOptions(kFlacOptions, s, 96000, 2);
  EXPECT_EQ(flac.Int(kFlacRate), 22050);
  EXPECT_EQ(flac.Int(kFlacChannels), 1);

  // VOX keeps its telephone rate for the writer; its dialog starts from the document.
  ParamSet vox = LoadOptions(kVoxOptions, s, 44100, 2);
  EXPECT_EQ(vox.Int(kRawRate), 8000);
  EXPECT_EQ(vox.Int(kRawCodec), kRawDialogicAdpcm);
  StartFromDocument(kVoxOptions, vox, 44100, 2);
  EXPECT_EQ(vox.Int(kRawRate), 44100);
  EXPECT_EQ(vox.Int(kRawChannels), 2);
  ParamSet mp3 = LoadOptions(kMp3Options, s, 44100, 2);
  StartFromDocument(kMp3Options, mp3, 44100, 2);
  EXPECT_EQ(mp3.Int(kMp3CbrRate), 128);

  // A top rate of 161 or more lifts a low minimum to 32 whenever the MP3 record is read.
  s.SetInt(kMp3Section, "VBRMinBitRate", 8);
  s.SetInt(kMp3Section, "VBRMaxBitRate", 192);
  EXPECT_EQ(LoadOptions(kMp3Options, s).Int(kMp3VbrMin), 32);
  s.SetInt(kMp3Section, "VBRMaxBitRate", 160);
  EXPECT_EQ(LoadOptions(kMp3Options, s).Int(kMp3VbrMin), 8);
}

TEST(OptionRecords, ChecksRefuseWithTheDialogsWords) {
  struct Case {
    const OptionRecord* record;
    std::vector<std::pair<std::size_t, std::int64_t>> set;
    std::string refusal;  // empty: accepted
  } cases[] = {
      {&kMp3Options, {{kMp3Cbr, 0}, {kMp3VbrMin, 192}, {kMp3VbrMax, 128}},
       "The minimum bit rate must not be above the maximum bit rate."},
      {&kMp3Options, {{kMp3Cbr, 1}, {kMp3VbrMin, 192}, {kMp3VbrMax, 128}}, ""},  // VBR not in use
      {&kMp3Options, {{kMp3CbrRate, 130}},
       "Bitrate must be one of 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224."},
      {&kOggOptions, {{kOggByQuality, 0}, {kOggVbrMin, 224}, {kOggVbrMax, 32}},
       "The minimum bit rate must not be above the maximum bit rate."},
      {&kFlacOptions, {{kFlacRate, 999}}, "The sample rate must be between 1000 and 655350 Hz."},
      {&kFlacOptions, {{kFlacRate, 655350}}, ""},
      {&kAacOptions, {{kAacAbrRate, 577}}, "The bit rate must be between 8 and 576 kbit/s."},
      {&kAacOptions, {{kAacQuality, 9}}, "The quality must be between 10 and 500 percent."},
      {&kRawOptions, {{kRawRate, 5999}}, "Please enter a sample rate between 6000 and 196000."},
      {&kRawOptions, {{kRawRate, 6000}}, ""},
      {&kRawOptions, {{kRawRate, 196000}}, ""},
      {&kVoxOptions, {{kRawRate, 196001}}, "Please enter a sample rate between 6000 and 196000."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    ParamSet v(*c.record->table);
    for (auto [field, value] : c.set) v.SetInt(field, value);
    EXPECT_EQ(v.Validate(), c.refusal);
  }
}

// The dialog drawer relies on these: a look per field, and modes that are radios.
TEST(OptionRecords, LooksFitTheirTables) {
  for (const OptionRecord* r : kRecords) {
    SCOPED_TRACE(r->dialogName);
    ASSERT_EQ(r->looks.size(), r->table->fields.size());
    for (const OptionLook& look : r->looks) {
      if (look.mode >= 0) {
        ASSERT_LT(std::size_t(look.mode), r->looks.size());
        EXPECT_EQ(r->looks[std::size_t(look.mode)].widget, OptionWidget::ModeRadios);
      }
    }
    for (std::size_t i = 0; i < r->looks.size(); ++i) {
      const ParamKind kind = r->table->fields[i].kind;
      if (r->looks[i].widget == OptionWidget::ModeRadios) {
        EXPECT_EQ(kind, ParamKind::Bool);
      }
      if (r->looks[i].widget == OptionWidget::EditableList) {
        EXPECT_EQ(kind, ParamKind::Int);
      }
    }
  }
}

}  // namespace
}  // namespace quillet::formats
