// The save options read from a compressed file's headers, on arbitrary bytes: every
// record's reading must end, stay in bounds and leave values its dialog accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/source_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  platform::ViewByteSource bytes(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const formats::OptionRecord* r : {&formats::kMp3Options, &formats::kOggOptions, &formats::kAacOptions,
                                         &formats::kAmrOptions}) {
    core::ParamSet values(*r->table);
    std::string note;
    if (!formats::ReadSourceOptions(*r, bytes, values, &note)) std::abort();
    if (!values.Validate().empty()) std::abort();
  }
  return 0;
}
