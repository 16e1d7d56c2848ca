#include "search_logic.h"

namespace hkbh {

namespace {

// The text between quotation marks of its own: a quotation mark inside it
// would end the quoted part early and turn the rest of the name into query
// syntax, so it is left out.
void AppendQuoted(std::wstring& out, std::wstring_view text) {
  out += L'"';
  for (const wchar_t c : text)
    if (c != L'"') out += c;
  out += L'"';
}

}  // namespace

std::wstring BuildSearchKeyword(std::wstring_view name, const NameList& exclude) {
  std::wstring keyword;
  AppendQuoted(keyword, name);
  std::wstring clause;
  for (const std::wstring& entry : exclude) {
    if (!clause.empty()) clause += L" OR ";
    AppendQuoted(clause, entry);
  }
  if (!clause.empty()) {
    keyword += L" NOT(";
    keyword += clause;
    keyword += L')';
  }
  return keyword;
}

SearchPaste PasteForMode(uint32_t mode, bool exactMatch) {
  if (mode == 1) return SearchPaste::Name;
  if (mode == 2 && exactMatch) return SearchPaste::Name;
  return SearchPaste::Keyword;
}

bool ModePressesEnter(uint32_t mode) { return mode != 1; }

int32_t ScreenStateFor(bool launcherVisible, int32_t visibility) {
  if (visibility == 0) return kScreenUnknown;
  if (launcherVisible) return (visibility == 1 || visibility == 2) ? kScreenStart : kScreenApp;
  return visibility == 1 ? kScreenDesktop : kScreenApp;
}

std::optional<uint32_t> TileValueToWrite(uint32_t tileMode, long readResult, uint32_t oldValue) {
  if (readResult != kTileRead && readResult != kTileMissing) return std::nullopt;
  if (tileMode > 1) return std::nullopt;
  if (oldValue == tileMode) return std::nullopt;
  return tileMode;
}

TileRestore TileRestoreFor(long readResult, bool changed) {
  if (readResult == kTileRead && changed) return TileRestore::WriteBack;
  if (readResult == kTileMissing) return TileRestore::Delete;
  return TileRestore::Nothing;
}

}  // namespace hkbh
