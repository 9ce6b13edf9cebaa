// The trace facility: lines to the debugger output and, when the host has set
// one, to its console handle in the OEM code page, filtered by verbosity.
#ifndef QUORLIN_DIAG_TRACE_H
#define QUORLIN_DIAG_TRACE_H

#include <string>

namespace quorlin {

enum { TRACE_LEVEL_RESULT = 2, TRACE_LEVEL_DETAIL = 4 };

// Emits `text` as one line when the verbosity is at least `level`.
void Trace(const wchar_t* text, int level);
inline void Trace(const std::wstring& text, int level) { Trace(text.c_str(), level); }
// A step line: Trace(text, TRACE_LEVEL_DETAIL).
void TraceDetail(const wchar_t* text);
inline void TraceDetail(const std::wstring& text) { TraceDetail(text.c_str()); }
// The text, then "\r\n"; no level test.
void TraceLine(const wchar_t* text);
// Sends the text to the debugger and the console; no level test, no line end.
// Throws a new CQuorlinException when the console refuses the write.
void TraceText(const wchar_t* text);

}  // namespace quorlin

#endif
