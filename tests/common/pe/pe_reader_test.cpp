#include "pe_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Builds a small PE32+ image: headers, then one section at RVA 0x1000 / file
// offset 0x200 holding an export directory and an import directory.
struct Builder {
  std::string bytes = std::string(0x600, '\0');
  void put16(size_t off, uint16_t v) { std::memcpy(&bytes[off], &v, 2); }
  void put32(size_t off, uint32_t v) { std::memcpy(&bytes[off], &v, 4); }
  void puts(size_t off, const char* s) { std::memcpy(&bytes[off], s, std::strlen(s) + 1); }

  static constexpr size_t kPe = 0x80, kCoff = kPe + 4, kOpt = kCoff + 20, kOptSize = 240;
  static constexpr size_t kSec = kOpt + kOptSize, kRaw = 0x200;
  static constexpr uint32_t kRva = 0x1000;
  size_t at(uint32_t rva) const { return kRaw + (rva - kRva); }

  Builder() {
    put16(0, 0x5A4D);
    put32(0x3C, kPe);
    put32(kPe, 0x4550);
    put16(kCoff, 0x8664);
    put16(kCoff + 2, 1);
    put16(kCoff + 16, kOptSize);
    put16(kOpt, 0x20B);
    put32(kOpt + 108, 16);
    std::memcpy(&bytes[kSec], ".edata\0\0", 8);
    put32(kSec + 8, 0x400);
    put32(kSec + 12, kRva);
    put32(kSec + 16, 0x400);
    put32(kSec + 20, kRaw);
    put32(kSec + 36, 0xD0000040);
    // Export directory at 0x1000: base 5, three functions, two names.
    put32(kOpt + 112, kRva);
    put32(kOpt + 116, 40);
    put32(at(kRva) + 16, 5);
    put32(at(kRva) + 20, 3);
    put32(at(kRva) + 24, 2);
    put32(at(kRva) + 32, 0x1040);
    put32(at(kRva) + 36, 0x1050);
    put32(at(0x1040), 0x1060);
    put32(at(0x1044), 0x1070);
    put16(at(0x1050), 0);
    put16(at(0x1052), 2);
    puts(at(0x1060), "First");
    puts(at(0x1070), "Second");
    // Import directory at 0x1100: two DLLs, then the zero terminator.
    put32(kOpt + 120, 0x1100);
    put32(kOpt + 124, 60);
    put32(at(0x1100) + 12, 0x1200);
    put32(at(0x1100) + 16, 0x1300);
    put32(at(0x1114) + 12, 0x1210);
    put32(at(0x1114) + 16, 0x1310);
    puts(at(0x1200), "KERNEL32.dll");
    puts(at(0x1210), "libstdc++-6.dll");
    // Resource directory at 0x1180: one named entry, then types 16 and 24.
    put32(kOpt + 128, 0x1180);
    put32(kOpt + 132, 48);
    put16(at(0x1180) + 12, 1);
    put16(at(0x1180) + 14, 2);
    put32(at(0x1180) + 24, 16);
    put32(at(0x1180) + 32, 24);
  }
};

TEST(PeReader, ReadsMachineSectionsExportsAndImports) {
  Builder b;
  pe::Image img;
  ASSERT_EQ(pe::Parse(b.bytes, img), "");
  EXPECT_EQ(img.machine, pe::kMachineX64);
  EXPECT_TRUE(img.pe32plus);
  ASSERT_EQ(img.sections.size(), 1u);
  EXPECT_EQ(img.sections[0].name, ".edata");
  EXPECT_EQ(img.sections[0].characteristics, 0xD0000040u);
  ASSERT_EQ(img.exports.size(), 2u);
  EXPECT_EQ(img.exports[0].name, "First");
  EXPECT_EQ(img.exports[0].ordinal, 5u);
  EXPECT_EQ(img.exports[1].name, "Second");
  EXPECT_EQ(img.exports[1].ordinal, 7u);
  ASSERT_EQ(img.imports.size(), 2u);
  EXPECT_EQ(img.imports[0], "KERNEL32.dll");
  EXPECT_EQ(img.imports[1], "libstdc++-6.dll");
  EXPECT_EQ(img.resourceTypes, (std::vector<uint32_t>{16, 24}));
}

