// quillet-cli's plug-in words on the LADSPA examples Debian ships: the same samples as
// ladspa-sdk's applyplugin, and the listing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "apply_fixture.h"
#include "fixtures/programs.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"

namespace quillet::app {
namespace {

using namespace quillet::testing;

class PluginsCli : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    setenv("LADSPA_PATH", "/usr/lib/ladspa", 1);
    setenv("QUILLET_PLUGIN_HOST", QUILLET_PLUGIN_HOST_PATH, 1);
  }
  std::vector<std::int16_t> Samples(const std::filesystem::path& wav) {
    // The data chunk of a plain 16-bit file, as sox and applyplugin write it.
    std::vector<std::int16_t> s;
    std::FILE* f = std::fopen(wav.c_str(), "rb");
    if (!f) return s;
    std::vector<char> bytes(std::filesystem::file_size(wav));
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t data = text.find("data");
    if (data == std::string::npos) return s;
    s.resize((bytes.size() - data - 8) / 2);
    std::memcpy(s.data(), bytes.data() + data + 8, s.size() * 2);
    return s;
  }
};

TEST_F(PluginsCli, AmpMonoMatchesApplyplugin) {
  QUILLET_REQUIRE_PROGRAMS("sox", "applyplugin");
  const auto in = dir.path() / "in.wav", ref = dir.path() / "ref.wav", out = dir.path() / "out.wav";
  ASSERT_EQ(RunProgram({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", in.string(), "synth", "2",
                        "sine", "300", "sine", "3000", "vol", "0.9"}),
            0);
  ASSERT_EQ(RunProgram({"applyplugin", in.string(), ref.string(), "/usr/lib/ladspa/amp.so", "amp_mono", "0.5"}), 0);
  const ApplyRun r = RunApply(dir.path() / "settings", in.string(), out.string(), {"ladspa:amp_mono,Gain=0.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto a = Samples(ref), b = Samples(out);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GT(a.size(), 80000u);
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  EXPECT_LE(worst, 1);
}

TEST_F(PluginsCli, Lv2PluginRunsFromItsUri) {
  QUILLET_REQUIRE_PROGRAMS("sox");
  const auto in = dir.path() / "in.wav", out = dir.path() / "out.wav";
  ASSERT_EQ(RunProgram({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", in.string(), "synth", "1", "sine", "440",
                        "vol", "0.5"}),
            0);
  // swh-lv2's amplifier at -6.02 dB: half the level on both channels.
  const ApplyRun r = RunApply(dir.path() / "settings", in.string(), out.string(),
                              {"lv2:http://plugin.org.uk/swh-plugins/amp,gain=-6.0206"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto a = Samples(in), b = Samples(out);
  ASSERT_EQ(a.size(), b.size());
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] / 2 - b[i]));
  EXPECT_LE(worst, 1);
  const ApplyRun bad = RunApply(dir.path() / "settings", in.string(), (dir.path() / "x.wav").string(),
                                {"lv2:urn:none"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("Applying LV2 effect FAILED."), std::string::npos) << bad.err;
}

TEST_F(PluginsCli, ListsPluginsAndRefusesUnknownOnes) {
  const CliOutput list = RunWithTable({"plugins"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("ladspa\t1048\tamp_mono\tMono Amplifier"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Gain 0.."), std::string::npos);
  EXPECT_NE(list.out.find("lv2\thttp://plugin.org.uk/swh-plugins/amp\tSimple amplifier"), std::string::npos);
  const auto in = dir.path() / "in.wav";
  ASSERT_EQ(RunProgram({"sox", "-n", "-r", "8000", "-c", "2", "-b", "16", in.string(), "synth", "0.1", "sine", "300"}), 0);
  // amp_mono runs once per channel; a missing plug-in fails with the family's message.
  EXPECT_EQ(RunApply(dir.path() / "s", in.string(), (dir.path() / "o.wav").string(), {"ladspa:1048"}).status, 0);
  const ApplyRun bad = RunApply(dir.path() / "s", in.string(), (dir.path() / "p.wav").string(), {"ladspa:nope"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("Applying LADSPA effect FAILED."), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "p.wav"));
}

}  // namespace
}  // namespace quillet::app
