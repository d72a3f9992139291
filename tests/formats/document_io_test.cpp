#include "formats/document_io.h"
#include "formats/mp3_source.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>

#include "audio/memory.h"
#include "dispatch_fixture.h"
#include "formats/codec.h"
#include "formats/tags.h"

namespace quillet::formats {
namespace {

using DocumentIo = Dispatch;

// Our own WAVE files come back byte for byte, keeping their depth when no format is
// stored, read and written in blocks with progress.
TEST_F(DocumentIo, LoadThenSaveGivesTheSameFileBack) {
  for (int bits : {16, 24}) {
    SCOPED_TRACE(bits);
    const auto in = MakeWave("in" + std::to_string(bits) + ".wav", 3 * 8192 + 5, 22050, 2, bits);
    const auto pumps = owner.pumps();
    LoadFileTask load(in, store, env);
    ASSERT_TRUE(load.Run(owner));
    ASSERT_EQ(load.result, platform::kTaskDone) << load.message();
    EXPECT_EQ(core::ChainLength(load.chain()), 3 * 8192 + 5);
    EXPECT_EQ(load.chain().sampleRate, 22050u);
    EXPECT_EQ(load.chain().channels, 2);
    EXPECT_EQ(load.sourceBits(), bits);
    EXPECT_GE(owner.pumps() - pumps, 4);  // one per block at least
    EXPECT_EQ(owner.lastProgress(), 100);

    const auto out = dir / ("out" + std::to_string(bits) + ".wav");
    SaveChainTask save(load.chain(), out, env, load.sourceBits());
    ASSERT_TRUE(save.Run(owner));
    ASSERT_EQ(save.result, platform::kTaskDone) << save.message();
    EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(in));
  }
}

TEST_F(DocumentIo, CancelledLoadLeavesNoChainAndNoFiles) {
  const auto in = MakeWave("in.wav", 5 * 8192);
  LoadFileTask load(in, store, env);
  owner.CancelAtPump(2);
  load.Run(owner);
  EXPECT_EQ(load.result, platform::kTaskCancelled);
  EXPECT_TRUE(load.chain().empty());
  EXPECT_TRUE(load.message().empty());
  int sampleFiles = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".aud") ++sampleFiles;
  EXPECT_EQ(sampleFiles, 0);
}

TEST_F(DocumentIo, CancelledOrFailedSaveKeepsTheOldFile) {
  const core::AudioChain chain = Load(MakeWave("in.wav", 5 * 8192));

  WriteFileBytes(dir / "target.wav", "the user's old file");
  platform::ScriptedProgressFactory cancelling;
  cancelling.CancelAtPump(2);
  SaveChainTask save(chain, dir / "target.wav", env);
  save.Run(cancelling);
  EXPECT_EQ(save.result, platform::kTaskCancelled);
  EXPECT_EQ(ReadFileBytes(dir / "target.wav"), "the user's old file");

  SaveChainTask nowhere(chain, dir / "missing" / "x.wav", env);
  nowhere.Run(owner);
  EXPECT_EQ(nowhere.result, platform::kTaskFailed);
  EXPECT_NE(nowhere.message().find("Unable to create file"), std::string::npos)
      << nowhere.message();
}

// Opening a document and opening a file for a command (insert, mix, play) say the same.
TEST_F(DocumentIo, UnreadableFilesFailWithTheirMessages) {
  WriteFileBytes(dir / "junk.wav", "not a wave file at all");
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  struct Case {
    std::filesystem::path file;
    const char* message;
  } cases[] = {{dir / "junk.wav", "because it is corrupt"},
               {dir / "absent.wav", "Check it exists"},
               {dir / "junk.mp3", "not a true layer-3 MPEG file"},
               {dir / "pipe.wav", "not a regular file"}};
  WriteFileBytes(dir / "junk.mp3", std::string(5000, 'x'));
  FormatsFileIo io(settings);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    LoadFileTask load(c.file, store, env);
    load.Run(owner);
    EXPECT_EQ(load.result, platform::kTaskFailed);
    EXPECT_NE(load.message().find(c.message), std::string::npos) << load.message();
    EXPECT_NE(load.message().find(c.file.filename().string()), std::string::npos);
    std::string message;
    EXPECT_FALSE(io.Open(c.file, &message)->ready());
    EXPECT_EQ(message, load.message());
  }
}

