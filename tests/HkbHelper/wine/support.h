// Helpers shared by the catalogue library's Windows tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app_name_list.h"

namespace hkbhtest {

// A folder of its own under %TEMP% for the scope; removed with its contents.
class ScopedFolder {
 public:
  ScopedFolder();
  ~ScopedFolder();
  ScopedFolder(const ScopedFolder&) = delete;
  ScopedFolder& operator=(const ScopedFolder&) = delete;
  const std::wstring& path() const { return m_path; }
  std::wstring file(const std::wstring& name) const { return m_path + L"\\" + name; }
  // Names of the files in the folder (not recursive), sorted.
  std::vector<std::wstring> files() const;

 private:
  std::wstring m_path;
};

bool MakeFolders(const std::wstring& path);  // with every missing parent

// The catalogue as lines of text: one per package, app and desktop app, with
// every field that the file keeps. Comparing two of these compares records.
std::vector<std::string> Dump(const CHkbhAppNameList& list);

// Loads text (UTF-8 bytes) written to a file of the folder; returns Load's result.
HRESULT LoadText(CHkbhAppNameList& list, const ScopedFolder& folder, const std::string& text);

// A file's bytes without a leading UTF-8 byte-order mark (whether the writer
// puts one there is the writer's own choice).
std::string WithoutBom(const std::string& bytes);

// Runs a program with a command line and waits (bounded) for its exit code;
// the child inherits this process's environment. ~0u when it could not run
// or did not end in time. With `error_file`, the program's standard error goes there.
DWORD RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeout_ms = 60000,
                 const std::wstring& error_file = {});

}  // namespace hkbhtest
