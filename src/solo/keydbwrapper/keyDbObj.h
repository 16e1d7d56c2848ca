// The creatable class keyDbObj: IkeyDbObj (dual) and ISupportErrorInfo; each
// method loads KeyDb.dll, asks it, copies the answer and frees it again.
#pragma once

#include <windows.h>

#include <atomic>

#include "KeyDbWrapper_h.h"

class CkeyDbObj final : public IkeyDbObj, public ISupportErrorInfo {
 public:
  static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;

  // IDispatch, from the type library
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) noexcept override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                   UINT* puArgErr) noexcept override;

  // IkeyDbObj
  HRESULT STDMETHODCALLTYPE GetPathByID_LEDWrapper(LONG Id, unsigned short szPath[260]) noexcept override;
  HRESULT STDMETHODCALLTYPE IsEquippedWithWrapper(LONG Id, unsigned short szPath[260]) noexcept override;
  HRESULT STDMETHODCALLTYPE GetExecpathStatusWrapper(LONG lngApid, LONG* plngStatus) noexcept override;
  HRESULT STDMETHODCALLTYPE GetPackageNameIDWrapper(LONG Id,
                                                    unsigned short szPackageName[260]) noexcept override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

 private:
  CkeyDbObj() noexcept;
  ~CkeyDbObj();

  std::atomic<ULONG> m_cRef{1};
};

// The class object registered with COM; lives as long as the program and
// does not count as a lock (clients hold the server with LockServer).
class CkeyDbObjFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;
};
