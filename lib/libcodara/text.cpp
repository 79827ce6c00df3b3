// A description is formatted on every decode; the C library's formatter costs more
// than the rest of a short decode, so the few conversions descriptions use are done here.
#include "libcodara/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

// Writes into out[0 .. size-2] and counts every character, as snprintf does.
struct Sink {
  char *out;
  size_t size;
  size_t n = 0;
  void put(char c) {
    if (n + 1 < size) out[n] = c;
    ++n;
  }
  void pad(char c, int count) {
    for (int i = 0; i < count; ++i) put(c);
  }
};

// One conversion's text: `sign` (may be 0) then the digits or characters in body.
void emit(Sink &s, bool left, bool zero, int width, char sign, const char *body, int len) {
  const int total = len + (sign != 0 ? 1 : 0);
  const int fill = width > total ? width - total : 0;
  if (!left && !zero) s.pad(' ', fill);
  if (sign != 0) s.put(sign);
  if (!left && zero) s.pad('0', fill);
  for (int i = 0; i < len; ++i) s.put(body[i]);
  if (left) s.pad(' ', fill);
}

// Digits of v in base 10 or 16, most significant first, into the end of buf.
int digits(unsigned v, unsigned base, bool upper, char (&buf)[16]) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  int i = 16;
  do {
    buf[--i] = set[v % base];
    v /= base;
  } while (v != 0);
  return i;
}

// False when the format holds something this formatter does not do.
bool format_simple(Sink &s, const char *fmt, va_list ap) {
  for (const char *p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      s.put(*p);
      continue;
    }
    ++p;
    bool left = false, zero = false;
    for (;; ++p) {
      if (*p == '-')
        left = true;
      else if (*p == '0')
        zero = true;
      else
        break;
    }
    int width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    if (width > 99) return false;
    if (left) zero = false;
    char buf[16];
    switch (*p) {
      case '%':
        s.put('%');
        break;
      case 'c': {
        const char c = static_cast<char>(va_arg(ap, int));
        emit(s, left, false, width, 0, &c, 1);
        break;
      }
      case 's': {
        const char *str = va_arg(ap, const char *);
        if (str == nullptr) return false;
        int len = 0;
        while (str[len] != '\0') ++len;
        emit(s, left, false, width, 0, str, len);
        break;
      }
      case 'd':
      case 'i': {
        const int v = va_arg(ap, int);
        const unsigned mag = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
        const int at = digits(mag, 10, false, buf);
        emit(s, left, zero, width, v < 0 ? '-' : 0, buf + at, 16 - at);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const unsigned v = va_arg(ap, unsigned);
        const int at = digits(v, *p == 'u' ? 10 : 16, *p == 'X', buf);
        emit(s, left, zero, width, 0, buf + at, 16 - at);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

namespace codara {

int format_text(char *out, size_t size, const char *fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  Sink s{out, size};
  int n;
  if (format_simple(s, fmt, ap)) {
    if (size != 0) out[s.n < size ? s.n : size - 1] = '\0';
    n = static_cast<int>(s.n);
  } else {
    n = vsnprintf(out, size, fmt, again);
  }
  va_end(again);
  va_end(ap);
  return n;
}

}  // namespace codara
