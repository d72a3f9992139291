#include "formats/dispatch.h"

#include "dispatch_fixture.h"
#include "formats/playlist.h"

namespace quillet::formats {
namespace {

TEST_F(Dispatch, ExtensionsChooseTheReaderWithoutRegardToCase) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const auto wave = MakeWave("x.wav", 100);
  const std::string bytes = ReadFileBytes(wave);
  WriteFileBytes(dir / "SONG.WAV", bytes);
  WriteFileBytes(dir / "archive.tar.wav", bytes);
  WriteFileBytes(dir / "noise.raw", std::string(4000, '\x10'));
  WriteFileBytes(dir / "noext", std::string(3000, 'q'));
  struct Case {
    const char* name;
    const char* reader;
  } cases[] = {{"SONG.WAV", "wave"}, {"archive.tar.wav", "wave"}, {"noise.raw", "raw"},
               {"noext", "ffmpeg"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenOutcome o = OpenDispatch(dir / c.name, nullptr, env);
    EXPECT_EQ(o.reader, c.reader);
    // Bytes that are no sound in any format: ffmpeg is tried and says so.
    ASSERT_EQ(o.result, o.reader == "ffmpeg" ? platform::kTaskFailed : platform::kTaskDone) << o.message;
  }
  // Raw audio with the stored record: 16-bit mono by default.
  const OpenOutcome raw = OpenDispatch(dir / "noise.raw", nullptr, env);
  EXPECT_EQ(raw.source->channels(), 1);
  EXPECT_EQ(raw.source->length(), 2000);
}

TEST_F(Dispatch, OneSharedAskFlagShowsOneMessageAndBothFail) {
  bool ask = true;
  WriteFileBytes(dir / "bad.wav", "RIFF....junk");
  const OpenOutcome a = OpenDispatch(dir / "bad.wav", &ask, env);
  const OpenOutcome b = OpenDispatch(dir / "absent.mp3", &ask, env);
  EXPECT_EQ(a.result, platform::kTaskFailed);
  EXPECT_EQ(b.result, platform::kTaskFailed);
  EXPECT_FALSE(ask);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "Cannot open the file \"" + (dir / "bad.wav").string() +
                                          "\" because it is corrupt.");
  EXPECT_EQ(prompter.shown()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(b.message, "Cannot open the file \"" + (dir / "absent.mp3").string() +
                           "\". Check it exists and you have read access.");
}

TEST_F(Dispatch, UnreadableFilesThroughFfmpegGetTheFormatsMessage) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  WriteFileBytes(dir / "odd.xyz", std::string(3000, 'q'));
  WriteFileBytes(dir / "song.wma", std::string(3000, 'q'));
  const OpenOutcome odd = OpenDispatch(dir / "odd.xyz", nullptr, env);
  EXPECT_EQ(odd.result, platform::kTaskFailed);
  EXPECT_EQ(odd.message.rfind("Cannot open the file \"" + (dir / "odd.xyz").string() +
                                  "\". This means that either the file format is not supported",
                              0),
            0u)
      << odd.message;
  EXPECT_EQ(OpenDispatch(dir / "song.wma", nullptr, env).message.find("Digital Rights Management"),
            std::string("Cannot open file \"" + (dir / "song.wma").string() + "\". It is possible that the file "
                        "does not exist, it is corrupt or the file is protected with ")
                .size());
  EXPECT_EQ(TempEntries(), 0u);  // the private decoding folders are gone
}

// A coding our codec manager lacks goes to ffmpeg; without it the message says which
// package brings it.
TEST_F(Dispatch, WaveCodingsWeLackAreDecodedByFfmpegOrNamed) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const auto file = dir / "yamaha.wav";
  ASSERT_EQ(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.5:sample_rate=8000",
                        "-ac", "1", "-c:a", "adpcm_yamaha", file.string()}),
            0);
  const OpenOutcome o = OpenDispatch(file, nullptr, env);
  ASSERT_EQ(o.result, platform::kTaskDone) << o.message;
  EXPECT_EQ(o.reader, "ffmpeg");
  EXPECT_EQ(o.source->sampleRate(), 8000);
  EXPECT_NEAR(static_cast<double>(o.source->length()), 4000, 100);

  const std::string path = std::getenv("PATH");
  setenv("PATH", (dir / "empty").c_str(), 1);
  const OpenOutcome missing = OpenDispatch(file, nullptr, env);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(missing.result, platform::kTaskFailed);
  EXPECT_EQ(missing.status, audio::SoundStatus::CodecMissing);
  EXPECT_NE(missing.message.find("Install the Debian package ffmpeg"), std::string::npos) << missing.message;
  EXPECT_EQ(missing.message.find("Windows"), std::string::npos);
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(Dispatch, CancelledDecoderLeavesNothingBehind) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const auto wave = MakeWave("long.wav", 44100 * 30);
  const auto flac = dir / "long.flac";
  ASSERT_EQ(RunProgram({"ffmpeg", "-v", "error", "-i", wave.string(), flac.string()}), 0);
  owner.CancelAtPump(1);
  LoadFileTask load(flac, store, env);
  load.Run(owner);
  EXPECT_EQ(load.result, platform::kTaskCancelled);
  EXPECT_TRUE(load.chain().empty());
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(Dispatch, MissingProgramIsNamedNotInstalled) {
  const auto wave = MakeWave("a.wav", 1000);
  const core::AudioChain chain = Load(wave);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (dir / "empty").c_str(), 1);
  std::string message;
  const std::int32_t saved = Save(chain, dir / "a.ogg", nullptr, &message);
  WriteFileBytes(dir / "b.ogg", "OggS");
  const OpenOutcome opened = OpenDispatch(dir / "b.ogg", nullptr, env);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(saved, platform::kTaskFailed);
  EXPECT_EQ(message.rfind("Unable to create file \"" + (dir / "a.ogg").string() + "\"for saving.", 0), 0u);
  EXPECT_NE(message.find("Install the Debian package vorbis-tools"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(dir / "a.ogg"));
  EXPECT_NE(opened.message.find("install-on-demand component \"oggdec\""), std::string::npos);
  EXPECT_TRUE(prompter.shown().empty());  // nothing was offered or run
}

