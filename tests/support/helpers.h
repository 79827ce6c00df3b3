// Test helpers for asserting what the kit writes: standard output captured at
// the file-descriptor level (stdio and puts alike), and the exact log prefix of
// a call site, whose line number is looked up in the module's source.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#ifndef ZV_SOURCE_DIR_DEFAULT
#define ZV_SOURCE_DIR_DEFAULT "."
#endif

// Sends a file descriptor (with its stdio stream) to a temporary file for the
// object's lifetime.
class FdCapture {
 public:
  FdCapture(int fd, FILE *stream) : fd_(fd), stream_(stream) {
    fflush(stream_);
    saved_ = dup(fd_);
    file_ = tmpfile();
    dup2(fileno(file_), fd_);
  }
  ~FdCapture() {
    fflush(stream_);
    dup2(saved_, fd_);
    close(saved_);
    fclose(file_);
  }
  FdCapture(const FdCapture &) = delete;
  FdCapture &operator=(const FdCapture &) = delete;

  // Everything written so far.
  std::string text() {
    fflush(stream_);
    std::string s;
    char buf[4096];
    off_t end = lseek(fileno(file_), 0, SEEK_END);
    for (off_t pos = 0; pos < end;) {
      ssize_t n = pread(fileno(file_), buf, sizeof buf, pos);
      if (n <= 0) break;
      s.append(buf, static_cast<size_t>(n));
      pos += n;
    }
    return s;
  }

 private:
  int fd_;
  FILE *stream_;
  int saved_ = -1;
  FILE *file_ = nullptr;
};

struct StdoutCapture : FdCapture {
  StdoutCapture() : FdCapture(1, stdout) {}
};
struct StderrCapture : FdCapture {
  StderrCapture() : FdCapture(2, stderr) {}
};

// 1-based line of the single line of <source root>/<module>.cpp that contains
// `needle`; 0 (and a test failure) when there is none or more than one.
inline int src_line(const std::string &module, const std::string &needle) {
  const char *root = getenv("ZV_SOURCE_DIR");
  std::string path = std::string(root != nullptr ? root : ZV_SOURCE_DIR_DEFAULT) + "/" + module + ".cpp";
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::string line;
  int n = 0, found = 0, hits = 0;
  while (std::getline(in, line)) {
    ++n;
    if (line.find(needle) != std::string::npos) {
      found = n;
      ++hits;
    }
  }
  EXPECT_EQ(hits, 1) << needle << " in " << path;
  return hits == 1 ? found : 0;
}

// The whole log line "[L] module function(line): text\n" of the call site
// LOG<L>("<fmt>"...) in `module`, with `text` the message as printed.
inline std::string log_line(char letter, const std::string &module, const std::string &func,
                            const std::string &fmt, const std::string &text) {
  int line = src_line(module, std::string("LOG") + letter + "(\"" + fmt + "\"");
  return std::string("[") + letter + "] " + module + " " + func + "(" + std::to_string(line) + "): " + text + "\n";
}

// 1-based line of the first line containing `needle` after the single line
// containing `anchor` (for a message that several functions of a module log).
inline int src_line_after(const std::string &module, const std::string &anchor, const std::string &needle) {
  int from = src_line(module, anchor);
  const char *root = getenv("ZV_SOURCE_DIR");
  std::ifstream in(std::string(root != nullptr ? root : ZV_SOURCE_DIR_DEFAULT) + "/" + module + ".cpp");
  std::string line;
  for (int n = 1; std::getline(in, line); ++n)
    if (n > from && line.find(needle) != std::string::npos) return n;
  ADD_FAILURE() << needle << " after " << anchor;
  return 0;
}
