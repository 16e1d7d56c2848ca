// The query exports through the shipped library, answered by the stand-in
// package manager: argument errors, installed checks (by family, by
// AppUserModelID, the Office rule through dependencies), the display-name
// query and its block, a package manager that is missing or fails, the
// caller's apartment, and the export table.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "hkb/com.h"
#include "pm_support.h"

namespace {

using hkbhtest::HkbHelperDll;
using hkbhtest::ScopedPackageManager;

const char kNotes[] = "Example.Notes_1a2b3c4d5e6f7";
const char kTwo[] = "Example.Two_1a2b3c4d5e6f7";
const char kOffice[] = "Microsoft.Office.Desktop_8wekyb3d8bbwe";
const char kOdd[] = "Odd!Pkg_1a2b3c4d5e6f7";
const char kNoFolder[] = "Example.NoFolder_1a2b3c4d5e6f7";

class Queries : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pm.ok());
    ASSERT_TRUE(m_dll.IsInstalled && m_dll.IsInstalledByAppUserModeID && m_dll.GetAppDisplayNameByPFN &&
                m_dll.ReleaseString);
    const std::wstring notes = m_pm.folder().file(L"notes");
    const std::wstring two = m_pm.folder().file(L"two");
    ASSERT_TRUE(hkbhtest::WriteManifest(notes, {"My App"}));
    ASSERT_TRUE(hkbhtest::WriteManifest(two, {"One", "Two"}));
    m_pm.SetScenario(
        hkbhtest::PackageLine(kNotes, "1.0.0.0", notes) + hkbhtest::PackageLine(kTwo, "1.0.0.0", two) +
        hkbhtest::PackageLine(kOffice, "16.0.1.0", notes) + hkbhtest::PackageLine(kOdd, "1.0.0.0", notes) +
        hkbhtest::PackageLine(kNoFolder, "1.0.0.0", L"") + "depends\t" + kOffice +
        "\tMicrosoft.Office.Desktop.Access_8wekyb3d8bbwe\n" + "depends\t" + kOffice +
        "\tMicrosoft.Office.Desktop.Excel_8wekyb3d8bbwe\n");
  }
  ScopedPackageManager m_pm;
  HkbHelperDll m_dll;
};

TEST(Exports, NineNamesAtOrdinalsOneToNine) {
  HkbHelperDll dll;
  ASSERT_TRUE(dll.lib) << dll.lib.error();
  const char* names[] = {"HkbhFinalize",       "HkbhGetAppDisplayNameByPFN",     "HkbhInitialize",
                         "HkbhIsInstalled",    "HkbhIsInstalledByAppUserModeID", "HkbhLaunchByManager",
                         "HkbhLaunchBySearch", "HkbhLaunchIEBySearch",           "HkbhReleaseString"};
  for (WORD ordinal = 1; ordinal <= 9; ++ordinal) {
    const FARPROC by_name = ::GetProcAddress(dll.lib.get(), names[ordinal - 1]);
    EXPECT_NE(by_name, nullptr) << names[ordinal - 1];
    EXPECT_EQ(::GetProcAddress(dll.lib.get(), MAKEINTRESOURCEA(ordinal)), by_name) << names[ordinal - 1];
  }
  EXPECT_EQ(::GetProcAddress(dll.lib.get(), MAKEINTRESOURCEA(10)), nullptr);

  // The launch functions answer by their own argument checks.
  EXPECT_EQ(dll.LaunchBySearch(nullptr, 0, FALSE), E_POINTER);
  EXPECT_EQ(dll.LaunchIEBySearch(3, 0, FALSE), E_INVALIDARG);
  EXPECT_EQ(dll.LaunchByManager(nullptr, L""), E_POINTER);
}

