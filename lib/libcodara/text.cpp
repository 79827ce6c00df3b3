// A description is formatted on every decode; the C library's formatter costs more
// than the rest of a short decode, so the few conversions descriptions use are done
// here, and each format is taken apart once, on its first use.
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

// One piece of a format: a run of plain text or one conversion.
struct Piece {
  char conv;        // 0: plain text, else the conversion character
  bool left;        // '-' flag
  bool zero;        // '0' flag (cleared by '-')
  uint8_t width;
  uint16_t at;      // plain text: where it starts in the format
  uint16_t len;     // plain text: its length
};

// A format taken apart. Formats are string literals, so one is known by its address.
struct Parsed {
  static constexpr int kMaxPieces = 24;
  const char *fmt = nullptr;
  bool simple = false;  // false: something format_simple does not do
  int count = 0;
  Piece piece[kMaxPieces];
};

Parsed parse(const char *fmt) {
  Parsed f;
  f.fmt = fmt;
  for (const char *p = fmt; *p != '\0'; ++p) {
    if (f.count == Parsed::kMaxPieces) return f;
    Piece &c = f.piece[f.count++];
    c = Piece{};
    if (*p != '%') {
      const char *run = p;
      while (p[1] != '\0' && p[1] != '%') ++p;
      const auto at = static_cast<size_t>(run - fmt), len = static_cast<size_t>(p - run) + 1;
      if (at > 0xFFFF || len > 0xFFFF) return f;
      c.at = static_cast<uint16_t>(at);
      c.len = static_cast<uint16_t>(len);
      continue;
    }
    ++p;
    for (;; ++p) {
      if (*p == '-')
        c.left = true;
      else if (*p == '0')
        c.zero = true;
      else
        break;
    }
    int width = 0;
    while (*p >= '0' && *p <= '9') {
      width = width * 10 + (*p++ - '0');
      if (width > 99) return f;
    }
    if (c.left) c.zero = false;
    c.width = static_cast<uint8_t>(width);
    switch (*p) {
      case '%': case 'c': case 's': case 'd': case 'i': case 'u': case 'x': case 'X':
        c.conv = *p;
        break;
      default:
        return f;
    }
  }
  f.simple = true;
  return f;
}

// The formats seen so far, by address.
Parsed &parsed(const char *fmt) {
  static Parsed seen[64];
  Parsed &f = seen[(reinterpret_cast<uintptr_t>(fmt) >> 2) % 64];
  if (f.fmt != fmt) f = parse(fmt);
  return f;
}

// Formats into out[0 .. size-2], counting every character as snprintf does, and
// returns the count; -1 when the format holds something this formatter does not do.
// The count stays a local: kept in a record behind a pointer it would be reloaded
// after every character stored.
long format_simple(char *out, size_t size, const char *fmt, va_list ap) {
  const Parsed &f = parsed(fmt);
  if (!f.simple) return -1;
  const size_t room = size != 0 ? size - 1 : 0;
  size_t n = 0;
  // Copies what fits of len characters.
  auto put_all = [&](const char *s, size_t len) {
    if (n < room) memcpy(out + n, s, len < room - n ? len : room - n);
    n += len;
  };
  auto pad = [&](char c, int count) {
    if (n < room) memset(out + n, c, static_cast<size_t>(count) < room - n ? static_cast<size_t>(count) : room - n);
    n += static_cast<size_t>(count);
  };
  // One conversion's text: `sign` (may be 0) then the characters in body.
  auto emit = [&](const Piece &c, char sign, const char *body, int len) {
    const int total = len + (sign != 0 ? 1 : 0);
    const int fill = c.width > total ? c.width - total : 0;
    if (!c.left && !c.zero) pad(' ', fill);
    if (sign != 0) put_all(&sign, 1);
    if (!c.left && c.zero) pad('0', fill);
    put_all(body, static_cast<size_t>(len));
    if (c.left) pad(' ', fill);
  };
  for (int k = 0; k < f.count; ++k) {
    const Piece &c = f.piece[k];
    char buf[16];
    switch (c.conv) {
      case 0:
        put_all(fmt + c.at, c.len);
        break;
      case '%':
        put_all("%", 1);
        break;
      case 'c': {
        const char ch = static_cast<char>(va_arg(ap, int));
        Piece plain = c;
        plain.zero = false;
        emit(plain, 0, &ch, 1);
        break;
      }
      case 's': {
        const char *str = va_arg(ap, const char *);
        if (str == nullptr) return -1;
        Piece plain = c;
        plain.zero = false;
        emit(plain, 0, str, static_cast<int>(strlen(str)));
        break;
      }
      case 'd':
      case 'i': {
        const int v = va_arg(ap, int);
        const unsigned mag = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
        const int at = digits<10>(mag, false, buf);
        emit(c, v < 0 ? '-' : 0, buf + at, 16 - at);
        break;
      }
      default: {  // u x X
        const unsigned v = va_arg(ap, unsigned);
        const int at = c.conv == 'u' ? digits<10>(v, false, buf) : digits<16>(v, c.conv == 'X', buf);
        emit(c, 0, buf + at, 16 - at);
        break;
      }
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
