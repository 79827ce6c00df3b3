// One process, both libraries: libzivra linked, libcodara loaded at run time.
// Their logging names are interposable, so libcodara's own code must log through
// the process's first definition of _log, governed by the one set_loglevel and
// the one logfds table. A library built with -Bsymbolic or with private copies
// would log through its own level (2) and its own streams instead.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/capture.h"
#include "tests/support/helpers.h"
#include "zivra/file_opts.h"
#include "zivra/logging.h"

namespace {

using epoch_fn = void (*)(uint32_t, char *, int);

// A client that redirected a stream and then loads the second library keeps its
// redirection: the loader fills only the entries nobody has set.
TEST(LoadingTheSecondLibrary, KeepsTheClientsStreams) {
  char *text = nullptr;
  size_t len = 0;
  FILE *mine = open_memstream(&text, &len);
  FILE *saved = logfds[1];
  logfds[1] = mine;
  void *codara = dlopen(CODARA_SO, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(codara, nullptr) << dlerror();
  EXPECT_EQ(logfds[1], mine);
  EXPECT_EQ(logfds[2], stderr);
  logfds[1] = saved;
  dlclose(codara);
  fclose(mine);
  free(text);
}

class TwoLibraries : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    codara_ = dlopen(CODARA_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(codara_, nullptr) << dlerror();
    // dlsym on the handle finds libcodara's own definition, not libzivra's.
    codara_epoch_ = reinterpret_cast<epoch_fn>(dlsym(codara_, "epoch_to_date"));
    ASSERT_NE(codara_epoch_, nullptr);
  }
  static void TearDownTestSuite() { dlclose(codara_); }

  // One line from inside each library: libzivra's file_to_buf(NULL) and
  // libcodara's epoch_to_date(NULL).
  static void log_from_both() {
    unsigned char *buf = nullptr;
    file_to_buf(nullptr, &buf, "rb");
    codara_epoch_(0, nullptr, 30);
  }
  static std::string zivra_line() {
    return log_line('E', "lib/libfile/file_opts", "file_to_buf", "invalid file", "invalid file");
  }
  static std::string codara_line() {
    return log_line('E', "lib/libtime/timelib", "epoch_to_date", "pointer to string invalid",
                    "pointer to string invalid");
  }

  static void *codara_;
  static epoch_fn codara_epoch_;
};

void *TwoLibraries::codara_ = nullptr;
epoch_fn TwoLibraries::codara_epoch_ = nullptr;

TEST_F(TwoLibraries, CodaraCodeIsReallyCodaras) {
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void *>(codara_epoch_), &info), 0);
  EXPECT_NE(std::string(info.dli_fname).find("libcodara"), std::string::npos) << info.dli_fname;
  EXPECT_NE(reinterpret_cast<void *>(codara_epoch_), reinterpret_cast<void *>(&epoch_to_date));
}

TEST_F(TwoLibraries, OneLevelGovernsBoth) {
  LevelGuard guard;
  LogCapture cap;
  set_loglevel(0);
  log_from_both();
  EXPECT_EQ(cap.all(), "");
  set_loglevel(1);
  log_from_both();
  EXPECT_EQ(cap.text(1), zivra_line() + codara_line());
}

TEST_F(TwoLibraries, OneStreamTableServesBoth) {
  LevelGuard guard;
  set_loglevel(2);
  // Only the error entry is redirected; both libraries' error lines follow it.
  char *text = nullptr;
  size_t len = 0;
  FILE *errors = open_memstream(&text, &len);
  FILE *saved = logfds[1];
  logfds[1] = errors;
  log_from_both();
  logfds[1] = saved;
  fclose(errors);
  EXPECT_EQ(std::string(text, len), zivra_line() + codara_line());
  free(text);
}

}  // namespace
