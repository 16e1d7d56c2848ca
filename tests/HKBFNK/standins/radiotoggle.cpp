// Stand-in for the wireless on/off program. On start it appends one line to
// the file named by RADIOTOGGLE_TRACE: "started pid=<pid> args=[<arguments>]".
// It then runs until the event "HKBTest.RadioToggle.Exit" is set (at most 60 s)
// and appends "ended".
#include <windows.h>

#include <string>

namespace {

void Append(const std::wstring& path, const std::string& line) {
  HANDLE f = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  ::CloseHandle(f);
}

std::string Utf8(const wchar_t* s) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR args, int) {
  wchar_t trace[MAX_PATH] = {};
  if (!::GetEnvironmentVariableW(L"RADIOTOGGLE_TRACE", trace, MAX_PATH)) return 1;
  HANDLE quit = ::CreateEventW(nullptr, TRUE, FALSE, L"HKBTest.RadioToggle.Exit");
  Append(trace, "started pid=" + std::to_string(::GetCurrentProcessId()) + " args=[" + Utf8(args) + "]\n");
  ::WaitForSingleObject(quit, 60000);
  Append(trace, "ended\n");
  if (quit) ::CloseHandle(quit);
  return 0;
}
