// The keyboard of the demo: what its special keys send through the keyboard
// filter driver, and what the demo button service does with the event that
// HKBPS2 posts for each. Shared by the service and the scripted run.
#pragma once

#include <cstdint>

namespace demo {

// The events HKBPS2 posts to the service's window (its wire format).
inline constexpr unsigned kMsgButtonCode = 0x0534;  // wParam: the button code
inline constexpr unsigned kMsgBitButton = 0x0535;   // wParam/lParam: bit-button press, long press, release
inline constexpr unsigned kMsgKeyCode = 0x0539;     // wParam: the key code
inline constexpr unsigned kMsgCode135To140 = 0x0544;
inline constexpr unsigned kMsgCode141 = 0x0545;
inline constexpr unsigned kMsgTimer5 = 0x0465;

// Key codes (report kind 1, posted as key codes).
inline constexpr uint8_t kBrightnessDown = 0x41;
inline constexpr uint8_t kBrightnessUp = 0x42;
inline constexpr uint8_t kAirplane = 0x43;
// The power button (report kind 1, posted as a button code).
inline constexpr uint8_t kPowerButton = 117;
// The "+/-" button: bit 1 of report kind 2; a short press posts (1, 1), a
// press held for a second (129, 1), its release after that (0, 0).
inline constexpr uint8_t kPlusMinusBit = 1;

// What the service does.
enum class Action {
  kNone,
  kBrightnessUp,
  kBrightnessDown,
  kAirplane,
  kPowerPage,
  kPrompt,
  kSettingsHome,
  kReleased
};

inline Action ActionFor(unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == kMsgKeyCode && wparam == kBrightnessUp) return Action::kBrightnessUp;
  if (msg == kMsgKeyCode && wparam == kBrightnessDown) return Action::kBrightnessDown;
  if (msg == kMsgKeyCode && wparam == kAirplane) return Action::kAirplane;
  if (msg == kMsgButtonCode && wparam == kPowerButton) return Action::kPowerPage;
  if (msg == kMsgBitButton && wparam == kPlusMinusBit && lparam == 1) return Action::kPrompt;
  if (msg == kMsgBitButton && wparam == 0x80u + kPlusMinusBit && lparam == 1) return Action::kSettingsHome;
  if (msg == kMsgBitButton && wparam == 0 && lparam == 0) return Action::kReleased;
  return Action::kNone;
}

// The launcher's command line (after the program path) for the launch actions.
inline const wchar_t* LauncherSwitch(Action a) {
  switch (a) {
    case Action::kPowerPage: return L"/POWER";
    case Action::kPrompt: return L"";
    case Action::kSettingsHome: return L"/HUB";
    default: return nullptr;
  }
}

inline const char* MessageName(unsigned msg) {
  switch (msg) {
    case kMsgButtonCode: return "WM_HKBPS2_BUTTONCODE";
    case kMsgBitButton: return "WM_HKBPS2_BITBUTTON";
    case kMsgKeyCode: return "WM_HKBPS2_KEYCODE";
    case kMsgCode135To140: return "WM_HKBPS2_CODE135TO140";
    case kMsgCode141: return "WM_HKBPS2_CODE141";
    case kMsgTimer5: return "WM_HKBPS2_TIMER5";
    default: return "other";
  }
}

}  // namespace demo
