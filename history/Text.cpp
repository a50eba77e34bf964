#include "Text.h"

#include <cstdint>
#include <cstdio>

namespace zel {

size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(at);
  if (b0 < 0x80) return 1;
  // The lead byte gives the length and the range of the second byte (which rules out overlong
  // forms, surrogates and anything above U+10FFFF); the others are 80..BF.
  size_t n = 0;
  uint8_t lo = 0x80;
  uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < n) return 0;
  if (byte(at + 1) < lo || byte(at + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) return 0;
  return n;
}

std::string ForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto b = static_cast<uint8_t>(text[at]);
    const size_t n = Utf8Length(text, at);
    if (b == '\r') {
      out += "\\r";
      ++at;
      continue;
    }
    if (n == 0 || (b < 0x20 && b != '\t' && b != '\n') || b == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
      ++at;
      continue;
    }
    out.append(text, at, n);
    at += n;
  }
  return out;
}

std::string ForScript(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 8);
  for (size_t at = 0; at < json.size();) {
    const char c = json[at];
    const size_t n = Utf8Length(json, at);
    if (c == '<') {
      out += "\\u003c";
    } else if (c == '>') {
      out += "\\u003e";
    } else if (c == '&') {
      out += "\\u0026";
    } else if (n == 0) {
      out += "\\ufffd";
    } else if (n == 3 && json.compare(at, 2, "\xE2\x80") == 0 &&
               (json[at + 2] == '\xA8' || json[at + 2] == '\xA9')) {
      out += json[at + 2] == '\xA8' ? "\\u2028" : "\\u2029";
    } else {
      out.append(json, at, n);
    }
    at += n == 0 ? 1 : n;
  }
  return out;
}

}  // namespace zel
