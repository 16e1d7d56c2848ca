// Report decoding: message table, group rule, repeat suppression, held-bit
// state machines and the long-press timers, driven with whole report
// sequences through a recording sink.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <random>
#include <vector>

#include "hkbtest/messages.h"
#include "report_decoder.h"

namespace hkbps2 {
namespace {

using hkbtest::Msg;

class RecordingSink final : public IReportSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    posted.push_back({message, wParam, lParam});
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t milliseconds) override {
    EXPECT_EQ(milliseconds, 1000u);
    if (failTimers) return 0;
    pending[id] = true;
    return 0x1000 + id;  // any non-zero value
  }
  void KillLongPressTimer(uint32_t id) override { pending.erase(id); }
  void RetrySessionRegistration() override { ++registrations; }

  std::vector<Msg> Take() { return std::exchange(posted, {}); }

  std::vector<Msg> posted;
  std::map<uint32_t, bool> pending;
  bool failTimers = false;
  int registrations = 0;
};

// One step of a sequence: a report, or a long-press timer firing.
struct Step {
  uint8_t kind;
  uint8_t bits = 0;
  uint8_t code = 0;
  uint8_t second = 0;
  int fireTimer = -1;  // >= 0: fire that long-press timer instead of a report
};

Step R1(uint8_t code, uint8_t second = 0) { return {1, 0, code, second}; }
Step R5(uint8_t code, uint8_t second = 0) { return {5, 0, code, second}; }
Step R2(uint8_t bits) { return {2, bits}; }
Step R4(uint8_t bits) { return {4, bits}; }
Step Fire(int id) { return {0, 0, 0, 0, id}; }

constexpr uint32_t KEY = WM_HKBPS2_KEYCODE;
constexpr uint32_t BTN = WM_HKBPS2_BUTTONCODE;
constexpr uint32_t C135 = WM_HKBPS2_CODE135TO140;
constexpr uint32_t C141 = WM_HKBPS2_CODE141;
constexpr uint32_t BIT = WM_HKBPS2_BITBUTTON;

struct Sequence {
  const char* name;
  std::vector<Step> steps;
  std::vector<Msg> expected;
};

void Feed(CReportDecoder& decoder, const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    if (s.fireTimer >= 0) {
      decoder.OnLongPressTimer(static_cast<uintptr_t>(s.fireTimer));
      continue;
    }
    const uint8_t report[kReportSize] = {s.kind, s.bits, 0xEE, s.code, s.second, 0xEE, 0xEE, 0xEE, 0xEE};
    decoder.Decode(report);
  }
}

