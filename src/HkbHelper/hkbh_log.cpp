#include "hkbh_log.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

#include "catalogue_logic.h"
#include "hkb/module.h"
#include "hkb/sync.h"
#include "hkb/unique.h"

namespace {

std::atomic<BOOL> s_logSwitch{FALSE};

// The path is rebuilt by an initialization while other threads may be
// writing entries; the lock keeps every entry's copy whole.
hkb::SrwLock s_logPathLock;
wchar_t s_logPath[kHkbhPathChars] = L"HkbHelperLog.txt";
hkb::SrwLock s_logWriteLock;

BOOL AppendText(HANDLE file, const char* text) {
  DWORD written = 0;
  return ::WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Wide text in the system code page, "?" for what it cannot show (the UTF-8
// code page takes no replacement character and needs none).
std::string ToCodePage(const wchar_t* ws, int count) {
  const char* replacement = ::GetACP() == CP_UTF8 ? nullptr : "?";
  const int need = ::WideCharToMultiByte(CP_ACP, 0, ws, count, nullptr, 0, replacement, nullptr);
  if (need <= 0) return {};
  std::string narrow(static_cast<size_t>(need), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, ws, count, narrow.data(), need, replacement, nullptr);
  if (count < 0) narrow.resize(static_cast<size_t>(need - 1));  // the terminator
  return narrow;
}

// Formats the way vsnprintf does, except for wide-string arguments ("%S",
// "%ls"): the runtime's conversion of those stops at the first character
// that the C locale cannot write and drops the rest of the argument, so they
// are converted here to the system code page, with "?" for characters it
// lacks. Returns the length of the whole text (which may exceed the buffer),
// or -1 for a format it does not know.
int FormatEntry(char* out, size_t size, const char* format, va_list args) {
  std::string text;
  char piece[512];
  for (const char* p = format; *p != '\0';) {
    if (*p != '%') {
      text.push_back(*p++);
      continue;
    }
    if (p[1] == '%') {
      text.push_back('%');
      p += 2;
      continue;
    }
    // %[flags][width][.precision][length]conversion, with '*' taken from the
    // arguments and written into the piece's own format as a number.
    std::string conv = "%";
    ++p;
    while (*p && std::strchr("-+ #0", *p)) conv.push_back(*p++);
    if (*p == '*') {
      conv += std::to_string(va_arg(args, int));
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') conv.push_back(*p++);
    }
    if (*p == '.') {
      conv.push_back(*p++);
      if (*p == '*') {
        conv += std::to_string(va_arg(args, int));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') conv.push_back(*p++);
      }
    }
    enum { kInt, kLong, kLongLong, kSize, kLongDouble } length = kInt;
    bool wide = false;
    if (p[0] == 'h') {
      p += (p[1] == 'h') ? 2 : 1;
    } else if (p[0] == 'l' && p[1] == 'l') {
      length = kLongLong;
      p += 2;
    } else if (p[0] == 'l') {
      length = kLong;
      wide = true;
      ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      length = kLongLong;
      p += 3;
    } else if (*p == 'z' || *p == 't' || *p == 'j') {
      length = kSize;
      ++p;
    } else if (*p == 'L') {
      length = kLongDouble;
      ++p;
    }
    const char conversion = *p;
    if (conversion == '\0') return -1;
    ++p;
    int n = 0;
    switch (conversion) {
      case 'S':
      case 's':
        if (conversion == 'S' || wide) {
          const wchar_t* ws = va_arg(args, const wchar_t*);
          if (ws == nullptr) ws = L"(null)";
          const std::string narrow = ToCodePage(ws, -1);
          if (conv == "%") {
            text += narrow;
            continue;
          }
          n = std::snprintf(piece, sizeof piece, (conv + "s").c_str(), narrow.c_str());
        } else {
          const char* s = va_arg(args, const char*);
          if (conv == "%") {
            text += s ? s : "(null)";
            continue;
          }
          n = std::snprintf(piece, sizeof piece, (conv + "s").c_str(), s ? s : "(null)");
        }
        break;
      case 'c':
        if (wide) {
          const wchar_t wc = static_cast<wchar_t>(va_arg(args, int));
          n = std::snprintf(piece, sizeof piece, (conv + "s").c_str(), ToCodePage(&wc, 1).c_str());
        } else {
          n = std::snprintf(piece, sizeof piece, (conv + "c").c_str(), va_arg(args, int));
        }
        break;
      case 'd':
      case 'i':
        switch (length) {
          case kLong:
            n = std::snprintf(piece, sizeof piece, (conv + "ld").c_str(), va_arg(args, long));
            break;
          case kLongLong:
            n = std::snprintf(piece, sizeof piece, (conv + "lld").c_str(), va_arg(args, long long));
            break;
          case kSize:
            n = std::snprintf(piece, sizeof piece, (conv + "lld").c_str(),
                              static_cast<long long>(va_arg(args, ptrdiff_t)));
            break;
          default: n = std::snprintf(piece, sizeof piece, (conv + "d").c_str(), va_arg(args, int)); break;
        }
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        const std::string tail(1, conversion);
        switch (length) {
          case kLong:
            n = std::snprintf(piece, sizeof piece, (conv + "l" + tail).c_str(), va_arg(args, unsigned long));
            break;
          case kLongLong:
            n = std::snprintf(piece, sizeof piece, (conv + "ll" + tail).c_str(),
                              va_arg(args, unsigned long long));
            break;
          case kSize:
            n = std::snprintf(piece, sizeof piece, (conv + "ll" + tail).c_str(),
                              static_cast<unsigned long long>(va_arg(args, size_t)));
            break;
          default:
            n = std::snprintf(piece, sizeof piece, (conv + tail).c_str(), va_arg(args, unsigned));
            break;
        }
        break;
      }
      case 'p': n = std::snprintf(piece, sizeof piece, (conv + "p").c_str(), va_arg(args, void*)); break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        const std::string tail(1, conversion);
        if (length == kLongDouble)
          n = std::snprintf(piece, sizeof piece, (conv + "L" + tail).c_str(), va_arg(args, long double));
        else
          n = std::snprintf(piece, sizeof piece, (conv + tail).c_str(), va_arg(args, double));
        break;
      }
      default: return -1;  // "%n" and anything unknown
    }
    if (n < 0) return -1;
    text.append(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
  }
  if (size > 0) {
    const size_t copy = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), copy);
    out[copy] = '\0';
  }
  return static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
}

}  // namespace

