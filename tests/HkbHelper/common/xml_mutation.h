// Damaged copies of a seed XML file, the same for a given run seed and index
// in every process: the test and the worker program that loads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hkbhtest {

struct Mutant {
  std::string text;
  size_t at = 0;     // the bytes before this offset are the seed's
  bool cut = false;  // only a truncation before `closed` (see Mutate)
  std::string what;
};

// One to three of: byte flips, insertions, deletions, truncation, duplicated
// or unbalanced elements, huge attribute values, deep nesting, bad encodings.
// `closed` is the offset at which the seed's root element is closed.
Mutant Mutate(const std::string& seed, size_t closed, uint32_t run_seed, uint64_t index);

// Whether this runs under Wine, and whether the text is a document that
// Wine's own XmlLite may never finish reading: one in UTF-16 without a
// byte-order mark (its Read does not return on some of them, with no caller
// code involved; seen at 9 and 32 KiB). Such files are not loaded there.
bool UnderWine();
bool WineNeverFinishes(const std::string& text);

}  // namespace hkbhtest
