// Timing of the catalogue file under Wine (built, not run by the tests):
// save and load of a large catalogue and an exclusion query over it, beside
// the bare XmlLite passes over the same file as a baseline from the same run.
// The floors are what a load and a save cannot do without: every attribute
// value read and kept; the document written to a fresh temporary file beside
// the catalogue, flushed to the disk and renamed over it, after a look for
// temporary files of killed saves. The plain passes (values dropped, written
// in place) are printed for scale.
//   hkbhelper_catalogue_bench [packages apps-per-package desktop-apps runs]
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_name_list.h"
#include "catalogue_logic.h"
#include "catalogue_samples.h"
#include "hkb/com.h"
#include "hkb/unique.h"
#include "xml_io.h"
#include "hkbtest/timing.h"
#include "hkbtest/env.h"

namespace {

struct Times {
  std::vector<double> ms;
  void add(double v) { ms.push_back(v); }
  double median() const { return hkbtest::Median(ms); }
  double best() const { return *std::min_element(ms.begin(), ms.end()); }
};

// Every node and every attribute value of the file, read and dropped, or
// read and kept (`kept` not null).
HRESULT BareRead(const wchar_t* path, size_t& attributes, std::vector<std::wstring>* kept = nullptr) {
  hkb::ComPtr<IXmlReader> reader;
  HRESULT hr = HkbhOpenXmlReader(path, reader);
  if (FAILED(hr)) return hr;
  XmlNodeType type;
  while ((hr = reader->Read(&type)) == S_OK) {
    if (type != XmlNodeType_Element) continue;
    for (HRESULT a = reader->MoveToFirstAttribute(); a == S_OK; a = reader->MoveToNextAttribute()) {
      const WCHAR* value;
      UINT length = 0;
      reader->GetValue(&value, &length);
      if (kept) kept->emplace_back(value, length);
      ++attributes;
    }
  }
  return hr == S_FALSE ? S_OK : hr;
}

// The same document shape written straight from constant texts into `stream`.
HRESULT BareWriteTo(IStream* stream, int packages, int apps, int desktop);

// Written in place.
HRESULT BareWrite(const wchar_t* path, int packages, int apps, int desktop) {
  hkb::ComPtr<IStream> stream;
  const HRESULT hr = ::SHCreateStreamOnFileW(path, STGM_CREATE | STGM_WRITE, stream.put());
  return FAILED(hr) ? hr : BareWriteTo(stream.get(), packages, apps, desktop);
}

// Written as a save must write it: a look for leftover temporary files, a
// fresh temporary file in the same folder, flushed to the disk, renamed over
// the file.
HRESULT BareSafeWrite(const std::wstring& folder, const std::wstring& path, int packages, int apps,
                      int desktop) {
  WIN32_FIND_DATAW entry;
  {  // the look for temporary files of killed saves, closed before the save
    const hkb::UniqueFind leftovers(
        ::FindFirstFileW((folder + hkbh::kCatalogueTempPrefix + L"*.tmp").c_str(), &entry));
  }
  wchar_t temp[MAX_PATH];
  if (!::GetTempFileNameW(folder.c_str(), hkbh::kCatalogueTempPrefix, 0, temp))
    return HRESULT_FROM_WIN32(::GetLastError());
  HRESULT hr = BareWrite(temp, packages, apps, desktop);
  if (SUCCEEDED(hr)) {
    const hkb::UniqueFile file(::CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.get())) hr = HRESULT_FROM_WIN32(::GetLastError());
  }
  if (SUCCEEDED(hr) && !::MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    hr = HRESULT_FROM_WIN32(::GetLastError());
  if (FAILED(hr)) ::DeleteFileW(temp);
  return hr;
}

HRESULT BareWriteTo(IStream* stream, int packages, int apps, int desktop) {
  hkb::ComPtr<IXmlWriter> w;
  const HRESULT hr = HkbhCreateXmlWriter(stream, w);
  if (FAILED(hr)) return hr;
  w->WriteStartDocument(XmlStandalone_Omit);
  w->WriteStartElement(nullptr, L"Applications", nullptr);
  w->WriteStartElement(nullptr, L"MetroApps", nullptr);
  for (int p = 0; p < packages; ++p) {
    w->WriteStartElement(nullptr, L"Package", nullptr);
    w->WriteAttributeString(nullptr, L"PackageFamilyName", nullptr,
                            L"Vendor1234.ProductName1234_8wekyb3d8bbwe");
    w->WriteAttributeString(nullptr, L"Version", nullptr, L"12.3.0.456");
    for (int a = 0; a < apps; ++a) {
      w->WriteStartElement(nullptr, L"MetroApp", nullptr);
      w->WriteAttributeString(nullptr, L"DisplayName", nullptr, L"product 1234 application 1");
      w->WriteAttributeString(nullptr, L"ShortName", nullptr, L"product 1");
      w->WriteEndElement();
    }
    w->WriteEndElement();
  }
  w->WriteEndElement();
  w->WriteStartElement(nullptr, L"DesktopApps", nullptr);
  for (int d = 0; d < desktop; ++d) {
    w->WriteStartElement(nullptr, L"DesktopApp", nullptr);
    w->WriteAttributeString(nullptr, L"DisplayName", nullptr, L"desktop program 1234");
    w->WriteAttributeString(
        nullptr, L"LnkFileName", nullptr,
        L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vendor 1234\\Desktop "
        L"Program 1234.lnk");
    w->WriteEndElement();
  }
  w->WriteEndDocument();
  return w->Flush();
}

}  // namespace

