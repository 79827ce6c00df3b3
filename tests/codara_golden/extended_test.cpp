// The golden corpus decoded twice in one process, before and after the extended
// protocols are registered: every capture the library's own protocols decoded
// decodes to the very same result (but for Samsung-32 frames, which were NECx), and
// the extension takes only captures that were unknown or invalid.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codara/codara.h"
#include "codara/logging.h"
#include "tests/codara_golden/corpus.h"

namespace {

using namespace golden_corpus;

struct Outcome {
  int rc;
  ir_prot p;
};

Outcome decode(const Capture &c) {
  ir_packet pk{};
  for (size_t i = 0; i < c.edges.size() && i < IR_MAX_EDGES; ++i) pk.buf[i] = c.edges[i];
  pk.len = c.len;
  pk.elapsed = c.elapsed;
  Outcome o{};
  o.rc = ir_decode_packet(&pk, &o.p);
  return o;
}

// The extension's results carry its labels (Samsung-32 reports RC_PROTO_NECX).
bool extended_result(const Outcome &o) {
  static const char *const kLabels[] = {"sharp ", "denon ", "nokia ", "rc6_", "ortek ", "tdc ", "jvc ", "samsung32 "};
  for (const char *l : kLabels)
    if (o.rc >= 0 && std::strncmp(o.p.desc, l, std::strlen(l)) == 0) return true;
  return false;
}

TEST(ExtendedProtocols, LeaveTheLibrarysOwnResultsAlone) {
  set_loglevel(0);
  std::vector<Capture> corpus = read_golden(GOLDEN_FILE).samples;
  ASSERT_GT(corpus.size(), 20u);
  for (auto *part : {generated, generated_extra})
    for (Capture &c : part(20261209)) corpus.push_back(std::move(c));

  std::vector<Outcome> before;
  for (const Capture &c : corpus) before.push_back(decode(c));
  codara_register_extended();
  int taken = 0, kept = 0, relabelled = 0;
  for (size_t i = 0; i < corpus.size(); ++i) {
    const Outcome after = decode(corpus[i]);
    const Outcome &was = before[i];
    if (extended_result(after)) {
      ++taken;
      if (was.p.protocol == RC_PROTO_NECX && std::strncmp(after.p.desc, "samsung32 ", 10) == 0) {
        // A NECx frame that sends its address byte twice is a Samsung-32 frame: the
        // one result of the library's own the extension names differently.
        EXPECT_EQ(was.p.scancode & 0xFF, was.p.scancode >> 8 & 0xFF) << "capture " << i;
        ++relabelled;
        continue;
      }
      // Otherwise only a capture nothing decoded before may become one of the extension's.
      EXPECT_TRUE(was.rc >= 0 && (was.p.protocol == RC_PROTO_UNKNOWN || was.p.protocol == RC_PROTO_INVALID))
          << "capture " << i << " was " << was.p.desc << ", now " << after.p.desc;
      continue;
    }
    ++kept;
    EXPECT_EQ(after.rc, was.rc) << "capture " << i;
    EXPECT_EQ(std::memcmp(&after.p, &was.p, sizeof after.p), 0)
        << "capture " << i << " was " << was.p.desc << ", now " << after.p.desc;
  }
  // The corpus holds frames of both kinds.
  EXPECT_GT(taken, 0);
  EXPECT_GT(kept, 1000);
  EXPECT_LT(relabelled, 3);
}

}  // namespace
