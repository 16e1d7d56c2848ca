// Control codes of the keyboard filter driver stand-in, shared by the driver,
// its installer and the tests. Plain C: no Windows header needed.
#pragma once

#define HKBTEST_DEVICE_TYPE 0x9C40u
#define HKBTEST_CTL(function) \
  ((HKBTEST_DEVICE_TYPE << 16) | ((function) << 2) | 0u /* buffered, any access */)

// The product's read: no input, 9 bytes out (0 bytes when nothing is queued).
#define HKBTEST_IOCTL_READ 0x9C40E040u
// Test only: appends the input (a whole number of 9-byte reports) to the queue.
#define HKBTEST_IOCTL_QUEUE HKBTEST_CTL(0x811u)
// Test only: empties the queue and clears the counters.
#define HKBTEST_IOCTL_RESET HKBTEST_CTL(0x812u)
// Test only: returns struct hkbtest_stats.
#define HKBTEST_IOCTL_STATS HKBTEST_CTL(0x813u)
// Test only: the next read of the filter device is held (left pending) until
// HKBTEST_IOCTL_RELEASE_READ, a reset, or the clean-up of the handle it came on.
#define HKBTEST_IOCTL_HOLD_NEXT_READ HKBTEST_CTL(0x814u)
// Test only: completes a held read (with a queued report, if any).
#define HKBTEST_IOCTL_RELEASE_READ HKBTEST_CTL(0x815u)
// Test only: input one 32-bit value, 1 removes the name "\\.\HKBLEDFILTR" (opens by
// name then fail as if no device were present; handles already open go on
// working), 0 brings it back. The name also comes back with the clean-up of
// the handle that removed it.
#define HKBTEST_IOCTL_HIDE_DEVICE HKBTEST_CTL(0x816u)

#define HKBTEST_REPORT_SIZE 9u
#define HKBTEST_QUEUE_CAPACITY 1024u

struct hkbtest_stats {
  unsigned int reads;        // read requests on the filter device (any result)
  unsigned int delivered;    // reports handed out (both devices)
  unsigned int pending;      // reports still queued
  unsigned int vxdReads;     // read requests on the older virtual device
  unsigned int vxdLastCode;  // control code of the last such request
  unsigned int opens;        // opens of the filter device
  unsigned int vxdOpens;     // opens of the older virtual device
  unsigned int openHandles;  // opens minus closes, both devices
  unsigned int held;         // reads held now (0 or 1)
};
