#pragma once

#include <cstddef>
#include <cstdint>

#include "LeValue.h"

// A cursor over one unit's part of a reply: (data, remaining). A field that does not fit in
// the bytes left is neither read nor stored; the reader then fails for good, and needed()
// tells how many bytes the part needed up to and including that field.
class BoundedReader {
 public:
  BoundedReader(const unsigned char* data, int remaining)
      : data_(data),
        limit_(remaining < 0 ? 0 : static_cast<size_t>(remaining)),
        remaining_(remaining) {}

  bool u8(uint8_t& out) {
    if (!take(1)) return false;
    out = data_[pos_ - 1];
    return true;
  }
  // Four bytes copied unchanged.
  bool f32(LeF32& out) { return bytes(out.b, 4); }
  // Four bytes, or the substitute when they are the not-available marker (four equal bytes,
  // not zero).
  bool f32Or(LeF32& out, float substitute) {
    if (!take(4)) return false;
    const unsigned char* v = data_ + pos_ - 4;
    if (v[0] != 0 && v[0] == v[1] && v[1] == v[2] && v[2] == v[3]) {
      out = substitute;
    } else {
      for (int k = 0; k < 4; ++k) out.b[k] = v[k];
    }
    return true;
  }
  bool bytes(unsigned char* out, size_t n) {
    if (!take(n)) return false;
    for (size_t k = 0; k < n; ++k) out[k] = data_[pos_ - n + k];
    return true;
  }
  bool skip(size_t n) { return take(n); }
  // Whether the next n bytes are there, without moving.
  bool has(size_t n) const { return !failed_ && n <= limit_ - pos_; }
  // The byte at the cursor plus offset, if it lies inside the part.
  const unsigned char* at(size_t offset) const {
    return (!failed_ && offset < limit_ - pos_) ? data_ + pos_ + offset : nullptr;
  }

  bool ok() const { return !failed_; }
  // Bytes the part used so far, or needed up to the first field that did not fit.
  int needed() const { return static_cast<int>(pos_); }
  int remaining() const { return remaining_; }
  size_t left() const { return failed_ ? 0 : limit_ - pos_; }

 private:
  bool take(size_t n) {
    if (failed_) return false;
    if (n > limit_ - pos_) {
      failed_ = true;
      pos_ += n;
      return false;
    }
    pos_ += n;
    return true;
  }

  const unsigned char* data_;
  size_t limit_;
  int remaining_;
  size_t pos_ = 0;
  bool failed_ = false;
};
