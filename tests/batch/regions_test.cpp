// Regions: their own audio without copies, surviving their document; the list's
// operations (copy to new, export, assemble, reorder).
#include <gtest/gtest.h>

#include "batch/regions.h"
#include "batch_fixture.h"
#include "formats/document_io.h"
#include "formats/format_table.h"

namespace quillet::batch {
namespace {

using platform::Answer;
using testsupport::AudioOf;
using testsupport::Project;
using testsupport::SameAudio;

class Regions : public Project {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1); }
  // A region of doc's [from, to) called name, added as a person would.
  void Add(core::WaveDocument& doc, core::FramePos from, core::FramePos to, const std::string& name) {
    doc.SetSelection(from, to, from);
    host.active = &doc;
    prompter.QueueText(name);
    ASSERT_TRUE(session.AddRegion());
  }
  audio::AudioBlock Excerpt(const core::WaveDocument& doc, core::FramePos from, core::FramePos to) {
    core::AudioChain part;
    core::ChainCopyRange(doc.chain(), from, to, part);
    return AudioOf(part);
  }
};

TEST_F(Regions, ARegionSharesTheSampleFilesAndOutlivesItsDocument) {
  core::WaveDocument& doc = Doc("take.wav", 2, 3 * 44100);
  const audio::AudioBlock wanted = Excerpt(doc, 44100, 88200);
  const core::FileId file = doc.chain().segments().front().fileId;
  const std::uint32_t refs = store.RefCount(file);
  doc.SetSelection(44100, 88200, 0);
  prompter.QueueText(std::nullopt);
  EXPECT_FALSE(session.AddRegion());
  EXPECT_EQ(prompter.shown()[0].caption, "Enter Region Name");
  EXPECT_EQ(prompter.shown()[0].initial, "take@0:00:01.00-0:00:02.00");
  Add(doc, 44100, 88200, "Solo");
  const core::Region& r = session.regions()[0];
  EXPECT_EQ(r.startMs, 1000u);
  EXPECT_EQ(r.endMs, 2000u);
  EXPECT_EQ(r.path, (dir / "take.wav").string());
  EXPECT_EQ(store.RefCount(file), refs + 1);  // one more reference, no new audio
  EXPECT_EQ(RegionRowOf(r).time, "0:00:01.00-0:00:02.00");
  EXPECT_EQ(RegionRowOf(r).file, "take.wav");

  // An empty selection gives an empty region with equal times.
  Add(doc, 22050, 22050, "Point");
  EXPECT_EQ(session.regions()[1].startMs, session.regions()[1].endMs);
  EXPECT_EQ(core::ChainLength(session.regions()[1].audio), 0);

  // The document changes and closes; the region keeps what was selected.
  core::ChainDeleteRange(doc.mutableChain(), 0, 3 * 44100);
  doc.AudioChanged();
  ASSERT_TRUE(host.CloseAllDocuments(false));
  EXPECT_TRUE(SameAudio(AudioOf(session.regions()[0].audio), wanted));
  EXPECT_EQ(session.regions()[0].document, nullptr);
  EXPECT_FALSE(session.SelectRegion(0));  // its document is not open

  // Saved through the format dispatch, it reads back as the same audio.
  prompter.QueueFiles({{dir / "solo"}, 0});
  ASSERT_EQ(session.SaveRegion(0), platform::kTaskDone);
  EXPECT_EQ(prompter.shown().back().file.title, "Save Region As");
  EXPECT_EQ(settings.GetString("Settings", "SaveRegionDir", ""), dir.path().string());
  formats::LoadFileTask load(dir / "solo.wav", store, formats::DispatchEnv(settings));
  load.Run(progress);
  ASSERT_EQ(load.result, platform::kTaskDone);
  const audio::AudioBlock back = AudioOf(load.chain());
  ASSERT_EQ(back.frames(), wanted.frames());
  for (std::int64_t i = 0; i < back.frames() * 2; ++i)
    ASSERT_NEAR(back.data()[i], wanted.data()[i], 16) << i;  // 16-bit file
}

TEST_F(Regions, SelectActivatesTheDocumentAndSelectsTheRange) {
  core::WaveDocument& a = Doc("a.wav", 1, 44100 * 4);
  Add(a, 1000, 30000, "r");
  Doc("b.wav");
  ASSERT_TRUE(session.SelectRegion(0));
  EXPECT_EQ(host.active, &a);
  // Milliseconds and back: 1000 frames are 22 ms, which is 970 frames.
  EXPECT_EQ(a.selStart(), 970);
  EXPECT_EQ(a.selEnd(), 29988);
}

TEST_F(Regions, CopyToNewTakesTheLowestFreeUntitledNumber) {
  core::WaveDocument& doc = Doc("a.wav");
  Add(doc, 0, 100, "x");
  Add(doc, 100, 300, "y");
  Doc("");  // Untitled 1 is open
  session.CopyRegionsToNew({1, 0});
  ASSERT_EQ(host.docs.size(), 4u);
  EXPECT_EQ(host.docs[2]->Title(), "Untitled 2");  // x, in list order
  EXPECT_EQ(host.docs[2]->length(), 100);
  EXPECT_EQ(host.docs[3]->Title(), "Untitled 3");
  EXPECT_EQ(host.docs[3]->length(), 200);
  EXPECT_TRUE(host.docs[3]->modified());
  EXPECT_EQ(host.docs[3]->viewEnd(), 200);
  EXPECT_EQ(host.active, host.docs[3].get());

  std::vector<std::unique_ptr<core::WaveDocument>> many;
  std::vector<core::WaveDocument*> open;
  for (int n = 1; n <= 19; ++n) {
    many.push_back(std::make_unique<core::WaveDocument>(core::AudioChain(), n));
    open.push_back(many.back().get());
  }
  EXPECT_EQ(FreeUntitledNumber(open), 1);  // all taken
  open.erase(open.begin() + 6);
  EXPECT_EQ(FreeUntitledNumber(open), 7);
}

