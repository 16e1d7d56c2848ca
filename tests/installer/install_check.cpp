// The product as a 64-bit program sees it after "msiexec /i ZEVHKB.msi", after
// an upgrade in place and after a repair (suite Installed), and after
// "msiexec /x" (suite Removed), in a prefix of its own; the user's own data
// across the upgrade (suite UserData). msi_test.sh runs the suites. HKB_DIST
// names the build's output, HKB_VERSION the version the package carries.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "server_support.h"

namespace {

using Lines = std::vector<std::string>;

constexpr wchar_t kUpgradeCode[] = L"{3C1E7B52-9A04-4D8E-B6F3-2A5D0C91E874}";
constexpr wchar_t kMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";

const std::wstring kTypeLibKey = std::wstring(L"TypeLib\\") + keydbtest::kLibId;
const std::wstring kInterfaceKey = std::wstring(L"Interface\\") + keydbtest::kIid;

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return path;
}
std::wstring Folder64() { return SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\ZEVHKB"; }
std::wstring Folder32() { return SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\ZEVHKB"; }
std::wstring Server32() { return Folder32() + L"\\KeyDbWrapper.exe"; }

// What the package installs: folder, file, and the file in the build's output.
struct Installed {
  std::wstring folder;
  const wchar_t* file;
  const wchar_t* built;
};
std::vector<Installed> Files() {
  return {{Folder64(), L"HKBUTLEx.exe", L"Program Files\\ZEVHKB\\HKBUTLEx.exe"},
          {Folder64(), L"ZEVOSD.dll", L"Program Files\\ZEVHKB\\ZEVOSD.dll"},
          {Folder64(), L"HKBFNK.dll", L"Program Files\\ZEVHKB\\HKBFNK.dll"},
          {Folder64(), L"HkbHelper.dll", L"Program Files\\ZEVHKB\\HkbHelper.dll"},
          {Folder64(), L"HKBPS2.dll", L"Program Files\\ZEVHKB\\HKBPS2.dll"},
          {Folder32(), L"KeyDbWrapper.exe", L"Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe"}};
}

std::vector<std::wstring> FolderContents(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW d;
  const hkb::UniqueFind h(::FindFirstFileW((folder + L"\\*").c_str(), &d));
  if (!h) return names;
  do {
    if (std::wstring(d.cFileName) != L"." && std::wstring(d.cFileName) != L"..") names.push_back(d.cFileName);
  } while (::FindNextFileW(h.get(), &d));
  std::sort(names.begin(), names.end());
  return names;
}

// What RegisterTypeLib writes for the library of the 32-bit program: its
// help string as this machine's code page reads it, and its flags.
Lines TypeLibTable() {
  hkb::ComPtr<ITypeLib> lib;
  std::string name = "<no type library>", flags = "<no type library>";
  if (SUCCEEDED(::LoadTypeLibEx(Server32().c_str(), REGKIND_NONE, lib.put()))) {
    hkb::Bstr doc;
    lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr);
    name = hkbtest::Utf8(doc.get() ? doc.get() : L"");
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) {
      flags = std::to_string(attr->wLibFlags);
      lib->ReleaseTLibAttr(attr);
    }
  }
  const std::string key = hkbtest::Utf8(kTypeLibKey);
  Lines t = {key + "|",
             key + "\\1.0|",
             key + "\\1.0||s:" + name,
             key + "\\1.0\\0|",
             key + "\\1.0\\0\\win32|",
             key + "\\1.0\\0\\win32||s:" + hkbtest::Utf8(Server32()),
             key + "\\1.0\\FLAGS|",
             key + "\\1.0\\FLAGS||s:" + flags,
             key + "\\1.0\\HELPDIR|",
             key + "\\1.0\\HELPDIR||s:" + hkbtest::Utf8(Folder32())};
  std::sort(t.begin(), t.end());
  return t;
}

// ... and for its interface (in both registry views).
Lines InterfaceTable() {
  const std::string key = hkbtest::Utf8(kInterfaceKey);
  const std::string marshaler = hkbtest::Utf8(kMarshaler);
  Lines t = {key + "|",
             key + "||s:IkeyDbObj",
             key + "\\ProxyStubClsid|",
             key + "\\ProxyStubClsid||s:" + marshaler,
             key + "\\ProxyStubClsid32|",
             key + "\\ProxyStubClsid32||s:" + marshaler,
             key + "\\TypeLib|",
             key + "\\TypeLib||s:" + hkbtest::Utf8(keydbtest::kLibId),
             key + "\\TypeLib|Version|s:1.0"};
  std::sort(t.begin(), t.end());
  return t;
}

Lines Sorted(Lines l) {
  std::sort(l.begin(), l.end());
  return l;
}

// The installed product's code, found through the package's upgrade code.
std::optional<std::wstring> ProductCode() {
  wchar_t code[39] = {};
  if (::MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, code) != ERROR_SUCCESS) return std::nullopt;
  return std::wstring(code);
}

