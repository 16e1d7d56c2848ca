// Kernel-mode stand-in for the keyboard filter driver, run by the system's
// device host. It creates "\\.\HKBLEDFILTR" (and "\\.\VHKBBTN.VXD" for the
// older releases) and hands out reports that a test queued through a
// test-only control code. Test code: no product logic.
#include <ntddk.h>

#include "hkbledfiltr_ioctl.h"

static DEVICE_OBJECT* g_filter;
static DEVICE_OBJECT* g_vxd;

static volatile LONG g_lock;
static UCHAR g_queue[HKBTEST_QUEUE_CAPACITY][HKBTEST_REPORT_SIZE];
static ULONG g_head;
static ULONG g_count;
static struct hkbtest_stats g_stats;

static void Lock(void) {
  while (InterlockedCompareExchange(&g_lock, 1, 0) != 0) {
  }
}
static void Unlock(void) { InterlockedExchange(&g_lock, 0); }

static ULONG_PTR Dequeue(UCHAR* out, ULONG out_len, int vxd, ULONG code) {
  ULONG_PTR n = 0;
  Lock();
  if (vxd) {
    ++g_stats.vxd_reads;
    g_stats.vxd_last_code = code;
  } else {
    ++g_stats.reads;
  }
  if (g_count > 0 && out_len >= HKBTEST_REPORT_SIZE) {
    RtlCopyMemory(out, g_queue[g_head], HKBTEST_REPORT_SIZE);
    g_head = (g_head + 1) % HKBTEST_QUEUE_CAPACITY;
    --g_count;
    ++g_stats.delivered;
    n = HKBTEST_REPORT_SIZE;
  }
  g_stats.pending = g_count;
  Unlock();
  return n;
}

static NTSTATUS Enqueue(const UCHAR* in, ULONG in_len) {
  if (in_len == 0 || in_len % HKBTEST_REPORT_SIZE != 0) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  Lock();
  for (ULONG off = 0; off < in_len; off += HKBTEST_REPORT_SIZE) {
    if (g_count == HKBTEST_QUEUE_CAPACITY) {
      status = STATUS_BUFFER_OVERFLOW;
      break;
    }
    RtlCopyMemory(g_queue[(g_head + g_count) % HKBTEST_QUEUE_CAPACITY], in + off, HKBTEST_REPORT_SIZE);
    ++g_count;
  }
  g_stats.pending = g_count;
  Unlock();
  return status;
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR info) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = info;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchCreate(DEVICE_OBJECT* dev, IRP* irp) {
  Lock();
  if (dev == g_vxd)
    ++g_stats.vxd_opens;
  else
    ++g_stats.opens;
  ++g_stats.open_handles;
  Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(DEVICE_OBJECT* dev, IRP* irp) {
  (void)dev;
  Lock();
  --g_stats.open_handles;
  Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchCleanup(DEVICE_OBJECT* dev, IRP* irp) {
  (void)dev;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(DEVICE_OBJECT* dev, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;

  switch (code) {
    case HKBTEST_IOCTL_QUEUE:
      return Complete(irp, buffer ? Enqueue(buffer, in_len) : STATUS_INVALID_PARAMETER, 0);
    case HKBTEST_IOCTL_RESET:
      Lock();
      g_head = g_count = 0;
      {
        const unsigned int handles = g_stats.open_handles;
        RtlZeroMemory(&g_stats, sizeof g_stats);
        g_stats.open_handles = handles;
      }
      Unlock();
      return Complete(irp, STATUS_SUCCESS, 0);
    case HKBTEST_IOCTL_STATS:
      if (!buffer || out_len < sizeof(struct hkbtest_stats)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      Lock();
      RtlCopyMemory(buffer, &g_stats, sizeof g_stats);
      Unlock();
      return Complete(irp, STATUS_SUCCESS, sizeof(struct hkbtest_stats));
    default: break;
  }
  if (dev == g_filter && code != HKBTEST_IOCTL_READ) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  // The product reads with no input and a 9-byte output; the older device
  // takes whatever control code its host chose.
  if (in_len != 0 || !buffer) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  return Complete(irp, STATUS_SUCCESS, Dequeue(buffer, out_len, dev == g_vxd, code));
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
  DeleteDevice(&g_vxd, L"\\DosDevices\\VHKBBTN.VXD");
  DeleteDevice(&g_filter, L"\\DosDevices\\HKBLEDFILTR");
}

static NTSTATUS CreateDevice(DRIVER_OBJECT* driver, const WCHAR* device, const WCHAR* link,
                             DEVICE_OBJECT** out) {
  UNICODE_STRING dev_name, link_name;
  RtlInitUnicodeString(&dev_name, device);
  RtlInitUnicodeString(&link_name, link);
  NTSTATUS status = IoCreateDevice(driver, 0, &dev_name, HKBTEST_DEVICE_TYPE, 0, FALSE, out);
  if (!NT_SUCCESS(status)) return status;
  (*out)->Flags |= DO_BUFFERED_IO;
  status = IoCreateSymbolicLink(&link_name, &dev_name);
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
  NTSTATUS status = CreateDevice(driver, L"\\Device\\HKBLEDFILTR", L"\\DosDevices\\HKBLEDFILTR", &g_filter);
  if (!NT_SUCCESS(status)) return status;
  status = CreateDevice(driver, L"\\Device\\VHKBBTN", L"\\DosDevices\\VHKBBTN.VXD", &g_vxd);
  if (!NT_SUCCESS(status)) {
    DeleteDevice(&g_filter, L"\\DosDevices\\HKBLEDFILTR");
    return status;
  }
  return STATUS_SUCCESS;
}
