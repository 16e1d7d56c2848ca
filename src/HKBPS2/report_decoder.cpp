#include "report_decoder.h"

#include <bit>

namespace hkbps2 {

namespace {

constexpr uint8_t kNothingHeld = 0;
constexpr uint8_t kUnknownCombination = 255;

constexpr bool IsSingleBit(uint8_t bits, uint8_t highest) {
  return bits != 0 && (bits & (bits - 1)) == 0 && bits <= highest;
}

}  // namespace

void CReportDecoder::Decode(const uint8_t* report) {
  switch (report[0]) {
    case 1: DecodeKind1(report[3], report[4]); break;
    case 2: DecodeKind2(report[1]); break;
    case 4: DecodeKind4(report[1]); break;
    case 5: DecodeKind5(report[3], report[4]); break;
    default: break;  // unknown kinds are ignored
  }
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::DecodeKind1(uint8_t code, uint8_t second) {
  const bool fresh = m_lastCode1 == 0 && second == 0;
  if (IsGroupA(code)) {
    if (fresh) {
      const bool button = code == 103 || (code >= 116 && code <= 119);
      m_sink.Post(button ? WM_HKBPS2_BUTTONCODE : WM_HKBPS2_KEYCODE, code, 1);
    }
  } else {
    if (code >= 135 && code <= 140) m_sink.Post(WM_HKBPS2_CODE135TO140, code, 1);
    if (code == 141) m_sink.Post(WM_HKBPS2_CODE141, 141, 1);
    if (fresh || m_lastCode1 == 128 || m_lastCode1 == 129) m_sink.Post(WM_HKBPS2_BUTTONCODE, code, 1);
  }
  m_lastCode1 = code;
}

void CReportDecoder::DecodeKind5(uint8_t code, uint8_t second) {
  if (code == 0) {
    m_lastCode5 = 0;
  } else if (code != m_lastCode5) {
    m_sink.Post(WM_HKBPS2_BUTTONCODE, code, 1);
    m_lastCode5 = code;
  } else if (second != 0) {
    m_sink.Post(WM_HKBPS2_BUTTONCODE, second, 1);
    m_lastCode5 = second;
  }
}

void CReportDecoder::DecodeKind2(uint8_t bits) {
  if (m_heldBits2 == kNothingHeld) {
    if (bits == 0) return;
    if (IsSingleBit(bits, 64)) {
      PressKind2(bits);
      m_heldBits2 = bits;
    } else {
      m_heldBits2 = kUnknownCombination;
    }
    return;
  }
  if ((bits & m_heldBits2) != 0) return;  // still held
  ReleaseKind2(m_heldBits2);
  m_heldBits2 = kNothingHeld;
}

void CReportDecoder::PressKind2(uint8_t bit) {
  switch (bit) {
    case 1: m_bit1Mark = m_sink.SetLongPressTimer(kLongPressTimerBit1, kLongPressMilliseconds); break;
    case 2: m_bit2Mark = m_sink.SetLongPressTimer(kLongPressTimerBit2, kLongPressMilliseconds); break;
    default: m_sink.Post(WM_HKBPS2_BITBUTTON, bit, 1); break;
  }
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::ReleaseKind2(uint8_t bit) {
  switch (bit) {
    case 1:
      if (m_bit1Mark != 0) {
        m_sink.KillLongPressTimer(kLongPressTimerBit1);
        m_sink.Post(WM_HKBPS2_BITBUTTON, 1, 1);
      } else {
        m_sink.Post(WM_HKBPS2_BITBUTTON, 0, 0);
      }
      break;
    case 2:
      if (m_bit2Mark != 0) {
        m_sink.KillLongPressTimer(kLongPressTimerBit2);
        m_sink.Post(WM_HKBPS2_BITBUTTON, 2, 1);
      } else {
        m_sink.Post(WM_HKBPS2_BITBUTTON, 0, 0);
      }
      break;
    case 16:
    case 32: m_sink.Post(WM_HKBPS2_BITBUTTON, bit, 0); break;
    default: break;  // 4, 8, 64 and an unrecognised combination: no release event
  }
  m_sink.RetrySessionRegistration();
}

void CReportDecoder::DecodeKind4(uint8_t bits) {
  if (m_heldBits4 == kNothingHeld) {
    if (bits == 0) return;
    if (IsSingleBit(bits, 16)) {
      // 1, 2, 4, 8, 16 -> 131 .. 135
      m_sink.Post(WM_HKBPS2_BITBUTTON, 131u + static_cast<uint32_t>(std::countr_zero(bits)), 1);
      m_heldBits4 = bits;
    } else {
      m_heldBits4 = kUnknownCombination;
    }
    return;
  }
  if ((bits & m_heldBits4) != 0) return;
  if (m_heldBits4 == 8 || m_heldBits4 == 16) m_sink.Post(WM_HKBPS2_BITBUTTON, 136, 0);
  m_heldBits4 = kNothingHeld;
}

void CReportDecoder::OnLongPressTimer(uintptr_t id) {
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
