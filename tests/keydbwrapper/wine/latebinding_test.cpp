// The dispatch half of the dual interface, for a client that knows only the
// ProgID: names to DISPIDs, and the status method through Invoke.
#include <gtest/gtest.h>

#include "server_support.h"
#include "hkbtest/text.h"

namespace {

using keydbtest::InstalledServer;

HRESULT InvokeStatus(IDispatch* disp, VARIANT arg, VARIANT* result) {
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  EXCEPINFO ex = {};
  UINT bad = 0;
  return disp->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &ex, &bad);
}

TEST(KeyDbLateBinding, NamesAndTheStatusMethodThroughIDispatch) {
  hkb::ComInit com;
  InstalledServer server;
  ASSERT_TRUE(server.ok());
  server.SetScenario("GetExecpathStatus 11 42\nGetExecpathStatus 13 -1\n");
  for (const wchar_t* progid : {L"KeyDbWrapper.keyDbObj", L"KeyDbWrapper.keyDbObj.1"}) {
    SCOPED_TRACE(hkbtest::Utf8(progid));
    CLSID clsid = {};
    ASSERT_EQ(::CLSIDFromProgID(progid, &clsid), S_OK);
    hkb::ComPtr<IDispatch> disp;
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, disp.put_void()), S_OK);

    const wchar_t* names[] = {L"GetPathByID_LEDWrapper", L"IsEquippedWithWrapper",
                              L"GetExecpathStatusWrapper", L"GetPackageNameIDWrapper",
                              L"getexecpathstatuswrapper"};
    const DISPID expected[] = {1, 2, 3, 4, 3};
    for (size_t i = 0; i < std::size(names); ++i) {
      LPOLESTR name = const_cast<LPOLESTR>(names[i]);
      DISPID id = -1;
      EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
      EXPECT_EQ(id, expected[i]) << hkbtest::Utf8(names[i]);
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"GetPathByID_LED");
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

    // The argument as the client has it (coerced to long by the call), and
    // the status that comes back; the stand-in answers 0 for an unknown id.
    const struct {
      VARTYPE vt;
      LONG id;
      const wchar_t* text;
      LONG status;
    } calls[] = {
        {VT_I4, 11, nullptr, 42}, {VT_BSTR, 0, L"11", 42}, {VT_I4, 13, nullptr, -1}, {VT_I2, 99, nullptr, 0}};
    for (const auto& c : calls) {
      SCOPED_TRACE(c.id);
      hkb::Variant arg, result;
      arg.get().vt = c.vt;
      if (c.vt == VT_BSTR)
        arg.get().bstrVal = ::SysAllocString(c.text);
      else if (c.vt == VT_I2)
        arg.get().iVal = static_cast<SHORT>(c.id);
      else
        arg.get().lVal = c.id;
      EXPECT_EQ(InvokeStatus(disp.get(), arg.get(), &result), S_OK);
      EXPECT_EQ(result.get().vt, VT_I4);
      EXPECT_EQ(result.get().lVal, c.status);
    }
  }
}

}  // namespace
