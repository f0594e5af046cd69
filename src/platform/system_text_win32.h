// Text the Windows platform files share: UTF-8 to and from the system's
// UTF-16, and the system's words for an error code. Included by the
// *_win32.cc files of this folder only.
#pragma once

#include <windows.h>

#include <string>

// text as UTF-16 in *wide. False for text that is not valid UTF-8 or holds a
// NUL: the system would be asked about some other name.
bool toWide(const std::string& text, std::wstring* wide);

// size UTF-16 units at wide as UTF-8.
std::string toUtf8(const wchar_t* wide, size_t size);

// The system's own words for an error code, without the closing period and
// line end it adds.
std::string systemReason(DWORD code);
