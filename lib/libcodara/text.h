// Formatting of the decoded descriptions.
#pragma once
#include <cstddef>

namespace codara {

// snprintf for the conversions descriptions use: %s %d %i %u %x %X %c and %%,
// with the '-' and '0' flags and a field width. Anything else (a precision, a
// length modifier, another conversion) is handed to vsnprintf whole, so the text
// is always what snprintf writes; only the common case is faster. `fmt` must be a
// string literal: a format is taken apart once and known afterwards by its address.
int format_text(char *out, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

}  // namespace codara
