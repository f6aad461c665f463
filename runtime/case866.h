// Case mapping in code page 866, the console's OEM code page. Upper-casing
// turns a-z into A-Z, 0xA0-0xAF into 0x80-0x8F, 0xE0-0xEF into 0x90-0x9F and
// 0xF1 (yo) into 0xF0; lower-casing is the inverse. Every other byte stays.
// Used wherever the system compares text without regard to case: control
// keywords, request conditions, area tags, patterns, kludge names.
#ifndef KELVANE_RUNTIME_CASE866_H_
#define KELVANE_RUNTIME_CASE866_H_

#include <cstdint>
#include <string_view>

#include "runtime/short_string.h"

namespace kelvane {

inline uint8_t UpperCase866(uint8_t C) {
  if (C >= 'a' && C <= 'z') return static_cast<uint8_t>(C - 32);
  if (C >= 0xA0 && C <= 0xAF) return static_cast<uint8_t>(C - 0x20);
  if (C >= 0xE0 && C <= 0xEF) return static_cast<uint8_t>(C - 0x50);
  if (C == 0xF1) return 0xF0;
  return C;
}

inline uint8_t LowerCase866(uint8_t C) {
  if (C >= 'A' && C <= 'Z') return static_cast<uint8_t>(C + 32);
  if (C >= 0x80 && C <= 0x8F) return static_cast<uint8_t>(C + 0x20);
  if (C >= 0x90 && C <= 0x9F) return static_cast<uint8_t>(C + 0x50);
  if (C == 0xF0) return 0xF1;
  return C;
}

inline char UpperCase866(char C) { return static_cast<char>(UpperCase866(static_cast<uint8_t>(C))); }
inline char LowerCase866(char C) { return static_cast<char>(LowerCase866(static_cast<uint8_t>(C))); }

tShortString UpperCase866(std::string_view Text);
tShortString LowerCase866(std::string_view Text);

// True when A and B have the same length and the same bytes after UpperCase866.
bool SameText866(std::string_view A, std::string_view B);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_CASE866_H_
