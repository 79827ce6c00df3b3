// A description is formatted on every decode; the C library's formatter costs more
// than the rest of a short decode, so the few conversions descriptions use are done here.
#include "libcodara/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Digits of v in base 10 or 16, most significant first, into the end of buf; the
// base is a constant in each instance, so no division is done at run time.
template <unsigned Base>
int digits(unsigned v, bool upper, char (&buf)[16]) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  int i = 16;
  do {
    buf[--i] = set[v % Base];
    v /= Base;
  } while (v != 0);
  return i;
}

// Formats into out[0 .. size-2], counting every character as snprintf does, and
// returns the count; -1 when the format holds something this formatter does not do.
// The count stays a local: kept in a record behind a pointer it would be reloaded
// after every character stored.
long format_simple(char *out, size_t size, const char *fmt, va_list ap) {
  const size_t room = size != 0 ? size - 1 : 0;
  size_t n = 0;
  auto put = [&](char c) {
    if (n < room) out[n] = c;
    ++n;
  };
  auto pad = [&](char c, int count) {
    for (int i = 0; i < count; ++i) put(c);
  };
  // One conversion's text: `sign` (may be 0) then the characters in body.
  auto emit = [&](bool left, bool zero, int width, char sign, const char *body, int len) {
    const int total = len + (sign != 0 ? 1 : 0);
    const int fill = width > total ? width - total : 0;
    if (!left && !zero) pad(' ', fill);
    if (sign != 0) put(sign);
    if (!left && zero) pad('0', fill);
    for (int i = 0; i < len; ++i) put(body[i]);
    if (left) pad(' ', fill);
  };
  for (const char *p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      // A run of plain text at once.
      const char *run = p;
      while (p[1] != '\0' && p[1] != '%') ++p;
      const size_t len = static_cast<size_t>(p - run) + 1;
      if (n < room) memcpy(out + n, run, len < room - n ? len : room - n);
      n += len;
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
    if (width > 99) return -1;
    if (left) zero = false;
    char buf[16];
    switch (*p) {
      case '%':
        put('%');
        break;
      case 'c': {
        const char c = static_cast<char>(va_arg(ap, int));
        emit(left, false, width, 0, &c, 1);
        break;
      }
      case 's': {
        const char *str = va_arg(ap, const char *);
        if (str == nullptr) return -1;
        int len = 0;
        while (str[len] != '\0') ++len;
        emit(left, false, width, 0, str, len);
        break;
      }
      case 'd':
      case 'i': {
        const int v = va_arg(ap, int);
        const unsigned mag = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
        const int at = digits<10>(mag, false, buf);
        emit(left, zero, width, v < 0 ? '-' : 0, buf + at, 16 - at);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const unsigned v = va_arg(ap, unsigned);
        const int at = *p == 'u' ? digits<10>(v, false, buf) : digits<16>(v, *p == 'X', buf);
        emit(left, zero, width, 0, buf + at, 16 - at);
        break;
      }
      default:
        return -1;
    }
  }
  if (size != 0) out[n < size ? n : size - 1] = '\0';
  return static_cast<long>(n);
}

}  // namespace

namespace codara {

int format_text(char *out, size_t size, const char *fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  long n = format_simple(out, size, fmt, ap);
  if (n < 0) n = vsnprintf(out, size, fmt, again);
  va_end(again);
  va_end(ap);
  return static_cast<int>(n);
}

}  // namespace codara
