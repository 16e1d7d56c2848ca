#include "catalogue_paths.h"

#include <cwchar>

#include "package_rules.h"

namespace {

constexpr wchar_t kAppNameListFile[] = L"AppNameList.xml";

}  // namespace

BOOL HkbhCopyPath(const std::wstring& text, wchar_t (&out)[kHkbhPathChars]) {
  out[0] = L'\0';
  if (text.size() >= kHkbhPathChars) return FALSE;
  std::wmemcpy(out, text.c_str(), text.size() + 1);
  return TRUE;
}

void HkbhAppNameListPath(const wchar_t* folder, wchar_t (&out)[kHkbhPathChars]) {
  out[0] = L'\0';
  if (*folder == L'\0') return;
  if (const auto path = hkbh::JoinPath(folder, kAppNameListFile)) HkbhCopyPath(*path, out);
}
