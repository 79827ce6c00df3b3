// The virtual bus, clock, trace, fault rules and named-dongle registry.
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/internal.h"

namespace zivra_sim {
namespace detail {
namespace {

int g_depth = 0;

std::map<std::string, DongleFactory> &registry() {
  static auto *r = new std::map<std::string, DongleFactory>();
  return *r;
}

void apply_environment() {
  State &s = state();
  if (s.env_done) return;
  s.env_done = true;
  const char *rt = getenv("ZIVRA_SIM_REALTIME");
  if (rt != nullptr && *rt != '\0' && strcmp(rt, "0") != 0) s.realtime = true;
  const char *tr = getenv("ZIVRA_SIM_TRACE");
  if (tr != nullptr && *tr != '\0' && strcmp(tr, "0") != 0) s.trace_stderr = true;
  const char *dev = getenv("ZIVRA_SIM_DEVICE");
  if (dev == nullptr) return;
  std::string list(dev);
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    if (comma == std::string::npos) comma = list.size();
    std::string name = list.substr(pos, comma - pos);
    if (!name.empty() && !plug_named(name)) {
      fprintf(stderr, "zivra_sim: unknown dongle '%s'; known:", name.c_str());
      for (const auto &n : dongle_names()) fprintf(stderr, " %s", n.c_str());
      fprintf(stderr, "\n");
    }
    pos = comma + 1;
  }
  keep_across_runs();
}

const char *kind_name(TraceEntry::Kind k) {
  switch (k) {
    case TraceEntry::HidWrite: return "hid_write";
    case TraceEntry::HidRead: return "hid_read";
    case TraceEntry::Control: return "control";
    case TraceEntry::Interrupt: return "interrupt";
  }
  return "?";
}

}  // namespace

State &state() {
  // Never destroyed: clients may still call in from their own exit handlers.
  static State *s = new State();
  return *s;
}

namespace {
bool g_cpu_accounting = false;
uint64_t g_cpu_ns = 0;
uint64_t g_cpu_start = 0;
// The monotonic clock rather than the thread's CPU clock: it is read without a
// system call, and in virtual mode the sim never blocks, so the two agree.
uint64_t monotonic_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}
}  // namespace

// Runs the events whose time has come. An event may plug devices (entering the
// sim again) or schedule further events.
void run_due_events() {
  State &s = state();
  if (s.running_events) return;
  s.running_events = true;
  while (!s.events.empty() && s.events.front().at <= zivra_sim::now_us()) {
    std::function<void()> fn = std::move(s.events.front().fn);
    s.events.erase(s.events.begin());
    fn();
  }
  s.running_events = false;
}

Guard::Guard() {
  if (g_depth++ == 0 && g_cpu_accounting) g_cpu_start = monotonic_ns();
  if (!state().env_done) apply_environment();
  if (g_depth == 1 && !state().events.empty()) run_due_events();
}
Guard::~Guard() {
  if (--g_depth == 0 && g_cpu_accounting) g_cpu_ns += monotonic_ns() - g_cpu_start;
}

uint64_t real_now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000ull + static_cast<uint64_t>(ts.tv_nsec) / 1000ull;
}

void wait_until(uint64_t t) {
  State &s = state();
  if (!s.realtime) {
    if (t > s.now) s.now = t;
    return;
  }
  for (uint64_t now = real_now_us(); now < t; now = real_now_us()) {
    uint64_t d = t - now;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(d / 1000000ull);
    ts.tv_nsec = static_cast<long>((d % 1000000ull) * 1000ull);
    nanosleep(&ts, nullptr);
  }
}

