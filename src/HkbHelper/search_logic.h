// The plain decisions of the launch functions: the search keyword with its
// exclusion clause, the text each search mode pastes, the screen state read
// from the app-visibility answers, and what the browser search does with the
// browser's tile setting before and after the search. No Windows header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue_logic.h"

namespace hkbh {

// ---------------------------------------------------------------------------
// Search text.

// The name in double quotation marks and, when `exclude` is not empty,
// " NOT(" with the entries in list order, each in quotation marks and joined
// by " OR ", and ")". A quotation mark inside the name or an entry is left
// out, so that each stays one quoted phrase. Throws std::bad_alloc.
std::wstring BuildSearchKeyword(std::wstring_view name, const NameList& exclude);

// The highest search mode: 0 pastes the keyword and presses Enter, 1 pastes
// the name as given and leaves the hits on screen, 2 is 0 except that an
// exact match in the catalogue pastes the name as given.
inline constexpr uint32_t kLastSearchMode = 2;

enum class SearchPaste { Keyword, Name };
SearchPaste PasteForMode(uint32_t mode, bool exactMatch);
// Modes that press Enter after the paste and repeat it while the search
// pane stays in front.
bool ModePressesEnter(uint32_t mode);

// ---------------------------------------------------------------------------
// Screen state of the primary monitor.

// -1: unknown, 0: desktop, 1: Start screen, 2: a full-screen app (or any
// other combination).
inline constexpr int32_t kScreenUnknown = -1;
inline constexpr int32_t kScreenDesktop = 0;
inline constexpr int32_t kScreenStart = 1;
inline constexpr int32_t kScreenApp = 2;

// `visibility` is the service's answer for the monitor: 0 unknown, 1 no app
// visible, 2 an app visible (other values pass through as "other").
int32_t ScreenStateFor(bool launcherVisible, int32_t visibility);

// ---------------------------------------------------------------------------
// The browser's tile setting around the browser search.

inline constexpr uint32_t kLastTileMode = 2;
// Read results of the setting that allow a change: read, or missing.
inline constexpr long kTileRead = 0;
inline constexpr long kTileMissing = 2;

// The value to write before the search, if any: tile mode 0 wants 0, tile
// mode 1 wants 1, tile mode 2 leaves the setting alone; so does any read
// result other than "read" or "missing", and a value that is already as wanted.
std::optional<uint32_t> TileValueToWrite(uint32_t tileMode, long readResult, uint32_t oldValue);

enum class TileRestore { Nothing, WriteBack, Delete };
// After the search: a value that was read and changed is written back; a
// value that was missing is deleted (whether or not one was written).
TileRestore TileRestoreFor(long readResult, bool changed);

}  // namespace hkbh
