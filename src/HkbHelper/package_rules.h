// The package manager's plain decisions: how an AppUserModelID is split and
// when the Office rule applies, which dependency matches an app id, the names
// of the instance mutex and the exit event, the catalogue folder, preset file
// and Start Menu paths, shortcut display names and the refresh pause. No
// Windows header: this builds natively for the unit tests as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hkbh {

// Every path fits this many UTF-16 units, terminator included.
inline constexpr size_t kPathUnits = 260;

// The family of the Office desktop packages, whose apps are found through the
// package's dependencies.
inline constexpr std::wstring_view kOfficeDesktopFamily = L"Microsoft.Office.Desktop_8wekyb3d8bbwe";

struct AppUserModelIdParts {
  bool has_bang = false;  // the id names an app ("family!app")
  std::wstring family;    // the part before the last "!" (the whole id without one)
  std::wstring app_id;    // the part after the last "!"
  bool office = false;    // the id contains the Office desktop family, in any letter case
};
AppUserModelIdParts SplitAppUserModelId(std::wstring_view id);

// True when the dependency's family name contains the app id, both folded to
// lower case (A-Z only); an empty app id is contained in every name.
bool DependencyMatches(std::wstring_view dependency_family, std::wstring_view app_id);

// "HkbHelper_<base>", or "HkbHelper" without a base name; cut to fit.
std::wstring InstanceMutexName(const std::wstring* base_name);
// "Local\QRH_Event_Exit_RefreshThread<pid>".
std::wstring ExitEventName(uint32_t process_id);

// LOCALAPPDATA without one trailing "\", then "\ZEV\HkbHelper\<base>";
// nothing when it does not fit.
std::optional<std::wstring> CatalogueFolder(std::wstring_view local_app_data, std::wstring_view base_name);
// The folder of the executable, "\" and "PresetAppNameList.xml"; nothing for a
// path without "\" or one that does not fit.
std::optional<std::wstring> PresetPath(std::wstring_view executable_path);
// folder + "\" + name; nothing when it does not fit.
std::optional<std::wstring> JoinPath(std::wstring_view folder, std::wstring_view name);
// folder + suffix (a search pattern such as "\*.lnk"); nothing when it does not fit.
std::optional<std::wstring> AppendPath(std::wstring_view folder, std::wstring_view suffix);

// A shortcut's name in the catalogue: its file name without the last four
// characters (the extension the search asked for); empty for shorter names.
std::wstring ShortcutDisplayName(std::wstring_view file_name);

// The pause between refresh passes: minutes x 60 000 ms. Intervals beyond
// what 32 bits hold wait the longest finite time instead (never INFINITE).
uint32_t RefreshPauseMs(uint32_t minutes);

}  // namespace hkbh
