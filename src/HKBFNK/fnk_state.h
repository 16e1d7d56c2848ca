// What the brightness and display parts of the library share.
#pragma once

namespace hkbfnk {

// The Windows version code, found on first need and kept (a code of 0 is
// looked up again on the next call).
int VersionCodeNow();

}  // namespace hkbfnk