int main(int argc, char** argv) {
  const int packages = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int apps = argc > 2 ? std::atoi(argv[2]) : 3;
  const int desktop = argc > 3 ? std::atoi(argv[3]) : 2000;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 15;

  const std::wstring path = hkbtest::TempFolder() + L"hkbh_bench_AppNameList.xml";
  const std::wstring bare = hkbtest::TempFolder() + L"hkbh_bench_bare.xml";
  const std::wstring safe = hkbtest::TempFolder() + L"hkbh_bench_safe.xml";

  CHkbhAppNameList source;
  hkbhtest::BuildLargeCatalogue(source, packages, apps, desktop);
  const size_t records =
      static_cast<size_t>(packages) * static_cast<size_t>(apps + 1) + static_cast<size_t>(desktop);

  Times save, load, exclude, bare_read, bare_write, kept_read, safe_write;
  size_t loaded_packages = 0, loaded_desktop = 0, attributes = 0, excluded = 0;
  for (int r = 0; r < runs; ++r) {
    double t0 = hkbtest::NowMs();
    if (FAILED(source.Save(path.c_str()))) {
      std::printf("save failed\n");
      return 1;
    }
    save.add(hkbtest::NowMs() - t0);

    CHkbhAppNameList list;
    t0 = hkbtest::NowMs();
    if (FAILED(list.Load(path.c_str()))) {
      std::printf("load failed\n");
      return 1;
    }
    load.add(hkbtest::NowMs() - t0);
    loaded_packages = list.PackageCount();
    loaded_desktop = list.DesktopAppCount();

    HkbhExcludeList names;
    BOOL exact = FALSE;
    t0 = hkbtest::NowMs();
    list.GetExcludeAppNameList(L"Product 42", &names, &exact);
    exclude.add(hkbtest::NowMs() - t0);
    excluded = names.size();

    attributes = 0;
    t0 = hkbtest::NowMs();
    BareRead(path.c_str(), attributes);
    bare_read.add(hkbtest::NowMs() - t0);

    t0 = hkbtest::NowMs();
    BareWrite(bare.c_str(), packages, apps, desktop);
    bare_write.add(hkbtest::NowMs() - t0);

    size_t counted = 0;
    t0 = hkbtest::NowMs();
    {
      std::vector<std::wstring> values;
      BareRead(path.c_str(), counted, &values);
    }
    kept_read.add(hkbtest::NowMs() - t0);

    t0 = hkbtest::NowMs();
    if (FAILED(BareSafeWrite(hkbtest::TempFolder(), safe, packages, apps, desktop))) {
      std::printf("the floor's save failed\n");
      return 1;
    }
    safe_write.add(hkbtest::NowMs() - t0);
  }
  WIN32_FILE_ATTRIBUTE_DATA info = {};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info);
  ::DeleteFileW(path.c_str());
  ::DeleteFileW(bare.c_str());
  ::DeleteFileW(safe.c_str());

  const double total = save.median() + load.median();
  std::printf("catalogue: %d packages x %d apps, %d desktop apps (%zu records), file %lu bytes, %d runs\n",
              packages, apps, desktop, records, info.nFileSizeLow, runs);
  std::printf("loaded back: %zu packages, %zu desktop apps; %zu attributes in the file\n", loaded_packages,
              loaded_desktop, attributes);
  std::printf("save            median %8.1f ms  best %8.1f ms\n", save.median(), save.best());
  std::printf("load            median %8.1f ms  best %8.1f ms\n", load.median(), load.best());
  std::printf("load + save     median %8.1f ms  (target 300 ms)  %.2f us per record\n", total,
              total * 1000.0 / static_cast<double>(records));
  std::printf("exclusion query median %8.2f ms  (%zu names excluded)\n", exclude.median(), excluded);
  std::printf("baseline: bare XmlLite read of the file  median %8.1f ms  -> load/bare read  = %.2f\n",
              bare_read.median(), load.median() / bare_read.median());
  std::printf("baseline: bare XmlLite write, same shape median %8.1f ms  -> save/bare write = %.2f\n",
              bare_write.median(), save.median() / bare_write.median());
  std::printf("floor: bare read keeping every value     median %8.1f ms  -> load/floor = %.2f\n",
              kept_read.median(), load.median() / kept_read.median());
  std::printf("floor: bare write, temporary file, flush, rename median %8.1f ms  -> save/floor = %.2f\n",
              safe_write.median(), save.median() / safe_write.median());
  // Rows for ./hkb bench: path|now|floor|unit|floor is
  std::printf("row: catalogue load|%.1f|%.1f|ms|bare XmlLite read\n", load.median(), bare_read.median());
  std::printf("row:   same, against the read it must make|%.1f|%.1f|ms|bare read keeping every value\n",
              load.median(), kept_read.median());
  std::printf("row: catalogue save|%.1f|%.1f|ms|bare XmlLite write\n", save.median(), bare_write.median());
  std::printf(
      "row:   same, against the save it must make|%.1f|%.1f|ms|bare write, temporary file, flush, rename\n",
      save.median(), safe_write.median());
  return 0;
}
