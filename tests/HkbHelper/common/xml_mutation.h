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

}  // namespace hkbhtest
