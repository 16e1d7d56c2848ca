// Installs the keyboard filter driver stand-in into the test prefix as a
// kernel-driver service and starts it; a 64-bit program so that the service
// is not marked as a 32-bit one.
//   hkbledfiltr_install install [path of the driver]   (idempotent; default:
//                       hkbledfiltr.sys next to this program)
//   hkbledfiltr_install remove
// Exit code 0 on success; a line on stderr otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

#include "hkb/unique.h"
#include "hkbtest/wait.h"

namespace {

constexpr wchar_t kService[] = L"hkbledfiltr_standin";

int Fail(const char* what) {
  std::fprintf(stderr, "hkbledfiltr_install: %s failed, error %lu\n", what, ::GetLastError());
  return 1;
}

bool DeviceAnswers() {
  const hkb::UniqueFile device(::CreateFileW(L"\\\\.\\HKBLEDFILTR", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                             nullptr));
  return static_cast<bool>(device);
}

int Install(const wchar_t* path) {
  if (DeviceAnswers()) return 0;
  hkb::UniqueService scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return Fail("OpenSCManagerW");
  hkb::UniqueService svc(::OpenServiceW(scm.get(), kService, SERVICE_ALL_ACCESS));
  if (!svc) {
    svc.reset(::CreateServiceW(scm.get(), kService, kService, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                               SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path, nullptr, nullptr, nullptr,
                               nullptr, nullptr));
    if (!svc) return Fail("CreateServiceW");
  } else if (!::ChangeServiceConfigW(svc.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, path,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
    return Fail("ChangeServiceConfigW");
  }
  // Right after a prefix is made, the service manager can still be busy (its
  // database locked, or the device host slow to come up); ask again then.
  for (int attempt = 0;; ++attempt) {
    if (::StartServiceW(svc.get(), 0, nullptr)) break;
    const DWORD err = ::GetLastError();
    if (err == ERROR_SERVICE_ALREADY_RUNNING) break;
    const bool busy = err == ERROR_SERVICE_REQUEST_TIMEOUT || err == ERROR_SERVICE_DATABASE_LOCKED;
    if (!busy || attempt == 5) return Fail("StartServiceW");
    std::fprintf(stderr, "hkbledfiltr_install: start failed with %lu, attempt %d\n", err, attempt + 1);
    if (DeviceAnswers()) return 0;
    ::Sleep(1000);
  }
  if (hkbtest::WaitUntil(DeviceAnswers, std::chrono::seconds(10))) return 0;
  std::fprintf(stderr, "hkbledfiltr_install: the device did not appear\n");
  return 1;
}

int Remove() {
  hkb::UniqueService scm(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return Fail("OpenSCManagerW");
  hkb::UniqueService svc(::OpenServiceW(scm.get(), kService, SERVICE_ALL_ACCESS));
  if (!svc) return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : Fail("OpenServiceW");
  SERVICE_STATUS status = {};
  ::ControlService(svc.get(), SERVICE_CONTROL_STOP, &status);
  hkbtest::WaitUntil(
      [&] { return !::QueryServiceStatus(svc.get(), &status) || status.dwCurrentState == SERVICE_STOPPED; },
      std::chrono::seconds(5));
  if (!::DeleteService(svc.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Fail("DeleteService");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"install" && argc == 3) return Install(argv[2]);
  if (verb == L"install" && argc == 2) {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return Fail("GetModuleFileNameW");
    std::wstring sys(path, n);
    sys.resize(sys.find_last_of(L'\\') + 1);
    sys += L"hkbledfiltr.sys";
    return Install(sys.c_str());
  }
  if (verb == L"remove" && argc == 2) return Remove();
  std::fprintf(stderr, "usage: hkbledfiltr_install install <driver path> | remove\n");
  return 2;
}
