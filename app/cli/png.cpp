#include "app/cli/png.h"

#include <png.h>

#include <csetjmp>

#include "settings/atomic_file.h"

namespace quillet::app {
namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void Flush(png_structp) {}

// libpng reports errors by longjmp: nothing with a destructor may be made in the frame
// that calls setjmp after it, so the buffers come in from the caller.
bool Encode(std::string& out, int width, int height, const std::uint32_t* pixels, png_byte* row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, &out, &Append, &Flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* src = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<png_byte>(src[x] >> 16);
      row[3 * x + 1] = static_cast<png_byte>(src[x] >> 8);
      row[3 * x + 2] = static_cast<png_byte>(src[x]);
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string WritePng(const std::string& path, int width, int height,
                     const std::vector<std::uint32_t>& pixels) {
  if (width <= 0 || height <= 0 ||
      pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
    return "The picture is empty.";
  std::string bytes;
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  if (!Encode(bytes, width, height, pixels.data(), row.data()))
    return "The picture could not be encoded as PNG.";
  if (!settings::WriteFileAtomically(path, bytes)) return "Cannot write " + path + ".";
  return {};
}

}  // namespace quillet::app
