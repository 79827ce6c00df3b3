#include "simulate.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "libtext.h"
#include "zivra/config.h"
#include "zivra/translate.h"

#ifndef ZIVRA_SIM_RELATIVE_PATHS
#define ZIVRA_SIM_RELATIVE_PATHS "../lib/libzivra_sim.so"
#endif

namespace zivra_cli {

namespace {

const char *const kSimSymbol = "zivra_sim_dongle_list";

// libzivra_sim.so: $ZIVRA_SIM_LIBRARY, else beside the program in the build tree or
// the install prefix (paths relative to the program's directory, ':'-separated).
std::string find_sim() {
  if (const char *lib = getenv("ZIVRA_SIM_LIBRARY"); lib != nullptr && *lib != '\0') return lib;
  return find_beside(ZIVRA_SIM_RELATIVE_PATHS, "");
}

bool mkdirs(const std::string &dir) {
  for (size_t at = 1; at != std::string::npos;) {
    at = dir.find('/', at + 1);
    std::string part = dir.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// A key name becomes the remote's button labelled with it (its report bytes).
std::string press_button(const std::string &press) {
  if (press.empty() || press.find(':') != std::string::npos) return press;
  char *end = nullptr;
  strtoul(press.c_str(), &end, 0);
  if (*end == '\0') return press;
  record_t r{};
  int ok;
  {
    StdoutRoute quiet(StdoutRoute::Discard);
    QuietLog q;
    ok = press.size() == 1 ? translate_v2(static_cast<unsigned char>(press[0]), &r) : translate_word_v2(press.c_str(), &r);
  }
  if (ok != 1) return {};
  return "report:" + std::to_string(r.report_id) + "," + std::to_string(r.modifier) + "," + std::to_string(r.key);
}

// Under AddressSanitizer its runtime must come first among the preloaded libraries.
std::string sanitizer_runtime() {
#if defined(__SANITIZE_ADDRESS__)
  Dl_info info{};
  void *sym = dlsym(RTLD_DEFAULT, "__asan_init");
  if (sym != nullptr && dladdr(sym, &info) != 0 && info.dli_fname != nullptr) return info.dli_fname;
#endif
  return {};
}

}  // namespace

std::string self_dir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

std::string find_beside(const std::string &relative_paths, const std::string &inside) {
  std::string dir = self_dir();
  std::istringstream rel(relative_paths);
  for (std::string r; std::getline(rel, r, ':');) {
    std::string p = dir + "/" + r;
    if (access((p + inside).c_str(), R_OK) == 0) return p;
  }
  return {};
}

bool under_sim() { return dlsym(RTLD_DEFAULT, kSimSymbol) != nullptr; }

std::string default_state_file(const std::string &dongle) {
  std::string base;
  if (const char *x = getenv("XDG_STATE_HOME"); x != nullptr && *x == '/')
    base = x;
  else if (const char *h = getenv("HOME"); h != nullptr && *h != '\0')
    base = std::string(h) + "/.local/state";
  else
    base = "/tmp";
  return base + "/zivra/sim-" + dongle + ".state";
}

Error run_simulated(const SimOptions &o, char **argv) {
  if (getenv("ZIVRA_SIM_REEXEC") != nullptr)
    return fail(Status::Failed, "the simulated dongle did not load", "set ZIVRA_SIM_LIBRARY to the path of libzivra_sim.so");
  std::string sim = find_sim();
  if (sim.empty())
    return fail(Status::File, "cannot find libzivra_sim.so next to this program",
                "build the kit (it is in build/<preset>/sim/) or set ZIVRA_SIM_LIBRARY to its path");
  std::string press = press_button(o.press);
  if (!o.press.empty() && press.empty())
    return fail(Status::Usage, "--sim-press takes a key name, PROTOCOL:SCANCODE or a scancode, not '" + o.press + "'");
  std::string state = o.state_file.empty() ? default_state_file(o.dongle) : o.state_file;
  std::string dir = state.find('/') == std::string::npos ? "." : state.substr(0, state.rfind('/'));
  if (!dir.empty() && !mkdirs(dir))
    return fail(Status::File, "cannot create " + dir + ": " + std::strerror(errno), "give --sim-state FILE in a writable directory");

  std::string preload = sim;
  if (std::string rt = sanitizer_runtime(); !rt.empty()) preload = rt + ":" + preload;
  if (const char *old = getenv("LD_PRELOAD"); old != nullptr && *old != '\0') preload += std::string(":") + old;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv("ZIVRA_SIM_DEVICE", o.dongle.c_str(), 1);
  setenv("ZIVRA_SIM_STATE", state.c_str(), 1);
  setenv("ZIVRA_SIM_REEXEC", "1", 1);
  if (!press.empty()) setenv("ZIVRA_SIM_PRESS", press.c_str(), 1);
  if (!o.ir.empty()) setenv("ZIVRA_SIM_IR", o.ir.c_str(), 1);
  execv("/proc/self/exe", argv);
  return fail(Status::Failed, std::string("cannot run the program again under the sim: ") + std::strerror(errno));
}

std::vector<SimDongle> sim_dongles() {
  std::vector<SimDongle> out;
  auto list = reinterpret_cast<const char *(*)()>(dlsym(RTLD_DEFAULT, kSimSymbol));
  if (list == nullptr) return out;
  std::istringstream in(list());
  for (std::string name; std::getline(in, name);) {
    std::string d;
    if (name.find("-noaccess") != std::string::npos)
      d = "a dongle this user may not open (no udev rule)";
    else if (name.rfind("fw4.", 0) == 0)
      d = "generation-4 firmware " + name.substr(2) + " over HID";
    else if (name.rfind("fw", 0) == 0)
      d = "firmware " + name.substr(2) + " over bulk USB";
    else if (name.rfind("bl", 0) == 0)
      d = "bootloader " + name.substr(2);
    else if (name == "script")
      d = "a scriptable dongle that knows no command (for tests)";
    else
      d = "simulated dongle";
    out.push_back({name, d});
  }
  return out;
}

}  // namespace zivra_cli