TEST_F(Dispatch, FailingEncoderIsAFailedSaveAndKeepsTheOldFile) {
  const core::AudioChain chain = Load(MakeWave("a.wav", 20000));
  const auto broken = dir / "broken-lame";
  WriteFileBytes(broken, "#!/bin/sh\ncat > /dev/null\necho 'lame: disk on fire' >&2\nexit 1\n");
  std::filesystem::permissions(broken, std::filesystem::perms::owner_all);
  settings.SetString("Components/mp3el", "Path", broken.string());
  WriteFileBytes(dir / "keep.mp3", "the good old file");
  bool ask = true;
  std::string message;
  EXPECT_EQ(Save(chain, dir / "keep.mp3", &ask, &message), platform::kTaskFailed);
  EXPECT_EQ(ReadFileBytes(dir / "keep.mp3"), "the good old file");
  // The program's chatter stays out of the message; its exit status is ours to tell.
  EXPECT_EQ(message.find("disk on fire"), std::string::npos) << message;
  EXPECT_NE(message.find("(exit status 1)"), std::string::npos) << message;
  ASSERT_EQ(prompter.shown().size(), 1u);  // shown once, because the flag was set
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().rfind(".keep", 0), 0u) << "left behind: " << e.path();
}

class ScriptedOptions final : public SaveOptionsUi, public FormatChooserUi {
 public:
  bool answer = true;
  std::vector<std::string> asked;   // dialog names, in order
  std::vector<core::ParamSet> seen;  // what each dialog was shown
  // Field values to set before answering: (dialog, field, value).
  std::vector<std::tuple<std::string, std::size_t, std::int64_t>> edits;
  std::vector<std::string> notes;
  bool EditOptions(const OptionRecord& record, core::ParamSet& values, const std::string& note) override {
    asked.emplace_back(record.dialogName);
    notes.push_back(note);
    seen.push_back(values);
    for (const auto& [dialog, field, value] : edits)
      if (dialog == record.dialogName) values.SetInt(field, value);
    return answer;
  }
  FormatChooserUi& WaveChooser() override { return *this; }
  std::optional<WaveFormat> Choose(const FormatChooserModel& m) override {
    asked.emplace_back("wave");
    return answer ? std::optional<WaveFormat>(m.initial()) : std::nullopt;
  }
  void ShowStop(std::string_view, std::string_view) override {}
};

