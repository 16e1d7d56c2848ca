#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pe_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pe::Image img;
  pe::Parse(std::string_view(reinterpret_cast<const char*>(data), size), img);
  return 0;
}
