// Turns 9-byte button reports into the event messages posted to the host
// window. Plain C++: the window side is reached only through IReportSink.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace hkbps2 {

// Event messages posted to the host window (numbers, wParam and lParam are
// the library's wire format).
constexpr uint32_t WM_HKBPS2_TIMER5 = 0x0465;        // 1125
constexpr uint32_t WM_HKBPS2_BUTTONCODE = 0x0534;    // 1332
constexpr uint32_t WM_HKBPS2_BITBUTTON = 0x0535;     // 1333
constexpr uint32_t WM_HKBPS2_KEYCODE = 0x0539;       // 1337
constexpr uint32_t WM_HKBPS2_CODE135TO140 = 0x0544;  // 1348
constexpr uint32_t WM_HKBPS2_CODE141 = 0x0545;       // 1349

constexpr size_t kReportSize = 9;

// Long-press timers on the hidden window.
constexpr uint32_t kLongPressTimerBit1 = 1;
constexpr uint32_t kLongPressTimerBit2 = 0;
constexpr uint32_t kLongPressMilliseconds = 1000;

// What the decoder needs from the window side.
class IReportSink {
 public:
  virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // Sets a one-shot long-press timer; the result is kept as the button's mark
  // (0: the timer could not be set).
  virtual uintptr_t SetLongPressTimer(uint32_t id, uint32_t milliseconds) = 0;
  virtual void KillLongPressTimer(uint32_t id) = 0;
  // One more session-notification registration attempt, if still needed.
  virtual void RetrySessionRegistration() = 0;

 protected:
  ~IReportSink() = default;
};

// True when a kind-1 code is posted as a key code (group A) rather than as
// a button code (group B).
constexpr bool IsGroupA(uint8_t code) {
  if (code <= 83) return true;
  if (code < 86 || code > 127) return false;
  constexpr uint64_t kMask = 0x3F3FE03E7FFull;  // bit (code - 86)
  return ((kMask >> (code - 86)) & 1u) != 0;
}

class CReportDecoder {
 public:
  explicit CReportDecoder(IReportSink& sink) : m_sink(sink) {}

  // One report as read from the device (kReportSize bytes).
  void Decode(const uint8_t* report);
  // A long-press timer fired on the hidden window.
  void OnLongPressTimer(uintptr_t id);

  // Held state, for tests and diagnostics.
  uint8_t LastCode1() const { return m_lastCode[1]; }
  uint8_t HeldBits2() const;
  uint8_t HeldBits4() const;
  uint8_t LastCode5() const { return m_lastCode[5]; }
  uintptr_t Bit1Mark() const { return m_bit1Mark; }
  uintptr_t Bit2Mark() const { return m_bit2Mark; }

 private:
  static std::array<uint8_t, 256> InitialTables();
  // What a report does beyond the registration attempt every report makes.
  void Act(uint32_t effect, uint8_t input, unsigned table);
  void PressTimed(uint8_t bit);
  void ReleaseTimed(uint8_t bit);

  // Never the deciding bytes of a report: those leave report byte 2 and
  // bytes 5 to 7 zero.
  static constexpr uint64_t kNoQuietReport = ~uint64_t{0};

  IReportSink& m_sink;
  // The deciding bytes of the last report when a repeat of it would do
  // nothing (post nothing, change no state), else kNoQuietReport.
  uint64_t m_quietReport = kNoQuietReport;
  // By the first report byte (the kind): the effect table its next report
  // uses, which stands for the held state, and the last code (kinds 1 and 5).
  std::array<uint8_t, 256> m_table = InitialTables();
  std::array<uint8_t, 256> m_lastCode = {};
  uintptr_t m_bit1Mark = 0;
  uintptr_t m_bit2Mark = 0;
};

}  // namespace hkbps2
