// The package manager's plain decisions and the identifiers of parameterized
// interfaces, checked against identifiers the platform publishes.
#include <gtest/gtest.h>

#include <string>

#include "package_rules.h"
#include "pinterface_iid.h"

namespace {

std::string Hex(const std::array<uint8_t, 20>& d) {
  std::string out;
  char b[3];
  for (uint8_t c : d) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

TEST(PinterfaceIid, Sha1KnownAnswers) {
  const std::string million(1000000, 'a');
  struct Case {
    std::string message;
    const char* digest;
  } const cases[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(hkbh::Sha1(c.message.data(), c.message.size())), c.digest);
}

// Identifiers as the Windows SDK headers (windows.foundation.collections.h,
// windows.management.deployment.h, windows.devices.enumeration.h) publish
// them for these instances.
TEST(PinterfaceIid, DerivedIdentifiersMatchThePublishedOnes) {
  const std::string package = hkbh::RuntimeClassSignature(
      "Windows.ApplicationModel.Package", *hkbh::ParseGuid("163c792f-bd75-413c-bf23-b1fe7b95d825"));
  const std::string device =
      hkbh::RuntimeClassSignature("Windows.Devices.Enumeration.DeviceInformation",
                                  *hkbh::ParseGuid("aba0fb95-4398-489d-8e44-e6130927011f"));
  const auto iterable = *hkbh::ParseGuid("{faa585ea-6214-4217-afda-7f46de5869b3}");
  const auto iterator = *hkbh::ParseGuid("{6a79e863-4300-459a-9966-cbb660963ee1}");
  const auto vector_view = *hkbh::ParseGuid("{bbe1fa4c-b0e3-4583-baef-1f1b2e483e56}");
  const auto vector = *hkbh::ParseGuid("{913337e9-11a1-4345-a3a2-4e7f956e222d}");
  const auto async_operation = *hkbh::ParseGuid("{9fc2b0bb-e446-44e2-aa61-9cab8f636af2}");
  struct Case {
    const char* what;
    std::string signature;
    const char* published;
  } const cases[] = {
      {"IIterable<String>", hkbh::PinterfaceSignature(iterable, "string"),
       "e2fcc7c1-3bfc-5a0b-b2b0-72e769d1cb7e"},
      {"IIterator<String>", hkbh::PinterfaceSignature(iterator, "string"),
       "8c304ebb-6615-50a4-8829-879ecd443236"},
      {"IVectorView<String>", hkbh::PinterfaceSignature(vector_view, "string"),
       "2f13c006-a03a-5f69-b090-75a43e33423e"},
      {"IAsyncOperation<UInt64>", hkbh::PinterfaceSignature(async_operation, "u8"),
       "2a70d630-0767-5f0a-a1c2-deb08126e26e"},
      {"IIterable<DeviceInformation>", hkbh::PinterfaceSignature(iterable, device),
       "dd9f8a5d-ec98-5f4b-a3ea-9c8b5ad53c4b"},
      {"IVectorView<DeviceInformation>", hkbh::PinterfaceSignature(vector_view, device),
       "e170688f-3495-5bf6-aab5-9cac17e0f10f"},
      {"IIterable<Package>", hkbh::PinterfaceSignature(iterable, package),
       "69ad6aa7-0c49-5f27-a5eb-ef4d59467b6d"},
      {"IIterator<Package>", hkbh::PinterfaceSignature(iterator, package),
       "0217f069-025c-5ee6-a87f-e782e3b623ae"},
      {"IVectorView<Package>", hkbh::PinterfaceSignature(vector_view, package),
       "0263c4d4-195c-5dc5-a7ca-6806ceca420b"},
      {"IVector<Package>", hkbh::PinterfaceSignature(vector, package),
       "d1bb509e-6989-5c69-b1ff-d1702fe8aca3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::GuidSignature(hkbh::ParameterizedIid(c.signature)), std::string("{") + c.published + "}")
        << c.what << " " << c.signature;
}

TEST(PackageRules, AppUserModelIdsSplitAtTheLastBang) {
  struct Case {
    const wchar_t* id;
    bool bang;
    const wchar_t* family;
    const wchar_t* app;
    bool office;
  } const cases[] = {
      {L"Microsoft.Office.Desktop_8wekyb3d8bbwe!Excel", true, L"Microsoft.Office.Desktop_8wekyb3d8bbwe",
       L"Excel", true},
      {L"microsoft.office.desktop_8wekyb3d8bbwe!word", true, L"microsoft.office.desktop_8wekyb3d8bbwe",
       L"word", true},
      {L"Pre.MICROSOFT.Office.Desktop_8wekyb3d8bbwe.Post!App", true,
       L"Pre.MICROSOFT.Office.Desktop_8wekyb3d8bbwe.Post", L"App", true},
      {L"Example.Notes_1a2b!App", true, L"Example.Notes_1a2b", L"App", false},
      {L"Example!Two!App", true, L"Example!Two", L"App", false},
      {L"Example.Notes_1a2b", false, L"Example.Notes_1a2b", L"", false},
      {L"Microsoft.Office.Desktop_8wekyb3d8bbwe", false, L"Microsoft.Office.Desktop_8wekyb3d8bbwe", L"",
       false},
      {L"Microsoft.Office.Desktop_8wekyb3d8bbwe!", true, L"Microsoft.Office.Desktop_8wekyb3d8bbwe", L"",
       true},
      {L"!App", true, L"", L"App", false},
  };
  for (const Case& c : cases) {
    const hkbh::AppUserModelIdParts p = hkbh::SplitAppUserModelId(c.id);
    const std::string id(c.id, c.id + std::wcslen(c.id));
    EXPECT_EQ(p.has_bang, c.bang) << id;
    EXPECT_EQ(p.family, c.family) << id;
    EXPECT_EQ(p.app_id, c.app) << id;
    EXPECT_EQ(p.office, c.office) << id;
  }
}

TEST(PackageRules, DependenciesMatchByFoldedSubstring) {
  struct Case {
    const wchar_t* dependency;
    const wchar_t* app;
    bool match;
  } const cases[] = {
      {L"Microsoft.Office.Desktop.Excel_8wekyb3d8bbwe", L"Excel", true},
      {L"Microsoft.Office.Desktop.Excel_8wekyb3d8bbwe", L"EXCEL", true},
      {L"microsoft.office.desktop.excel_8wekyb3d8bbwe", L"Excel", true},
      {L"Microsoft.Office.Desktop.Excel_8wekyb3d8bbwe", L"Word", false},
      {L"Microsoft.Office.Desktop.Excel_8wekyb3d8bbwe", L"", true},
      {L"", L"", true},
      {L"", L"Excel", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::DependencyMatches(c.dependency, c.app), c.match)
        << std::string(c.dependency, c.dependency + std::wcslen(c.dependency));
}

TEST(PackageRules, NamesAndPaths) {
  const std::wstring base = L"Btn";
  EXPECT_EQ(hkbh::InstanceMutexName(&base), L"HkbHelper_Btn");
  EXPECT_EQ(hkbh::InstanceMutexName(nullptr), L"HkbHelper");
  const std::wstring long_base(300, L'x');
  EXPECT_EQ(hkbh::InstanceMutexName(&long_base).size(), 259u);
  EXPECT_EQ(hkbh::ExitEventName(4242), L"Local\\QRH_Event_Exit_RefreshThread4242");

  EXPECT_EQ(hkbh::CatalogueFolder(L"C:\\Users\\u\\AppData\\Local", L"Btn"),
            L"C:\\Users\\u\\AppData\\Local\\ZEV\\HkbHelper\\Btn");
  EXPECT_EQ(hkbh::CatalogueFolder(L"C:\\Local\\", L"Btn"), L"C:\\Local\\ZEV\\HkbHelper\\Btn")
      << "one \\ removed";
  EXPECT_EQ(hkbh::CatalogueFolder(L"C:\\Local\\\\", L"Btn"), L"C:\\Local\\\\ZEV\\HkbHelper\\Btn")
      << "only one";
  const std::wstring fits(259 - std::wstring(L"\\ZEV\\HkbHelper\\Btn").size(), L'a');
  EXPECT_EQ(hkbh::CatalogueFolder(fits, L"Btn")->size(), 259u);
  EXPECT_FALSE(hkbh::CatalogueFolder(fits + L"a", L"Btn"));

  EXPECT_EQ(hkbh::PresetPath(L"C:\\Program Files\\Host\\Btn.Svc.exe"),
            L"C:\\Program Files\\Host\\PresetAppNameList.xml");
  EXPECT_FALSE(hkbh::PresetPath(L"Btn.exe"));
  EXPECT_FALSE(hkbh::PresetPath(std::wstring(250, L'a') + L"\\x.exe"));

  EXPECT_FALSE(hkbh::AppendPath(std::wstring(254, L'a'), L"\\*.lnk"));
  EXPECT_EQ(hkbh::AppendPath(std::wstring(253, L'a'), L"\\*.lnk")->size(), 259u);
}

TEST(PackageRules, ShortcutNamesAndThePause) {
  EXPECT_EQ(hkbh::ShortcutDisplayName(L"Notes Editor.lnk"), L"Notes Editor");
  EXPECT_EQ(hkbh::ShortcutDisplayName(L"Site.url"), L"Site");
  EXPECT_EQ(hkbh::ShortcutDisplayName(L"a.lnk"), L"a");
  EXPECT_EQ(hkbh::ShortcutDisplayName(L".lnk"), L"");
  EXPECT_EQ(hkbh::ShortcutDisplayName(L"lnk"), L"");

  EXPECT_EQ(hkbh::RefreshPauseMs(0), 0u);
  EXPECT_EQ(hkbh::RefreshPauseMs(720), 43200000u);
  EXPECT_EQ(hkbh::RefreshPauseMs(71582), 4294920000u);
  EXPECT_EQ(hkbh::RefreshPauseMs(71583), 0xFFFFFFFEu) << "beyond 32 bits: the longest finite wait";
  EXPECT_EQ(hkbh::RefreshPauseMs(0xFFFFFFFFu), 0xFFFFFFFEu);
}

}  // namespace
