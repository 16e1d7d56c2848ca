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

#define HKBTEST_REPORT_SIZE 9u
#define HKBTEST_QUEUE_CAPACITY 1024u

struct hkbtest_stats {
  unsigned int reads;          // read requests on the filter device (any result)
  unsigned int delivered;      // reports handed out (both devices)
  unsigned int pending;        // reports still queued
  unsigned int vxd_reads;      // read requests on the older virtual device
  unsigned int vxd_last_code;  // control code of the last such request
  unsigned int opens;          // opens of the filter device
  unsigned int vxd_opens;      // opens of the older virtual device
  unsigned int open_handles;   // opens minus closes, both devices
};
