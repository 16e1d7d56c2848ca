// The decoder is table-driven: every report costs the same few loads and no
// branch on its kind or on the held state, so that a stream of mixed kinds
// decodes at a steady rate. Each report kind has one or more effect tables,
// indexed by the report's input byte; which table a kind uses next is part of
// each effect. The tables are computed at compile time from the rules below
// (one per report kind), which are the only statement of what a report does.
#include "report_decoder.h"

#include <array>
#include <bit>
#include <cstring>

namespace hkbps2 {

namespace {

constexpr uint8_t kNothingHeld = 0;
constexpr uint8_t kUnknownCombination = 255;

constexpr bool IsSingleBit(unsigned bits, unsigned highest) {
  return bits != 0 && (bits & (bits - 1)) == 0 && bits <= highest;
}

// ---------------------------------------------------------------------------
// What one report does, given the state of its kind.

// Messages by index; 0 posts nothing.
enum Message : uint8_t { kNoMessage, kKeyCode, kButtonCode, kBitButton, kCode135To140, kCode141 };
constexpr uint32_t kMessageNumber[8] = {0,
                                        WM_HKBPS2_KEYCODE,
                                        WM_HKBPS2_BUTTONCODE,
                                        WM_HKBPS2_BITBUTTON,
                                        WM_HKBPS2_CODE135TO140,
                                        WM_HKBPS2_CODE141,
                                        0,
                                        0};

// The kind-2 buttons with a long-press timer take the slow way.
enum TimedAction : uint8_t { kNoTimedAction, kPressTimed, kReleaseTimed };

struct Effect {
  Message message = kNoMessage;
  bool wParamFromInput = false;  // else wParam
  uint8_t wParam = 0;
  bool lParam = false;
  bool thenButtonCode = false;  // a second post: the button code, wParam the input, lParam 1
  bool extraRegistration = false;
  TimedAction timed = kNoTimedAction;
  // The kind's state afterwards: a held value (kinds 2 and 4), or the code
  // kept as the last code (kinds 1 and 5).
  uint8_t state = 0;
  bool keepInput = false;  // the last code becomes the input, else the report's code
  // The same report once more would do nothing but the registration attempt
  // every report makes, and change no state (without and with a second code).
  bool quietRepeat[2] = {false, false};

