#include "platform/sound_device_fake.h"

#include <gtest/gtest.h>

namespace quillet::platform {
namespace {

TEST(FakeSoundDevice, PlaysAtTheClockRateAndUnderrunsWhenStarved) {
  FakeSoundSystem sys;
  StreamRequest rq;
  rq.rate = 8000;
  rq.channels = 1;
  std::string message;
  auto s = sys.Open(rq, &message);
  ASSERT_TRUE(s);
  std::vector<std::int16_t> data(500, 1);
  EXPECT_EQ(s->Write(data.data(), 500), 500);
  sys.AdvanceMs(100);
  EXPECT_EQ(s->Delay(), 500) << "below the start threshold nothing plays";
  s->Flush();
  for (int i = 1; i <= 5; ++i) {
    sys.AdvanceMs(10);
    EXPECT_EQ(s->Delay(), 500 - 80 * i);
  }
  sys.AdvanceMs(1000);
  EXPECT_EQ(s->Delay(), 0);
  EXPECT_EQ(sys.playedFrames(), 500);
  EXPECT_EQ(s->WaitReady(0), 3200);
}

}  // namespace
}  // namespace quillet::platform
