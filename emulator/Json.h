// A one-line JSON writer: objects and arrays of strings, numbers and booleans, written in UTF-8.
// The probe answers in it, and the emulated deck writes its report and its events in it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class Json {
 public:
  static Json Object() { return Json('{', '}'); }
  static Json Array() { return Json('[', ']'); }

  Json& Add(const char* key, const std::string& value) { return Key(key).Raw(Quote(value)); }
  Json& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
  Json& Add(const char* key, long long value) { return Key(key).Raw(std::to_string(value)); }
  Json& Add(const char* key, unsigned long long value) { return Key(key).Raw(std::to_string(value)); }
  Json& Add(const char* key, int value) { return Add(key, static_cast<long long>(value)); }
  Json& Add(const char* key, unsigned value) { return Add(key, static_cast<unsigned long long>(value)); }
  Json& Add(const char* key, unsigned long value) { return Add(key, static_cast<unsigned long long>(value)); }
  Json& Add(const char* key, bool value) { return Key(key).Raw(value ? "true" : "false"); }
  Json& Add(const char* key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return Key(key).Raw(text);
  }
  Json& Add(const char* key, const Json& value) { return Key(key).Raw(value.Text()); }
  Json& Push(const Json& value) { return Next().Raw(value.Text()); }
  Json& Push(long long value) { return Next().Raw(std::to_string(value)); }
  Json& Push(const std::string& value) { return Next().Raw(Quote(value)); }

  std::string Text() const { return body + close; }

  static std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
          } else {
            out += static_cast<char>(c);
          }
      }
    }
    return out + "\"";
  }

 private:
  Json(char open, char close) : body(1, open), close(close) {}
  Json& Next() {
    if (body.size() > 1) body += ',';
    return *this;
  }
  Json& Key(const char* key) { return Next().Raw(Quote(key) + ":"); }
  Json& Raw(const std::string& s) {
    body += s;
    return *this;
  }
  std::string body;
  char close;
};