void record(TraceEntry e) {
  State &s = state();
  if (s.trace_stderr) {
    fprintf(stderr, "[sim] %llu.%06llu dev%d %s result=%d", static_cast<unsigned long long>(e.time_us / 1000000ull),
            static_cast<unsigned long long>(e.time_us % 1000000ull), e.device, kind_name(e.kind), e.result);
    if (e.kind == TraceEntry::HidRead) fprintf(stderr, " want=%u", e.request_id);
    if (e.kind == TraceEntry::Control)
      fprintf(stderr, " req=%02x/%02x val=%04x idx=%04x len=%u", e.setup.bmRequestType, e.setup.bRequest,
              e.setup.wValue, e.setup.wIndex, e.setup.wLength);
    if (e.kind == TraceEntry::Interrupt) fprintf(stderr, " ep=%02x", e.endpoint);
    fprintf(stderr, " :");
    for (uint8_t b : e.data) fprintf(stderr, " %02x", b);
    fprintf(stderr, "\n");
  }
  s.trace.push_back(std::move(e));
}

std::vector<Fault *> match_faults(const std::string &key, int device) {
  std::vector<Fault *> out;
  for (FaultSlot &slot : state().faults) {
    Fault &f = slot.fault;
    if (!f.word.empty() && f.word != key) continue;
    if (f.device >= 0 && f.device != device) continue;
    int n = ++slot.seen;
    if (n < f.nth) continue;
    if (f.times > 0 && n >= f.nth + f.times) continue;
    ++f.hits;
    out.push_back(&f);
  }
  return out;
}

Device *find_device(int id) {
  for (auto &d : state().all)
    if (d->id() == id) return d.get();
  return nullptr;
}

std::wstring widen(const std::string &s) {
  std::wstring w;
  w.reserve(s.size());
  for (unsigned char c : s) w.push_back(static_cast<wchar_t>(c));
  return w;
}

}  // namespace detail

using detail::state;

// ---- Device ----------------------------------------------------------------------

Device::Device(int id, Identity ident, std::shared_ptr<Model> model)
    : id_(id), identity_(std::move(ident)), model_(std::move(model)) {
  if (identity_.path.empty()) identity_.path = "sim:hid:" + std::to_string(id_);
}

void Device::queue_input(std::vector<uint8_t> report, uint64_t delay_us) {
  detail::Guard g;
  Input in{now_us() + delay_us, state().seq++, std::move(report)};
  auto it = std::upper_bound(input_.begin(), input_.end(), in.ready_us,
                             [](uint64_t t, const Input &e) { return t < e.ready_us; });
  input_.insert(it, std::move(in));
}

void Device::queue_report(uint8_t id, const void *payload, size_t n, size_t report_len, uint64_t delay_us) {
  std::vector<uint8_t> r(std::max<size_t>(report_len, 1), 0);
  r[0] = id;
  if (payload != nullptr && n > 0) memcpy(r.data() + 1, payload, std::min(n, r.size() - 1));
  queue_input(std::move(r), delay_us);
}

void Device::unplug() { zivra_sim::unplug(id_); }

// ---- bus -------------------------------------------------------------------------

void reset() {
  detail::Guard g;
  detail::State &s = state();
  s.bus.clear();
  s.all.clear();
  s.next_id = 1;
  s.now = kEpochUs;
  s.tick = 1;
  s.report_us = 0;
  s.realtime = false;
  s.trace.clear();
  s.faults.clear();
  s.counters = Counters{};
  s.usb_init_result = 0;
  s.env_done = true;
  s.events.clear();
}

Device &plug(const Identity &identity, std::shared_ptr<Model> model) {
  detail::Guard g;
  detail::State &s = state();
  s.env_done = true;
  auto d = std::make_shared<Device>(s.next_id++, identity, std::move(model));
  s.bus.push_back(d);
  s.all.push_back(d);
  return *d;
}

void unplug(int device_id) {
  detail::Guard g;
  auto &bus = state().bus;
  for (auto it = bus.begin(); it != bus.end(); ++it) {
    if ((*it)->id() == device_id) {
      (*it)->plugged_ = false;
      (*it)->input_.clear();
      bus.erase(it);
      return;
    }
  }
}

Device *device(int device_id) {
  for (auto &d : state().bus)
    if (d->id() == device_id) return d.get();
  return nullptr;
}

std::vector<Device *> devices() {
  std::vector<Device *> out;
  for (auto &d : state().bus) out.push_back(d.get());
  return out;
}