// A cache cleaner removed a sample file of the open document: the save fails with the
// system's reason and the file it would have replaced stays byte for byte, whichever
// writer (our own, or an encoder program fed through a pipe) was at work.
TEST_F(DocumentIo, SaveOfAudioThatCannotBeReadFailsAndKeepsTheTarget) {
  QUILLET_REQUIRE_PROGRAMS("flac");
  const auto in = MakeWave("in.wav", 3 * 8192);
  for (const char* name : {"old.wav", "old.aiff", "old.au", "old.flac"}) {
    SCOPED_TRACE(name);
    const core::AudioChain chain = Load(in);
    const auto sample = store.SampleFilePath(chain.segments()[0].fileId);
    std::filesystem::remove(sample);
    WriteFileBytes(dir / name, "the user's old file");
    const auto before = std::distance(std::filesystem::directory_iterator(dir.path()), {});

    SaveChainTask save(chain, dir / name, env);
    save.Run(owner);
    EXPECT_EQ(save.result, platform::kTaskFailed);
    EXPECT_NE(save.message().find(sample.string() + ": No such file or directory"),
              std::string::npos)
        << save.message();
    EXPECT_EQ(ReadFileBytes(dir / name), "the user's old file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), before)
        << "a temporary file stayed";
  }
}

// A file that shrinks while it is read (or whose reads fail) fails the source with the
// system's reason instead of reading on as silence; each reader of our own.
TEST_F(DocumentIo, ReadersFailWhenTheFileEndsBeforeItsAudio) {
  QUILLET_REQUIRE_PROGRAMS("lame");
  const std::vector<std::string> names = {"r.wav", "ima.wav", "r.aiff", "r.au",
                                          "r.gsm", "r.vox",   "r.raw",  "r.mp3"};
  std::vector<audio::Sample> tone(5 * 8192);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<audio::Sample>(((i * 37) % 2000 - 1000) * 64);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto file = dir / name;
    audio::SinkHandle sink;
    if (name == "ima.wav") {
      for (const WaveFormat& f : EncodableFormats(8000, 1)) {
        if (f.tag == wave_tag::kImaAdpcm) sink = MakeWaveFormatSink(file, f);
      }
    } else if (name == "r.mp3") {
      sink = MakeWavePcmSink(dir / "mp3-input.wav", 8000, 0, 16, 1);
    } else {
      sink = MakeSaveSink(file, 8000, 1, settings);
    }
    ASSERT_TRUE(sink && !sink->failed());
    sink->write(tone.data(), static_cast<audio::FrameCount>(tone.size()));
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
    sink = {};
    if (name == "r.mp3") {
      ASSERT_EQ(quillet::testing::RunProgram(
                    {"lame", "--quiet", (dir / "mp3-input.wav").string(), file.string()}),
                0);
    }

    audio::SourceHandle source = OpenAudioFile(file, settings);
    ASSERT_TRUE(source->ready());
    std::filesystem::resize_file(file, std::filesystem::file_size(file) / 3);
    audio::LMemorySoundSink into(static_cast<std::uint32_t>(source->sampleRate()),
                                 source->channels());
    const audio::TransferOutcome moved = audio::Transfer(*source, into);
    EXPECT_EQ(moved.result, platform::kTaskFailed);
    EXPECT_EQ(moved.message,
              "Cannot read the file " + file.string() + ": File shorter than when it was opened");
    EXPECT_EQ(source->status(), audio::SoundStatus::Failed);
  }
}

LAudioTagList SomeTags() {
  LAudioTagList t;
  t.Set(kTagTitle, "Dawn Chorus");
  t.Set(kTagArtist, "Somebody");
  t.Set(kTagGenre, "Jazz");
  t.Set(kTagTrack, "7");
  return t;
}

// The save itself carries the tags of every format that has them: they are in the
// file when it appears.
TEST_F(DocumentIo, TagsAreInTheFileTheSaveWrites) {
  const core::AudioChain chain = Load(MakeWave("in.wav", 3000));
  int tagged = 0;
  for (const FormatRow& row : FormatRows()) {
    if (row.tags == TagSupport::None || !CanWrite(row)) continue;
    SCOPED_TRACE(std::string(row.extension));
    if (row.encoder && ComponentPath(*row.encoder, settings).empty()) continue;
    const auto out = dir / ("tagged" + std::string(row.extension));
    SaveChainTask save(chain, out, env, 0, nullptr, SomeTags());
    save.Run(owner);
    ASSERT_EQ(save.result, platform::kTaskDone) << save.message();
    LAudioTagList back;
    ASSERT_TRUE(ReadTags(back, out));
    EXPECT_EQ(back.Get(kTagTitle), "Dawn Chorus");
    EXPECT_EQ(back.Get(kTagArtist), "Somebody");
    EXPECT_EQ(back.Get(kTagGenre), "Jazz");
    EXPECT_EQ(back.Get(kTagTrack), "7");
    ++tagged;
  }
  EXPECT_GE(tagged, 1);  // WAVE always
}

