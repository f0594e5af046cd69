#include "platform/system_text_win32.h"

bool toWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.find('\0') != std::string::npos) return false;
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return false;
  wide->resize(size_t(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                             wide->data(), length) == length;
}

std::string toUtf8(const wchar_t* wide, size_t size) {
  if (size == 0) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, int(size), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, int(size), text.data(), length, nullptr, nullptr);
  return text;
}

std::string systemReason(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason =
      length > 0 && text != nullptr ? std::string(text, length) : "Error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason;
}
