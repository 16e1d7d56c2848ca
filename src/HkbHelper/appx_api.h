// The few interfaces of the platform's packaging API that the manifest reader
// uses. MinGW ships no appxpackaging.h, so they are declared here with the
// identifiers and method order the platform's AppxPackaging.idl gives them.
// Slots the library never calls are declared with opaque out-pointers so that
// the table keeps its layout.
#pragma once

#include <windows.h>
#include <objidl.h>

// {5842A140-FF9F-4166-8F5C-62F5B7B0C781}
inline constexpr CLSID kClsidAppxFactory = {
    0x5842A140, 0xFF9F, 0x4166, {0x8F, 0x5C, 0x62, 0xF5, 0xB7, 0xB0, 0xC7, 0x81}};
// {BEB94909-E451-438B-B5A7-D79E767B75D8}
inline constexpr IID kIidAppxFactory = {
    0xBEB94909, 0xE451, 0x438B, {0xB5, 0xA7, 0xD7, 0x9E, 0x76, 0x7B, 0x75, 0xD8}};
// {4E1BD148-55A0-4480-A3D1-15544710637C}
inline constexpr IID kIidAppxManifestReader = {
    0x4E1BD148, 0x55A0, 0x4480, {0xA3, 0xD1, 0x15, 0x54, 0x47, 0x10, 0x63, 0x7C}};
// {9EB8A55A-F04B-4D0D-808D-686185D4847A}
inline constexpr IID kIidAppxManifestApplicationsEnumerator = {
    0x9EB8A55A, 0xF04B, 0x4D0D, {0x80, 0x8D, 0x68, 0x61, 0x85, 0xD4, 0x84, 0x7A}};
// {5DA89BF4-3773-46BE-B650-7E744863B7E8}
inline constexpr IID kIidAppxManifestApplication = {
    0x5DA89BF4, 0x3773, 0x46BE, {0xB6, 0x50, 0x7E, 0x74, 0x48, 0x63, 0xB7, 0xE8}};

struct IAppxManifestApplication : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStringValue(LPCWSTR name, LPWSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAppUserModelId(LPWSTR* appUserModelId) = 0;
};

struct IAppxManifestApplicationsEnumerator : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCurrent(IAppxManifestApplication** application) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHasCurrent(BOOL* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveNext(BOOL* hasNext) = 0;
};

struct IAppxManifestReader : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPackageId(IUnknown** packageId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(IUnknown** packageProperties) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPackageDependencies(IUnknown** dependencies) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResources(IUnknown** resources) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceCapabilities(IUnknown** deviceCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPrerequisite(LPCWSTR name, UINT64* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetApplications(IAppxManifestApplicationsEnumerator** applications) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStream(IStream** manifestStream) = 0;
};

struct IAppxFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreatePackageWriter(IStream* outputStream, void* settings,
                                                        IUnknown** packageWriter) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreatePackageReader(IStream* inputStream, IUnknown** packageReader) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateManifestReader(IStream* inputStream,
                                                         IAppxManifestReader** manifestReader) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateBlockMapReader(IStream* inputStream, IUnknown** blockMapReader) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateValidatedBlockMapReader(IStream* blockMapStream,
                                                                  LPCWSTR signatureFileName,
                                                                  IUnknown** blockMapReader) = 0;
};
