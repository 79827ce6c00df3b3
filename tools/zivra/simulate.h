// Simulated dongles: the program runs itself again with libzivra_sim.so preloaded,
// which then stands in for hidapi and libusb-1.0 and plays a dongle, kept in a file.
#ifndef ZIVRA_TOOL_SIMULATE_H
#define ZIVRA_TOOL_SIMULATE_H

#include <string>
#include <vector>

#include "ops.h"

namespace zivra_cli {

inline constexpr const char *kDefaultSimDongle = "fw4.10";

struct SimOptions {
  std::string dongle;      // empty: not simulating
  std::string state_file;  // empty: the default under $XDG_STATE_HOME
  std::string press;       // KEY, PROTOCOL:SCANCODE or SCANCODE
  std::string ir;          // PROTOCOL:SCANCODE,...
};

// The directory this program lies in.
std::string self_dir();
// The first of `relative_paths` (':'-separated, relative to the program's directory)
// that holds a readable `inside` (empty: the path itself); empty when none does.
std::string find_beside(const std::string &relative_paths, const std::string &inside);

// True when libzivra_sim.so is loaded in this process.
bool under_sim();

// Re-executes the program under the sim; returns only on failure.
Error run_simulated(const SimOptions &o, char **argv);

// The sim's named dongles (only under the sim).
struct SimDongle {
  std::string name, description;
};
std::vector<SimDongle> sim_dongles();

// Where a dongle's state is kept by default.
std::string default_state_file(const std::string &dongle);

}  // namespace zivra_cli

#endif
