// Text helpers of the stand-in VSS: names compared as Windows compares them,
// GUIDs and HRESULTs as the call log writes them, and the environment.
#ifndef QUORLIN_STAND_IN_VSS_TEXT_H
#define QUORLIN_STAND_IN_VSS_TEXT_H

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// True when `a` and `b` name the same thing regardless of case (as file names are).
bool SameName(const std::wstring& a, const std::wstring& b);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
std::wstring GuidText(const GUID& id);
// The GUID in `text` (as GuidText writes it); false when it is not one.
bool ParseGuid(const std::wstring& text, GUID& id);

// "0x8004230c"
std::wstring HexText(HRESULT value);
// Reads "0x…" (hexadecimal) or a decimal number; false when `text` is neither.
bool ParseHResult(const std::wstring& text, HRESULT& value);

// The value of an environment variable of this process; empty when it is not set.
std::wstring Environment(const wchar_t* name);

// `text` split at `separator`, without empty parts.
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);

// UTF-8 of UTF-16 text, and back.
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& bytes);

}  // namespace standin

#endif