TEST_F(Dispatch, SaveOptionsAskOnceStoreTheAnswerAndCancelWritesNothing) {
  ScriptedOptions ui;
  env.options = &ui;
  const core::AudioChain chain = Load(MakeWave("a.wav", 4000, 48000, 2));
  ui.answer = false;
  bool ask = true;
  EXPECT_EQ(Save(chain, dir / "c.flac", &ask), platform::kTaskCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.flac"));
  // The dialog starts from the document, not from mono at 44100.
  ASSERT_EQ(ui.seen.size(), 1u);
  EXPECT_EQ(ui.seen[0].Int(kFlacChannels), 2);
  EXPECT_EQ(ui.seen[0].Int(kFlacRate), 48000);

  ui.answer = true;
  ui.edits = {{"LRawDlg", kRawCodec, kRawMuLaw}, {"FlacEncodeDlg", kFlacCompression, 8}};
  // The raw dialog starts from the document's rate whatever is stored.
  settings.SetInt(kRawSection, "SampleRate", 8000);
  EXPECT_TRUE(SaveOptions(".raw", 48000, 2, env));
  EXPECT_EQ(ui.seen.back().Int(kRawRate), 48000);
  const core::ParamSet raw = LoadOptions(kRawOptions, settings);
  EXPECT_EQ(raw.Int(kRawCodec), kRawMuLaw);
  EXPECT_EQ(raw.Int(kRawRate), 48000);
  EXPECT_TRUE(SaveOptions(".FLAC", 48000, 2, env));
  EXPECT_EQ(settings.GetInt(kFlacSection, "Compression", 0), 8);
  EXPECT_FALSE(SaveOptions(".xyz", 48000, 2, env));
  EXPECT_TRUE(SaveOptions(".m3u", 48000, 2, env));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"FlacEncodeDlg", "LRawDlg", "FlacEncodeDlg", "LPlaylistEncodeDlg"}));
  EXPECT_EQ(ui.notes, (std::vector<std::string>(4)));
  // A format of fewer channels says in its dialog that the document is mixed down.
  EXPECT_TRUE(SaveOptions(".mp3", 48000, 6, env));
  EXPECT_TRUE(SaveOptions(".flac", 48000, 6, env));
  ASSERT_EQ(ui.notes.size(), 6u);
  EXPECT_EQ(ui.notes[4], MixdownNote(RowFor(".mp3"), 6));
  EXPECT_NE(ui.notes[4], "");
  EXPECT_EQ(ui.notes[5], "");
}

TEST_F(Dispatch, RawWithoutAStoredLayoutKeepsTheDocumentsChannels) {
  const core::AudioChain chain = Load(MakeWave("st.wav", 1000, 22050, 2));
  ASSERT_EQ(Save(chain, dir / "st.raw"), platform::kTaskDone);
  const std::vector<std::int16_t> want = Interleaved(1000, 2, 22050);
  EXPECT_EQ(ReadFileBytes(dir / "st.raw"),
            std::string(reinterpret_cast<const char*>(want.data()), want.size() * 2));
  // A stored choice is honoured: mono at the document's rate needs a converter we
  // may not have, but never writes stereo.
  settings.SetInt(kRawSection, "SampleRate", 22050);
  settings.SetInt(kRawSection, "Channels", 1);
  const std::int32_t mono = Save(chain, dir / "mono.raw");
  if (mono == platform::kTaskDone) {
    EXPECT_EQ(ReadFileBytes(dir / "mono.raw").size(), 2000u);
  }
}

// Like QUILLET_REQUIRE_PROGRAMS, for programs found the way saving finds them.
bool RequireComponent(Component c, const settings::Settings& store) {
  if (!ComponentPath(c, store).empty()) return true;
  ADD_FAILURE() << InfoOf(c).program << " is missing: it comes with the Debian package "
                << InfoOf(c).package << " (scripts/deps installs what builds or brings it)";
  return false;
}

