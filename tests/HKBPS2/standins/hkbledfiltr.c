// Kernel-mode stand-in for the keyboard filter driver, run by the system's
// device host. It creates "\\.\HKBLEDFILTR" (and "\\.\VHKBBTN.VXD" for the
// older releases) and hands out reports that a test queued through a
// test-only control code; further test-only codes hold a read back and take
// the device's name away. Test code: no product logic.
#include <ntddk.h>

#include "hkbledfiltr_ioctl.h"

#define FILTER_LINK L"\\DosDevices\\HKBLEDFILTR"
#define FILTER_DEVICE L"\\Device\\HKBLEDFILTR"

static DEVICE_OBJECT* s_filter;
static DEVICE_OBJECT* s_vxd;

static volatile LONG s_lock;
static UCHAR s_queue[HKBTEST_QUEUE_CAPACITY][HKBTEST_REPORT_SIZE];
static ULONG s_head;
static ULONG s_count;
static struct hkbtest_stats s_stats;
static int s_holdNext;           // the next filter read is held
static IRP* s_held;              // the read held now
static FILE_OBJECT* s_heldFile;  // the handle it came on
static FILE_OBJECT* s_hider;     // the handle that took the name away, or none

static void Lock(void) {
  while (InterlockedCompareExchange(&s_lock, 1, 0) != 0) {
  }
}
static void Unlock(void) { InterlockedExchange(&s_lock, 0); }

// The caller holds the lock.
static ULONG_PTR DequeueLocked(UCHAR* out, ULONG outLength) {
  if (s_count == 0 || outLength < HKBTEST_REPORT_SIZE) return 0;
  RtlCopyMemory(out, s_queue[s_head], HKBTEST_REPORT_SIZE);
  s_head = (s_head + 1) % HKBTEST_QUEUE_CAPACITY;
  --s_count;
  ++s_stats.delivered;
  s_stats.pending = s_count;
  return HKBTEST_REPORT_SIZE;
}

static ULONG_PTR Dequeue(UCHAR* out, ULONG outLength, int vxd, ULONG code) {
  Lock();
  if (vxd) {
    ++s_stats.vxdReads;
    s_stats.vxdLastCode = code;
  } else {
    ++s_stats.reads;
  }
  const ULONG_PTR n = DequeueLocked(out, outLength);
  Unlock();
  return n;
}

