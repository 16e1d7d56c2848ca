// Saving a file so that it is replaced only by a complete new one: the new
// contents go to a temporary file beside it, which is flushed to the disk and
// then renamed over the file. On any failure the temporary file is removed
// and the file stays as it was. Temporary files that earlier saves left
// behind (killed before their rename) are removed first.
//
// The temporary files carry the catalogue's names (hkbh::kCatalogueTempPrefix).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <functional>

// Writes the new contents into `stream`; a failed result abandons the save.
// Whatever it holds on the stream is released by the time it returns.
using HkbhStreamWriter = std::function<HRESULT(IStream* stream)>;

// Saves `path` (not null, not empty) through `write`. A write that the disk
// fails (a full disk) fails the save even when `write` reports success.
// `operation` names the caller in the trace of a removed leftover file.
HRESULT HkbhSaveFileAtomically(const wchar_t* path, const wchar_t* operation, const HkbhStreamWriter& write);
