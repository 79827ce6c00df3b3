// Test helpers: capture what the kit writes to its per-level log streams, and
// restore the log level after a test.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zivra/logging.h"

// Points every logfds entry at its own memory stream for the object's lifetime.
class LogCapture {
 public:
  LogCapture() {
    for (int l = 0; l < 6; ++l) {
      saved_[l] = logfds[l];
      logfds[l] = open_memstream(&buf_[l], &len_[l]);
    }
  }
  ~LogCapture() {
    for (int l = 0; l < 6; ++l) {
      fclose(logfds[l]);
      free(buf_[l]);
      logfds[l] = saved_[l];
    }
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  // Everything written at `level` so far.
  std::string text(int level) {
    fflush(logfds[level]);
    return std::string(buf_[level], len_[level]);
  }
  // Everything at every level, in level order.
  std::string all() {
    std::string s;
    for (int l = 0; l < 6; ++l) s += text(l);
    return s;
  }

 private:
  FILE *saved_[6]{};
  char *buf_[6]{};
  size_t len_[6]{};
};

// Restores the log level the test started with.
class LevelGuard {
 public:
  LevelGuard() : level_(get_loglevel()) {}
  ~LevelGuard() { set_loglevel(level_); }
  LevelGuard(const LevelGuard &) = delete;
  LevelGuard &operator=(const LevelGuard &) = delete;

 private:
  int level_;
};