// A file size limit lets the audio through but not the tags after it: the tag step
// fails, so the save fails and the old file stays byte for byte.
TEST_F(DocumentIo, AFailedTagWriteFailsTheSaveAndKeepsTheOldFile) {
  const core::AudioChain chain = Load(MakeWave("in.wav", 3000));
  // An encoder that writes exactly 1000 bytes, whatever it is fed.
  const auto lame = dir / "fixed-lame";
  WriteFileBytes(lame, "#!/bin/sh\nfor last; do :; done\ncat > /dev/null\nhead -c 1000 /dev/zero > \"$last\"\n");
  std::filesystem::permissions(lame, std::filesystem::perms::owner_all);
  settings.SetString("Components/mp3el", "Path", lame.string());
  SaveChainTask probe(chain, dir / "probe.wav", env);
  probe.Run(owner);
  ASSERT_EQ(probe.result, platform::kTaskDone);
  const struct {
    const char* name;
    std::uint64_t audioBytes;  // what the save writes before its tags
  } cases[] = {{"old.wav", std::filesystem::file_size(dir / "probe.wav")}, {"old.mp3", 1000}};
  const std::string old = "the user's old file, which must survive";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir / c.name, old);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of a signal
    struct rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(c.audioBytes);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    SaveChainTask plain(chain, dir / ("plain-" + std::string(c.name)), env);
    plain.Run(owner);
    SaveChainTask save(chain, dir / c.name, env, 0, nullptr, SomeTags());
    save.Run(owner);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(plain.result, platform::kTaskDone) << "the limit must let the audio through";
    EXPECT_EQ(save.result, platform::kTaskFailed);
    EXPECT_NE(save.message().find("Unable to create file"), std::string::npos) << save.message();
    EXPECT_NE(save.message().find("tags could not be written"), std::string::npos) << save.message();
    EXPECT_EQ(ReadFileBytes(dir / c.name), old);
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().front(), '.') << "left behind: " << e.path();
}

// MPEG layer III frames in a WAVE file (as ffmpeg writes them) decode exactly like
// the same frames in an .mp3 file, which its LAME tag trims to the original length.
TEST(WaveMpeg, LayerThreeInWaveDecodesLikeTheMp3File) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  TempDir dir;
  ASSERT_EQ(RunProgram({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                        "sine=frequency=523:duration=1.5:sample_rate=32000", "-ac", "2", "-c:a",
                        "libmp3lame", "-b:a", "96k", (dir / "a.mp3").string()}),
            0);
  ASSERT_EQ(RunProgram({"ffmpeg", "-loglevel", "error", "-i", (dir / "a.mp3").string(), "-c:a",
                        "copy", "-f", "wav", (dir / "a.wav").string()}),
            0);
  settings::Settings store(settings::FolderLocations(dir / "settings"));
  audio::SourceHandle inWave = OpenAudioFile(dir / "a.wav", store);
  audio::SourceHandle inMp3 = OpenAudioFile(dir / "a.mp3", store);
  ASSERT_TRUE(inWave->ready());
  ASSERT_TRUE(inMp3->ready());
  EXPECT_EQ(inWave->sampleRate(), 32000);
  EXPECT_EQ(inWave->channels(), 2);
  ASSERT_EQ(inMp3->length(), 48000);
  const auto lead = dynamic_cast<LMP3SoundSource&>(*inMp3).layout().lead;
  ASSERT_GE(inWave->length(), inMp3->length() + lead);
  std::vector<audio::Sample> a(static_cast<std::size_t>(inMp3->length()) * 2);
  std::vector<audio::Sample> b(a.size());
  inWave->seek(lead);
  inWave->read(a.data(), inMp3->length());
  inMp3->read(b.data(), inMp3->length());
  EXPECT_EQ(a, b);
  double energy = 0;
  for (audio::Sample s : a) energy += static_cast<double>(s) * s;
  EXPECT_GT(energy / static_cast<double>(a.size()), 1e8);  // a tone, not silence
}

}  // namespace
}  // namespace quillet::formats
