// Timing of one refresh pass under Wine (built, not run by the tests): the
// library's own pass over N packages served by the stand-in package manager
// (each with its own install folder and manifest) and N shortcuts in the two
// Start Menu trees. The first pass finds every package new (cold); the
// following ones find nothing changed and must open no manifest. Baseline
// from the same run, taken in turns with the passes: the bare platform calls
// the installed checks of one pass make, and a bare walk of the two trees.
//   hkbhelper_refresh_bench [packages shortcuts unchanged-runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hkb/com.h"
#include "hkb/unique.h"
#include "hkb/winrt.h"
#include "package_manager.h"
#include "pm_support.h"
#include "hkbtest/timing.h"

namespace {

std::string Family(int i) { return "Bench.Package" + std::to_string(i) + "_1a2b3c4d5e6f7"; }

// What the installed checks of one pass ask the platform, without the
// library: per package its own activation and family query, each inside its
// own (nested) runtime initialization, as the pass makes them.
int BareChecks(int packages) {
  hkb::RoInit pass;
  pass.initialize(RO_INIT_SINGLETHREADED);
  int found = 0;
  for (int i = 0; i < packages; ++i) {
    hkb::RoInit runtime;
    runtime.initialize(RO_INIT_SINGLETHREADED);
    hkb::HString name, family, user;
    hkb::HString::Create(L"Windows.Management.Deployment.PackageManager", name);
    const std::string f = Family(i);
    hkb::HString::Create(hkbtest::Wide(f), family);
    hkb::ComPtr<IActivationFactory> factory;
    hkb::ComPtr<IInspectable> instance;
    hkb::ComPtr<hkbrt::IPackageManager> manager;
    hkb::ComPtr<hkbrt::IPackageIterable> packages_of_family;
    hkb::ComPtr<hkbrt::IPackageIterator> it;
    boolean has = 0;
    if (SUCCEEDED(::RoGetActivationFactory(name.get(), hkbrt::kIidActivationFactory, factory.put_void())) &&
        SUCCEEDED(factory->ActivateInstance(instance.put())) &&
        SUCCEEDED(instance.as(hkbrt::kIidPackageManager, manager)) &&
        SUCCEEDED(manager->FindPackagesByUserSecurityIdPackageFamilyName(user.get(), family.get(),
                                                                         packages_of_family.put())) &&
        SUCCEEDED(packages_of_family->First(it.put())) && SUCCEEDED(it->get_HasCurrent(&has)) && has)
      ++found;
  }
  return found;
}

int BareWalk(const std::wstring& folder) {
  int files = 0;
  WIN32_FIND_DATAW entry;
  hkb::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find) return 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      files += BareWalk(folder + L"\\" + name);
    else
      ++files;
  } while (::FindNextFileW(find.get(), &entry));
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const int packages = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int shortcuts = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;

  hkbhtest::ScopedPackageManager pm;
  hkbhtest::ScopedUserFolders users;
  if (!pm.ok()) {
    std::printf("the stand-in package manager is not in place\n");
    return 1;
  }
  std::string scenario = "record\tInstalledLocation\n";
  for (int i = 0; i < packages; ++i) {
    const std::wstring folder = pm.folder().file(L"p" + std::to_wstring(i));
    hkbhtest::WriteManifest(folder, {"Bench App " + std::to_string(i)});
    scenario += hkbhtest::PackageLine(Family(i), "1.0.0.0", folder);
  }
  pm.SetScenario(scenario);
  for (int i = 0; i < shortcuts; ++i) {
    const std::wstring tree = i % 2 ? users.CommonPrograms() : users.UserPrograms();
    const std::wstring folder = tree + L"\\Group " + std::to_wstring(i / 100);
    hkbhtest::MakeFolders(folder);
    hkbtest::WriteFileBytes(folder + L"\\Bench Shortcut " + std::to_wstring(i) + (i % 5 ? L".lnk" : L".url"),
                            "");
  }
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring base = std::wcsrchr(exe, L'\\') + 1;
  base = base.substr(0, base.find(L'.'));
  hkbhtest::MakeFolders(users.CatalogueFolder(base));
  const std::wstring catalogue = users.Catalogue(base);

  CHkbhPackageManager manager;
  double t0 = hkbtest::NowMs();
  manager.RefreshAppNameList(catalogue.c_str(), users.CommonPrograms().c_str(), users.UserPrograms().c_str());
  const double cold = hkbtest::NowMs() - t0;
  const size_t cold_reads = pm.Count("InstalledLocation");
  const size_t catalogued_packages = manager.m_AppNameList.PackageCount();
  const size_t catalogued_shortcuts = manager.m_AppNameList.DesktopAppCount();

  // The pass and its floor in turns, each round; medians of each.
  std::vector<double> unchanged, checks, walks;
  int found = 0, walked = 0;
  for (int r = 0; r < runs; ++r) {
    t0 = hkbtest::NowMs();
    manager.RefreshAppNameList(catalogue.c_str(), users.CommonPrograms().c_str(),
                               users.UserPrograms().c_str());
    unchanged.push_back(hkbtest::NowMs() - t0);

    t0 = hkbtest::NowMs();
    found = BareChecks(packages);
    checks.push_back(hkbtest::NowMs() - t0);
    t0 = hkbtest::NowMs();
    walked = BareWalk(users.CommonPrograms()) + BareWalk(users.UserPrograms());
    walks.push_back(hkbtest::NowMs() - t0);
  }
  const size_t unchanged_reads = pm.Count("InstalledLocation") - cold_reads;
  const double bare_checks = hkbtest::Median(checks);
  const double bare_walk = hkbtest::Median(walks);
  const double best = *std::min_element(unchanged.begin(), unchanged.end());
  const double median = hkbtest::Median(unchanged);
  WIN32_FILE_ATTRIBUTE_DATA info = {};
  ::GetFileAttributesExW(catalogue.c_str(), GetFileExInfoStandard, &info);
  std::printf(
      "refresh pass: %d packages, %d shortcuts; catalogue %zu packages, %zu shortcuts, file %lu bytes\n",
      packages, shortcuts, catalogued_packages, catalogued_shortcuts, info.nFileSizeLow);
  std::printf("cold pass (all new)        %8.1f ms  install folders asked (manifests read): %zu\n", cold,
              cold_reads);
  std::printf(
      "unchanged pass  median %8.1f ms  best %8.1f ms over %d runs (target 2000 ms)  manifests read: %zu\n",
      median, best, runs, unchanged_reads);
  std::printf(
      "baseline: bare installed checks (%d found) %8.1f ms; bare walk of the trees (%d files) %8.1f ms "
      "(medians)\n",
      found, bare_checks, walked, bare_walk);
  std::printf("unchanged pass / (bare checks + bare walk) = %.2f\n", median / (bare_checks + bare_walk));
  return unchanged_reads == 0 ? 0 : 2;
}
