#include "atomic_save.h"

#include <shlwapi.h>

#include <atomic>
#include <cwchar>
#include <new>
#include <string>

#include "catalogue_logic.h"
#include "hkb/com.h"
#include "hkb/unique.h"
#include "hkbh_log.h"

namespace {

// The file stream under the catalogue writer. It passes everything on and
// remembers the first write that failed, so that a document cut short by a
// failing disk is never taken for a complete one, whatever the writer's own
// bookkeeping reports afterwards.
class CWatchedStream final : public IStream {
 public:
  explicit CWatchedStream(IStream* inner) : m_inner(inner) { m_inner->AddRef(); }
  HRESULT failure() const { return m_failure; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
    return m_inner->Read(pv, cb, read);
  }
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override {
    ULONG done = 0;
    HRESULT hr = m_inner->Write(pv, cb, &done);
    if (SUCCEEDED(hr) && done != cb) hr = STG_E_MEDIUMFULL;
    if (FAILED(hr) && SUCCEEDED(m_failure)) m_failure = hr;
    if (written) *written = done;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
    return m_inner->Seek(move, origin, pos);
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return m_inner->SetSize(size); }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override {
    return m_inner->CopyTo(to, cb, read, written);
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return m_inner->Commit(flags); }
  HRESULT STDMETHODCALLTYPE Revert() override { return m_inner->Revert(); }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD type) override {
    return m_inner->LockRegion(off, cb, type);
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD type) override {
    return m_inner->UnlockRegion(off, cb, type);
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return m_inner->Stat(stat, flags); }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~CWatchedStream() { m_inner->Release(); }
  IStream* m_inner;
  std::atomic<ULONG> m_refs{1};
  HRESULT m_failure = S_OK;
};

// A temporary file of a save younger than this may belong to a save that is
// still running (another process of the same name saves to the same folder);
// older ones are left over from a save that was killed before its rename.
constexpr ULONGLONG kLeftoverTempAge100ns = 10ull * 60 * 1000 * 1000 * 10;  // 10 minutes

// Removes the temporary files that killed saves left in the folder: only
// names the save itself gives them, only files, only old ones. A file that
// cannot be removed (still open, read-only) stays.
void RemoveLeftoverTempFiles(const wchar_t* folder, const wchar_t* operation) {
  std::wstring search = folder;
  if (!search.empty() && search.back() != L'\\') search += L'\\';
  const size_t folderLength = search.size();
  search += hkbh::kCatalogueTempPrefix;
  search += L"*.tmp";
  WIN32_FIND_DATAW entry;
  const hkb::UniqueFind find(::FindFirstFileW(search.c_str(), &entry));
  if (!find) return;
  FILETIME nowTime;
  ::GetSystemTimeAsFileTime(&nowTime);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const ULONGLONG now = ticks(nowTime);
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (!hkbh::IsCatalogueTempName(entry.cFileName)) continue;
    const ULONGLONG written = ticks(entry.ftLastWriteTime);
    if (written > now || now - written < kLeftoverTempAge100ns) continue;
    const std::wstring path = search.substr(0, folderLength) + entry.cFileName;
    if (::DeleteFileW(path.c_str()))
      WriteLog("%S Removed a temporary file left by an earlier save: %S\r\n", operation, entry.cFileName);
  } while (::FindNextFileW(find.get(), &entry));
}

// Writes what the system still holds of the file to the disk, so that the
// rename that follows never puts a file in place whose contents a power
// failure could lose.
HRESULT FlushToDisk(const wchar_t* path) {
  const hkb::UniqueFile file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !::FlushFileBuffers(file.get())) return HRESULT_FROM_WIN32(::GetLastError());
  return S_OK;
}

// The folder part of a path ("." for a bare file name), for the temporary file.
BOOL FolderOf(const wchar_t* path, wchar_t (&out)[kHkbhPathChars]) {
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr) {
    std::wcscpy(out, L".");
    return TRUE;
  }
  const size_t n = static_cast<size_t>(slash - path);
  if (n + 1 > kHkbhPathChars) return FALSE;
  std::wmemcpy(out, path, n);
  out[n] = L'\0';
  if (n == 0 || (n == 2 && path[1] == L':')) {  // "\x" or "C:\x": keep the root's backslash
    if (n + 2 > kHkbhPathChars) return FALSE;
    out[n] = L'\\';
    out[n + 1] = L'\0';
  }
  return TRUE;
}

}  // namespace

HRESULT HkbhSaveFileAtomically(const wchar_t* path, const wchar_t* operation, const HkbhStreamWriter& write) {
  HRESULT hr = S_OK;
  wchar_t folder[kHkbhPathChars];
  wchar_t temp[MAX_PATH];
  const BOOL haveFolder = FolderOf(path, folder);
  if (haveFolder) RemoveLeftoverTempFiles(folder, operation);
  if (!haveFolder) {
    hr = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  } else if (!::GetTempFileNameW(folder, hkbh::kCatalogueTempPrefix, 0, temp)) {
    // No file can be created there (folder missing, no access): the file
    // stays as it is.
    hr = HRESULT_FROM_WIN32(::GetLastError());
  } else {
    try {
      hkb::ComPtr<IStream> file;
      hr = ::SHCreateStreamOnFileW(temp, STGM_CREATE | STGM_WRITE, file.put());
      if (SUCCEEDED(hr)) {
        auto watched = hkb::ComPtr<CWatchedStream>::attach(new CWatchedStream(file.get()));
        hr = write(watched.get());
        if (SUCCEEDED(hr) && FAILED(watched->failure())) hr = watched->failure();
        if (SUCCEEDED(hr)) {
          const HRESULT commit = file->Commit(STGC_DEFAULT);
          if (FAILED(commit) && commit != E_NOTIMPL) hr = commit;
        }
      }
      // The streams are released here: the file is closed before it
      // replaces the old one.
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) hr = FlushToDisk(temp);
    if (SUCCEEDED(hr) && !::MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      hr = HRESULT_FROM_WIN32(::GetLastError());
    if (FAILED(hr)) ::DeleteFileW(temp);
  }
  return hr;
}