const Sequence kSequences[] = {
    {"kind 1: fresh key code once, repeats suppressed, code 0 ends the run",
     {R1(0), R1(30), R1(30), R1(0), R1(30)},
     // The first code-0 report comes while nothing was seen yet: key code 0.
     {{KEY, 0, 1}, {KEY, 30, 1}, {KEY, 30, 1}}},
    {"kind 1: code 30 after a code-0 report, then the same report again",
     {R1(5), R1(0), R1(30), R1(30)},
     {{KEY, 5, 1}, {KEY, 30, 1}}},
    {"kind 1: 103 and 116..119 are group A but posted as button codes",
     {R1(103), R1(0), R1(116), R1(0), R1(117), R1(0), R1(118), R1(0), R1(119), R1(0), R1(115), R1(0),
      R1(120)},
     {{BTN, 103, 1},
      {BTN, 116, 1},
      {BTN, 117, 1},
      {BTN, 118, 1},
      {BTN, 119, 1},
      {KEY, 115, 1},
      {BTN, 120, 1}}},
    {"kind 1: group B codes when fresh",
     {R1(84), R1(0), R1(121), R1(0), R1(85), R1(85), R1(0), R1(255)},
     {{BTN, 84, 1}, {BTN, 121, 1}, {BTN, 85, 1}, {BTN, 255, 1}}},
    {"kind 1: code 137 three times",
     {R1(137), R1(137), R1(137)},
     {{C135, 137, 1}, {BTN, 137, 1}, {C135, 137, 1}, {C135, 137, 1}}},
    {"kind 1: 135 and 140 bound the own-message range",
     {R1(134), R1(0), R1(135), R1(0), R1(140), R1(0), R1(142)},
     {{BTN, 134, 1}, {C135, 135, 1}, {BTN, 135, 1}, {C135, 140, 1}, {BTN, 140, 1}, {BTN, 142, 1}}},
    {"kind 1: code 141 on every report, button code only when fresh",
     {R1(141), R1(141), R1(141, 9)},
     {{C141, 141, 1}, {BTN, 141, 1}, {C141, 141, 1}, {C141, 141, 1}}},
    {"kind 1: group B right after 128 or 129, even with a second code",
     {R1(128), R1(200, 7), R1(129), R1(130, 1), R1(131)},
     {{BTN, 128, 1}, {BTN, 200, 1}, {BTN, 130, 1}}},
    {"kind 1: group A right after 128 is not posted", {R1(128), R1(30)}, {{BTN, 128, 1}}},
    {"kind 1: a second code suppresses the fresh post but sets the last code",
     {R1(30, 1), R1(30), R1(0), R1(138, 1), R1(0, 0), R1(0, 0)},
     {{C135, 138, 1}, {KEY, 0, 1}}},
    {"kind 5: new code, repeat with second code, then nothing",
     {R5(40), R5(40, 41), R5(41), R5(41, 0), R5(0), R5(41)},
     {{BTN, 40, 1}, {BTN, 41, 1}, {BTN, 41, 1}}},
    {"kind 5: code 0 clears, a repeat without second code posts nothing",
     {R5(7), R5(7), R5(0, 9), R5(7), R5(8)},
     {{BTN, 7, 1}, {BTN, 7, 1}, {BTN, 8, 1}}},
    {"kind 2: bit 1 short press", {R2(1), R2(1), R2(0)}, {{BIT, 1, 1}}},
    {"kind 2: bit 2 short press", {R2(2), R2(0)}, {{BIT, 2, 1}}},
    {"kind 2: bit 1 long press, then release", {R2(1), Fire(1), R2(1), R2(0)}, {{BIT, 129, 1}, {BIT, 0, 0}}},
    {"kind 2: bit 2 long press, then release", {R2(2), Fire(0), R2(0)}, {{BIT, 130, 1}, {BIT, 0, 0}}},
    {"kind 2: bits 4, 8, 64 post at press only; 16 and 32 also at release",
     {R2(4), R2(0), R2(8), R2(0), R2(16), R2(0), R2(32), R2(0), R2(64), R2(0)},
     {{BIT, 4, 1}, {BIT, 8, 1}, {BIT, 16, 1}, {BIT, 16, 0}, {BIT, 32, 1}, {BIT, 32, 0}, {BIT, 64, 1}}},
    {"kind 2: bits 1 and 2 together, then released: nothing", {R2(3), R2(1), R2(0)}, {}},
    {"kind 2: bit 128 is an unknown combination", {R2(128), R2(0), R2(16)}, {{BIT, 16, 1}}},
    {"kind 2: a second bit while the first is held is ignored until seen alone",
     {R2(16), R2(48), R2(32), R2(32)},
     // 48 still shares bit 16; 32 alone releases 16; 32 is then a fresh press.
     {{BIT, 16, 1}, {BIT, 16, 0}, {BIT, 32, 1}}},
    {"kind 4: bit 8 down then up, bit 1 down then up",
     {R4(8), R4(8), R4(0), R4(1), R4(0)},
     {{BIT, 134, 1}, {BIT, 136, 0}, {BIT, 131, 1}}},
    {"kind 4: every bit; releases only for 8 and 16",
     {R4(2), R4(0), R4(4), R4(0), R4(16), R4(0)},
     {{BIT, 132, 1}, {BIT, 133, 1}, {BIT, 135, 1}, {BIT, 136, 0}}},
    {"kind 4: two bits or bit 32 are unknown combinations",
     {R4(24), R4(0), R4(32), R4(0), R4(8)},
     {{BIT, 134, 1}}},
    {"unknown kinds post nothing and change no state",
     {R1(30), {0, 1, 1, 1}, {3, 1, 31, 0}, {6, 2, 32, 0}, {255, 4, 33, 0}, R1(30)},
     {{KEY, 30, 1}}},
    {"kinds keep separate state",
     {R1(50), R5(50), R2(16), R4(16), R1(50), R5(50), R2(0), R4(0)},
     {{KEY, 50, 1}, {BTN, 50, 1}, {BIT, 16, 1}, {BIT, 135, 1}, {BIT, 16, 0}, {BIT, 136, 0}}},
};

TEST(ReportDecoder, WholeSequencesPostExactlyTheExpectedMessages) {
  for (const Sequence& seq : kSequences) {
    SCOPED_TRACE(seq.name);
    RecordingSink sink;
    CReportDecoder decoder(sink);
    Feed(decoder, seq.steps);
    EXPECT_EQ(sink.Take(), seq.expected);
  }
}

TEST(ReportDecoder, GroupsFollowTheCodeRanges) {
  auto inAByRange = [](int c) {
    return c <= 83 || (c >= 86 && c <= 96) || (c >= 99 && c <= 103) || (c >= 111 && c <= 119) ||
           (c >= 122 && c <= 127);
  };
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(IsGroupA(static_cast<uint8_t>(c)), inAByRange(c)) << "code " << c;
  }
}

TEST(ReportDecoder, EveryFreshKind1CodePostsOneMessageOfItsGroup) {
  for (int c = 1; c < 256; ++c) {
    SCOPED_TRACE(c);
    RecordingSink sink;
    CReportDecoder decoder(sink);
    Feed(decoder, {R1(static_cast<uint8_t>(c))});
    std::vector<Msg> got = sink.Take();
    const bool own = c >= 135 && c <= 141;
    ASSERT_EQ(got.size(), own ? 2u : 1u);
    const Msg& last = got.back();
    EXPECT_EQ(last.wParam, static_cast<uintptr_t>(c));
    EXPECT_EQ(last.lParam, 1);
    const bool button = !IsGroupA(static_cast<uint8_t>(c)) || c == 103 || (c >= 116 && c <= 119);
    EXPECT_EQ(last.msg, button ? BTN : KEY);
    if (own) EXPECT_EQ(got[0].msg, c == 141 ? C141 : C135);
  }
}

