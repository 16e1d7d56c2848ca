// What every in-process COM stand-in needs besides its own methods: IUnknown
// for its objects, the class object that makes them, the module's count of
// live objects and locks, and the two DLL entry points. Header only; each
// stand-in DLL has its own counts.
//
//   class Thing final : public hkbstandin::ComObject<IThing, IID_IThing> { ... };
//   HKBSTANDIN_INPROC_SERVER(Thing, CLSID_Thing)
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

namespace hkbstandin {

// Objects of this module that are alive, and locks on its class objects:
// what DllCanUnloadNow answers from.
inline std::atomic<long> s_objects{0};
inline std::atomic<long> s_locks{0};

// IUnknown for an object that answers to `kIid` (and IUnknown) as
// `Interface`. It starts with one reference, deletes itself on the last
// release and counts among the module's live objects. A class that answers
// to further interfaces names them in Other().
template <class Interface, const IID& kIid>
class ComObject : public Interface {
 public:
  ComObject() { ++s_objects; }
  virtual ~ComObject() { --s_objects; }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = iid == IID_IUnknown || iid == kIid ? static_cast<Interface*>(this) : Other(iid);
    if (!*out) return E_NOINTERFACE;
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --m_refs;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  // The object as another interface it answers to, or nullptr.
  virtual void* Other(REFIID) { return nullptr; }

 private:
  std::atomic<long> m_refs{1};
};

// The class object: makes objects of T (created with one reference) and
// counts LockServer calls in the module's locks. It lives as long as the
// module, so its references are not counted.
template <class T>
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
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
      ++s_locks;
    else
      --s_locks;
    return S_OK;
  }
};

// DllGetClassObject of a server of the one class `served`, whose objects are T.
template <class T>
HRESULT GetClassObject(REFCLSID served, REFCLSID asked, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (asked != served) return CLASS_E_CLASSNOTAVAILABLE;
  static ClassFactory<T> factory;
  return factory.QueryInterface(iid, out);
}

// DllCanUnloadNow: no object alive and no lock held.
inline HRESULT CanUnloadNow() { return s_objects == 0 && s_locks == 0 ? S_OK : S_FALSE; }

}  // namespace hkbstandin

// The two exports of an in-process server of one class (listed in its .def).
#define HKBSTANDIN_INPROC_SERVER(Class, clsid)                                                  \
  extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID asked, REFIID iid, void** out) { \
    return hkbstandin::GetClassObject<Class>(clsid, asked, iid, out);                           \
  }                                                                                             \
  extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return hkbstandin::CanUnloadNow(); }
