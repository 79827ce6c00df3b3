#include "libtext.h"

#include <fcntl.h>
#include <unistd.h>

#include "zivra/logging.h"

namespace zivra_cli {

StdoutRoute::StdoutRoute(Mode m) { start(m); }

StdoutRoute::StdoutRoute(LibOutput o) {
  start(o == LibOutput::Stdout ? Keep : o == LibOutput::Stderr ? ToStderr : Discard);
}

void StdoutRoute::start(Mode m) {
  if (m == Keep) return;
  std::fflush(stdout);
  saved_ = dup(1);
  int target = -1;
  if (m == Collect) {
    file_ = std::tmpfile();
    if (file_ != nullptr) target = fileno(file_);
  } else if (m == ToStderr) {
    target = 2;
  }
  int devnull = -1;
  if (target < 0) target = devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (target >= 0) dup2(target, 1);
  if (devnull >= 0) close(devnull);
}

StdoutRoute::~StdoutRoute() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  dup2(saved_, 1);
  close(saved_);
  if (file_ != nullptr) std::fclose(file_);
}

std::string StdoutRoute::text() {
  std::string s;
  if (file_ == nullptr) return s;
  std::fflush(stdout);
  char buf[4096];
  for (off_t pos = 0;;) {
    ssize_t n = pread(fileno(file_), buf, sizeof buf, pos);
    if (n <= 0) break;
    s.append(buf, static_cast<size_t>(n));
    pos += n;
  }
  return s;
}

QuietLog::QuietLog() : saved_(get_loglevel()) { set_loglevel(0); }
QuietLog::~QuietLog() { set_loglevel(saved_); }

}  // namespace zivra_cli
