// Levelled diagnostics: one stream per level, one process-wide threshold.
#include <cstdarg>
#include <cstdio>

#include "log.h"

FILE *logfds[6];

// Hidden: every library keeps its own; see LogLevelSnapshot.
int kit_log_ceiling = 5;

namespace {
// Errors and warnings print out of the box.
int loglevel = 2;

// Runs when the library is loaded, before any client call. The table is shared
// by both libraries: a stream the client set before loading the second one stays.
__attribute__((constructor)) void _init_logging() {
  for (auto &f : logfds)
    if (f == nullptr) f = stderr;
}
}  // namespace

extern "C" {

void _log(int level, const char *fmt, ...) {
  if (level < 1 || level > 5 || level > loglevel) return;
  FILE *out = logfds[level];
  if (out == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(out, fmt, ap);
  va_end(ap);
}

void set_loglevel(int level) { loglevel = level > 5 ? 5 : level; }

int get_loglevel(void) { return loglevel; }
}
