#include "catalogue_samples.h"

#include <string>

namespace hkbhtest {

void BuildSampleCatalogue(CHkbhAppNameList& list) {
  auto notes = std::make_unique<CHkbhPackage>(L"Example.Notes_1a2b3c4d5e6f7", L"", L"",
                                              HkbhVersion{10, 1910, 7, 3}, FALSE, TRUE);
  notes->AddApplication(L"Example Notes", L"Notes");
  notes->AddApplication(
      std::make_unique<CHkbhMetroApp>(L"Notes & <Clips>", L"\"Clips\"", L"noutsu", L"kurippu"));
  list.AddMetroPackage(std::move(notes));

  auto reserved = std::make_unique<CHkbhPackage>(L"Example.Reserved_0a1b2c3d4e5f6", L"", L"",
                                                 HkbhVersion{1, 0, 0, 0}, TRUE, FALSE);
  reserved->AddApplication(std::make_unique<CHkbhMetroApp>(L"\x5929\x6c17\x4e88\x5831", L"\x5929\x6c17",
                                                           L"\x3066\x3093\x304d", L""));
  list.AddMetroPackage(std::move(reserved));

  list.AddMetroPackage(std::make_unique<CHkbhPackage>(L"Example.NoApps_7f6e5d4c3b2a1", L"", L"",
                                                      HkbhVersion{2, 5, 0, 0}, FALSE, TRUE));
  // Neither installed nor reserved: not written.
  list.AddMetroPackage(std::make_unique<CHkbhPackage>(L"Example.Gone_1111111111111", L"", L"",
                                                      HkbhVersion{3, 0, 0, 0}, FALSE, FALSE));

  list.AddDesktopApp(L"Notes Editor",
                     L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Notes Editor.lnk");
  auto add = [&](const wchar_t* display, const wchar_t* lnk, const wchar_t* localize, const wchar_t* ruby,
                 BOOL reserve, BOOL installed, BOOL dual) {
    list.AddDesktopApp(
        std::make_unique<CHkbhDesktopApp>(display, lnk, localize, ruby, reserve, installed, dual));
  };
  add(L"Mail Client", L"C:\\Users\\u\\Start Menu\\Mail Client.lnk", L"\x30e1\x30fc\x30eb", L"meeru", FALSE,
      TRUE, FALSE);
  add(L"Reserved Tool", L"C:\\Missing\\Reserved Tool.lnk", L"", L"", TRUE, FALSE, FALSE);
  add(L"Dual Viewer", L"C:\\Tools\\Dual Viewer.url", L"", L"", FALSE, TRUE, TRUE);
  // Neither installed nor reserved: not written.
  add(L"Removed Tool", L"C:\\Gone\\Removed Tool.lnk", L"", L"", FALSE, FALSE, FALSE);
}

void BuildLargeCatalogue(CHkbhAppNameList& list, int packages, int apps_per_package, int desktop) {
  for (int p = 0; p < packages; ++p) {
    const std::wstring n = std::to_wstring(p);
    auto package = std::make_unique<CHkbhPackage>(
        L"Vendor" + n + L".ProductName" + n + L"_8wekyb3d8bbwe", L"", L"",
        HkbhVersion{static_cast<uint16_t>(p % 30 + 1), static_cast<uint16_t>(p % 7), 0,
                    static_cast<uint16_t>(p % 1000)},
        p % 50 == 0, p % 97 != 0);
    for (int a = 0; a < apps_per_package; ++a) {
      const std::wstring m = std::to_wstring(a);
      package->AddApplication((L"Product " + n + L" Application " + m).c_str(), (L"Product " + m).c_str());
    }
    list.AddMetroPackage(std::move(package));
  }
  for (int d = 0; d < desktop; ++d) {
    const std::wstring n = std::to_wstring(d);
    list.AddDesktopApp((L"Desktop Program " + n).c_str(),
                       (L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vendor " + n +
                        L"\\Desktop Program " + n + L".lnk")
                           .c_str());
  }
}

}  // namespace hkbhtest
