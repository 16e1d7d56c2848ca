#include "ps2_support.h"

#include <string>

#include "hkbtest/harness.h"

namespace ps2test {

Report Kind1(uint8_t code, uint8_t second) { return {1, 0, 0, code, second, 0, 0, 0, 0}; }
Report Kind5(uint8_t code, uint8_t second) { return {5, 0, 0, code, second, 0, 0, 0, 0}; }
Report Kind2(uint8_t bits) { return {2, bits, 0, 0, 0, 0, 0, 0, 0}; }
Report Kind4(uint8_t bits) { return {4, bits, 0, 0, 0, 0, 0, 0, 0}; }
Report KindN(uint8_t kind, uint8_t bits, uint8_t code) { return {kind, bits, 0, code, 0, 0, 0, 0, 0}; }

bool Driver::Open(std::string* error) {
  const std::wstring installer = hkbtest::StandinFile(L"hkbledfiltr_install.exe");
  const int rc = hkbtest::RunProgram(L"\"" + installer + L"\" install");
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

bool Driver::Control(DWORD code, const void* in, DWORD inSize) {
  DWORD got = 0;
  return ::DeviceIoControl(m_handle.get(), code, const_cast<void*>(in), inSize, nullptr, 0, &got, nullptr) !=
         FALSE;
}

bool Driver::Reset() { return Control(HKBTEST_IOCTL_RESET); }
bool Driver::HoldNextRead() { return Control(HKBTEST_IOCTL_HOLD_NEXT_READ); }
bool Driver::ReleaseRead() { return Control(HKBTEST_IOCTL_RELEASE_READ); }

bool Driver::HideDevice(bool hide) {
  const ULONG value = hide ? 1 : 0;
  return Control(HKBTEST_IOCTL_HIDE_DEVICE, &value, sizeof value);
}

bool Driver::Queue(const std::vector<Report>& reports) {
  std::vector<uint8_t> data;
  for (const Report& r : reports) data.insert(data.end(), r.begin(), r.end());
  return Control(HKBTEST_IOCTL_QUEUE, data.data(), static_cast<DWORD>(data.size()));
}

hkbtest_stats Driver::Stats() {
  hkbtest_stats s = {};
  DWORD got = 0;
  ::DeviceIoControl(m_handle.get(), HKBTEST_IOCTL_STATS, nullptr, 0, &s, sizeof s, &got, nullptr);
  return s;
}

}  // namespace ps2test
