#pragma once
// PNG files of pictures drawn headless, through libpng.

#include <cstdint>
#include <string>
#include <vector>

namespace quillet::app {

// Writes width x height 0xFFRRGGBB pixels (top row first) as an RGB PNG, through a
// temporary file beside path renamed over it. Empty, or the reason it failed.
std::string WritePng(const std::string& path, int width, int height,
                     const std::vector<std::uint32_t>& pixels);

}  // namespace quillet::app