TEST(ReportDecoder, LongPressTimersAreSetOnPressAndKilledAtShortRelease) {
  RecordingSink sink;
  CReportDecoder decoder(sink);
  Feed(decoder, {R2(1)});
  EXPECT_TRUE(sink.pending.count(kLongPressTimerBit1));
  EXPECT_NE(decoder.Bit1Mark(), 0u);
  Feed(decoder, {R2(0)});
  EXPECT_TRUE(sink.pending.empty());
  Feed(decoder, {R2(2)});
  EXPECT_TRUE(sink.pending.count(kLongPressTimerBit2));
  Feed(decoder, {Fire(0)});
  EXPECT_TRUE(sink.pending.empty()) << "the timer procedure kills its timer";
  EXPECT_EQ(decoder.Bit2Mark(), 0u);
  EXPECT_EQ(sink.Take(), (std::vector<Msg>{{BIT, 1, 1}, {BIT, 130, 1}}));
}

TEST(ReportDecoder, ATimerThatCannotBeSetMakesTheReleaseZero) {
  RecordingSink sink;
  sink.failTimers = true;
  CReportDecoder decoder(sink);
  Feed(decoder, {R2(1), R2(0), R2(2), R2(0)});
  EXPECT_EQ(sink.Take(), (std::vector<Msg>{{BIT, 0, 0}, {BIT, 0, 0}}));
}

TEST(ReportDecoder, ALongPressInProgressIsReportedAfterPollingStops) {
  // Nothing resets the decoder: the timer still fires and posts.
  RecordingSink sink;
  CReportDecoder decoder(sink);
  Feed(decoder, {R2(1), Fire(1), Fire(7)});
  EXPECT_EQ(sink.Take(), (std::vector<Msg>{{BIT, 129, 1}}));
  EXPECT_EQ(decoder.HeldBits2(), 1);
}

TEST(ReportDecoder, SessionRegistrationIsRetriedAfterReportsAndKind2Edges) {
  RecordingSink sink;
  CReportDecoder decoder(sink);
  Feed(decoder, {{3}, R1(4), R2(0)});
  EXPECT_EQ(sink.registrations, 3) << "once per report, whatever its kind";
  Feed(decoder, {R2(16)});
  EXPECT_EQ(sink.registrations, 5) << "a press adds one";
  Feed(decoder, {R2(0)});
  EXPECT_EQ(sink.registrations, 7) << "a release adds one";
}

// Every sink call in order, for comparing two runs call by call.
class LoggingSink final : public IReportSink {
 public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    log.push_back({message, wParam, lParam});
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t) override {
    log.push_back({0xF1, id, 0});
    return 1;
  }
  void KillLongPressTimer(uint32_t id) override { log.push_back({0xF2, id, 0}); }
  void RetrySessionRegistration() override { log.push_back({0xF3, 0, 0}); }
  std::vector<Msg> log;
};

TEST(ReportDecoder, ARepeatedReportDoesWhatItDoesAfterAnUnrelatedOne) {
  // Each report is fed three times in a row, and to a second decoder with a
  // report of an unknown kind (which does nothing) before each repeat: both
  // must make the same calls, whatever the report and the state before it.
  std::mt19937 rng(11);
  const uint8_t kKinds[] = {1, 2, 4, 5};
  const uint8_t kCodes[] = {0, 1, 30, 84, 103, 128, 129, 137, 141, 200};
  LoggingSink direct, spaced;
  CReportDecoder a(direct), b(spaced);
  const uint8_t unrelated[kReportSize] = {3, 1, 0, 1, 1};
  for (int i = 0; i < 20000; ++i) {
    const uint8_t kind = kKinds[rng() % 4];
    const uint8_t bits = static_cast<uint8_t>(rng() % 3 ? 1u << (rng() % 8) : rng() % 4);
    const uint8_t code = kCodes[rng() % std::size(kCodes)];
    const uint8_t second = rng() % 3 ? 0 : (rng() % 2 ? code : kCodes[rng() % std::size(kCodes)]);
    const uint8_t report[kReportSize] = {kind, bits, 0, code, second};
    for (int n = 0; n < 3; ++n) {
      a.Decode(report);
      direct.log.push_back({0xF3, 0, 0});  // stands for the unrelated report's attempt
      a.Decode(report);
      b.Decode(report);
      b.Decode(unrelated);
      b.Decode(report);
      if (rng() % 16 == 0) {
        const uintptr_t id = rng() % 2;
        a.OnLongPressTimer(id);
        b.OnLongPressTimer(id);
      }
    }
    ASSERT_EQ(direct.log, spaced.log)
        << "report " << int{kind} << " " << int{bits} << " " << int{code} << " " << int{second};
    direct.log.clear();
    spaced.log.clear();
  }
}

}  // namespace
}  // namespace hkbps2
