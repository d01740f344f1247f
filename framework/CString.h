// CString: the framework's multibyte string, as the windows use it (code page 932 texts passed to
// the ANSI calls). Only what the windows need: build, join, load from the string table, read.
#pragma once

#include <windows.h>

#include <string>

class CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT: converts like the framework's; nullptr gives ""
  CString(const char* text, int length);

  int GetLength() const { return static_cast<int>(text.size()); }
  bool IsEmpty() const { return text.empty(); }
  const char* GetString() const { return text.c_str(); }
  operator const char*() const { return text.c_str(); }  // NOLINT: as the framework converts

  CString& operator=(const char* other);
  CString& operator+=(const char* other);

  // Replaces the text with string `id` of the program's string table, converted to the ANSI code
  // page. FALSE (text emptied) when there is no such string.
  BOOL LoadString(UINT id);

 private:
  std::string text;
};