// Each caller's store decides how a raw file is read; neither sees the other's.
TEST_F(Dispatch, TwoStoresInOneProcessDoNotMix) {
  WriteFileBytes(dir / "x.raw", std::string(8000, '\x10'));
  settings::Settings other(settings::FolderLocations(dir / "other"));
  other.SetInt(kRawSection, "SampleRate", 8000);
  other.SetInt(kRawSection, "Channels", 2);
  other.SetInt(kRawSection, "Codec", kRawPcm8Unsigned);
  DispatchEnv otherEnv(other);
  const OpenOutcome mine = OpenDispatch(dir / "x.raw", nullptr, env);
  const OpenOutcome theirs = OpenDispatch(dir / "x.raw", nullptr, otherEnv);
  ASSERT_EQ(mine.result, platform::kTaskDone) << mine.message;
  ASSERT_EQ(theirs.result, platform::kTaskDone) << theirs.message;
  EXPECT_EQ(mine.source->sampleRate(), 44100);  // the defaults: 16-bit mono
  EXPECT_EQ(mine.source->length(), 4000);
  EXPECT_EQ(theirs.source->sampleRate(), 8000);
  EXPECT_EQ(theirs.source->channels(), 2);
  EXPECT_EQ(theirs.source->length(), 4000);
  EXPECT_FALSE(settings.Find(kRawSection, "SampleRate").has_value());
}

TEST_F(Dispatch, AmrIsReadWithoutTouchingTheStoredRawRecord) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  if (!RequireComponent(Component::AmrEnc, settings)) return;
  const core::AudioChain chain = Load(MakeWave("n.wav", 8000, 8000, 1));
  ASSERT_EQ(Save(chain, dir / "n.amr"), platform::kTaskDone);
  EXPECT_EQ(ReadFileBytes(dir / "n.amr").substr(0, 6), "#!AMR\n");
  const OpenOutcome o = OpenDispatch(dir / "n.amr", nullptr, env);
  ASSERT_EQ(o.result, platform::kTaskDone) << o.message;
  EXPECT_EQ(o.source->sampleRate(), 8000);
  EXPECT_EQ(o.source->channels(), 1);
  EXPECT_NEAR(static_cast<double>(o.source->length()), 8000, 160);
  EXPECT_FALSE(settings.Find(kRawSection, "Codec").has_value());
  EXPECT_EQ(TempEntries(), 0u);
}

TEST(SaveAsDialog, ReplacingAskedAndNoChoosesAgain) {
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir / "s"));
  WriteFileBytes(dir / "taken.wav", "x");
  platform::ScriptedPrompter p;
  p.QueueFiles({{dir / "taken.wav"}, 0});
  p.QueueAnswer(platform::Answer::No);
  p.QueueFiles({{dir / "fresh"}, 3});
  const auto chosen = ChooseSaveAsTarget(p, s, dir / "doc.wav");
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, dir / "fresh.aif");  // the chosen type's first extension
  EXPECT_EQ(p.shown()[0].file.title, "Save Audio File As");
  EXPECT_EQ(p.shown()[0].file.filters[3], (platform::FileFilter{"Apple AIFF(*.aif, *.aiff)", "*.aif;*.aiff"}));
  EXPECT_EQ(p.shown()[1].text, "Another file with the same name already exists. Do you want to replace it?");
  EXPECT_EQ(s.GetInt("Settings", "SaveAsFormat", 0), 4);
  EXPECT_EQ(s.GetString("Settings", "SaveAsDir", ""), dir.path().string());
  EXPECT_TRUE(p.problems().empty());
}

// How closely a format gives back what was saved (read by us and by ffmpeg); the others
// are checked for rate, channels and length only.
struct Quality {
  std::string_view ext;
  double minSnrDb;  // 0: bit-exact
  int maxLag;       // frames of encoder delay to search
};
constexpr Quality kQualities[] = {{".wav", 0, 0},     {".aiff", 0, 0},    {".au", 0, 0},
                                  {".flac", 0, 0},    {".mp3", 15, 2500}, {".ogg", 15, 2500},
                                  {".m4a", 12, 2500}, {".aac", 12, 2500}, {".amr", 3, 400}};

