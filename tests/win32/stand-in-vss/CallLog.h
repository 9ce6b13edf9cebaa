// The record of every call the stand-in receives: one line per call, appended to
// the file that QUORLIN_VSS_LOG names (nothing is recorded when it is not set).
// A line starts with the call's name (an operation's calls read
// "DoSnapshotSet.Wait"), then its arguments, then "->" and the answer, then what
// it handed out. Lines of things that happened without a call start with "*".
// Several processes may append to one file: each line is written at once.
#ifndef QUORLIN_STAND_IN_VSS_CALL_LOG_H
#define QUORLIN_STAND_IN_VSS_CALL_LOG_H

#include <windows.h>

#include <string>

namespace standin {

void LogLine(const std::wstring& line) noexcept;

// "<call> -> <answer>" and `details`, if any, after a space; returns `answer`.
HRESULT LogAnswer(const std::wstring& call, HRESULT answer,
                  const std::wstring& details = L"") noexcept;

}  // namespace standin

#endif