static NTSTATUS Enqueue(const UCHAR* in, ULONG inLength) {
  if (inLength == 0 || inLength % HKBTEST_REPORT_SIZE != 0) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  Lock();
  for (ULONG off = 0; off < inLength; off += HKBTEST_REPORT_SIZE) {
    if (s_count == HKBTEST_QUEUE_CAPACITY) {
      status = STATUS_BUFFER_OVERFLOW;
      break;
    }
    RtlCopyMemory(s_queue[(s_head + s_count) % HKBTEST_QUEUE_CAPACITY], in + off, HKBTEST_REPORT_SIZE);
    ++s_count;
  }
  s_stats.pending = s_count;
  Unlock();
  return status;
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR info) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = info;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Completes the held read, if any (and, when `file` is given, only if it came
// on that handle): with a queued report, or cancelled.
static void ReleaseHeld(FILE_OBJECT* file, int cancel) {
  IRP* irp = NULL;
  ULONG_PTR n = 0;
  Lock();
  if (s_held && (!file || s_heldFile == file)) {
    irp = s_held;
    s_held = NULL;
    s_heldFile = NULL;
    s_stats.held = 0;
    if (!cancel) {
      IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
      n = DequeueLocked((UCHAR*)irp->AssociatedIrp.SystemBuffer,
                        stack->Parameters.DeviceIoControl.OutputBufferLength);
    }
  }
  Unlock();
  if (irp) Complete(irp, cancel ? STATUS_CANCELLED : STATUS_SUCCESS, n);
}

static NTSTATUS ShowName(int show) {
  UNICODE_STRING link, device;
  RtlInitUnicodeString(&link, FILTER_LINK);
  RtlInitUnicodeString(&device, FILTER_DEVICE);
  return show ? IoCreateSymbolicLink(&link, &device) : IoDeleteSymbolicLink(&link);
}

static NTSTATUS DispatchCreate(DEVICE_OBJECT* dev, IRP* irp) {
  Lock();
  if (dev == s_vxd)
    ++s_stats.vxdOpens;
  else
    ++s_stats.opens;
  ++s_stats.openHandles;
  Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(DEVICE_OBJECT* dev, IRP* irp) {
  (void)dev;
  Lock();
  --s_stats.openHandles;
  Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

// The last handle of a file object went: nothing it set up outlives it.
static NTSTATUS DispatchCleanup(DEVICE_OBJECT* dev, IRP* irp) {
  (void)dev;
  FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  ReleaseHeld(file, 1);
  int show = 0;
  Lock();
  if (s_hider && s_hider == file) {
    s_hider = NULL;
    show = 1;
  }
  Unlock();
  if (show) ShowName(1);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(DEVICE_OBJECT* dev, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;

  switch (code) {
    case HKBTEST_IOCTL_QUEUE:
      return Complete(irp, buffer ? Enqueue(buffer, inLength) : STATUS_INVALID_PARAMETER, 0);
    case HKBTEST_IOCTL_RESET:
      ReleaseHeld(NULL, 1);
      Lock();
      s_head = s_count = 0;
      s_holdNext = 0;
      {
        const unsigned int handles = s_stats.openHandles;
        RtlZeroMemory(&s_stats, sizeof s_stats);
        s_stats.openHandles = handles;
      }
      Unlock();
      return Complete(irp, STATUS_SUCCESS, 0);
    case HKBTEST_IOCTL_STATS:
      if (!buffer || outLength < sizeof(struct hkbtest_stats))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      Lock();
      RtlCopyMemory(buffer, &s_stats, sizeof s_stats);
      Unlock();
      return Complete(irp, STATUS_SUCCESS, sizeof(struct hkbtest_stats));
    case HKBTEST_IOCTL_HOLD_NEXT_READ:
      Lock();
      s_holdNext = 1;
      Unlock();
      return Complete(irp, STATUS_SUCCESS, 0);
    case HKBTEST_IOCTL_RELEASE_READ: ReleaseHeld(NULL, 0); return Complete(irp, STATUS_SUCCESS, 0);
    case HKBTEST_IOCTL_HIDE_DEVICE: {
      if (!buffer || inLength != sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      const int hide = *(const ULONG*)buffer != 0;
      FILE_OBJECT* file = stack->FileObject;
      int change = 0;
      Lock();
      if (hide && !s_hider) {
        s_hider = file;
        change = 1;
      } else if (!hide && s_hider) {
        s_hider = NULL;
        change = 1;
      }
      Unlock();
      return Complete(irp, change ? ShowName(!hide) : STATUS_SUCCESS, 0);
    }
    default: break;
  }
  if (dev == s_filter && code != HKBTEST_IOCTL_READ) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  // The product reads with no input and a 9-byte output; the older device
  // takes whatever control code its host chose.
  if (inLength != 0 || !buffer) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (dev == s_filter) {
    Lock();
    const int hold = s_holdNext && !s_held;
    if (hold) {
      s_holdNext = 0;
      s_held = irp;
      s_heldFile = stack->FileObject;
      s_stats.held = 1;
      ++s_stats.reads;
      IoMarkIrpPending(irp);
    }
    Unlock();
    if (hold) return STATUS_PENDING;
  }
  return Complete(irp, STATUS_SUCCESS, Dequeue(buffer, outLength, dev == s_vxd, code));
}

static void DeleteDevice(DEVICE_OBJECT** dev, const WCHAR* link) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, link);
  IoDeleteSymbolicLink(&name);
  if (*dev) IoDeleteDevice(*dev);
  *dev = NULL;
}

static void DriverUnload(DRIVER_OBJECT* driver) {
  (void)driver;
  DeleteDevice(&s_vxd, L"\\DosDevices\\VHKBBTN.VXD");
  DeleteDevice(&s_filter, FILTER_LINK);
}

static NTSTATUS CreateDevice(DRIVER_OBJECT* driver, const WCHAR* device, const WCHAR* link,
                             DEVICE_OBJECT** out) {
  UNICODE_STRING deviceName, linkName;
  RtlInitUnicodeString(&deviceName, device);
  RtlInitUnicodeString(&linkName, link);
  NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, HKBTEST_DEVICE_TYPE, 0, FALSE, out);
  if (!NT_SUCCESS(status)) return status;
  (*out)->Flags |= DO_BUFFERED_IO;
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(*out);
    *out = NULL;
  }
  return status;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry) {
  (void)registry;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = DriverUnload;
  NTSTATUS status = CreateDevice(driver, FILTER_DEVICE, FILTER_LINK, &s_filter);
  if (!NT_SUCCESS(status)) return status;
  status = CreateDevice(driver, L"\\Device\\VHKBBTN", L"\\DosDevices\\VHKBBTN.VXD", &s_vxd);
  if (!NT_SUCCESS(status)) {
    DeleteDevice(&s_filter, FILTER_LINK);
    return status;
  }
  return STATUS_SUCCESS;
}
