#include "ps2_support.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "hkbtest/harness.h"

namespace ps2test {

Report Kind1(uint8_t code, uint8_t second) { return {1, 0, 0, code, second, 0, 0, 0, 0}; }
Report Kind5(uint8_t code, uint8_t second) { return {5, 0, 0, code, second, 0, 0, 0, 0}; }
Report Kind2(uint8_t bits) { return {2, bits, 0, 0, 0, 0, 0, 0, 0}; }
Report Kind4(uint8_t bits) { return {4, bits, 0, 0, 0, 0, 0, 0, 0}; }
Report KindN(uint8_t kind, uint8_t bits, uint8_t code) { return {kind, bits, 0, code, 0, 0, 0, 0, 0}; }

int RunProgram(const std::wstring& command_line, DWORD timeout_ms) {
  hkb::UniqueFile nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
  ::SetHandleInformation(nul.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = command_line;
  // Only the NUL handle is inheritable.
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi)) {
    return -1;
  }
  hkb::UniqueHandle process(pi.hProcess);
  hkb::UniqueHandle thread(pi.hThread);
  if (::WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 99);
    return -1;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

bool Driver::Open(std::string* error) {
  const std::wstring installer = hkbtest::StandinFile(L"hkbledfiltr_install.exe");
  const int rc = RunProgram(L"\"" + installer + L"\" install");
  if (rc != 0) {
    *error = "installer exit code " + std::to_string(rc);
    return false;
  }
  m_handle.reset(::CreateFileW(L"\\\\.\\HKBLEDFILTR", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!m_handle) {
    *error = "CreateFileW error " + std::to_string(::GetLastError());
    return false;
  }
  return true;
}

bool Driver::Reset() {
  DWORD got = 0;
  return ::DeviceIoControl(m_handle.get(), HKBTEST_IOCTL_RESET, nullptr, 0, nullptr, 0, &got, nullptr) !=
         FALSE;
}

bool Driver::Queue(const std::vector<Report>& reports) {
  std::vector<uint8_t> data;
  for (const Report& r : reports) data.insert(data.end(), r.begin(), r.end());
  DWORD got = 0;
  return ::DeviceIoControl(m_handle.get(), HKBTEST_IOCTL_QUEUE, data.data(), static_cast<DWORD>(data.size()),
                           nullptr, 0, &got, nullptr) != FALSE;
}

hkbtest_stats Driver::Stats() {
  hkbtest_stats s = {};
  DWORD got = 0;
  ::DeviceIoControl(m_handle.get(), HKBTEST_IOCTL_STATS, nullptr, 0, &s, sizeof s, &got, nullptr);
  return s;
}

std::set<DWORD> ThreadIds() {
  std::set<DWORD> out;
  hkb::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snap) return out;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  for (BOOL ok = ::Thread32First(snap.get(), &te); ok; ok = ::Thread32Next(snap.get(), &te)) {
    if (te.th32OwnerProcessID == ::GetCurrentProcessId()) out.insert(te.th32ThreadID);
  }
  return out;
}

bool StartsInModule(DWORD thread_id, HMODULE module) {
  using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  hkb::UniqueHandle thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, thread_id));
  if (!query || !thread) return false;
  void* start = nullptr;
  constexpr int kThreadQuerySetWin32StartAddress = 9;
  if (query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) != 0) return false;
  MODULEINFO info = {};
  if (!::GetModuleInformation(::GetCurrentProcess(), module, &info, sizeof info)) return false;
  const auto* base = static_cast<const char*>(info.lpBaseOfDll);
  const auto* at = static_cast<const char*>(start);
  return at >= base && at < base + info.SizeOfImage;
}

}  // namespace ps2test
