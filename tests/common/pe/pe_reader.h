// Reads the facts of a PE file that the release checks care about: machine,
// sections, exported names with ordinals, imported DLL names. Plain C++; the
// input is untrusted and every offset is bounds-checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

struct Section {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
  uint32_t characteristics = 0;
};

struct Export {
  std::string name;
  uint32_t ordinal = 0;
};

struct Image {
  uint16_t machine = 0;  // 0x8664 x64, 0x14C x86
  bool pe32plus = false;
  uint16_t characteristics = 0;
  std::vector<Section> sections;
  std::vector<Export> exports;
  std::vector<std::string> imports;     // DLL names as stored
  std::vector<uint32_t> resourceTypes;  // numeric top-level resource types (16 = version)
};

constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnShared = 0x10000000;
constexpr uint32_t kScnRead = 0x40000000;
constexpr uint32_t kScnWrite = 0x80000000;

// Fills `out` and returns an empty string, or returns what is wrong.
std::string Parse(std::string_view data, Image& out);

}  // namespace pe
