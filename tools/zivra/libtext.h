// The libraries write some things straight to standard output (listings, progress
// bars, usage text). The operations must print nothing of their own, so they route
// that text: collect it, drop it, or pass it to a chosen stream.
#ifndef ZIVRA_TOOL_LIBTEXT_H
#define ZIVRA_TOOL_LIBTEXT_H

#include <cstdio>
#include <string>

#include "ops.h"

namespace zivra_cli {

// While alive, file descriptor 1 goes to a temporary file (Collect), /dev/null
// (Discard) or standard error (Stderr); Stdout leaves it alone.
class StdoutRoute {
 public:
  enum Mode { Collect, Discard, ToStderr, Keep };
  explicit StdoutRoute(Mode m);
  explicit StdoutRoute(LibOutput o);
  ~StdoutRoute();
  StdoutRoute(const StdoutRoute &) = delete;
  StdoutRoute &operator=(const StdoutRoute &) = delete;
  std::string text();  // what was collected so far (Collect only)

 private:
  void start(Mode m);
  int saved_ = -1;
  FILE *file_ = nullptr;
};

// Sets the libraries' log level to 0 for its lifetime, around calls that are
// expected to fail or that only probe.
class QuietLog {
 public:
  QuietLog();
  ~QuietLog();
  QuietLog(const QuietLog &) = delete;
  QuietLog &operator=(const QuietLog &) = delete;

 private:
  int saved_;
};

}  // namespace zivra_cli

#endif
