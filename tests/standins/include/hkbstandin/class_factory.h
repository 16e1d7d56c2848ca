// The class object of an in-process stand-in server: makes objects of T
// (created with one reference) and counts LockServer calls for
// DllCanUnloadNow.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

namespace hkbstandin {

template <class T>
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T;
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ++m_locks;
    else
      --m_locks;
    return S_OK;
  }
  bool Locked() const { return m_locks != 0; }

 private:
  std::atomic<long> m_locks{0};
};

}  // namespace hkbstandin
