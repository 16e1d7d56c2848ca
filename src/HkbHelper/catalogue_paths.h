// The catalogue's paths in the 260-unit buffers of the package manager: the
// catalogue file in its folder, for the initialization and the refresh.
#pragma once

#include <windows.h>

#include <string>

#include "hkbh_log.h"

// Copies text into a 260-unit buffer; FALSE (and an empty buffer) when it does not fit.
BOOL HkbhCopyPath(const std::wstring& text, wchar_t (&out)[kHkbhPathChars]);

// The catalogue file in the folder; empty when there is no folder.
void HkbhAppNameListPath(const wchar_t* folder, wchar_t (&out)[kHkbhPathChars]);
