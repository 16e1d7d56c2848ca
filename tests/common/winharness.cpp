#include "hkbtest/harness.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace hkbtest {

std::wstring EnvFolder(const wchar_t* variable) {
  std::wstring s = Env(variable);
  if (!s.empty() && s.back() != L'\\') s += L'\\';
  return s;
}

std::wstring DistFile(const std::wstring& relative) { return EnvFolder(L"HKB_DIST") + relative; }
std::wstring StandinFile(const std::wstring& name) { return EnvFolder(L"HKB_STANDINS") + name; }
std::wstring Standin32File(const std::wstring& name) { return EnvFolder(L"HKB_STANDINS32") + name; }

std::wstring ArtifactFile(const std::wstring& name) {
  std::wstring dir = EnvFolder(L"HKB_ARTIFACTS");
  if (dir.empty()) dir = TempFolder();
  ::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  return dir + name;
}

int Rounds(int quick, int soak, const char* variable) {
  if (const char* n = variable ? std::getenv(variable) : nullptr) return std::max(1, std::atoi(n));
  const char* mode = std::getenv("HKB_SOAK");
  return mode && std::string(mode) == "1" ? soak : quick;
}

std::wstring ProgramFiles() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
  return path;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring TempFilePath(const wchar_t* prefix) {
  wchar_t file[MAX_PATH];
  ::GetTempFileNameW(TempFolder().c_str(), prefix, 0, file);
  ::DeleteFileW(file);
  return file;
}

Library::Library(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str())) {
  if (!m_module) m_error = ::GetLastError();
}

RecordingWindow::RecordingWindow(const wchar_t* cls, const wchar_t* title) : m_class(cls) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &RecordingWindow::Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = m_class.c_str();
  ::RegisterClassExW(&wc);
  m_wnd.reset(::CreateWindowExW(0, m_class.c_str(), title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                wc.hInstance, nullptr));
  ::SetWindowLongPtrW(m_wnd.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RecordingWindow::~RecordingWindow() {
  m_wnd.reset();
  ::UnregisterClassW(m_class.c_str(), ::GetModuleHandleW(nullptr));
}

const std::vector<Msg>& RecordingWindow::received() {
  PumpFor(std::chrono::milliseconds(0));
  return m_messages;
}

LRESULT CALLBACK RecordingWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<RecordingWindow*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (self && msg >= WM_USER) self->m_messages.push_back({msg, wp, lp});
  return ::DefWindowProcW(wnd, msg, wp, lp);
}

ScopedFileCopy::ScopedFileCopy(const std::wstring& source, const std::wstring& target) : m_target(target) {
  // Create each missing parent folder, remembering which ones to remove.
  std::vector<std::wstring> parents;
  for (size_t pos = target.find_last_of(L'\\'); pos != std::wstring::npos && pos > 2;
       pos = target.find_last_of(L'\\', pos - 1)) {
    std::wstring dir = target.substr(0, pos);
    if (FileExists(dir)) break;
    parents.push_back(dir);
  }
  for (auto it = parents.rbegin(); it != parents.rend(); ++it) {
    if (::CreateDirectoryW(it->c_str(), nullptr)) m_createdDirs.push_back(*it);
  }
  m_ok = ::CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
  if (!m_ok) m_error = ::GetLastError();
}

ScopedFileCopy::~ScopedFileCopy() {
  // A started copy may still be running for a moment; retry the delete.
  WaitUntil([&] { return !FileExists(m_target) || ::DeleteFileW(m_target.c_str()); },
            std::chrono::seconds(5));
  for (auto it = m_createdDirs.rbegin(); it != m_createdDirs.rend(); ++it) ::RemoveDirectoryW(it->c_str());
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : m_name(name), m_old(Env(name)) {
  m_had = !m_old.empty();
  ::SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { ::SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }

bool SaveScreenshot(const std::wstring& name) {
  const int x = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int w = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int h = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (w <= 0 || h <= 0) return false;

  hkb::WindowDc screen(nullptr);
  hkb::UniqueMemDc mem(::CreateCompatibleDC(screen.get()));
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store it
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  hkb::UniqueGdi bmp(::CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!mem || !bmp || !bits) return false;
  {
    hkb::SelectObjectScope sel(mem.get(), bmp.get());
    if (!::BitBlt(mem.get(), 0, 0, w, h, screen.get(), x, y, SRCCOPY)) return false;
  }
  ::GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
  const DWORD image = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER fh = {};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + image;
  bi.bmiHeader.biSizeImage = image;
  std::string data(reinterpret_cast<const char*>(&fh), sizeof fh);
  data.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(BITMAPINFOHEADER));
  data.append(static_cast<const char*>(bits), image);
  return WriteFileBytes(ArtifactFile(name), data);
}

}  // namespace hkbtest
