#include "package_rules.h"

#include "catalogue_logic.h"

namespace hkbh {

namespace {

std::optional<std::wstring> Fitting(std::wstring s) {
  if (s.size() >= kPathUnits) return std::nullopt;
  return s;
}

}  // namespace

AppUserModelIdParts SplitAppUserModelId(std::wstring_view id) {
  AppUserModelIdParts parts;
  const size_t bang = id.rfind(L'!');
  if (bang == std::wstring_view::npos) {
    parts.family.assign(id);
    return parts;
  }
  parts.has_bang = true;
  parts.family.assign(id.substr(0, bang));
  parts.app_id.assign(id.substr(bang + 1));
  parts.office = FoldLower(id).find(FoldLower(kOfficeDesktopFamily)) != std::wstring::npos;
  return parts;
}

bool DependencyMatches(std::wstring_view dependency_family, std::wstring_view app_id) {
  return FoldLower(dependency_family).find(FoldLower(app_id)) != std::wstring::npos;
}

std::wstring InstanceMutexName(const std::wstring* base_name) {
  std::wstring name = L"HkbHelper";
  if (base_name != nullptr) name += L"_" + *base_name;
  if (name.size() >= kPathUnits) name.resize(kPathUnits - 1);
  return name;
}

std::wstring ExitEventName(uint32_t process_id) {
  return L"Local\\QRH_Event_Exit_RefreshThread" + std::to_wstring(process_id);
}

std::optional<std::wstring> CatalogueFolder(std::wstring_view local_app_data, std::wstring_view base_name) {
  if (!local_app_data.empty() && local_app_data.back() == L'\\') local_app_data.remove_suffix(1);
  return Fitting(std::wstring(local_app_data) + L"\\ZEV\\HkbHelper\\" + std::wstring(base_name));
}

std::optional<std::wstring> PresetPath(std::wstring_view executable_path) {
  const size_t slash = executable_path.rfind(L'\\');
  if (slash == std::wstring_view::npos) return std::nullopt;
  return JoinPath(executable_path.substr(0, slash), L"PresetAppNameList.xml");
}

std::optional<std::wstring> JoinPath(std::wstring_view folder, std::wstring_view name) {
  return Fitting(std::wstring(folder) + L"\\" + std::wstring(name));
}

std::optional<std::wstring> AppendPath(std::wstring_view folder, std::wstring_view suffix) {
  return Fitting(std::wstring(folder) + std::wstring(suffix));
}

std::wstring ShortcutDisplayName(std::wstring_view file_name) {
  if (file_name.size() <= 4) return {};
  return std::wstring(file_name.substr(0, file_name.size() - 4));
}

uint32_t RefreshPauseMs(uint32_t minutes) {
  const uint64_t ms = uint64_t{minutes} * 60000u;
  return ms >= 0xFFFFFFFFull ? 0xFFFFFFFEu : static_cast<uint32_t>(ms);
}

}  // namespace hkbh
