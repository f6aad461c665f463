// Fixed-width little-endian encoding and decoding. Binary records of the
// FidoNet formats and of FastEcho's configuration are read and written field
// by field through these, never by reading into packed structs, so the code
// depends neither on the compiler's packing nor on the host's byte order.
#ifndef KELVANE_RUNTIME_CODING_H_
#define KELVANE_RUNTIME_CODING_H_

#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/short_string.h"

namespace kelvane {

inline uint16_t GetU16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
inline int16_t GetI16(const uint8_t* P) { return static_cast<int16_t>(GetU16(P)); }
inline uint32_t GetU32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) | (static_cast<uint32_t>(P[2]) << 16) |
         (static_cast<uint32_t>(P[3]) << 24);
}
inline int32_t GetI32(const uint8_t* P) { return static_cast<int32_t>(GetU32(P)); }

inline void PutU16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}
inline void PutU32(uint8_t* P, uint32_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
  P[2] = static_cast<uint8_t>(V >> 16);
  P[3] = static_cast<uint8_t>(V >> 24);
}

// A text field of a binary record: the bytes up to the first NUL, or the
// whole field when it holds no NUL.
inline tShortString GetTextField(const uint8_t* P, size_t Width) {
  const void* Nul = std::memchr(P, 0, Width);
  size_t N = Nul ? static_cast<size_t>(static_cast<const uint8_t*>(Nul) - P) : Width;
  return tShortString(reinterpret_cast<const char*>(P), N);
}
// Stores Text in a field of Width bytes: at most MaxChars characters, the
// rest of the field zero.
inline void PutTextField(uint8_t* P, size_t Width, std::string_view Text, size_t MaxChars) {
  std::memset(P, 0, Width);
  size_t N = Text.size();
  if (N > MaxChars) N = MaxChars;
  if (N > Width) N = Width;
  if (N) std::memcpy(P, Text.data(), N);
}

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_CODING_H_