int WriteLog(const char* format, ...) {
  if (!s_logSwitch.load(std::memory_order_relaxed)) return 1;
  if (format == nullptr) return 0;

  wchar_t path[kHkbhPathChars];
  {
    std::lock_guard<hkb::SrwLock> hold(s_logPathLock);
    std::memcpy(path, s_logPath, sizeof path);
  }
  // Entries of this process are written one at a time, and the file is
  // opened for appending only, which on Windows makes every write land at
  // the end in one step: entries of threads or processes that log at the same
  // moment follow each other instead of overwriting each other.
  std::lock_guard<hkb::SrwLock> one_entry_at_a_time(s_logWriteLock);
  hkb::UniqueFile file(::CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  ::SetFilePointer(file.get(), 0, nullptr, FILE_END);

  char buffer[kHkbhLogEntryBytes] = {};
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  std::snprintf(buffer, sizeof buffer, "[%04d/%02d/%02d %02d:%02d:%02d.%03d]", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  AppendText(file.get(), buffer);

  va_list args;
  va_start(args, format);
  int length = -1;
  try {
    length = FormatEntry(buffer, sizeof buffer, format, args);
  } catch (const std::bad_alloc&) {
    length = -1;
  }
  va_end(args);
  if (length < 0) {
    // The message could not be formatted at all: keep the line structure.
    std::snprintf(buffer, sizeof buffer, "(unformattable entry)\r\n");
  } else if (static_cast<size_t>(length) >= sizeof buffer) {
    // Cut to the buffer; the entry still ends its line.
    buffer[sizeof buffer - 3] = '\r';
    buffer[sizeof buffer - 2] = '\n';
    buffer[sizeof buffer - 1] = '\0';
  }
  return AppendText(file.get(), buffer);
}

HkbhTrace::HkbhTrace(const wchar_t* name) noexcept : m_name(name) { WriteLog("%S IN\r\n", name); }

HkbhTrace::HkbhTrace(const wchar_t* name, const wchar_t* argument) noexcept : m_name(name) {
  WriteLog("%S(%S) IN\r\n", name, HkbhText(argument));
}

HkbhTrace::HkbhTrace(const wchar_t* name, const wchar_t* first, const wchar_t* second) noexcept
    : m_name(name) {
  WriteLog("%S(%S, %S) IN\r\n", name, HkbhText(first), HkbhText(second));
}

HRESULT HkbhTrace::Out(HRESULT hr) const noexcept {
  WriteLog("%S OUT(0x%08X)\r\n", m_name, static_cast<unsigned>(hr));
  return hr;
}

int HkbhTrace::OutValue(int value) const noexcept {
  WriteLog("%S OUT(%d)\r\n", m_name, value);
  return value;
}

void HkbhTrace::Out() const noexcept { WriteLog("%S OUT\r\n", m_name); }

void HkbhSetLogSwitch(BOOL on) { s_logSwitch.store(on ? TRUE : FALSE); }

BOOL HkbhIsLogSwitchOn() { return s_logSwitch.load(); }

BOOL HkbhGetExecutableBaseName(wchar_t (&out)[kHkbhPathChars]) {
  wchar_t exe[kHkbhPathChars];
  const DWORD n = hkb::ModuleFileName(nullptr, exe);
  if (n == 0) return FALSE;
  const std::wstring base = hkbh::ExecutableBaseName(std::wstring_view(exe, n));
  std::swprintf(out, kHkbhPathChars, L"%.259ls", base.c_str());
  return TRUE;
}

BOOL HkbhBuildLogPath() {
  wchar_t local[kHkbhPathChars];
  const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, static_cast<DWORD>(kHkbhPathChars));
  if (n == 0 || n >= kHkbhPathChars) return FALSE;
  wchar_t base[kHkbhPathChars];
  if (!HkbhGetExecutableBaseName(base)) return FALSE;
  wchar_t path[kHkbhPathChars];
  const int len =
      std::swprintf(path, kHkbhPathChars, L"%ls\\ZEV\\HkbHelper\\%ls\\%ls", local, base, L"HkbHelperLog.txt");
  if (len < 0 || static_cast<size_t>(len) >= kHkbhPathChars) return FALSE;
  std::lock_guard<hkb::SrwLock> hold(s_logPathLock);
  std::memcpy(s_logPath, path, sizeof path);
  return TRUE;
}

void HkbhGetLogPath(wchar_t (&out)[kHkbhPathChars]) {
  std::lock_guard<hkb::SrwLock> hold(s_logPathLock);
  std::memcpy(out, s_logPath, sizeof out);
}
