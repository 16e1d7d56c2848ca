// What every process that maps the library shares (the ".PROCESS" section):
// how many processes hold the library, and whether the key
// "Software\ZEV\KBDBL" existed when the initialising process loaded it.
#pragma once

namespace hkbps2 {

// Counts this process in. True when no other process held the library, so
// that this one initialises (classification, worker, registry probe). The
// answer is the result of one interlocked increment: of processes that load
// the library at the same moment, exactly one is told it is first.
bool JoinHolders();
// Counts this process out.
void LeaveHolders();

bool KbdblPresent();
void SetKbdblPresent(bool present);

}  // namespace hkbps2
