#include "settings/settings.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"

namespace quillet::settings {
namespace {
TEST(Settings, Placeholder) { EXPECT_EQ(ParseLeadingInt("12abc"), 12); }
}  // namespace
}  // namespace quillet::settings
