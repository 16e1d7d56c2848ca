// "RegServer" and "UnregServer": exactly the table's keys, the type library,
// the switch rule, and what the type library and manifest say.
#include <gtest/gtest.h>

#include <algorithm>

#include "hkbtest/harness.h"
#include "server_support.h"

namespace {

using keydbtest::InstalledServer;
using keydbtest::Library;
using keydbtest::Server;
using Lines = std::vector<std::string>;

Lines Written() { return keydbtest::RegisteredClassKeys(Server().view); }
Lines Table(const std::wstring& program) { return keydbtest::ClassRegistrationTable(program); }

bool TypeLibraryRegistered() {
  hkb::ComPtr<ITypeLib> lib;
  return SUCCEEDED(::LoadRegTypeLib(LIBID_KEYDBWRAPPERLib, 1, 0, 0, lib.put()));
}

TEST(KeyDbRegistration, WritesExactlyTheTableAndTakesItAwayAgain) {
  hkb::ComInit com;
  InstalledServer server(Library::kNone, L"KeyDbWrapper.exe", /*do_register=*/false);
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(Written().empty()) << "registration left from an earlier run";
  const struct {
    const wchar_t* args;
    bool registered;
  } steps[] = {
      {L"/RegServer", true}, {L"-unregserver", false}, {L"-REGSERVER", true}, {L"/UnregServer", false}};
  for (const auto& step : steps) {
    SCOPED_TRACE(hkbtest::Utf8(step.args));
    EXPECT_EQ(server.Run(step.args), std::optional<DWORD>(S_OK));
    if (step.registered) {
      EXPECT_EQ(Written(), Table(server.path()));
      EXPECT_TRUE(TypeLibraryRegistered());
      // The type library is registered with the program as its file.
      BSTR registered = nullptr;
      ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_KEYDBWRAPPERLib, 1, 0, 0, &registered), S_OK);
      hkb::Bstr owned;
      *owned.put() = registered;
      EXPECT_EQ(std::wstring(owned.get()), server.path());
      EXPECT_TRUE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + keydbtest::kIid,
                                     Server().view));
    } else {
      EXPECT_EQ(Written(), Lines{});
      EXPECT_FALSE(TypeLibraryRegistered());
      EXPECT_FALSE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + keydbtest::kLibId,
                                      Server().view));
      EXPECT_FALSE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + keydbtest::kIid,
                                      Server().view));
      EXPECT_TRUE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, L"AppID", Server().view));
      EXPECT_TRUE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, L"CLSID", Server().view));
    }
  }
}

TEST(KeyDbRegistration, SwitchFollowedByMoreTextRunsTheServer) {
  hkb::ComInit com;
  InstalledServer server(Library::kNone, L"KeyDbWrapper.exe", /*do_register=*/false);
  ASSERT_TRUE(server.ok());
  hkb::UniqueHandle process = server.Start(L"/RegServer now");
  ASSERT_TRUE(process);
  // Nothing is registered, so a client reaches the class only through the
  // class object of the program just started.
  hkb::ComPtr<IUnknown> obj;
  HRESULT hr = E_FAIL;
  const bool served = hkbtest::PumpUntil(
      [&] {
        hr = ::CoCreateInstance(CLSID_keyDbObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, obj.put_void());
        return SUCCEEDED(hr) || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
      },
      std::chrono::seconds(60));
  ASSERT_TRUE(served && SUCCEEDED(hr)) << std::hex << hr;
  EXPECT_EQ(::WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  hkb::ComPtr<IDispatch> disp;
  ASSERT_EQ(obj.as(IID_IDispatch, disp), S_OK);
  UINT count = 0;
  EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Written(), Lines{}) << "the server registered itself";
}

