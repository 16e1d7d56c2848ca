#include "keyDbObj.h"

#include <new>
#include <string>

#include "server_module.h"
#include "atl_string.h"
#include "hkb/guard.h"
#include "hkb/module.h"
#include "hkb/unique.h"
#include "keydb_logic.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units on both sides");

// KeyDb.dll's exports, all stdcall: the text ones fill the caller's string
// object (passed by reference) and return non-zero on success; the status
// one returns a status that is negative on failure.
using TextExport = int(WINAPI*)(int id, atl::CStringW& text);
using StatusExport = int(WINAPI*)(int app_id);

constexpr LONG kNoStatus = -4;

enum class Outcome { kNotLoaded, kMissing, kRejected, kAnswered };

FARPROC Export(HMODULE lib, const char* name) noexcept { return ::GetProcAddress(lib, name); }

// Loads KeyDb.dll by its bare name (the copy beside this program comes
// first; the current folder is out of the search, see wWinMain), calls the
// text export `name` with an empty string object and, when it answers,
// copies the text into the caller's 260-unit buffer. The string object goes
// before the library is freed.
Outcome AskForText(const char* name, LONG id, unsigned short* out) noexcept {
  hkb::UniqueModule lib(::LoadLibraryW(L"KeyDb.dll"));
  if (!lib) return Outcome::kNotLoaded;
  const auto fn = reinterpret_cast<TextExport>(reinterpret_cast<void*>(Export(lib.get(), name)));
  if (!fn) return Outcome::kMissing;
  atl::CStringW text;
  if (!fn(id, text)) return Outcome::kRejected;
  keydb::CopyTerminated(text.GetString(), out, keydb::kTextUnits);
  return Outcome::kAnswered;
}

}  // namespace

HRESULT CkeyDbObj::CreateInstance(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto* obj = new (std::nothrow) CkeyDbObj();
  if (!obj) return E_OUTOFMEMORY;
  const HRESULT hr = obj->QueryInterface(riid, ppv);
  obj->Release();
  return hr;
}

CkeyDbObj::CkeyDbObj() noexcept { s_Module.Lock(); }
CkeyDbObj::~CkeyDbObj() { s_Module.Unlock(); }

HRESULT CkeyDbObj::QueryInterface(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IkeyDbObj) {
    *ppv = static_cast<IkeyDbObj*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CkeyDbObj::AddRef() noexcept { return ++m_cRef; }

ULONG CkeyDbObj::Release() noexcept {
  const ULONG left = --m_cRef;
  if (left == 0) delete this;
  return left;
}

HRESULT CkeyDbObj::GetTypeInfoCount(UINT* pctinfo) noexcept {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

HRESULT CkeyDbObj::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) noexcept {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  if (iTInfo != 0) return DISP_E_BADINDEX;
  return s_Module.GetTypeInfo(ppTInfo);
}

HRESULT CkeyDbObj::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                 DISPID* rgDispId) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  hkb::ComPtr<ITypeInfo> info;
  const HRESULT hr = s_Module.GetInvokeInfo(info.put());
  if (FAILED(hr)) return hr;
  return ::DispGetIDsOfNames(info.get(), rgszNames, cNames, rgDispId);
}

HRESULT CkeyDbObj::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                          VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  hkb::ComPtr<ITypeInfo> info;
  const HRESULT hr = s_Module.GetInvokeInfo(info.put());
  if (FAILED(hr)) return hr;
  return ::DispInvoke(static_cast<IkeyDbObj*>(this), info.get(), dispIdMember, wFlags, pDispParams,
                      pVarResult, pExcepInfo, puArgErr);
}

HRESULT CkeyDbObj::GetPathByID_LEDWrapper(LONG Id, unsigned short szPath[260]) noexcept {
  if (!szPath) return E_POINTER;
  switch (AskForText("GetPathByID_LED", Id, szPath)) {
    case Outcome::kNotLoaded: return TYPE_E_CANTLOADLIBRARY;
    case Outcome::kMissing: return TYPE_E_DLLFUNCTIONNOTFOUND;
    default: return S_OK;
  }
}

HRESULT CkeyDbObj::GetPackageNameIDWrapper(LONG Id, unsigned short szPackageName[260]) noexcept {
  if (!szPackageName) return E_POINTER;
  switch (AskForText("GetPackageNameID", Id, szPackageName)) {
    case Outcome::kNotLoaded: return TYPE_E_CANTLOADLIBRARY;
    case Outcome::kMissing: return TYPE_E_DLLFUNCTIONNOTFOUND;
    default: return S_OK;
  }
}

// Only an equipped button is S_OK; every other outcome, failures included,
// is S_FALSE.
HRESULT CkeyDbObj::IsEquippedWithWrapper(LONG Id, unsigned short szPath[260]) noexcept {
  if (!szPath) return E_POINTER;
  return AskForText("IsEquippedWith", Id, szPath) == Outcome::kAnswered ? S_OK : S_FALSE;
}

// Loads KeyDb.dll only from this program's own folder, found by putting
// "KeyDb.dll" in place of "keydbwrapper.exe" in the lower-cased own path;
// under another program name there is no status (S_FALSE, -4).
HRESULT CkeyDbObj::GetExecpathStatusWrapper(LONG lngApid, LONG* plngStatus) noexcept {
  if (!plngStatus) return E_POINTER;
  HRESULT hr = S_FALSE;
  LONG status = kNoStatus;
  wchar_t path[MAX_PATH] = {};
  // A path cut short by the buffer is not the own path: no status then.
  if (const DWORD n = hkb::ModuleFileName(nullptr, path)) {
    ::CharLowerBuffW(path, n);
    const std::u16string library = hkb::Guarded(std::u16string(), [&] {
      return keydb::StatusLibraryPath(std::u16string_view(reinterpret_cast<const char16_t*>(path), n));
    });
    if (!library.empty()) {
      hkb::UniqueModule lib(::LoadLibraryW(reinterpret_cast<const wchar_t*>(library.c_str())));
      if (lib) {
        const auto fn =
            reinterpret_cast<StatusExport>(reinterpret_cast<void*>(Export(lib.get(), "GetExecpathStatus")));
        if (fn) {
          status = fn(lngApid);
          if (status >= 0) hr = S_OK;
        }
      }
    }
  }
  *plngStatus = status;
  return hr;
}

HRESULT CkeyDbObj::InterfaceSupportsErrorInfo(REFIID riid) noexcept {
  return riid == IID_IkeyDbObj ? S_OK : S_FALSE;
}

HRESULT CkeyDbObjFactory::QueryInterface(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT CkeyDbObjFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return CkeyDbObj::CreateInstance(riid, ppv);
}

HRESULT CkeyDbObjFactory::LockServer(BOOL lock) noexcept {
  if (lock)
    s_Module.Lock();
  else
    s_Module.Unlock();
  return S_OK;
}