std::wstring ProductInfo(const std::wstring& code, const wchar_t* property) {
  wchar_t value[256] = {};
  DWORD size = 256;
  if (::MsiGetProductInfoW(code.c_str(), property, value, &size) != ERROR_SUCCESS) return L"<none>";
  return value;
}

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// --------------------------------------------------------------- installed

TEST(Installed, EveryFileInItsFolderAsBuilt) {
  for (const Installed& f : Files()) {
    SCOPED_TRACE(hkbtest::Utf8(f.folder + L"\\" + f.file));
    const std::string installed = hkbtest::ReadFileBytes(f.folder + L"\\" + f.file);
    ASSERT_FALSE(installed.empty());
    EXPECT_TRUE(installed == hkbtest::ReadFileBytes(hkbtest::DistFile(f.built))) << "differs from the build";
  }
  // Nothing else in the two product folders.
  EXPECT_EQ(FolderContents(Folder64()),
            (std::vector<std::wstring>{L"HKBFNK.dll", L"HKBPS2.dll", L"HKBUTLEx.exe", L"HkbHelper.dll",
                                       L"ZEVOSD.dll"}));
  EXPECT_EQ(FolderContents(Folder32()), std::vector<std::wstring>{L"KeyDbWrapper.exe"});
}

TEST(Installed, ClassRegisteredAsTheServersOwnRegServerWritesIt) {
  // A 32-bit program's registration lands in the 32-bit view.
  EXPECT_EQ(keydbtest::RegisteredClassKeys(KEY_WOW64_32KEY), keydbtest::ClassRegistrationTable(Server32()));
  EXPECT_FALSE(
      hkbtest::KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + keydbtest::kClsid, KEY_WOW64_64KEY))
      << "the 32-bit server's class is registered for 64-bit servers";
}

TEST(Installed, TypeLibraryRegisteredAsRegisterTypeLibDoes) {
  EXPECT_EQ(Sorted(hkbtest::DumpKeyTree(HKEY_CLASSES_ROOT, kTypeLibKey, KEY_WOW64_32KEY)), TypeLibTable());
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    SCOPED_TRACE(view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
    EXPECT_EQ(Sorted(hkbtest::DumpKeyTree(HKEY_CLASSES_ROOT, kInterfaceKey, view)), InterfaceTable());
  }
  // A 64-bit program finds the library, in the 32-bit program.
  hkb::ComPtr<ITypeLib> lib;
  EXPECT_EQ(::LoadRegTypeLib(LIBID_KEYDBWRAPPERLib, 1, 0, 0, lib.put()), S_OK);
  BSTR path = nullptr;
  ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_KEYDBWRAPPERLib, 1, 0, 0, &path), S_OK);
  hkb::Bstr owned;
  *owned.put() = path;
  EXPECT_EQ(std::wstring(owned.get()), Server32());
}

TEST(Installed, ProductKnownWithItsVersionAndUninstallEntry) {
  const std::optional<std::wstring> code = ProductCode();
  ASSERT_TRUE(code) << "no product with the upgrade code is installed";
  EXPECT_EQ(::MsiQueryProductStateW(code->c_str()), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(ProductInfo(*code, INSTALLPROPERTY_VERSIONSTRING), hkbtest::Env(L"HKB_VERSION"));
  EXPECT_EQ(ProductInfo(*code, INSTALLPROPERTY_PRODUCTNAME), L"ZEV HKB");
  EXPECT_EQ(ProductInfo(*code, INSTALLPROPERTY_PUBLISHER), L"ZEV");
  const std::wstring uninstall = kUninstallKey + *code;
  const auto name = hkbtest::ReadRegValue(HKEY_LOCAL_MACHINE, uninstall, L"DisplayName");
  ASSERT_TRUE(name);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(name->bytes.data())), L"ZEV HKB");
  // One product of this upgrade code, not two.
  wchar_t second[39] = {};
  EXPECT_EQ(::MsiEnumRelatedProductsW(kUpgradeCode, 0, 1, second), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

// A 64-bit client creates the class through the installed registration and
// calls the installed 32-bit server.
TEST(Installed, ClassCreatedByA64BitClient) {
  const keydbtest::ServerBuild& server = keydbtest::Server();
  const std::wstring folder = Folder32() + L"\\";
  hkbtest::ScopedFileCopy library(server.standins + L"KeyDb.dll", folder + L"KeyDb.dll");
  ASSERT_TRUE(library.ok());
  const std::wstring scenario = folder + L"KeyDb.scenario", trace = folder + L"KeyDb.trace";
  struct Files {
    std::wstring a, b;
    ~Files() {
      ::DeleteFileW(a.c_str());
      ::DeleteFileW(b.c_str());
    }
  } files{scenario, trace};
  ASSERT_TRUE(
      hkbtest::WriteFileBytes(scenario, "GetExecpathStatus 5 7\nGetPathByID_LED 5 1 C:\\Tools\\five.exe\n"));

  DWORD pid = 0;
  {
    hkb::ComInit com;
    HRESULT hr = E_FAIL;
    hkb::ComPtr<IkeyDbObj> db = keydbtest::CreateObject(&hr);
    ASSERT_EQ(hr, S_OK);
    long status = 0;
    EXPECT_EQ(db->GetExecpathStatusWrapper(5, &status), S_OK);
    EXPECT_EQ(status, 7);
    keydbtest::TextBuffer text;
    EXPECT_EQ(db->GetPathByID_LEDWrapper(5, text.units), S_OK);
    EXPECT_EQ(text.Text(), L"C:\\Tools\\five.exe");
    const std::string first = hkbtest::ReadFileBytes(trace);
    ASSERT_EQ(first.rfind("pid=", 0), 0u) << first;
    pid = static_cast<DWORD>(std::stoul(first.substr(4)));
    EXPECT_NE(pid, ::GetCurrentProcessId()) << "answered in process, not by the local server";
  }
  // The server ends by itself once its object is gone; its files can go then.
  EXPECT_TRUE(keydbtest::WaitForExit(pid, 60000).has_value());
}

// --------------------------------------------------------------- user data

// What the system writes for its user, not the installer: the launcher's
// prompt switch and HkbHelper's app catalogue. The installer never owns them;
// an upgrade in place must keep them as they are.
constexpr wchar_t kPromptKey[] = L"Software\\ZEV\\ZEVHKB\\ButtonKeys\\Settings";
constexpr DWORD kPromptSetting = 0;
const std::string kCatalogue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<AppNameList>\r\n"
    "<App Name=\"Calculator\" Path=\"C:\\Windows\\system32\\calc.exe\"/>\r\n</AppNameList>\r\n";
std::wstring CatalogueFolder() { return hkbtest::Env(L"LOCALAPPDATA") + L"\\ZEV\\HkbHelper\\ButtonService"; }
std::wstring CatalogueFile() { return CatalogueFolder() + L"\\AppNameList.xml"; }

TEST(UserData, Write) {
  hkb::UniqueKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kPromptKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                              nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key.get(), L"ShowKorunePrompt", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&kPromptSetting), sizeof kPromptSetting),
            ERROR_SUCCESS);
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, CatalogueFolder().c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(hkbtest::WriteFileBytes(CatalogueFile(), kCatalogue));
}

