// The boundary of an export, a COM method or a thread: no exception crosses
// it. What the body returns is the result; an exception (a failed allocation,
// most likely) becomes the failure result the caller is told of.
#pragma once

#include <utility>

namespace hkb {

template <class R, class Body>
R Guarded(R failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}

// For a body without a result: an exception ends it, nothing more.
template <class Body>
void Guarded(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace hkb