TEST_F(Regions, ExportWritesExactlyTheSelectedRegionsAndStopsAtABadName) {
  core::WaveDocument& doc = Doc("a.wav");
  Add(doc, 0, 100, "first");
  Add(doc, 100, 300, "second");
  Add(doc, 300, 600, "third");
  const std::filesystem::path out = dir / "out";
  std::filesystem::create_directory(out);
  core::ParamSet values(kExportRegionsTable);
  values.Load(settings);
  values.SetText(kExportFolderField, "");
  values.Store(settings);
  EXPECT_EQ(session.ExportRegions({1, 2}), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().text, "The export folder is invalid. Please select a valid folder.");

  values.SetText(kExportFolderField, out.string());
  values.SetInt(kExportFormatField, 2);  // ".au"
  values.Store(settings);
  ASSERT_EQ(session.ExportRegions({2, 1}), platform::kTaskDone);
  EXPECT_FALSE(std::filesystem::exists(out / "first.au"));
  EXPECT_TRUE(std::filesystem::exists(out / "second.au"));
  EXPECT_TRUE(std::filesystem::exists(out / "third.au"));

  // An existing file: anything but Yes stops before it.
  prompter.QueueAnswer(Answer::No);
  EXPECT_EQ(session.ExportRegions({1}), platform::kTaskCancelled);
  EXPECT_EQ(prompter.shown().back().text,
            "The region \"second\" already exists in the output folder. Do you want to replace it?");

  session.RenameRegion(0, "a/b");
  EXPECT_EQ(session.ExportRegions({0, 2}), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().caption, "Invalid File Name");
  EXPECT_NE(prompter.shown().back().text.find("\"a/b\""), std::string::npos);
  EXPECT_TRUE(prompter.problems().empty());

  // The format list offers only what can be written, ".wav" first.
  const auto writable = formats::WritableOutputFormats();
  EXPECT_EQ(writable.front(), 0);
  for (int i : writable) EXPECT_TRUE(formats::CanWrite(formats::RowFor(formats::OutputFormatList()[i])));
  EXPECT_EQ(ExportExtension(12), ".wav");  // ".m3u" is no audio format
  EXPECT_FALSE(ExportHasFormatSettings(".aiff"));
}

TEST_F(Regions, AssembleJoinsWithTheGapAndConvertsToTheFirstRegionsFormat) {
  core::WaveDocument& a = Doc("a.wav", 2, 44100, 44100, 3);
  core::WaveDocument& b = Doc("b.wav", 1, 22050, 22050, 4);
  Add(a, 0, 44100, "A");
  Add(b, 0, 11025, "B");
  const auto& regions = session.regions();
  // Defaults: a 300 ms gap. Two copies of B may follow A.
  core::WaveDocument* made = session.Assemble({regions[0], regions[1], regions[1]});
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->channels(), 2);
  EXPECT_EQ(made->sampleRate(), 44100u);
  EXPECT_EQ(made->length(), 44100 + 2 * (13230 + 22050));
  EXPECT_EQ(made->Title(), "Untitled 1");
  const audio::AudioBlock got = AudioOf(made->chain());
  EXPECT_TRUE(std::all_of(got.data() + 2 * 44100, got.data() + 2 * (44100 + 13230),
                          [](audio::Sample s) { return s == 0; }));

  settings.SetInt("Settings", "AutoGapTime", 1000);
  core::WaveDocument* spaced = session.Assemble({regions[1], regions[1]});
  ASSERT_NE(spaced, nullptr);
  EXPECT_EQ(spaced->length(), 11025 + 22050 + 11025);

  // One region alone gets no gap; with the gap off, none between either.
  EXPECT_EQ(session.Assemble({regions[0]})->length(), 44100);
  settings.SetBool("Settings", "AutoGap", false);
  EXPECT_EQ(session.Assemble({regions[0], regions[0]})->length(), 88200);

  // Cancelling the insert abandons the whole assembly.
  const std::size_t before = host.docs.size();
  progress.CancelAtPump(progress.pumps() + 1);
  EXPECT_EQ(session.Assemble({regions[0], regions[1]}), nullptr);
  EXPECT_EQ(host.docs.size(), before);
}

TEST(RegionList, DraggingPutsTheRegionBeforeTheRowUnderThePointer) {
  struct Case {
    std::size_t from, before;
    const char* order;
  } cases[] = {{0, 2, "bac"}, {2, 0, "cab"}, {0, 3, "bca"}, {1, 1, "abc"},
               {1, 2, "abc"}, {2, 1, "acb"}, {5, 0, "abc"}, {0, 9, "abc"}};
  for (const Case& c : cases) {
    std::vector<core::Region> list(3);
    list[0].name = "a", list[1].name = "b", list[2].name = "c";
    MoveRegion(list, c.from, c.before);
    std::string order;
    for (const auto& r : list) order += r.name;
    EXPECT_EQ(order, c.order) << c.from << " before " << c.before;
  }
}

}  // namespace
}  // namespace quillet::batch
