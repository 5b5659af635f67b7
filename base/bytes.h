// Little-endian loads and stores shared by every parser and writer of the core.
// Callers check the bounds; these only assemble bytes, so they are safe at any alignment.
#pragma once
#include <cstdint>
#include <cstring>

inline uint32_t load_le32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline uint16_t load_le16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return uint16_t(b[0] | b[1] << 8);
}
inline void store_le32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v); b[1] = uint8_t(v >> 8); b[2] = uint8_t(v >> 16); b[3] = uint8_t(v >> 24);
}
inline void store_le16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v); b[1] = uint8_t(v >> 8);
}
