// Several hundred damaged catalogue files: truncated, wrongly nested, with
// huge attributes, with bytes that are not UTF-8. Each must load without a
// crash and without hanging, and keep every record that stands complete
// before the damage.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app_name_list.h"
#include "hkb/unique.h"
#include "hkbtest/harness.h"
#include "support.h"

namespace {

using hkbhtest::ScopedFolder;

// The undamaged file, written here, with the place after which each record
// is certain to have been read: the end of the tag that follows it.
struct BaseFile {
  std::string text;
  std::vector<size_t> package_safe;
  std::vector<size_t> desktop_safe;
  size_t root_closed = 0;
};

BaseFile MakeBase() {
  BaseFile base;
  std::string& t = base.text;
  std::vector<size_t> package_end, desktop_end;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Applications>\r\n  <MetroApps>\r\n";
  for (int i = 0; i < 24; ++i) {
    const std::string n = std::to_string(i);
    t += "    <Package PackageFamilyName=\"Vendor.App" + n + "_8wekyb3d8bbwe\" Version=\"" + n + ".1.2.3\"";
    if (i % 5 == 0) t += " NeedReserve=\"1\" IsInstalled=\"0\"";
    if (i % 7 == 3) {
      t += " />\r\n";
    } else {
      t += ">\r\n";
      for (int a = 0; a <= i % 3; ++a) {
        const std::string m = std::to_string(a);
        t += "      <MetroApp DisplayName=\"app " + n + " part " + m + "\" ShortName=\"short " + m + "\"";
        if (a == 1) t += " RubyDisplayName=\"\xE3\x81\x82\xE3\x81\x97\xE3\x81\x99\"";
        t += " />\r\n";
      }
      t += "    </Package>\r\n";
    }
    package_end.push_back(t.size());
  }
  t += "  </MetroApps>\r\n  <DesktopApps>\r\n";
  for (int i = 0; i < 12; ++i) {
    const std::string n = std::to_string(i);
    t += "    <DesktopApp DisplayName=\"desktop " + n + "\" LnkFileName=\"C:\\Start\\Program " + n + ".lnk\"";
    if (i % 4 == 1) t += " LocalizeName=\"\xE6\x97\xA5\xE6\x9C\xAC " + n + "\" IsDualMode=\"1\"";
    t += " />\r\n";
    desktop_end.push_back(t.size());
  }
  t += "  </DesktopApps>\r\n</Applications>";
  base.root_closed = t.size();
  t += "\r\n";
  for (size_t end : package_end) base.package_safe.push_back(t.find('>', end) + 1);
  for (size_t end : desktop_end) base.desktop_safe.push_back(t.find('>', end) + 1);
  return base;
}

struct Damage {
  std::string what;
  size_t at;  // the text before this offset is untouched
  std::string text;
};

std::vector<Damage> MakeDamage(const BaseFile& base) {
  const std::string& t = base.text;
  std::vector<Damage> out;
  // Cut at 160 places spread over the file, and right at each record's end.
  for (size_t i = 1; i <= 160; ++i) {
    const size_t at = t.size() * i / 161;
    out.push_back({"cut at " + std::to_string(at), at, t.substr(0, at)});
  }
  for (size_t end : base.package_safe) out.push_back({"cut at safe point", end, t.substr(0, end)});
  // Single bytes replaced by markup, nothing, or bytes that are not UTF-8.
  const char replacements[] = {'<', '>', '"', '&', '\0', '\xFF', '\xC3', '\x80', '/', '='};
  for (size_t i = 0; i < 120; ++i) {
    const size_t at = 40 + (t.size() - 60) * i / 120;
    std::string s = t;
    s[at] = replacements[i % sizeof replacements];
    out.push_back({"byte at " + std::to_string(at), at, s});
  }
  // Invalid UTF-8 sequences inserted into names and values.
  const char* sequences[] = {"\xC3\x28", "\xE2\x82", "\xF0\x90\x28\xBC", "\xED\xA0\x80", "\xC0\xAF", "\xFE"};
  size_t k = 0;
  for (size_t at = t.find("DisplayName=\""); at != std::string::npos && k < 30;
       at = t.find("DisplayName=\"", at + 1), ++k) {
    const size_t where = at + 13 + (k % 3);
    std::string s = t;
    s.insert(where, sequences[k % 6]);
    out.push_back({"invalid UTF-8 at " + std::to_string(where), where, s});
  }
  // Wrong nesting: end tags renamed, dropped or doubled.
  const char* end_tags[] = {"</Package>", "</MetroApps>", "</DesktopApps>"};
  const char* wrong[] = {"</MetroApp>", "</DesktopApps>", "</Package>", "", "</Package></Package>"};
  for (const char* tag : end_tags) {
    size_t n = 0;
    for (size_t at = t.find(tag); at != std::string::npos && n < 4; at = t.find(tag, at + 1), ++n) {
      for (const char* w : wrong) {
        std::string s = t;
        s.replace(at, std::strlen(tag), w);
        out.push_back({std::string(tag) + " replaced by " + w, at, s});
      }
    }
  }
  // Elements opened inside records, and a very deep nesting.
  for (size_t at : {base.package_safe[3], base.package_safe[10], base.desktop_safe[2]}) {
    std::string s = t;
    s.insert(at, "<Package><DesktopApps><Package PackageFamilyName=\"inner\">");
    out.push_back({"unclosed elements", at, s});
    std::string deep;
    for (int d = 0; d < 5000; ++d) deep += "<Deep>";
    s = t;
    s.insert(at, deep);
    out.push_back({"deep nesting", at, s});
  }
  // Huge attributes: a megabyte of name, and a shortcut path with a variable
  // that cannot expand into its buffer.
  for (size_t index : {size_t{2}, size_t{16}}) {
    const std::string key = "app " + std::to_string(index) + " part 0";
    const size_t at = t.find(key);
    if (at == std::string::npos) continue;
    std::string s = t;
    s.replace(at, key.size(), std::string(1 << 20, 'h'));
    out.push_back({"huge display name", at, s});
  }
  {
    const std::string key = "C:\\Start\\Program 5.lnk";
    const size_t at = t.find(key);
    std::string s = t;
    s.replace(at, key.size(), "%SystemRoot%\\" + std::string(200000, 'p') + ".lnk");
    out.push_back({"huge shortcut path", at, s});
  }
  return out;
}

size_t SafeCount(const std::vector<size_t>& safe, size_t at) {
  size_t n = 0;
  while (n < safe.size() && safe[n] <= at) ++n;
  return n;
}

struct LoadJob {
  std::wstring path;
  CHkbhAppNameList list;
  HRESULT hr = E_PENDING;
};

DWORD WINAPI LoadThread(void* param) {
  auto* job = static_cast<LoadJob*>(param);
  job->hr = job->list.Load(job->path.c_str());
  return 0;
}

TEST(MalformedCatalogue, DamagedFilesKeepTheRecordsBeforeTheDamage) {
  const BaseFile base = MakeBase();
  ScopedFolder folder;
  CHkbhAppNameList whole;
  ASSERT_EQ(hkbhtest::LoadText(whole, folder, base.text), S_OK);
  ASSERT_EQ(whole.PackageCount(), base.package_safe.size());
  ASSERT_EQ(whole.DesktopAppCount(), base.desktop_safe.size());
  const std::vector<std::string> whole_dump = hkbhtest::Dump(whole);

  const std::vector<Damage> damage = MakeDamage(base);
  ASSERT_GE(damage.size(), 300u);
  size_t failed_loads = 0;
  for (const Damage& d : damage) {
    LoadJob job;
    job.path = folder.file(L"damaged.xml");
    ASSERT_TRUE(hkbtest::WriteFileBytes(job.path, d.text));
    hkb::UniqueHandle thread(::CreateThread(nullptr, 0, &LoadThread, &job, 0, nullptr));
    ASSERT_TRUE(thread);
    // Generous: a load of this size takes milliseconds.
    ASSERT_EQ(::WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0) << "load hangs: " << d.what;
    if (FAILED(job.hr)) ++failed_loads;

    // The records that stand complete before the damage were all read, and
    // read as they were written.
    const size_t packages = SafeCount(base.package_safe, d.at);
    const size_t desktops = SafeCount(base.desktop_safe, d.at);
    ASSERT_GE(job.list.PackageCount(), packages) << d.what;
    ASSERT_GE(job.list.DesktopAppCount(), desktops) << d.what;
    const std::vector<std::string> dump = hkbhtest::Dump(job.list);
    {
      // The leading records of the undamaged file, package lines with their app lines.
      size_t seen_packages = 0;
      size_t line = 0;
      for (; line < whole_dump.size(); ++line) {
        if (whole_dump[line][0] == 'P' && seen_packages++ == packages) break;
        if (whole_dump[line][0] == 'D') break;
      }
      for (size_t i = 0; i < line; ++i) {
        ASSERT_LT(i, dump.size()) << d.what;
        EXPECT_EQ(dump[i], whole_dump[i]) << d.what << " line " << i;
      }
      const size_t first_desktop_whole = whole_dump.size() - base.desktop_safe.size();
      const size_t first_desktop_now = dump.size() - job.list.DesktopAppCount();
      for (size_t i = 0; i < desktops; ++i)
        EXPECT_EQ(dump[first_desktop_now + i], whole_dump[first_desktop_whole + i])
            << d.what << " desktop " << i;
    }
    if (d.what.rfind("cut at", 0) == 0 && d.at < base.root_closed) {
      EXPECT_TRUE(FAILED(job.hr)) << "a document cut before its root closes is an error: " << d.what << " ("
                                  << d.at << ", ..."
                                  << d.text.substr(d.text.size() > 40 ? d.text.size() - 40 : 0) << ")";
    }
  }
  std::printf("%zu damaged files, %zu loads reported a failure\n", damage.size(), failed_loads);
}

}  // namespace