// Every format Save As offers is written, read back with its rate, channels and length,
// and read by ffmpeg as we read it: a row nobody can write is never offered.
TEST_F(Dispatch, EveryOfferedFormatIsWrittenAndReadBackHereAndByFfmpeg) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const audio::FrameCount frames = 2 * 44100;
  const core::AudioChain chain = Load(MakeWave("tone.wav", frames, 44100, 2));
  // A headerless file is read back with the layout its dialog stored.
  settings.SetInt(kRawSection, "Channels", 2);
  std::size_t offered = 0;
  for (const FormatRow& row : FormatRows()) {
    if (row.saveOrder == 0) continue;
    const std::string ext(row.extension);
    SCOPED_TRACE(ext);
    ++offered;
    ASSERT_TRUE(CanWrite(row));
    if (row.encoder && !RequireComponent(*row.encoder, settings)) continue;
    const auto file = dir / ("out" + ext);
    std::string message;
    ASSERT_EQ(Save(chain, file, nullptr, &message), platform::kTaskDone) << message;
    const OpenOutcome back =
        OpenDispatch(WritesBesideTarget(row) ? PlaylistMp3Path(file) : file, nullptr, env);
    ASSERT_EQ(back.result, platform::kTaskDone) << back.message;
    // Telephone formats are 8000 Hz mono by nature (VOX by its stored defaults) and
    // take the left channel.
    const bool narrow = ext == ".gsm" || ext == ".amr" || ext == ".vox";
    const int rate = narrow ? 8000 : 44100, channels = narrow ? 1 : 2;
    EXPECT_EQ(back.source->sampleRate(), rate);
    EXPECT_EQ(back.source->channels(), channels);
    // Lossy encoders pad to their frame and add their delay; GSM pads to 20 ms.
    const double slack = ext == ".gsm" ? 0.02 : row.encoder && ext != ".flac" ? 0.06 : 0.001;
    EXPECT_NEAR(static_cast<double>(back.source->length()) / rate, 2.0, slack);

    const auto* quality = std::find_if(std::begin(kQualities), std::end(kQualities),
                                       [&](const Quality& q) { return q.ext == ext; });
    if (quality == std::end(kQualities)) continue;
    const std::vector<std::int16_t> want = Interleaved(narrow ? 16000 : frames, channels, rate);
    std::vector<audio::Sample> s(static_cast<std::size_t>(back.source->length() * channels));
    back.source->read(s.data(), back.source->length());
    std::vector<std::int16_t> ours(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) ours[i] = static_cast<std::int16_t>(s[i] >> 4);
    const std::vector<std::int16_t> theirs = ReferenceDecode(file, dir);
    for (const std::vector<std::int16_t>* got : {&theirs, &std::as_const(ours)}) {
      if (quality->minSnrDb == 0) {
        EXPECT_EQ(*got, want);
      } else {
        EXPECT_GT(AlignedSnr(want, *got, channels, quality->maxLag), quality->minSnrDb);
      }
    }
  }
  EXPECT_GE(offered, 12u);
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(Dispatch, APlaylistAsksBeforeReplacingTheMp3BesideIt) {
  QUILLET_REQUIRE_PROGRAMS("lame");
  const core::AudioChain chain = Load(MakeWave("t.wav", 4410));
  quillet::testing::WriteFileBytes(dir / "show.mp3", "keep");
  bool ask = true;
  prompter.QueueAnswer(platform::Answer::No);
  EXPECT_EQ(Save(chain, dir / "show.m3u", &ask), platform::kTaskCancelled);
  ASSERT_FALSE(prompter.shown().empty());
  EXPECT_EQ(prompter.shown().back().text, "The file \"" + (dir / "show.mp3").string() + "\" already exists - overwrite?");
  EXPECT_EQ(ReadFileBytes(dir / "show.mp3"), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir / "show.m3u"));

  ask = true;
  prompter.QueueAnswer(platform::Answer::Yes);
  ASSERT_EQ(Save(chain, dir / "show.m3u", &ask), platform::kTaskDone);
  EXPECT_NE(ReadFileBytes(dir / "show.mp3"), "keep");
  EXPECT_EQ(ReadFileBytes(dir / "show.m3u"), "#EXTM3U\r\n#EXTINF:0,show\r\nshow.mp3\r\n");
}

}  // namespace
}  // namespace quillet::formats