bool register_dongle(const std::string &name, DongleFactory factory) {
  detail::registry()[name] = std::move(factory);
  return true;
}

bool plug_named(const std::string &name) {
  auto &r = detail::registry();
  auto it = r.find(name);
  if (it == r.end()) return false;
  it->second();
  return true;
}

std::vector<std::string> dongle_names() {
  std::vector<std::string> out;
  for (auto &kv : detail::registry()) out.push_back(kv.first);
  return out;
}

void schedule(uint64_t at_us, std::function<void()> event) {
  detail::State &s = state();
  detail::State::Event e{at_us, s.seq++, std::move(event)};
  auto it = std::upper_bound(s.events.begin(), s.events.end(), e.at,
                             [](uint64_t t, const detail::State::Event &x) { return t < x.at; });
  s.events.insert(it, std::move(e));
}

size_t scheduled() { return state().events.size(); }

// ---- clock -----------------------------------------------------------------------

uint64_t now_us() { return state().realtime ? detail::real_now_us() : state().now; }
void advance_us(uint64_t us) { detail::wait_until(now_us() + us); }
void set_now_us(uint64_t us) { state().now = us; }
void set_tick_us(uint64_t us) { state().tick = us; }
void set_report_us(uint64_t us) { state().report_us = us; }
uint64_t report_us() { return state().report_us; }
void set_realtime(bool on) {
  detail::State &s = state();
  if (s.realtime && !on) s.now = detail::real_now_us();
  s.realtime = on;
}
bool realtime() { return state().realtime; }

// ---- trace -----------------------------------------------------------------------

const std::vector<TraceEntry> &trace() { return state().trace; }
void clear_trace() { state().trace.clear(); }
std::vector<TraceEntry> trace_of(TraceEntry::Kind kind) {
  std::vector<TraceEntry> out;
  for (const auto &e : state().trace)
    if (e.kind == kind) out.push_back(e);
  return out;
}

// ---- faults ----------------------------------------------------------------------

std::string control_key(uint8_t bRequest) {
  char b[16];
  snprintf(b, sizeof b, "ctrl:0x%02x", bRequest);
  return b;
}

std::string interrupt_key(uint8_t endpoint) {
  char b[16];
  snprintf(b, sizeof b, "intr:0x%02x", endpoint);
  return b;
}

int add_fault(const Fault &f) {
  detail::State &s = state();
  detail::FaultSlot slot{s.next_fault_id++, 0, f};
  slot.fault.hits = 0;
  s.faults.push_back(slot);
  return slot.id;
}

const Fault *fault(int id) {
  for (auto &slot : state().faults)
    if (slot.id == id) return &slot.fault;
  return nullptr;
}

void clear_faults() { state().faults.clear(); }

const Counters &counters() { return state().counters; }
void set_usb_init_result(int code) { state().usb_init_result = code; }
bool in_sim() { return detail::g_depth > 0; }

void set_cpu_accounting(bool on) { detail::g_cpu_accounting = on; }
uint64_t sim_cpu_ns() { return detail::g_cpu_ns; }

}  // namespace zivra_sim

// ---- the process clock -------------------------------------------------------------

extern "C" {

int gettimeofday(struct timeval *__restrict tv, void *__restrict tz) __THROW {
  zivra_sim::detail::Guard g;
  zivra_sim::detail::State &s = zivra_sim::detail::state();
  ++s.counters.gettimeofday_calls;
  uint64_t t;
  if (s.realtime) {
    t = zivra_sim::detail::real_now_us();
  } else {
    s.now += s.tick;
    t = s.now;
  }
  tv->tv_sec = static_cast<time_t>(t / 1000000ull);
  tv->tv_usec = static_cast<suseconds_t>(t % 1000000ull);
  if (tz != nullptr) memset(tz, 0, sizeof(struct timezone));
  return 0;
}

int usleep(useconds_t us) {
  zivra_sim::detail::Guard g;
  ++zivra_sim::detail::state().counters.usleep_calls;
  zivra_sim::detail::wait_until(zivra_sim::now_us() + us);
  return 0;
}
}
