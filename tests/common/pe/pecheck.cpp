// pecheck --file F --machine x64|x86 [--export NAME[@ORDINAL]]... [--shared-section NAME]
// Checks a shipped binary: its machine, that it exports exactly the names given
// (undecorated, at the ordinals given), that it imports only system DLLs and
// that it carries a version resource and no debug information (that stays
// beside the build; a debug link may name it).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pe_reader.h"

namespace {

// DLLs that every supported Windows carries; nothing of the toolchain's own.
const std::set<std::string> kSystemDlls = {
    "advapi32.dll", "bcrypt.dll",   "cfgmgr32.dll", "combase.dll", "comctl32.dll", "comdlg32.dll",
    "crypt32.dll",  "dwmapi.dll",   "gdi32.dll",    "gdiplus.dll", "imm32.dll",    "kernel32.dll",
    "msimg32.dll",  "msvcrt.dll",   "ntdll.dll",    "ole32.dll",   "oleaut32.dll", "powrprof.dll",
    "propsys.dll",  "rpcrt4.dll",   "setupapi.dll", "shcore.dll",  "shell32.dll",  "shlwapi.dll",
    "user32.dll",   "userenv.dll",  "uxtheme.dll",  "version.dll", "winmm.dll",    "wtsapi32.dll",
    "xmllite.dll",  "ntoskrnl.exe", "hal.dll",      "ws2_32.dll",  "secur32.dll",  "urlmon.dll"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool IsSystemDll(const std::string& name) {
  const std::string n = Lower(name);
  return kSystemDlls.count(n) || n.rfind("api-ms-win-", 0) == 0 || n.rfind("ext-ms-win-", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file, machine, shared;
  std::vector<std::string> expected;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--file")
      file = argv[i + 1];
    else if (key == "--machine")
      machine = argv[i + 1];
    else if (key == "--export")
      expected.push_back(argv[i + 1]);
    else if (key == "--shared-section")
      shared = argv[i + 1];
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::printf("FAIL %s: cannot open\n", file.c_str());
    return 1;
  }
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  pe::Image img;
  if (std::string err = pe::Parse(data, img); !err.empty()) {
    std::printf("FAIL %s: %s\n", file.c_str(), err.c_str());
    return 1;
  }

  int failures = 0;
  auto fail = [&](const std::string& what) {
    std::printf("FAIL %s\n", what.c_str());
    ++failures;
  };

  const uint16_t want = machine == "x86" ? pe::kMachineX86 : pe::kMachineX64;
  std::printf("machine 0x%04X (PE32%s)\n", img.machine, img.pe32plus ? "+" : "");
  if (img.machine != want || img.pe32plus != (want == pe::kMachineX64)) fail("machine is not " + machine);

  // Exports: exactly the expected set; NAME@N also pins the ordinal.
  std::set<std::string> seen;
  for (const pe::Export& e : img.exports) {
    std::printf("export %s @%u\n", e.name.c_str(), e.ordinal);
    seen.insert(e.name);
    seen.insert(e.name + "@" + std::to_string(e.ordinal));
  }
  std::set<std::string> expectedNames;
  for (const std::string& x : expected) {
    if (!seen.count(x)) fail("missing export " + x);
    expectedNames.insert(x.substr(0, x.find('@')));
  }
  for (const pe::Export& e : img.exports) {
    if (!expectedNames.count(e.name)) fail("unexpected export " + e.name);
  }

  for (const std::string& dll : img.imports) {
    std::printf("import %s\n", dll.c_str());
    if (!IsSystemDll(dll)) fail("imports a non-system DLL: " + dll);
  }

  // Every shipped binary carries a version resource.
  if (std::find(img.resourceTypes.begin(), img.resourceTypes.end(), 16u) == img.resourceTypes.end())
    fail("no version resource");
  else
    std::printf("version resource present\n");

  for (const pe::Section& s : img.sections)
    if (s.name.rfind(".debug", 0) == 0 || s.name.rfind(".zdebug", 0) == 0)
      fail("carries debug information (section " + s.name + ")");

  if (!shared.empty()) {
    const uint32_t wantFlags = pe::kScnInitializedData | pe::kScnRead | pe::kScnWrite | pe::kScnShared;
    auto it = std::find_if(img.sections.begin(), img.sections.end(),
                           [&](const pe::Section& s) { return s.name == shared; });
    if (it == img.sections.end()) {
      fail("no section " + shared);
    } else {
      std::printf("section %s flags 0x%08X\n", it->name.c_str(), it->characteristics);
      if ((it->characteristics & wantFlags) != wantFlags)
        fail("section " + shared + " is not shared read-write data");
    }
  }
  std::printf("%s: %d problem(s)\n", file.c_str(), failures);
  return failures ? 1 : 0;
}
