// The four methods from a 64-bit client through COM, against the KeyDb.dll
// stand-in beside the server: every row of the failure table, texts at and
// past the buffer's bound, the renamed program, and a KeyDb.dll planted in
// the current folder.
#include <gtest/gtest.h>

#include "hkbtest/harness.h"
#include "server_support.h"

namespace {

using keydbtest::InstalledServer;
using keydbtest::Library;
using keydbtest::TextBuffer;

enum class Method { kPath, kEquipped, kStatus, kPackage };

const char* ExportOf(Method m) {
  switch (m) {
    case Method::kPath: return "GetPathByID_LED";
    case Method::kEquipped: return "IsEquippedWith";
    case Method::kStatus: return "GetExecpathStatus";
    default: return "GetPackageNameID";
  }
}

struct Answer {
  HRESULT hr = E_FAIL;
  std::wstring text;  // text methods
  LONG status = 0;    // status method
};

Answer Call(IkeyDbObj* obj, Method m, LONG id) {
  Answer a;
  TextBuffer buf;
  switch (m) {
    case Method::kPath: a.hr = obj->GetPathByID_LEDWrapper(id, buf.units); break;
    case Method::kEquipped: a.hr = obj->IsEquippedWithWrapper(id, buf.units); break;
    case Method::kPackage: a.hr = obj->GetPackageNameIDWrapper(id, buf.units); break;
    case Method::kStatus:
      a.status = 12345;
      a.hr = obj->GetExecpathStatusWrapper(id, &a.status);
      return a;
  }
  a.text = buf.Text();
  return a;
}

std::wstring Digits(size_t n) {
  std::wstring s(n, L'0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<wchar_t>(L'0' + i % 10);
  return s;
}

const char kScenario[] =
    "GetPathByID_LED 1 1 C:\\Program Files\\ZEV\\Launcher.exe\n"
    "GetPathByID_LED 2 0 REJECTED\n"
    "GetPathByID_LED 3 1 *1000\n"
    "GetPathByID_LED 4 1\n"
    "IsEquippedWith 1 1 YES\n"
    "IsEquippedWith 2 0 REJECTED\n"
    "IsEquippedWith 3 -7 *259\n"
    "GetPackageNameID 1 1 ZEV.ButtonSettings_8wekyb3d8bbwe\n"
    "GetPackageNameID 2 0 REJECTED\n"
    "GetPackageNameID 3 1 \xE3\x83\x9C\xE3\x82\xBF\xE3\x83\xB3\xE8\xA8\xAD\xE5\xAE\x9A\n"
    "GetPackageNameID 4 1 *260\n"
    "GetExecpathStatus 10 0\n"
    "GetExecpathStatus 11 42\n"
    "GetExecpathStatus 12 -4\n"
    "GetExecpathStatus 13 -1\n";

struct Row {
  const char* what;
  Library library;
  Method method;
  LONG id;
  HRESULT hr;
  std::wstring text;  // for the text methods: what reaches the client
  LONG status;        // for the status method
  bool asked;         // the export was called with the id
};

// A buffer the server leaves alone goes back to the client as the marshaller
// gave it to the server: empty, never the database's text.
const Row kRows[] = {
    {"path", Library::kStandin, Method::kPath, 1, S_OK, L"C:\\Program Files\\ZEV\\Launcher.exe", 0, true},
    {"path rejected", Library::kStandin, Method::kPath, 2, S_OK, L"", 0, true},
    {"path of 1000 cut to 259", Library::kStandin, Method::kPath, 3, S_OK, Digits(259), 0, true},
    {"path empty", Library::kStandin, Method::kPath, 4, S_OK, L"", 0, true},
    {"path unknown id", Library::kStandin, Method::kPath, 99, S_OK, L"", 0, true},
    {"equipped", Library::kStandin, Method::kEquipped, 1, S_OK, L"YES", 0, true},
    {"not equipped", Library::kStandin, Method::kEquipped, 2, S_FALSE, L"", 0, true},
    {"equipped (any non-zero), 259 fit", Library::kStandin, Method::kEquipped, 3, S_OK, Digits(259), 0, true},
    {"package", Library::kStandin, Method::kPackage, 1, S_OK, L"ZEV.ButtonSettings_8wekyb3d8bbwe", 0, true},
    {"package rejected", Library::kStandin, Method::kPackage, 2, S_OK, L"", 0, true},
    {"package in Japanese", Library::kStandin, Method::kPackage, 3, S_OK, L"\u30DC\u30BF\u30F3\u8A2D\u5B9A",
     0, true},
    {"package of 260 cut to 259", Library::kStandin, Method::kPackage, 4, S_OK, Digits(259), 0, true},
    {"status 0", Library::kStandin, Method::kStatus, 10, S_OK, L"", 0, true},
    {"status 42", Library::kStandin, Method::kStatus, 11, S_OK, L"", 42, true},
    {"status -4", Library::kStandin, Method::kStatus, 12, S_FALSE, L"", -4, true},
    {"status -1", Library::kStandin, Method::kStatus, 13, S_FALSE, L"", -1, true},
    {"no library: path", Library::kNone, Method::kPath, 1, TYPE_E_CANTLOADLIBRARY, L"", 0, false},
    {"no library: equipped", Library::kNone, Method::kEquipped, 1, S_FALSE, L"", 0, false},
    {"no library: status", Library::kNone, Method::kStatus, 11, S_FALSE, L"", -4, false},
    {"no library: package", Library::kNone, Method::kPackage, 1, TYPE_E_CANTLOADLIBRARY, L"", 0, false},
    {"not an image: path", Library::kNotAnImage, Method::kPath, 1, TYPE_E_CANTLOADLIBRARY, L"", 0, false},
    {"not an image: status", Library::kNotAnImage, Method::kStatus, 11, S_FALSE, L"", -4, false},
    {"no exports: path", Library::kNoExports, Method::kPath, 1, TYPE_E_DLLFUNCTIONNOTFOUND, L"", 0, false},
    {"no exports: equipped", Library::kNoExports, Method::kEquipped, 1, S_FALSE, L"", 0, false},
    {"no exports: status", Library::kNoExports, Method::kStatus, 11, S_FALSE, L"", -4, false},
    {"no exports: package", Library::kNoExports, Method::kPackage, 1, TYPE_E_DLLFUNCTIONNOTFOUND, L"", 0,
     false},
    // The library is loaded per call: back in place, it answers again.
    {"library back", Library::kStandin, Method::kPath, 1, S_OK, L"C:\\Program Files\\ZEV\\Launcher.exe", 0,
     true},
};

TEST(KeyDbMethods, AnswerEveryRowOfTheFailureTable) {
  hkb::ComInit com;
  InstalledServer server;
  ASSERT_TRUE(server.ok());
  server.SetScenario(kScenario);
  HRESULT hr = E_FAIL;
  hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject(&hr);
  ASSERT_TRUE(obj) << std::hex << hr;
  Library current = Library::kStandin;
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.what);
    if (r.library != current) server.PutLibrary(current = r.library);
    server.ClearTrace();
    const Answer a = Call(obj.get(), r.method, r.id);
    EXPECT_EQ(a.hr, r.hr) << std::hex << a.hr;
    if (r.method == Method::kStatus)
      EXPECT_EQ(a.status, r.status);
    else
      EXPECT_EQ(a.text, r.text);
    std::vector<std::string> calls;
    for (const std::string& line : server.Trace()) calls.push_back(line.substr(line.find(' ') + 1));
    // Loaded for the call and freed before it returned.
    const std::vector<std::string> asked = {
        "attach 0", std::string(ExportOf(r.method)) + " " + std::to_string(r.id), "detach 0"};
    EXPECT_EQ(calls, r.asked ? asked : std::vector<std::string>{});
    // No method sets error information.
    hkb::ComPtr<IErrorInfo> info;
    EXPECT_EQ(::GetErrorInfo(0, info.put()), S_FALSE);
  }
  hkb::ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(obj.as(IID_ISupportErrorInfo, support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IkeyDbObj), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

TEST(KeyDbMethods, UnderAnotherProgramNameOnlyTheStatusIsMissing) {
  hkb::ComInit com;
  InstalledServer server(Library::kStandin, L"KeyDbServer.exe");
  ASSERT_TRUE(server.ok());
  server.SetScenario(kScenario);
  hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject();
  ASSERT_TRUE(obj);
  for (const Row& r : kRows) {
    if (r.library != Library::kStandin) continue;
    SCOPED_TRACE(r.what);
    server.ClearTrace();
    const Answer a = Call(obj.get(), r.method, r.id);
    if (r.method == Method::kStatus) {
      EXPECT_EQ(a.hr, S_FALSE);
      EXPECT_EQ(a.status, -4);
      EXPECT_TRUE(server.Trace().empty()) << "KeyDb.dll was loaded for a status";
    } else {
      EXPECT_EQ(a.hr, r.hr);
      EXPECT_EQ(a.text, r.text);
    }
  }
}

// A COM client's local server starts in the client's current folder under
// Wine; a KeyDb.dll there must not be what the server loads.
TEST(KeyDbMethods, KeyDbDllInTheCurrentFolderIsNotLoaded) {
  hkb::ComInit com;
  InstalledServer server(Library::kNone);
  ASSERT_TRUE(server.ok());
  const std::wstring planted = hkbtest::TempFolder() + L"keydb-planted\\";
  ::CreateDirectoryW(planted.c_str(), nullptr);
  const std::wstring dll = planted + L"KeyDb.dll";
  ASSERT_TRUE(::CopyFileW((keydbtest::Server().standins + L"KeyDb.dll").c_str(), dll.c_str(), FALSE));
  hkbtest::WriteFileBytes(planted + L"KeyDb.scenario",
                          "GetPathByID_LED 1 1 PLANTED\nIsEquippedWith 1 1 PLANTED\n");
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(planted.c_str()));
  {
    hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject();
    ASSERT_TRUE(obj);
    EXPECT_EQ(Call(obj.get(), Method::kPath, 1).hr, TYPE_E_CANTLOADLIBRARY);
    const Answer equipped = Call(obj.get(), Method::kEquipped, 1);
    EXPECT_EQ(equipped.hr, S_FALSE);
    EXPECT_EQ(equipped.text, L"");
  }
  ::SetCurrentDirectoryW(previous);
  server.EndServers();
  EXPECT_FALSE(hkbtest::FileExists(planted + L"KeyDb.trace")) << "the planted library was loaded";
  for (const wchar_t* f : {L"KeyDb.dll", L"KeyDb.scenario", L"KeyDb.trace"})
    ::DeleteFileW((planted + f).c_str());
  ::RemoveDirectoryW(planted.c_str());
}

}  // namespace