TEST(UserData, Kept) {
  const auto prompt = hkbtest::ReadRegValue(HKEY_CURRENT_USER, kPromptKey, L"ShowKorunePrompt");
  ASSERT_TRUE(prompt) << "the prompt setting is gone";
  EXPECT_EQ(prompt->type, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(prompt->bytes.size(), sizeof(DWORD));
  EXPECT_EQ(*reinterpret_cast<const DWORD*>(prompt->bytes.data()), kPromptSetting);
  EXPECT_EQ(hkbtest::ReadFileBytes(CatalogueFile()), kCatalogue)
      << "the catalogue is not as the user left it";
}

// The test's own clean-up, so that the prefix can be compared with its state
// before the installation.
TEST(UserData, Remove) {
  EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ZEV"), ERROR_SUCCESS);
  EXPECT_TRUE(::DeleteFileW(CatalogueFile().c_str()));
  for (const std::wstring& folder : {CatalogueFolder(), hkbtest::Env(L"LOCALAPPDATA") + L"\\ZEV\\HkbHelper",
                                     hkbtest::Env(L"LOCALAPPDATA") + L"\\ZEV"})
    EXPECT_TRUE(::RemoveDirectoryW(folder.c_str())) << hkbtest::Utf8(folder);
}

// ----------------------------------------------------------------- removed

TEST(Removed, NoFileOrFolderLeft) {
  EXPECT_EQ(::GetFileAttributesW(Folder64().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(::GetFileAttributesW(Folder32().c_str()), INVALID_FILE_ATTRIBUTES);
  // The folders they were in stay.
  EXPECT_NE(::GetFileAttributesW(SpecialFolder(CSIDL_PROGRAM_FILES).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(::GetFileAttributesW(SpecialFolder(CSIDL_PROGRAM_FILESX86).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Removed, NoRegistryEntryLeft) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    SCOPED_TRACE(view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
    EXPECT_EQ(keydbtest::RegisteredClassKeys(view), Lines{});
    EXPECT_FALSE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey, view));
    EXPECT_FALSE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey, view));
  }
  // The keys they were in stay. (The installer service removes keys that its
  // uninstallation leaves empty, up the path: whether a 32-bit CLSID or
  // Interface key that was empty before stays is for msi_test.sh's snapshots.)
  for (const wchar_t* parent : {L"AppID", L"CLSID", L"TypeLib", L"Interface"})
    EXPECT_TRUE(hkbtest::KeyExists(HKEY_CLASSES_ROOT, parent, KEY_WOW64_64KEY)) << hkbtest::Utf8(parent);
  hkb::ComPtr<ITypeLib> lib;
  EXPECT_NE(::LoadRegTypeLib(LIBID_KEYDBWRAPPERLib, 1, 0, 0, lib.put()), S_OK);
}

TEST(Removed, ProductUnknownToTheInstaller) {
  EXPECT_EQ(ProductCode(), std::nullopt);
  wchar_t code[39] = {};
  EXPECT_EQ(::MsiEnumRelatedProductsW(kUpgradeCode, 0, 0, code), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

}  // namespace
