// The text display: the window takes the exact outline of the request's text,
// so only the glyphs show, filled with the request colour.
#pragma once

#include <string>

#include "OSDBase.h"

class COSDText : public COSDBase {
 public:
  // Measuring passes tried before the window is given up as empty.
  static constexpr int kShapeAttempts = 32;

  COSDText() noexcept;
  ~COSDText() override = default;

 protected:
  int OnCreate(LPCREATESTRUCTW createStruct) override;

 private:
  // Lays the text out, sizes the window to it and returns its outline region
  // (an empty region when no outline could be made).
  HRGN ShapeToText();

  std::wstring m_text;
  LOGFONTW m_font;
};
