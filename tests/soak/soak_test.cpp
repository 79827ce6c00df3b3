// Long runs against the simulated dongle in one process: 10 000 record/delete
// cycles, 1 000 save/load round trips and 100 000 decodes (times ZV_SOAK_SCALE).
// The heap in use and the open descriptors must be the same at the end as after
// a warm-up: nothing the library allocates or opens per operation may stay.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "codara/codara.h"
#include "sim/model_gen4.h"
#include "zivra/zivra.h"

namespace {

namespace zs = zivra_sim;

double scale() {
  const char *s = getenv("ZV_SOAK_SCALE");
  return s != nullptr ? atof(s) : 1.0;
}

int count(int full) {
  int n = static_cast<int>(full * scale());
  return n > 0 ? n : 1;
}

}  // namespace

// ---- the library's live heap: blocks allocated outside the sim, still held ----
// The sim's own records (its trace, the commands it saw, the dongle's memory)
// grow and reshape with the run; only what the kit allocates counts. Live blocks
// are kept in a fixed open-addressed table, so the bookkeeping allocates nothing.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {
constexpr size_t kSlots = 1 << 20;
uintptr_t g_live[kSlots];
size_t g_live_count = 0;
bool g_tracking = false;

size_t slot_of(uintptr_t p) { return (p >> 4) * 0x9E3779B97F4A7C15ull >> 44 & (kSlots - 1); }
void track(void *p) {
  if (p == nullptr || !g_tracking || zs::in_sim()) return;
  for (size_t i = slot_of(reinterpret_cast<uintptr_t>(p));; i = (i + 1) & (kSlots - 1))
    if (g_live[i] == 0) {
      g_live[i] = reinterpret_cast<uintptr_t>(p);
      ++g_live_count;
      return;
    }
}
void untrack(void *p) {
  if (p == nullptr || g_live_count == 0) return;
  size_t i = slot_of(reinterpret_cast<uintptr_t>(p));
  for (; g_live[i] != 0; i = (i + 1) & (kSlots - 1))
    if (g_live[i] == reinterpret_cast<uintptr_t>(p)) break;
  if (g_live[i] == 0) return;
  // Backward-shift deletion keeps every probe chain whole.
  g_live[i] = 0;
  --g_live_count;
  for (size_t j = (i + 1) & (kSlots - 1); g_live[j] != 0; j = (j + 1) & (kSlots - 1)) {
    uintptr_t v = g_live[j];
    g_live[j] = 0;
    --g_live_count;
    bool was = g_tracking;
    g_tracking = true;
    for (size_t k = slot_of(v);; k = (k + 1) & (kSlots - 1))
      if (g_live[k] == 0) {
        g_live[k] = v;
        ++g_live_count;
        break;
      }
    g_tracking = was;
  }
}
}  // namespace

extern "C" void *malloc(size_t n) {
  void *p = __libc_malloc(n);
  track(p);
  return p;
}
extern "C" void *calloc(size_t a, size_t b) {
  void *p = __libc_calloc(a, b);
  track(p);
  return p;
}
extern "C" void *realloc(void *old, size_t n) {
  untrack(old);
  void *p = __libc_realloc(old, n);
  track(p);
  return p;
}
extern "C" void free(void *p) {
  untrack(p);
  __libc_free(p);
}

namespace {

size_t heap_in_use() { return g_live_count; }

int open_descriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

std::vector<uint16_t> nec(uint32_t code) {
  std::vector<uint16_t> e = {9000, 4500};
  for (int i = 0; i < 32; ++i) {
    e.push_back(560);
    e.push_back((code >> i) & 1 ? 1690 : 560);
  }
  e.push_back(560);
  return e;
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    zs::reset();
    set_loglevel(0);
    app = std::make_shared<zs::Gen4Model>();
    app->set_version(4, 9, 0);
    app->set_capacity(500);
    zs::plug(zs::gen4_app_identity(), app);
    ASSERT_EQ(zv_open_device(ZV_VID, nullptr), 2);
    path = "/tmp/zivra_soak." + std::to_string(getpid()) + ".cfg";
  }
  void TearDown() override {
    zv_close_device();
    zs::reset();
    unlink(path.c_str());
  }
  // The sim's own records of what it saw would grow for ever; they are not the
  // library's memory.
  void forget() {
    zs::clear_trace();
    app->clear_commands();
  }
  void cycle(int i) {
    uint32_t hash = 0x10000 + static_cast<uint32_t>(i % 7);
    app->press_after_polls(2, hash);
    ASSERT_EQ(zv_set_record("a", 2), 0) << "cycle " << i;
    app->press_after_polls(2, hash);
    ASSERT_EQ(zv_set_delete(1), 0) << "cycle " << i;
    forget();
  }
  void round_trip(int i) {
    ASSERT_EQ(zv_save_config(path.c_str()), 0) << "round trip " << i;
    ASSERT_EQ(zv_load_config(path.c_str()), 0) << "round trip " << i;
    forget();
  }
  void decode(const std::vector<uint16_t> &edges) {
    ir_packet pkt{};
    std::copy(edges.begin(), edges.end(), pkt.buf);
    pkt.len = static_cast<uint16_t>(edges.size());
    pkt.elapsed = 120;
    ir_prot p{};
    ASSERT_GE(ir_decode_packet(&pkt, &p), 0);
  }
  std::shared_ptr<zs::Gen4Model> app;
  std::string path;
  LevelGuard level;
};

TEST_F(Soak, HeapAndDescriptorsStayFlat) {
  // Progress bars of thousands of saves and loads are not for the log.
  fflush(stdout);
  int saved = dup(1);
  FILE *null = fopen("/dev/null", "w");
  dup2(fileno(null), 1);
  // Three buttons that stay, so save and load carry records.
  for (uint32_t h : {1u, 2u, 3u}) {
    app->set_state(1);
    app->press_hash(h);
  }
  std::vector<std::vector<uint16_t>> frames = {nec(0xF708FB04), nec(0x00FF00FF), {9000, 2250, 560}};
  int cycles = count(10000), trips = count(1000), decodes = count(100000);
  // Two halves: the first lets every buffer of the library and the sim reach its
  // working size; across the second nothing may grow.
  auto half = [&](int part) {
    for (int i = part * cycles / 2; i < (part + 1) * cycles / 2 && !HasFatalFailure(); ++i) cycle(i);
    for (int i = part * trips / 2; i < (part + 1) * trips / 2 && !HasFatalFailure(); ++i) round_trip(i);
    for (int i = part * decodes / 2; i < (part + 1) * decodes / 2 && !HasFatalFailure(); ++i)
      decode(frames[static_cast<size_t>(i) % frames.size()]);
    forget();
  };
  g_tracking = true;
  half(0);
  size_t heap0 = heap_in_use();
  int fds0 = open_descriptors();
  half(1);
  size_t heap1 = heap_in_use();
  int fds1 = open_descriptors();
  g_tracking = false;
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  fclose(null);
  EXPECT_EQ(app->buttons(), 3u);
  EXPECT_EQ(heap1, heap0) << "blocks the library holds grew";
  EXPECT_EQ(fds1, fds0) << "descriptors left open";
  printf("soak: %d record/delete cycles, %d save/load round trips, %d decodes; %zu live blocks and %d descriptors "
         "at both checkpoints\n",
         cycles, trips, decodes, heap0, fds0);
}

}  // namespace
