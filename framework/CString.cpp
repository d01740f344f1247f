#include "framework/CString.h"

#include <vector>

CString::CString(const char* text) : text(text ? text : "") {}

CString::CString(const char* text, int length) : text(text, static_cast<std::size_t>(length)) {}

CString& CString::operator=(const char* other) {
  text = other ? other : "";
  return *this;
}

CString& CString::operator+=(const char* other) {
  if (other) text += other;
  return *this;
}

BOOL CString::LoadString(UINT id) {
  // LoadStringA returns the bytes copied, without the terminator, and truncates silently: grow
  // the buffer until the string fits with room to spare.
  HINSTANCE module = GetModuleHandleA(nullptr);
  for (int size = 256; size <= 65536; size *= 4) {
    std::vector<char> buffer(static_cast<std::size_t>(size));
    int copied = ::LoadStringA(module, id, buffer.data(), size);
    if (copied < size - 2) {
      text.assign(buffer.data(), static_cast<std::size_t>(copied));
      return copied > 0;
    }
  }
  text.clear();
  return FALSE;
}
