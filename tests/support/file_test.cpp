#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "tests/capture.h"
#include "tests/support/helpers.h"
#include "zivra/file_opts.h"

namespace {

const char kModule[] = "lib/libfile/file_opts";

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_all(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

class FileOpts : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const auto &n : names()) unlink((dir_ + "/" + n).c_str());
    rmdir(dir_.c_str());
  }
  std::string path(const char *name) const { return dir_ + "/" + name; }
  std::set<std::string> names() const {
    std::set<std::string> s;
    DIR *d = opendir(dir_.c_str());
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') s.insert(e->d_name);
    closedir(d);
    return s;
  }
  ssize_t save(const std::string &p, const std::string &data, const char *ops = "wb") {
    std::string copy = data;
    return buf_to_file(p.c_str(), reinterpret_cast<unsigned char *>(copy.data()), copy.size(), ops);
  }

  std::string dir_;
};

TEST_F(FileOpts, ReadsWholeFileIntoFreshBuffer) {
  write_all(path("six"), std::string("ab\0cd\n", 6));
  unsigned char *buf = nullptr;
  LogCapture cap;
  ASSERT_EQ(file_to_buf(path("six").c_str(), &buf, "rb"), 6);
  ASSERT_NE(buf, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 6), std::string("ab\0cd\n", 6));
  free(buf);
  write_all(path("empty"), "");
  ASSERT_EQ(file_to_buf(path("empty").c_str(), &buf, "rb"), 0);
  EXPECT_NE(buf, nullptr);
  free(buf);
  EXPECT_EQ(cap.all(), "");
}

TEST_F(FileOpts, ReadFailuresLogAndReturnCodes) {
  LogCapture cap;
  unsigned char *buf = nullptr;
  EXPECT_EQ(file_to_buf(nullptr, &buf, "rb"), -14);
  EXPECT_EQ(cap.text(1), log_line('E', kModule, "file_to_buf", "invalid file", "invalid file"));

  std::string missing = path("missing");
  LogCapture cap2;
  EXPECT_EQ(file_to_buf(missing.c_str(), &buf, "rb"), -14);
  // The message ends with an empty line.
  EXPECT_EQ(cap2.text(1), log_line('E', kModule, "file_to_buf", "file %s not found\\n",
                                   "file " + missing + " not found\n"));

  LogCapture cap3;
  EXPECT_EQ(file_to_buf(dir_.c_str(), &buf, "rb"), -14);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(cap3.text(1), log_line('E', kModule, "file_to_buf", "error reading file", "error reading file"));
}

TEST_F(FileOpts, WriteArgumentChecksComeFirst) {
  unsigned char data[2] = {1, 2};
  std::string p = path("out");
  struct Case {
    const char *loc;
    unsigned char *buf;
    const char *ops;
    const char *fmt;
  } cases[] = {{nullptr, data, "wb", "file (NULL) could not be opened"},
               {p.c_str(), nullptr, "wb", "invalid buffer"},
               {p.c_str(), data, nullptr, "invalid file operations"}};
  for (const auto &c : cases) {
    LogCapture cap;
    EXPECT_EQ(buf_to_file(c.loc, c.buf, 2, c.ops), -9) << c.fmt;
    EXPECT_EQ(cap.text(1), log_line('E', kModule, "buf_to_file", c.fmt, c.fmt));
  }
  EXPECT_TRUE(names().empty());

  LogCapture cap;
  std::string nodir = path("nodir/out");
  EXPECT_EQ(buf_to_file(nodir.c_str(), data, 2, "wb"), -9);
  EXPECT_EQ(cap.text(1), log_line('E', kModule, "buf_to_file", "file %s could not be opened",
                                  "file " + nodir + " could not be opened"));
}

TEST_F(FileOpts, WritesCreateReplaceAndTruncate) {
  LogCapture cap;
  std::string p = path("cfg.bin");
  EXPECT_EQ(save(p, std::string("\xDE\xAD\0\x01", 4)), 4);
  EXPECT_EQ(read_all(p), std::string("\xDE\xAD\0\x01", 4));
  EXPECT_EQ(save(p, "xy", "w"), 2);
  EXPECT_EQ(read_all(p), "xy");
  EXPECT_EQ(save(p, "z", "ab"), 1);  // other modes keep their stdio meaning
  EXPECT_EQ(read_all(p), "xyz");
  EXPECT_EQ(save(p, ""), 0);
  EXPECT_EQ(read_all(p), "");
  EXPECT_EQ(names(), std::set<std::string>{"cfg.bin"});
  EXPECT_EQ(cap.all(), "");
}

TEST_F(FileOpts, ReplacedFileKeepsPermissionsAndLinks) {
  mode_t old_mask = umask(022);
  std::string p = path("new");
  ASSERT_EQ(save(p, "a"), 1);
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  chmod(p.c_str(), 0600);
  ASSERT_EQ(save(p, "b"), 1);
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  umask(old_mask);

  // Saving through a symbolic link updates the file it points at.
  ASSERT_EQ(symlink("new", path("link").c_str()), 0);
  ASSERT_EQ(save(path("link"), "via link"), 8);
  EXPECT_EQ(read_all(p), "via link");
  ASSERT_EQ(lstat(path("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(FileOpts, FailedWriteKeepsThePreviousFile) {
  std::string p = path("keep");
  write_all(p, "previous contents");
  // Let the write stop part-way: file size limit below the buffer length.
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  LogCapture cap;
  ssize_t r = save(p, std::string(8192, 'n'));
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(r, -9);
  EXPECT_EQ(cap.text(1), log_line('E', kModule, "buf_to_file", "file could not be saved", "file could not be saved"));
  EXPECT_EQ(read_all(p), "previous contents");
  EXPECT_EQ(names(), std::set<std::string>{"keep"});  // no temporary left behind
}

TEST_F(FileOpts, WriteFailingOnlyAtFlushIsReported) {
  LogCapture cap;
  EXPECT_EQ(save("/dev/full", "abc"), -9);
  EXPECT_EQ(cap.text(1), log_line('E', kModule, "buf_to_file", "file could not be saved", "file could not be saved"));
}

}  // namespace
