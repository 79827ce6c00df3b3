// Reading a fuzzer's input as a stream of small decisions: bytes, words and
// slices, with zeros once it runs out, so a harness never reads past the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Input {
 public:
  Input(const uint8_t *data, size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  size_t left() const { return n_; }
  uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  // Up to n bytes into out (zero-filled past the end of the input); how many were real.
  size_t take(uint8_t *out, size_t n) {
    size_t k = n < n_ ? n : n_;
    if (k > 0) memcpy(out, p_, k);
    if (n > k) memset(out + k, 0, n - k);
    p_ += k;
    n_ -= k;
    return k;
  }
  const uint8_t *rest() const { return p_; }

 private:
  const uint8_t *p_;
  size_t n_;
};

// Once per process: the kit's log off, its progress bars and listings sent away.
void init();

}  // namespace fuzz