// The embedded type library, read from the shipped program file.
TEST(KeyDbRegistration, TypeLibraryAndManifestOfTheShippedProgram) {
  const std::wstring shipped = hkbtest::DistFile(L"Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe");
  hkb::ComPtr<ITypeLib> lib;
  ASSERT_EQ(::LoadTypeLibEx(shipped.c_str(), REGKIND_NONE, lib.put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_KEYDBWRAPPERLib);
  EXPECT_EQ(attr->lcid, 0u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, SYS_WIN32);
  lib->ReleaseTLibAttr(attr);

  // Help strings are stored as bytes of the code page the library was built
  // in (932) and read back in the reader's ANSI code page: back to bytes,
  // then read as 932.
  const auto doc = [&](int index) {
    hkb::Bstr name, text;
    lib->GetDocumentation(index, name.put(), text.put(), nullptr, nullptr);
    std::string bytes(static_cast<size_t>(::SysStringLen(text.get())) * 2, '\0');
    bytes.resize(static_cast<size_t>(::WideCharToMultiByte(
        CP_ACP, 0, text.get(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
    std::wstring decoded(bytes.size(), L'\0');
    decoded.resize(static_cast<size_t>(
        ::MultiByteToWideChar(932, 0, bytes.data(), -1, decoded.data(), static_cast<int>(decoded.size()))));
    while (!decoded.empty() && decoded.back() == 0) decoded.pop_back();
    return std::make_pair(std::wstring(name.get() ? name.get() : L""), decoded);
  };
  EXPECT_EQ(
      doc(-1),
      std::make_pair(
          std::wstring(L"KEYDBWRAPPERLib"),
          std::wstring(L"KeyDbWrapper 1.0 \uff80\uff72\uff8c\uff9f \uff97\uff72\uff8c\uff9e\uff97\uff98")));

  hkb::ComPtr<ITypeInfo> cls, dual, vtbl;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_keyDbObj, cls.put()), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IkeyDbObj, dual.put()), S_OK);
  const auto flags = [](ITypeInfo* info) {
    TYPEATTR* a = nullptr;
    info->GetTypeAttr(&a);
    const auto r = std::make_pair(a->typekind, a->wTypeFlags);
    info->ReleaseTypeAttr(a);
    return r;
  };
  EXPECT_EQ(flags(cls.get()), std::make_pair(TKIND_COCLASS, static_cast<WORD>(TYPEFLAG_FCANCREATE)));
  EXPECT_EQ(flags(dual.get()).first, TKIND_DISPATCH);
  EXPECT_EQ(flags(dual.get()).second & TYPEFLAG_FDUAL, TYPEFLAG_FDUAL);
  HREFTYPE ref = 0;
  ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
  hkb::ComPtr<ITypeInfo> def;
  ASSERT_EQ(cls->GetRefTypeInfo(ref, def.put()), S_OK);
  INT impl = 0;
  EXPECT_EQ(cls->GetImplTypeFlags(0, &impl), S_OK);
  EXPECT_EQ(impl & IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT);
  hkb::Bstr def_name, cls_doc, dual_doc;
  def->GetDocumentation(MEMBERID_NIL, def_name.put(), nullptr, nullptr, nullptr);
  cls->GetDocumentation(MEMBERID_NIL, nullptr, cls_doc.put(), nullptr, nullptr);
  dual->GetDocumentation(MEMBERID_NIL, nullptr, dual_doc.put(), nullptr, nullptr);
  EXPECT_STREQ(def_name.get(), L"IkeyDbObj");
  EXPECT_STREQ(cls_doc.get(), L"keyDbObj Class");
  EXPECT_STREQ(dual_doc.get(), L"IkeyDbObj Interface");

  // The vtable half: four methods after IDispatch's seven.
  ASSERT_EQ(dual->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  ASSERT_EQ(dual->GetRefTypeInfo(ref, vtbl.put()), S_OK);
  EXPECT_EQ(flags(vtbl.get()).first, TKIND_INTERFACE);
  EXPECT_EQ(flags(vtbl.get()).second & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION),
            TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
  const struct {
    MEMBERID id;
    const wchar_t* name;
    const wchar_t* param;
    const wchar_t* out;
    bool text;  // out is the 260-unit array, else a pointer to a 32-bit integer
  } methods[] = {{1, L"GetPathByID_LEDWrapper", L"Id", L"szPath", true},
                 {2, L"IsEquippedWithWrapper", L"Id", L"szPath", true},
                 {3, L"GetExecpathStatusWrapper", L"lngApid", L"plngStatus", false},
                 {4, L"GetPackageNameIDWrapper", L"Id", L"szPackageName", true}};
  for (UINT i = 0; i < std::size(methods); ++i) {
    const auto& m = methods[i];
    SCOPED_TRACE(hkbtest::Utf8(m.name));
    FUNCDESC* f = nullptr;
    ASSERT_EQ(vtbl->GetFuncDesc(i, &f), S_OK);
    EXPECT_EQ(f->memid, m.id);
    EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(f->cParams, 2);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(f->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(f->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    const TYPEDESC& out = f->lprgelemdescParam[1].tdesc;
    if (m.text) {
      ASSERT_EQ(out.vt, VT_CARRAY);
      EXPECT_EQ(out.lpadesc->tdescElem.vt, VT_UI2);
      EXPECT_EQ(out.lpadesc->cDims, 1);
      EXPECT_EQ(out.lpadesc->rgbounds[0].cElements, 260u);
    } else {
      ASSERT_EQ(out.vt, VT_PTR);
      EXPECT_EQ(out.lptdesc->vt, VT_I4);
    }
    vtbl->ReleaseFuncDesc(f);
    BSTR names[3] = {};
    UINT got = 0;
    EXPECT_EQ(vtbl->GetNames(m.id, names, 3, &got), S_OK);
    ASSERT_EQ(got, 3u);
    EXPECT_STREQ(names[0], m.name);
    EXPECT_STREQ(names[1], m.param);
    EXPECT_STREQ(names[2], m.out);
    for (BSTR n : names) ::SysFreeString(n);
    hkb::Bstr help;
    EXPECT_EQ(vtbl->GetDocumentation(m.id, nullptr, help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(help.get()), std::wstring(L"method ") + m.name);
  }

  // The manifest names the program, x86, asInvoker.
  hkb::UniqueModule image(::LoadLibraryExW(shipped.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(image);
  HRSRC res = ::FindResourceW(image.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(res, nullptr);
  const std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(image.get(), res))),
                             ::SizeofResource(image.get(), res));
  EXPECT_NE(manifest.find("name=\"ZEV.APP.KeyDbWrapper\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("processorArchitecture=\"x86\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
}

}  // namespace