// A long section name is a "/N" reference into the string table after the
// symbol table; one that points nowhere stays as stored.
TEST(PeReader, LongSectionNamesComeFromTheStringTable) {
  const struct {
    const char* stored;
    uint32_t symbols;
    const char* want;
  } cases[] = {{"/4\0\0\0\0\0\0", 0x500, ".debug_info"},  // 2 symbols of 18 bytes, then the table
               {"/4\0\0\0\0\0\0", 0, "/4"},               // no symbol table
               {"/9999\0\0\0", 0x500, "/9999"},           // beyond the file
               {"/4x\0\0\0\0\0", 0x500, "/4x"}};          // not a number
  for (const auto& c : cases) {
    Builder b;
    std::memcpy(&b.bytes[Builder::kSec], c.stored, 8);
    b.put32(Builder::kCoff + 8, c.symbols);
    b.put32(Builder::kCoff + 12, 2);
    b.puts(0x500 + 36 + 4, ".debug_info");
    pe::Image img;
    ASSERT_EQ(pe::Parse(b.bytes, img), "") << c.stored;
    ASSERT_EQ(img.sections.size(), 1u);
    EXPECT_EQ(img.sections[0].name, c.want) << c.stored;
  }
}

TEST(PeReader, RejectsDamagedHeadersAndTables) {
  struct Case {
    const char* what;
    size_t offset;
    uint32_t value;
    int width;
    const char* error;
  };
  const Case cases[] = {
      {"MZ", 0, 0x4D5A, 2, "no MZ header"},
      {"e_lfanew past the end", 0x3C, 0x7FFFFFF0, 4, "no PE signature"},
      {"signature", Builder::kPe, 0x4551, 4, "no PE signature"},
      {"optional magic", Builder::kOpt, 0x30B, 2, "unknown optional header magic"},
      {"directory count", Builder::kOpt + 108, 1000, 4, "data directories overrun the optional header"},
      {"section count", Builder::kCoff + 2, 200, 2, "section table truncated"},
      {"export RVA", Builder::kOpt + 112, 0x9000, 4, "export directory outside the sections"},
      {"export ordinal", Builder::kRaw + 0x52, 3, 2, "export ordinal out of range"},
      {"export name RVA", Builder::kRaw + 0x44, 0x8000, 4, "bad export name"},
      {"import name RVA", Builder::kRaw + 0x100 + 12, 0x7000, 4, "bad import name"},
      {"resource RVA", Builder::kOpt + 128, 0x9000, 4, "resource directory outside the sections"},
  };
  for (const Case& c : cases) {
    Builder b;
    if (c.width == 2)
      b.put16(c.offset, static_cast<uint16_t>(c.value));
    else
      b.put32(c.offset, c.value);
    pe::Image img;
    EXPECT_EQ(pe::Parse(b.bytes, img), c.error) << c.what;
  }
}

TEST(PeReader, EveryTruncationIsAnErrorNotACrash) {
  const Builder b;
  for (size_t len = 0; len < 0x300; ++len) {
    pe::Image img;
    EXPECT_NE(pe::Parse(std::string_view(b.bytes).substr(0, len), img), "") << "length " << len;
  }
}

TEST(PeReader, UnterminatedNameIsRejected) {
  Builder b;
  std::memset(&b.bytes[b.at(0x1070)], 'x', b.bytes.size() - b.at(0x1070));
  pe::Image img;
  EXPECT_EQ(pe::Parse(b.bytes, img), "bad export name");
}

}  // namespace
