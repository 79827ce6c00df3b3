// What the packages install for users: the udev rule covers exactly the dongle's USB
// identities, and the man pages render without warnings and document every command.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "zivra/zivra.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct Shell {
  int status;
  std::string out;
};
Shell shell(const std::string &cmd) {
  Shell r{-1, {}};
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int rc = pclose(p);
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return r;
}

TEST(UdevRule, GrantsUaccessToExactlyTheIdentityTable) {
  std::ifstream in(std::string(ZV_PACKAGING_DIR) + "/70-zivra.rules");
  ASSERT_TRUE(in) << "no rule file";
  const std::regex product(R"re(ATTRS?\{idProduct\}=="([0-9a-f]{4})")re");
  std::set<unsigned> usb, hidraw;
  int rules = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    ++rules;
    EXPECT_NE(line.find("TAG+=\"uaccess\""), std::string::npos) << line;
    EXPECT_NE(line.find("{idVendor}==\"20a0\""), std::string::npos) << line;
    EXPECT_EQ(line.find("MODE"), std::string::npos) << "no mode: access goes to the seat's user only: " << line;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, product)) << line;
    unsigned pid = std::stoul(m[1], nullptr, 16);
    (line.find("SUBSYSTEM==\"usb\"") != std::string::npos ? usb : hidraw).insert(pid);
  }
  EXPECT_GT(rules, 0);
  const std::set<unsigned> table = {ZV_PID_HID_BOOTLOADER, ZV_PID_HID_APP,  ZV_PID_USB_BOOTLOADER_V2,
                                    ZV_PID_USB_BOOTLOADER_V1, ZV_PID_USB_APP, ZV_PID_USB_APP_ORBIS};
  EXPECT_EQ(usb, table);
  EXPECT_EQ(hidraw, (std::set<unsigned>{ZV_PID_HID_BOOTLOADER, ZV_PID_HID_APP}));
  EXPECT_EQ(ZV_VID, 0x20A0);
}

class ManPage : public testing::TestWithParam<const char *> {};

TEST_P(ManPage, RendersWithoutWarnings) {
  std::string page = std::string(ZV_PACKAGING_DIR) + "/" + GetParam();
  Shell r = shell("MANWIDTH=80 man --warnings -E UTF-8 -l '" + page + "' 2>&1 >/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  Shell text = shell("MANWIDTH=80 man -E UTF-8 -l '" + page + "' 2>/dev/null");
  EXPECT_NE(text.out.find("EXIT STATUS"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pages, ManPage, testing::Values("zivra.1", "codara.1"));

#ifdef ZIVRA_BIN
// Every command `zivra --help` offers, and every exit status, has its place in zivra(1).
TEST(ManPage, DocumentsEveryCommandAndExitStatus) {
  std::string man = slurp(std::string(ZV_PACKAGING_DIR) + "/zivra.1");
  Shell help = shell(std::string("'") + ZIVRA_BIN + "' --help");
  ASSERT_EQ(help.status, 0);
  std::istringstream in(help.out.substr(help.out.find("Subcommands:")));
  std::string line;
  std::getline(in, line);
  int commands = 0;
  for (; std::getline(in, line) && line.rfind("  ", 0) == 0;) {
    std::string name = line.substr(2, line.find(' ', 2) - 2);
    std::string roff;
    for (char c : name) roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_TRUE(std::regex_search(man, std::regex("\\n\\.B[IR]? \"?" + std::regex_replace(roff, std::regex(R"(\\)"), R"(\\)") + "\\b")))
        << name;
    ++commands;
  }
  EXPECT_GT(commands, 15);
  std::string status = man.substr(man.find(".SH EXIT STATUS"));
  for (int s = 0; s <= 9; ++s) EXPECT_NE(status.find(".B " + std::to_string(s) + "\n"), std::string::npos) << s;
}
#endif

}  // namespace
