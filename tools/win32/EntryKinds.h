// How the copy takes a Windows directory entry: only name surrogates (symbolic links,
// junctions, mount points) are links. Other reparse points (deduplicated files, WOF
// compressed files, cloud placeholders) hold data of their own, which is copied.
#ifndef QUORLIN_TOOL_WIN32_ENTRY_KINDS_H
#define QUORLIN_TOOL_WIN32_ENTRY_KINDS_H

#include "FileSystem.h"

#include <windows.h>

#include <string>

namespace qtool {

// `reparseTag` counts only where `attributes` hold FILE_ATTRIBUTE_REPARSE_POINT.
EntryKind EntryKindOf(DWORD attributes, DWORD reparseTag);

// Whether a failure to open or list an entry is the system refusing that entry to this
// process (which the copy names and goes past) rather than a failure of the copy.
bool RefusesEntry(DWORD error);

// Whether a failure to ask for an entry's streams or security means that its file system
// keeps none (FAT, or a file system that does not answer), so there is nothing to lose.
bool KeepsNone(DWORD error);

// The system's sentence for `error`, as the copy gives it for why: without its full stop.
std::string ErrorText(DWORD error);

}  // namespace qtool

#endif  // QUORLIN_TOOL_WIN32_ENTRY_KINDS_H
