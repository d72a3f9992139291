// Parameter tables: stored values clamped with a notice, quillet-cli's words parsed
// and refused, each range end accepted and one past refused with its message, presets.
#include "core/params.h"

#include <gtest/gtest.h>

#include "core/edit_params.h"
#include "fixtures/temp_dir.h"

namespace quillet::core {
namespace {

struct Stored {
  quillet::testing::TempDir dir;
  settings::Settings s{settings::FolderLocations(dir.path())};
};

TEST(ParamSet, LoadClampsStoredValuesAndSaysWhy) {
  struct Case {
    const ParamTable* table;
    const char* key;
    const char* stored;
    std::int64_t loaded;
    const char* notice;  // empty: none
  };
  const Case cases[] = {
      {&kRepeatLoopTable, "RepeatNumTimes", "abc", 1,
       "The stored value \"abc\" of StoredValues/RepeatNumTimes is not a number; 1 is used instead."},
      {&kRepeatLoopTable, "RepeatNumTimes", "-5", 1,
       "The stored value -5 of StoredValues/RepeatNumTimes is out of range; 1 is used instead."},
      {&kRepeatLoopTable, "RepeatNumTimes", "99999", 10000,
       "The stored value 99999 of StoredValues/RepeatNumTimes is out of range; 10000 is used instead."},
      {&kRepeatLoopTable, "RepeatNumTimes", " 7 ", 7, ""},
      {&kRepeatLoopTable, "RepeatNumTimes", "", 1, ""},  // empty: the default, quietly
      {&kInsertSilenceTable, "SilenceTimes", "-5", 0,
       "The stored value -5 of StoredValues/SilenceTimes is out of range; 0 is used instead."},
      // A choice that is none of its entries takes the default, not the nearest entry.
      {&kPasteMixTable, "LongerSelection", "3", 0,
       "The stored value 3 of StoredValues/LongerSelection is not one of the offered values; 0 is "
       "used instead."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.stored);
    Stored st;
    st.s.SetString("StoredValues", c.key, c.stored);
    ParamSet values(*c.table);
    std::vector<std::string> notices;
    values.Load(st.s, &notices);
    std::size_t i = 0;
    while (values.field(i).key != c.key) ++i;
    EXPECT_EQ(values.Int(i), c.loaded);
    EXPECT_EQ(notices, *c.notice ? std::vector<std::string>{c.notice} : std::vector<std::string>{});
    EXPECT_TRUE(values.Validate().empty()) << "whatever is stored, loaded values are valid";
  }
}

TEST(ParamSet, StoreWritesKeyedFieldsAndLoadReadsThemBack) {
  Stored st;
  ParamSet mix(kMixFileTable);
  mix.SetText(0, "/music/a.wav");
  mix.SetInt(1 + kMixVolume, 40);
  mix.SetInt(1 + kMixPan, 10);
  mix.SetInt(1 + kMixLonger, 2);
  mix.Store(st.s);
  EXPECT_EQ(st.s.GetString("StoredValues", "PasteMixVolume", ""), "40");
  EXPECT_EQ(st.s.GetString("StoredValues", "LongerSelection", ""), "2");
  // The pan has no key and a path's key names its folder, written by its file dialog.
  EXPECT_FALSE(st.s.Find("Settings", "MixFileDir"));
  ParamSet back(kMixFileTable);
  back.Load(st.s);
  EXPECT_EQ(back.Int(1 + kMixVolume), 40);
  EXPECT_EQ(back.Int(1 + kMixPan), 50);
  EXPECT_EQ(back.Text(0), "");
}

TEST(ParamSet, ParseTakesWordsInFieldOrderAndRefusesWhatIsNoValue) {
  struct Case {
    const ParamTable* table;
    std::vector<std::string> words;
    const char* refusal;  // empty: accepted
  };
  const Case cases[] = {
      {&kRepeatLoopTable, {"3"}, ""},
      {&kRepeatLoopTable, {"+3"}, ""},
      {&kRepeatLoopTable, {}, ""},  // the loaded value stays
      {&kRepeatLoopTable, {"3", "4"}, "Too many parameters: 2 given, at most 1 (TIMES)."},
      {&kRepeatLoopTable, {"x"}, "Repeat number of times must be a whole number, not \"x\"."},
      {&kRepeatLoopTable, {"3.5"}, "Repeat number of times must be a whole number, not \"3.5\"."},
      {&kRepeatLoopTable, {"99999999999999999999"},
       "Repeat number of times must be a whole number, not \"99999999999999999999\"."},
      {&kPasteMixTable, {"", "", "Fade out mix"}, ""},
      {&kPasteMixTable, {"", "", "sideways"},
       "If mix audio is longer than selection must be a whole number, not \"sideways\" (one of "
       "Insert silence, Increase selection, Fade out mix)."},
      {&kInsertFileTable, {}, "The file must be given (PATH)."},
      {&kSelectTimeTable, {"0:01"}, "Specified Time End must be given (START,END)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    ParamSet values(*c.table);
    EXPECT_EQ(values.Parse(c.words), c.refusal);
  }
  // Words beyond the table belong to its text: a path may hold commas.
  ParamSet mix(kMixFileTable);
  ASSERT_EQ(mix.Parse(std::vector<std::string>{"/a", "b.wav", "60", "", "2", "9"}), "");
  EXPECT_EQ(mix.Text(0), "/a,b.wav");
  EXPECT_EQ(std::tuple(mix.Int(1), mix.Int(2), mix.Int(3), mix.Int(4)), std::tuple(60, 50, 2, 9));
  ParamSet choice(kPasteMixTable);
  ASSERT_EQ(choice.Parse(std::vector<std::string>{"", "", "increase SELECTION"}), "");
  EXPECT_EQ(choice.Int(kMixLonger), 1);
}

// Off-by-one at a range end is the usual fault: each end and one past it.
TEST(ParamSet, ValidateAcceptsRangeEndsAndRefusesOnePastWithTheirMessages) {
  struct Case {
    const ParamTable* table;
    std::size_t field;
    std::int64_t value;
    const char* refusal;  // empty: accepted
  };
  const Case cases[] = {
      {&kRepeatLoopTable, 0, 1, ""},
      {&kRepeatLoopTable, 0, 10000, ""},
      {&kRepeatLoopTable, 0, 0, "The number of times must be between 1 and 10000. Please try again."},
      {&kRepeatLoopTable, 0, 10001, "The number of times must be between 1 and 10000. Please try again."},
      {&kInsertSilenceTable, 0, 0, ""},
      {&kInsertSilenceTable, 0, -1, "The silence time must be 0 ms or more. Please try again."},
      {&kInsertSilenceTable, 0, std::int64_t{INT32_MAX} + 1, "The silence time is too long. Please try again."},
      {&kPasteMixTable, kMixVolume, 100, ""},
      {&kPasteMixTable, kMixVolume, 101, "Mix Volume must be less than 100%. Please try again."},
      {&kPasteMixTable, kMixVolume, -1, "Mix Volume must be 0% or more. Please try again."},
      {&kPasteMixTable, kMixPan, 101, "Stereo Pan must be between 0 and 100. Please try again."},
      {&kPasteMixTable, kMixLonger, 2, ""},
      {&kPasteMixTable, kMixLonger, 3, "If mix audio is longer than selection must be between 0 and 2."},
      {&kPasteMixTable, kMixFade, -1, "Fade out time must be 0 or more. Please try again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table->title) + " " + std::to_string(c.value));
    ParamSet values(*c.table);
    values.SetInt(c.field, c.value);
    EXPECT_EQ(values.Validate(), c.refusal);
  }
  ParamSet path(kInsertFileTable);
  EXPECT_EQ(path.Validate(), "The file must be given.");
}

TEST(ParamSet, PresetsSetTheLeadingNumbersAndAnUnknownOneNothing) {
  static constexpr ParamInfo kFields[] = {
      {.name = "PATH", .kind = ParamKind::OpenPath},
      {.name = "A", .def = 1, .min = 0, .max = 100},
      {.name = "B", .def = 2, .min = 0, .max = 100},
      {.name = "C", .def = 3, .min = 0, .max = 100}};
  static constexpr ParamPreset kPresets[] = {{"Both", {10, 20}, 2}, {"One", {70}}};
  static constexpr ParamTable kTable{"Test", kFields, kPresets};
  ParamSet values(kTable);
  values.ChoosePreset(0);
  EXPECT_EQ(std::tuple(values.Int(1), values.Int(2), values.Int(3)), std::tuple(10, 20, 3));
  values.ChoosePreset(1);
  EXPECT_EQ(std::tuple(values.Int(1), values.Int(2)), std::tuple(70, 20));
  values.ChoosePreset(2);
  EXPECT_EQ(values.Int(1), 70);
  EXPECT_EQ(values.Usage(), "PATH,A,B,C");
}

}  // namespace
}  // namespace quillet::core
