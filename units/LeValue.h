#pragma once

#include <cstdint>
#include <cstring>

// Little-endian values stored byte for byte, so that records need no alignment: a record of
// these and of plain bytes has no padding and can be read at any address, on any target.

struct LeU32 {
  unsigned char b[4];

  operator uint32_t() const {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  LeU32& operator=(uint32_t v) {
    b[0] = static_cast<unsigned char>(v);
    b[1] = static_cast<unsigned char>(v >> 8);
    b[2] = static_cast<unsigned char>(v >> 16);
    b[3] = static_cast<unsigned char>(v >> 24);
    return *this;
  }
};

// IEEE-754 single precision, least significant byte first.
struct LeF32 {
  unsigned char b[4];

  operator float() const {
    const uint32_t bits = LeU32{{b[0], b[1], b[2], b[3]}};
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  LeF32& operator=(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    LeU32 le;
    le = bits;
    std::memcpy(b, le.b, 4);
    return *this;
  }
};

static_assert(sizeof(LeU32) == 4 && alignof(LeU32) == 1, "LeU32 is four packed bytes");
static_assert(sizeof(LeF32) == 4 && alignof(LeF32) == 1, "LeF32 is four packed bytes");
