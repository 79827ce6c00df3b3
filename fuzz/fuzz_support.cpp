#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "fuzz_input.h"
#include "zivra/logging.h"

namespace fuzz {

void init() {
  static const bool done = [] {
    set_loglevel(0);
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      close(null);
    }
    return true;
  }();
  (void)done;
}

}  // namespace fuzz
