// Any text through the script expansion and reader: no crash, no overrun,
// no endless recursion; what is read flattens.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rgs_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto expanded = rgs::Expand(text, {{"MODULE", "C:\\a'b"}, {"APPID", "{x}"}});
  for (const std::string* s : {&text, expanded ? &*expanded : nullptr}) {
    if (!s) continue;
    if (const auto roots = rgs::Parse(*s)) (void)rgs::Flatten(*roots);
  }
  return 0;
}