  constexpr bool Quiet() const {
    return message == kNoMessage && !extraRegistration && timed == kNoTimedAction;
  }
};

// Kind 1. `fresh`: nothing was pending and the report has no second code;
// `after128`: the previous kind-1 code was 128 or 129. The input is the code.
constexpr Effect Kind1Step(bool fresh, bool after128, uint8_t code) {
  Effect e;
  e.state = code;  // the last code becomes this code
  e.wParamFromInput = true;
  e.lParam = true;
  if (IsGroupA(code)) {
    if (fresh) e.message = (code == 103 || (code >= 116 && code <= 119)) ? kButtonCode : kKeyCode;
    return e;
  }
  const bool button = fresh || after128;
  if (code >= 135 && code <= 140) {
    e.message = kCode135To140;
    e.thenButtonCode = button;
  } else if (code == 141) {
    e.message = kCode141;
    e.thenButtonCode = button;
  } else if (button) {
    e.message = kButtonCode;
  }
  return e;
}

// The kind-1 state after a report is its code, so whether a repeat is quiet
// depends on the code and on the second code only.
constexpr Effect Kind1(bool fresh, bool after128, uint8_t code) {
  Effect e = Kind1Step(fresh, after128, code);
  for (unsigned second = 0; second < 2; ++second) {
    e.quietRepeat[second] = Kind1Step(code == 0 && second == 0, code == 128 || code == 129, code).Quiet();
  }
  return e;
}

// Kind 2: `held` is the held bit (or 0, or 255), the input the bit field.
constexpr Effect Kind2Step(uint8_t held, uint8_t bits) {
  Effect e;
  e.state = held;
  if (held == kNothingHeld) {
    if (bits == 0) return e;
    if (!IsSingleBit(bits, 64)) {
      e.state = kUnknownCombination;
      return e;
    }
    e.state = bits;
    if (bits == 1 || bits == 2) {
      e.timed = kPressTimed;
      return e;
    }
    e.message = kBitButton;
    e.wParam = bits;
    e.lParam = true;
    e.extraRegistration = true;
    return e;
  }
  if ((bits & held) != 0) return e;  // still held
  e.state = kNothingHeld;
  if (held == 1 || held == 2) {
    e.timed = kReleaseTimed;
    return e;
  }
  if (held == 16 || held == 32) {
    e.message = kBitButton;
    e.wParam = held;
  }
  e.extraRegistration = true;  // also for 4, 8, 64 and an unknown combination, which post nothing
  return e;
}

// Kind 4: `held` as for kind 2, the input the bit field.
constexpr Effect Kind4Step(uint8_t held, uint8_t bits) {
  Effect e;
  e.state = held;
  if (held == kNothingHeld) {
    if (bits == 0) return e;
    if (!IsSingleBit(bits, 16)) {
      e.state = kUnknownCombination;
      return e;
    }
    e.message = kBitButton;
    e.wParam = static_cast<uint8_t>(131 + std::countr_zero(bits));  // 1, 2, 4, 8, 16 -> 131 .. 135
    e.lParam = true;
    e.state = bits;
    return e;
  }
  if ((bits & held) != 0) return e;
  if (held == 8 || held == 16) {
    e.message = kBitButton;
    e.wParam = 136;
  }
  e.state = kNothingHeld;
  return e;
}

// Kinds 2 and 4 read no code: a repeat is quiet when it keeps the new held
// state and does nothing.
template <Effect (*Step)(uint8_t, uint8_t)>
constexpr Effect WithQuietRepeat(uint8_t held, uint8_t bits) {
  Effect e = Step(held, bits);
  const Effect again = Step(e.state, bits);
  e.quietRepeat[0] = e.quietRepeat[1] = again.Quiet() && again.state == e.state;
  return e;
}
constexpr Effect Kind2(uint8_t held, uint8_t bits) { return WithQuietRepeat<Kind2Step>(held, bits); }
constexpr Effect Kind4(uint8_t held, uint8_t bits) { return WithQuietRepeat<Kind4Step>(held, bits); }

// Kind 5. The input is the code, or the second code when the report repeats
// the last non-zero code: then what is posted and kept is the second code.
// A 0 input posts nothing; the last code becomes the report's code (0 for a
// code-0 report, unchanged for a repeat without a second code). A repeat of
// a report that posted is quiet without a second code (its code is then the
// last code again); with one, it posts once more.
constexpr Effect Kind5(uint8_t input) {
  Effect e;
  e.quietRepeat[0] = true;
  e.quietRepeat[1] = input == 0;
  if (input == 0) return e;
  e.message = kButtonCode;
  e.wParamFromInput = true;
  e.lParam = true;
  e.keepInput = true;
  return e;
}

// ---------------------------------------------------------------------------
// The tables.

// The held values kinds 2 and 4 can keep, each with a table of its own.
constexpr uint8_t kHeld2[] = {0, 1, 2, 4, 8, 16, 32, 64, kUnknownCombination};
constexpr uint8_t kHeld4[] = {0, 1, 2, 4, 8, 16, kUnknownCombination};

// Table numbers: kind 1 fresh (after code 0, for a report without a second
// code), after 128/129, other; kind 2 by held value; kind 4 by held value;
// kind 5; other kinds.
constexpr unsigned kKind1Fresh = 0;
constexpr unsigned kKind1After128 = 1;
constexpr unsigned kKind1Other = 2;
constexpr unsigned kFirstKind2 = 3;
constexpr unsigned kFirstKind4 = kFirstKind2 + std::size(kHeld2);
constexpr unsigned kKind5Table = kFirstKind4 + std::size(kHeld4);
constexpr unsigned kOtherTable = kKind5Table + 1;
constexpr unsigned kTables = kOtherTable + 1;
static_assert(kTables <= 32);

template <size_t N>
constexpr unsigned HeldIndex(const uint8_t (&values)[N], unsigned held) {
  for (unsigned i = 0; i < N; ++i) {
    if (values[i] == held) return i;
  }
  return N - 1;
}

constexpr unsigned Kind1Table(uint8_t lastCode) {
  return lastCode == 0 ? kKind1Fresh : (lastCode == 128 || lastCode == 129) ? kKind1After128 : kKind1Other;
}

// One effect packed into 32 bits.
constexpr uint32_t kWParamMask = 0xFF;             // bits 0-7: wParam
constexpr unsigned kNextTableShift = 8;            // bits 8-12: the kind's next table
constexpr unsigned kMessageShift = 13;             // bits 13-15: message index
constexpr uint32_t kLParam = 1u << 16;             // lParam 1
constexpr uint32_t kWParamFromInput = 1u << 17;    // wParam is the input
constexpr uint32_t kKeepInput = 1u << 18;          // the last code becomes the input, else the code
constexpr uint32_t kThenButtonCode = 1u << 19;     // a button-code post follows
constexpr uint32_t kExtraRegistration = 1u << 20;  // one more registration attempt
constexpr uint32_t kPressTimedBit = 1u << 21;      // press of a timed kind-2 button
constexpr uint32_t kReleaseTimedBit = 1u << 22;    // release of a timed kind-2 button
constexpr uint32_t kTimed = kPressTimedBit | kReleaseTimedBit;
constexpr uint32_t kActs = (7u << kMessageShift) | kExtraRegistration | kTimed;  // more than the one attempt
constexpr uint32_t kQuietRepeat = 1u << 23;        // a repeat without a second code is quiet
constexpr uint32_t kQuietRepeatSecond = 1u << 24;  // a repeat with a second code is quiet

constexpr uint32_t Pack(const Effect& e, unsigned nextTable) {
  return uint32_t{e.wParam} | (nextTable << kNextTableShift) | (uint32_t{e.message} << kMessageShift) |
         (e.lParam ? kLParam : 0) | (e.wParamFromInput ? kWParamFromInput : 0) |
         (e.keepInput ? kKeepInput : 0) | (e.thenButtonCode ? kThenButtonCode : 0) |
         (e.extraRegistration ? kExtraRegistration : 0) | (e.timed == kPressTimed ? kPressTimedBit : 0) |
         (e.timed == kReleaseTimed ? kReleaseTimedBit : 0) | (e.quietRepeat[0] ? kQuietRepeat : 0) |
         (e.quietRepeat[1] ? kQuietRepeatSecond : 0);
}

constexpr auto kEffects = [] {
  std::array<std::array<uint32_t, 256>, kTables> t{};
  for (unsigned in = 0; in < 256; ++in) {
    const auto input = static_cast<uint8_t>(in);
    const unsigned kind1Next = Kind1Table(input);
    t[kKind1Fresh][in] = Pack(Kind1(true, false, input), kind1Next);
    t[kKind1After128][in] = Pack(Kind1(false, true, input), kind1Next);
    t[kKind1Other][in] = Pack(Kind1(false, false, input), kind1Next);
    for (unsigned h = 0; h < std::size(kHeld2); ++h) {
      const Effect e = Kind2(kHeld2[h], input);
      t[kFirstKind2 + h][in] = Pack(e, kFirstKind2 + HeldIndex(kHeld2, e.state));
    }
    for (unsigned h = 0; h < std::size(kHeld4); ++h) {
      const Effect e = Kind4(kHeld4[h], input);
      t[kFirstKind4 + h][in] = Pack(e, kFirstKind4 + HeldIndex(kHeld4, e.state));
    }
    t[kKind5Table][in] = Pack(Kind5(input), kKind5Table);
    Effect none;  // other kinds do nothing
    none.quietRepeat[0] = none.quietRepeat[1] = true;
    t[kOtherTable][in] = Pack(none, kOtherTable);
  }
  return t;
}();

// The deciding bytes (kind, bit field, code, second code) of the first eight
// report bytes, as one number.
constexpr uint64_t kDecidingBytes = 0x000000FFFF00FFFFull;
static_assert(std::endian::native == std::endian::little);
static_assert(kReportSize >= sizeof(uint64_t));

}  // namespace

std::array<uint8_t, 256> CReportDecoder::InitialTables() {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = kOtherTable;
  t[1] = kKind1Fresh;
  t[2] = kFirstKind2;
  t[4] = kFirstKind4;
  t[5] = kKind5Table;
  return t;
}

uint8_t CReportDecoder::HeldBits2() const { return kHeld2[m_table[2] - kFirstKind2]; }
uint8_t CReportDecoder::HeldBits4() const { return kHeld4[m_table[4] - kFirstKind4]; }

void CReportDecoder::Decode(const uint8_t* report) {
  // The first eight bytes in one load; every decision below is taken from
  // them and from the kind's state without a branch.
  uint64_t bytes;
  std::memcpy(&bytes, report, sizeof bytes);
  const uint64_t key = bytes & kDecidingBytes;
  // A report that repeats a quiet one: nothing changes and nothing is posted.
  if (key == m_quietReport) {
    m_sink.RetrySessionRegistration();
    return;
  }

  const auto kind = static_cast<uint8_t>(bytes);
  const auto bitField = static_cast<uint8_t>(bytes >> 8);
  const auto code = static_cast<uint8_t>(bytes >> 24);
  const auto second = static_cast<uint8_t>(bytes >> 32);
  unsigned table = m_table[kind];
  const uint8_t lastCode = m_lastCode[kind];
  // A kind-1 report with a second code is never fresh.
  table += ((second != 0) & (table == kKind1Fresh)) * (kKind1Other - kKind1Fresh);
  // The input: the bit field for kinds 2 and 4; for a kind-5 repeat of its
  // last non-zero code, the second code; otherwise the code.
  const bool repeat5 = (kind == 5) & (code == lastCode) & (code != 0);
  const uint8_t codeInput = repeat5 ? second : code;
  const uint8_t input = ((kind == 2) | (kind == 4)) ? bitField : codeInput;
  const uint32_t e = kEffects[table][input];

  m_table[kind] = static_cast<uint8_t>(e >> kNextTableShift) & 31;
  m_lastCode[kind] = (e & kKeepInput) ? input : code;
  m_quietReport = (e & (second != 0 ? kQuietRepeatSecond : kQuietRepeat)) ? key : kNoQuietReport;

  if (e & kActs) Act(e, input, table);
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::Act(uint32_t e, uint8_t input, unsigned table) {
  if (e & kTimed) {
    // Press: the input is the bit; release: the held bit of the table left.
    if (e & kPressTimedBit) {
      PressTimed(input);
    } else {
      ReleaseTimed(kHeld2[table - kFirstKind2]);
    }
    return;
  }
  const unsigned message = (e >> kMessageShift) & 7;
  if (message != kNoMessage) {
    const uintptr_t wParam = (e & kWParamFromInput) ? input : (e & kWParamMask);
    m_sink.Post(kMessageNumber[message], wParam, (e & kLParam) ? 1 : 0);
    if (e & kThenButtonCode) m_sink.Post(WM_HKBPS2_BUTTONCODE, input, 1);
  }
  if (e & kExtraRegistration) m_sink.RetrySessionRegistration();
}

void CReportDecoder::PressTimed(uint8_t bit) {
  if (bit == 1) {
    m_bit1Mark = m_sink.SetLongPressTimer(kLongPressTimerBit1, kLongPressMilliseconds);
  } else {
    m_bit2Mark = m_sink.SetLongPressTimer(kLongPressTimerBit2, kLongPressMilliseconds);
  }
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::ReleaseTimed(uint8_t bit) {
  const uintptr_t mark = bit == 1 ? m_bit1Mark : m_bit2Mark;
  if (mark != 0) {
    m_sink.KillLongPressTimer(bit == 1 ? kLongPressTimerBit1 : kLongPressTimerBit2);
    m_sink.Post(WM_HKBPS2_BITBUTTON, bit, 1);
  } else {
    m_sink.Post(WM_HKBPS2_BITBUTTON, 0, 0);
  }
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::OnLongPressTimer(uintptr_t id) {
  m_quietReport = kNoQuietReport;
  m_sink.KillLongPressTimer(static_cast<uint32_t>(id));
  if (id == kLongPressTimerBit1) {
    m_bit1Mark = 0;
    m_sink.Post(WM_HKBPS2_BITBUTTON, 129, 1);
  } else if (id == kLongPressTimerBit2) {
    m_bit2Mark = 0;
    m_sink.Post(WM_HKBPS2_BITBUTTON, 130, 1);
  }
}

}  // namespace hkbps2
