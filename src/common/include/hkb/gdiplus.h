// GDI+ for a scope: the library started and shut down, and its objects owned.
#pragma once

#include <windows.h>

// GDI+'s headers expect the min/max macros that NOMINMAX keeps out.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <memory>

namespace hkb {

// GdiplusStartup for the object's life; GdiplusShutdown only after a start
// that succeeded. Every GDI+ object must be gone before the session ends.
class GdiplusSession {
 public:
  GdiplusSession() noexcept {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
    if (Gdiplus::GdiplusStartup(&m_token, &input, nullptr) != Gdiplus::Ok) m_token = 0;
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession() {
    if (m_token) Gdiplus::GdiplusShutdown(m_token);
  }
  explicit operator bool() const noexcept { return m_token != 0; }

 private:
  ULONG_PTR m_token = 0;
};

// A GDI+ object (an image, a brush, ...): its delete goes back to GDI+'s own
// allocator through the objects' common base.
template <class T>
using GdiplusPtr = std::unique_ptr<T>;

}  // namespace hkb
