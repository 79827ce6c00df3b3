// State shared by the bus, the hidapi and libusb doubles and the clock.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sim/zivra_sim.h"

namespace zivra_sim::detail {

struct FaultSlot {
  int id;
  int seen = 0;  // matching exchanges since it was added
  Fault fault;
};

struct State {
  std::vector<std::shared_ptr<Device>> bus;  // plugged, in plug order
  std::vector<std::shared_ptr<Device>> all;  // every device since reset (handles may outlive a plug)
  int next_id = 1;
  uint64_t now = kEpochUs;
  uint64_t tick = 1;
  uint64_t report_us = 0;  // time each HID report takes on the wire
  bool realtime = false;
  uint64_t seq = 0;
  std::vector<TraceEntry> trace;
  bool trace_stderr = false;
  std::vector<FaultSlot> faults;
  int next_fault_id = 1;
  Counters counters;
  int usb_init_result = 0;
  bool env_done = false;
  struct Event {
    uint64_t at;
    uint64_t seq;
    std::function<void()> fn;
  };
  std::vector<Event> events;  // ordered by at, then seq
  bool running_events = false;
};

State &state();

// Marks a sim entry point: counts depth for in_sim() and applies the environment
// on the first call.
class Guard {
 public:
  Guard();
  ~Guard();
  Guard(const Guard &) = delete;
  Guard &operator=(const Guard &) = delete;
};

uint64_t real_now_us();
// Virtual mode: moves the clock to t (never back). Real mode: sleeps until t.
void wait_until(uint64_t t);
void record(TraceEntry e);
// The faults that act on this exchange (their counters advance).
std::vector<Fault *> match_faults(const std::string &key, int device);
Device *find_device(int id);  // any device since reset, plugged or not
std::wstring widen(const std::string &s);
// Dongles plugged from the environment keep their memory in ZIVRA_SIM_STATE and act
// the user's part (ZIVRA_SIM_PRESS, ZIVRA_SIM_IR); see persist.cpp.
void keep_across_runs();

}  // namespace zivra_sim::detail