TEST_F(Queries, ArgumentErrorsAskNothingAndLeaveTheOutValuesAlone) {
  BOOL flag = 7;
  wchar_t* name = reinterpret_cast<wchar_t*>(0x1234);
  struct Case {
    const char* what;
    HRESULT got;
    HRESULT expected;
  } const cases[] = {
      {"IsInstalled null name", m_dll.IsInstalled(nullptr, &flag), E_POINTER},
      {"IsInstalled null out", m_dll.IsInstalled(L"Example.Notes_1a2b3c4d5e6f7", nullptr), E_POINTER},
      {"IsInstalled empty name", m_dll.IsInstalled(L"", &flag), E_INVALIDARG},
      {"ById null id", m_dll.IsInstalledByAppUserModeID(nullptr, &flag), E_POINTER},
      {"ById null out", m_dll.IsInstalledByAppUserModeID(L"Example.Notes_1a2b3c4d5e6f7!App", nullptr),
       E_POINTER},
      {"ById empty id", m_dll.IsInstalledByAppUserModeID(L"", &flag), E_INVALIDARG},
      {"DisplayName null name", m_dll.GetAppDisplayNameByPFN(nullptr, &name), E_POINTER},
      {"DisplayName null out", m_dll.GetAppDisplayNameByPFN(L"Example.Notes_1a2b3c4d5e6f7", nullptr),
       E_POINTER},
      {"DisplayName empty name", m_dll.GetAppDisplayNameByPFN(L"", &name), E_INVALIDARG},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(flag, 7);
  EXPECT_EQ(name, reinterpret_cast<wchar_t*>(0x1234));
  EXPECT_TRUE(m_pm.Records().empty());
}

TEST_F(Queries, InstalledChecksByFamilyAndByAppUserModelId) {
  struct Case {
    bool by_id;
    const char* id;
    BOOL installed;
    const char* family_asked;
    size_t dependency_reads;
  } const cases[] = {
      {false, kNotes, 1, kNotes, 0},
      {false, "Example.Gone_1a2b3c4d5e6f7", 0, "Example.Gone_1a2b3c4d5e6f7", 0},
      {false, "example.notes_1a2b3c4d5e6f7", 1, "example.notes_1a2b3c4d5e6f7", 0},
      {true, "Example.Notes_1a2b3c4d5e6f7!App", 1, kNotes, 0},
      {true, kNotes, 1, kNotes, 0},
      {true, "Example.Gone_1a2b3c4d5e6f7!App", 0, "Example.Gone_1a2b3c4d5e6f7", 0},
      {true, "Odd!Pkg_1a2b3c4d5e6f7!App", 1, kOdd, 0},
      // The Office family answers from the dependencies of its packages.
      {true, "Microsoft.Office.Desktop_8wekyb3d8bbwe!Excel", 1, kOffice, 1},
      {true, "microsoft.office.desktop_8wekyb3d8bbwe!excel", 1, "microsoft.office.desktop_8wekyb3d8bbwe", 1},
      {true, "Microsoft.Office.Desktop_8wekyb3d8bbwe!Word", 0, kOffice, 1},
      {true, "Microsoft.Office.Desktop_8wekyb3d8bbwe!", 1, kOffice, 1},
      {true, kOffice, 1, kOffice, 0},
      {false, kOffice, 1, kOffice, 0},
  };
  for (const Case& c : cases) {
    m_pm.ClearRecords();
    BOOL installed = 7;
    const std::wstring id = hkbtest::Wide(c.id);
    const HRESULT hr = c.by_id ? m_dll.IsInstalledByAppUserModeID(id.c_str(), &installed)
                               : m_dll.IsInstalled(id.c_str(), &installed);
    EXPECT_EQ(hr, S_OK) << c.id;
    EXPECT_EQ(installed, c.installed) << c.id;
    const auto records = m_pm.Records();
    ASSERT_GE(records.size(), 2u) << c.id;
    EXPECT_EQ(records[0][0], "Activate") << c.id;
    EXPECT_EQ(records[0].back(), "STA") << c.id << ": the runtime is initialized single-threaded";
    EXPECT_EQ(records[1][0], "FindPackagesByUserSecurityIdPackageFamilyName") << c.id;
    EXPECT_EQ(records[1].size(), 4u) << c.id;
    EXPECT_EQ(records[1][2], "") << c.id << ": the current user";
    EXPECT_EQ(records[1][3], c.family_asked) << c.id;
    EXPECT_EQ(m_pm.Count("Dependencies"), c.dependency_reads) << c.id;
  }
  // Each query leaves the runtime as it found it: uninitialized.
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
}

TEST_F(Queries, DisplayNameBlockAndItsFailures) {
  wchar_t* name = nullptr;
  EXPECT_EQ(m_dll.GetAppDisplayNameByPFN(L"Example.Notes_1a2b3c4d5e6f7", &name), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, L"my app");
  EXPECT_EQ(::LocalSize(name), 512u);
  EXPECT_EQ(m_pm.Count("InstalledLocation", kNotes), 1u);
  m_dll.ReleaseString(name);

  struct Case {
    const char* family;
    HRESULT expected;
  } const cases[] = {
      {"Example.Gone_1a2b3c4d5e6f7", static_cast<HRESULT>(0xA0000001)},  // not installed
      {kTwo, static_cast<HRESULT>(0xA0000002)},                          // two applications
      {kNoFolder, E_FAIL},                                               // no install folder
  };
  for (const Case& c : cases) {
    wchar_t* untouched = reinterpret_cast<wchar_t*>(0x1234);
    const std::wstring family = hkbtest::Wide(c.family);
    EXPECT_EQ(m_dll.GetAppDisplayNameByPFN(family.c_str(), &untouched), c.expected) << c.family;
    EXPECT_EQ(untouched, reinterpret_cast<wchar_t*>(0x1234)) << c.family << ": no block handed out";
  }
  m_dll.ReleaseString(nullptr);
}

TEST_F(Queries, PackageManagerMissingOrFailingReadsAsNotInstalled) {
  struct Case {
    const char* what;
    std::string scenario;  // empty: the stand-in is not registered at all
  } const cases[] = {
      {"activation fails", "fail\tActivate\t80004005\n"},
      {"the query fails", "fail\tFindPackagesByUserSecurityIdPackageFamilyName\t80070005\n"},
      {"not registered", ""},
  };
  for (const Case& c : cases) {
    std::optional<hkbtest::ScopedRegValue> unregistered;
    if (c.scenario.empty())
      unregistered.emplace(HKEY_LOCAL_MACHINE,
                           L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\"
                           L"Windows.Management.Deployment.PackageManager",
                           L"DllPath", std::optional<std::wstring>());
    else
      m_pm.SetScenario(hkbhtest::PackageLine(kNotes, "1.0.0.0", L"") + c.scenario);
    BOOL installed = 7;
    EXPECT_EQ(m_dll.IsInstalled(L"Example.Notes_1a2b3c4d5e6f7", &installed), S_OK) << c.what;
    EXPECT_EQ(installed, FALSE) << c.what;
    installed = 7;
    EXPECT_EQ(m_dll.IsInstalledByAppUserModeID(L"Microsoft.Office.Desktop_8wekyb3d8bbwe!Excel", &installed),
              S_OK)
        << c.what;
    EXPECT_EQ(installed, FALSE) << c.what;
    wchar_t* name = reinterpret_cast<wchar_t*>(0x1234);
    EXPECT_EQ(m_dll.GetAppDisplayNameByPFN(L"Example.Notes_1a2b3c4d5e6f7", &name),
              static_cast<HRESULT>(0xA0000001))
        << c.what;
    EXPECT_EQ(name, reinterpret_cast<wchar_t*>(0x1234)) << c.what;
  }
}

// A caller whose thread is in the multithreaded apartment keeps it; the query
// runs in it.
TEST_F(Queries, MultithreadedCallerKeepsItsApartment) {
  HRESULT hr = E_UNEXPECTED;
  BOOL installed = 7;
  APTTYPE after = APTTYPE_CURRENT;
  std::thread caller([&] {
    hkb::ComInit mta(COINIT_MULTITHREADED);
    hr = m_dll.IsInstalled(L"Example.Notes_1a2b3c4d5e6f7", &installed);
    APTTYPEQUALIFIER qualifier;
    ::CoGetApartmentType(&after, &qualifier);
  });
  caller.join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(installed, TRUE);
  EXPECT_EQ(after, APTTYPE_MTA);
  ASSERT_FALSE(m_pm.Records().empty());
  EXPECT_EQ(m_pm.Records()[0].back(), "MTA");
}

}  // namespace
