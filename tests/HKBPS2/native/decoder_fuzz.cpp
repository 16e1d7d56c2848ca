// Long random report streams through the decoder, with long-press timers
// firing at random points. Checks that only messages of the wire format are
// posted and that the timers and held state stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <tuple>

#include "report_decoder.h"

namespace {

using namespace hkbps2;

bool Allowed(uint32_t msg, uintptr_t wp, intptr_t lp) {
  switch (msg) {
    case WM_HKBPS2_KEYCODE: return wp <= 127 && IsGroupA(static_cast<uint8_t>(wp)) && lp == 1;
    case WM_HKBPS2_BUTTONCODE: return wp <= 255 && lp == 1;
    case WM_HKBPS2_CODE135TO140: return wp >= 135 && wp <= 140 && lp == 1;
    case WM_HKBPS2_CODE141: return wp == 141 && lp == 1;
    case WM_HKBPS2_BITBUTTON: {
      static const std::set<std::pair<uintptr_t, intptr_t>> kBit = {
          {1, 1},  {2, 1},  {129, 1}, {130, 1}, {0, 0},   {4, 1},   {8, 1},   {16, 1},  {16, 0},
          {32, 1}, {32, 0}, {64, 1},  {131, 1}, {132, 1}, {133, 1}, {134, 1}, {135, 1}, {136, 0}};
      return kBit.count({wp, lp}) != 0;
    }
    default: return false;
  }
}

class CheckingSink final : public IReportSink {
 public:
  void Post(uint32_t msg, uintptr_t wp, intptr_t lp) override {
    if (!Allowed(msg, wp, lp)) std::abort();
    // A short press is reported right after its pending timer was killed.
    if (msg == WM_HKBPS2_BITBUTTON && wp == 1 && lastKilled != static_cast<int>(kLongPressTimerBit1))
      std::abort();
    if (msg == WM_HKBPS2_BITBUTTON && wp == 2 && lastKilled != static_cast<int>(kLongPressTimerBit2))
      std::abort();
    lastKilled = -1;
    ++posted;
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t ms) override {
    if ((id != kLongPressTimerBit1 && id != kLongPressTimerBit2) || ms != kLongPressMilliseconds)
      std::abort();
    if (failNext) return 0;
    pending.insert(id);
    return id + 1;
  }
  void KillLongPressTimer(uint32_t id) override {
    lastKilled = pending.erase(id) ? static_cast<int>(id) : -1;
  }
  void RetrySessionRegistration() override {}

  int lastKilled = -1;
  std::set<uint32_t> pending;
  bool failNext = false;
  size_t posted = 0;
};

bool HeldValid(uint8_t held, uint8_t highest) {
  return held == 0 || held == 255 || ((held & (held - 1)) == 0 && held <= highest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckingSink sink;
  CReportDecoder decoder(sink);
  // Each record: one control byte, then a report. Control bit 0x80 fires a
  // pending timer first; 0x40 makes the next timer fail to set. The report
  // kinds are folded onto the interesting ones most of the time.
  constexpr size_t kRecord = 1 + kReportSize;
  for (size_t off = 0; off + kRecord <= size; off += kRecord) {
    const uint8_t control = data[off];
    if ((control & 0x80) && !sink.pending.empty()) {
      const uint32_t id = (control & 1) ? *sink.pending.rbegin() : *sink.pending.begin();
      decoder.OnLongPressTimer(id);
      if (sink.pending.count(id)) std::abort();  // the procedure kills its timer
    }
    sink.failNext = (control & 0x40) != 0;
    uint8_t report[kReportSize];
    for (size_t i = 0; i < kReportSize; ++i) report[i] = data[off + 1 + i];
    if ((control & 0x30) != 0x30) {
      static const uint8_t kKinds[] = {1, 2, 4, 5};
      report[0] = kKinds[report[0] & 3];
    }
    decoder.Decode(report);
    if (!HeldValid(decoder.HeldBits2(), 64) || !HeldValid(decoder.HeldBits4(), 16)) std::abort();
    // While a timed button is held, its mark is non-zero exactly when its timer is pending.
    if (decoder.HeldBits2() == 1 &&
        (decoder.Bit1Mark() != 0) != (sink.pending.count(kLongPressTimerBit1) != 0))
      std::abort();
    if (decoder.HeldBits2() == 2 &&
        (decoder.Bit2Mark() != 0) != (sink.pending.count(kLongPressTimerBit2) != 0))
      std::abort();
  }
  return 0;
}
