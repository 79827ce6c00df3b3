// Names, the handler registry, and the decode / encode / transmit paths.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/codara/support.h"

using namespace codara_test;

namespace {

const char *const kShort[38] = {
    "UNKNOWN", "INVALID",   "OTHER",     "RC5",       "RC5X_20",   "RC5_SZ", "JVC",    "SONY12",     "SONY15",
    "SONY20",  "NEC",       "NECX",      "NEC32",     "NEC48",     "SANYO",  "MCIR2_KBD", "MCIR2_MSE", "RC6_0",
    "RC6_6A_20", "RC6_6A_24", "RC6_6A_32", "RC6_MCE", "SHARP",     "XMP",    "CEC",    "IMON",       "RCMM12",
    "RCMM24",  "RCMM32",    "ORTEK",     "DENON",     "ZIVRA",     "NOKIA",  "TDC",    "AMINO",      "NEC_APPLE",
    "NEC_REPEAT", "PANASONIC"};

TEST(ProtocolNames, EveryValueRoundTrips) {
  for (int v = 0; v < 38; ++v) {
    EXPECT_STREQ(enum_to_str(static_cast<rc_proto>(v)), kShort[v]);
    EXPECT_EQ(str_to_enum(kShort[v]), v);
  }
  EXPECT_STREQ(enum_to_str(static_cast<rc_proto>(38)), "ERROR");
  EXPECT_STREQ(enum_to_str(static_cast<rc_proto>(-1)), "ERROR");
  EXPECT_EQ(str_to_enum("NEC"), RC_PROTO_NEC);
  EXPECT_EQ(str_to_enum("nec"), RC_PROTO_UNKNOWN);
  EXPECT_EQ(str_to_enum("RC_PROTO_NEC"), RC_PROTO_UNKNOWN);
  EXPECT_EQ(str_to_enum(""), RC_PROTO_UNKNOWN);
  EXPECT_EQ(str_to_enum(nullptr), RC_PROTO_UNKNOWN);
}

TEST(Library, Version) { EXPECT_STREQ(ir_lib_version(), "3.27.10-39-gb76f58e4"); }

std::string listed_handlers() {
  testing::internal::CaptureStdout();
  ir_enabled_protocols();
  return testing::internal::GetCapturedStdout();
}

TEST(Registry, DefaultOrder) {
  ensure_registered();
  testing::internal::CaptureStdout();
  print_all_analyzers();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Enabled Protocols\n-----------------\nzivra\nmce\nNEC\nortek\nRC6\nrc5\nPanasonic\nsony\nxmp\n");
  // Handlers: those whose modules are built, in the fixed lookup order.
  const std::string h = listed_handlers();
  const std::string head = "Enabled Protocols\n-----------------\n";
  ASSERT_EQ(h.substr(0, head.size()), head);
  std::string order = "AMINO\nZIVRA\nNEC\nNONE\nRC5\nRC6\nPANASONIC\nSONY\nXMP\n";
  size_t at = 0;
  for (size_t i = head.size(); i < h.size();) {
    const size_t nl = h.find('\n', i);
    const std::string name = h.substr(i, nl + 1 - i);
    const size_t found = order.find(name, at);
    ASSERT_NE(found, std::string::npos) << "out of order or unexpected: " << name;
    at = found + name.size();
    i = nl + 1;
  }
  EXPECT_NE(h.find("\nNONE\n"), std::string::npos);
  ASSERT_NE(unknown, nullptr);
  EXPECT_STREQ(unknown->name, "NONE");
}

TEST(Registry, RegisteringAHandlerTwiceIsIgnored) {
  ensure_registered();
  const std::string before = listed_handlers();
  LevelGuard lg;
  set_loglevel(4);
  LogCapture cap;
  NONE__irprotocol();
  EXPECT_EQ(unlined(cap.text(4)),
            "[D] lib/libcodara/protocols _register_protocol_irprotocol(#): already registered: NONE\n");
  EXPECT_EQ(listed_handlers(), before);
}

// ---- Decode path ----

ir_packet packet(const std::vector<uint16_t> &e, uint16_t elapsed = 0) {
  ir_packet pk{};
  std::copy(e.begin(), e.end(), pk.buf);
  pk.len = static_cast<uint16_t>(e.size());
  pk.elapsed = elapsed;
  return pk;
}

char invalid_desc[100];
const char *invalid_text() {
  snprintf(invalid_desc, sizeof(invalid_desc), "%-13s -- 0x0000", "INVALID");
  return invalid_desc;
}

void expect_invalid(const ir_prot &p) {
  ir_prot zero{};
  zero.protocol = RC_PROTO_INVALID;
  snprintf(zero.desc, sizeof(zero.desc), "%s", invalid_text());
  EXPECT_EQ(std::memcmp(&p, &zero, sizeof(p)), 0) << p.desc;
}

TEST(DecodePath, EmptyAndShortCapturesAreInvalid) {
  for (size_t n : {0u, 1u, 2u}) {
    ir_packet pk = packet(std::vector<uint16_t>(n, 560));
    ir_prot p;
    std::memset(&p, 0xAB, sizeof(p));
    EXPECT_EQ(ir_decode_packet(&pk, &p), 1) << n;
    expect_invalid(p);
  }
  EXPECT_STREQ(invalid_text(), "INVALID       -- 0x0000");
}

TEST(DecodePath, BadPacketsTouchNothing) {
  LogCapture cap;
  ir_prot p;
  std::memset(&p, 0xAB, sizeof(p));
  ir_prot before = p;
  ir_packet big = foreign_frame().empty() ? ir_packet{} : packet(foreign_frame());
  big.len = 257;  // beyond the edge array
  EXPECT_EQ(ir_decode_packet(&big, &p), -1);
  ir_packet hot = packet({9000, 4500, 14001, 560});
  EXPECT_EQ(ir_decode_packet(&hot, &p), -1);
  EXPECT_EQ(ir_decode_packet(nullptr, &p), -1);
  EXPECT_EQ(ir_decode_packet(&hot, nullptr), -1);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof(p)), 0);
  const std::string line = "[E] lib/libcodara/protocols ir_decode_packet(#): error: invalid packet\n";
  EXPECT_EQ(unlined(cap.text(1)), line + line + line + line);
}

TEST(DecodePath, LongestAcceptedEdgeIs14000) {
  ir_packet pk = packet(foreign_frame(14000));
  ir_prot p{};
  EXPECT_EQ(ir_decode_packet(&pk, &p), RC_PROTO_UNKNOWN);
  EXPECT_NE(p.hash, 0u);
}

TEST(DecodePath, UnknownSignalGoesToTheDefaultHandler) {
  LogCapture cap;  // default log level: errors and warnings
  ir_packet pk = packet(foreign_frame());
  ir_prot p{};
  EXPECT_EQ(ir_decode_packet(&pk, &p), RC_PROTO_UNKNOWN);
  EXPECT_EQ(p.protocol, RC_PROTO_UNKNOWN);
  EXPECT_STREQ(p.desc, "UNKNOWN       -- 0x0000");
  EXPECT_EQ(p.hash, ir_hash(pk.buf, pk.len, 2400));
  EXPECT_NE(p.hash, 0u);
  EXPECT_EQ(p.scancode, 0u);
  EXPECT_EQ(p.len, 0);
  // No burst pairs: header and the 50 ms closing gap only.
  EXPECT_EQ(std::vector<uint16_t>(p.pronto, p.pronto + p.pronto_len), (std::vector<uint16_t>{0, 109, 1, 0, 1923}));
  EXPECT_EQ(unlined(cap.text(2)),
            "[W] lib/libcodara/protocols ir_decode_packet(#): no known decoder, calling default handler\n");
}

TEST(DecodePath, UnsplittableUnknownSignalIsInvalid) {
  LogCapture cap;
  std::vector<uint16_t> e(12, 500);
  e[0] = 13000;
  ir_packet pk = packet(e);
  ir_prot p{};
  EXPECT_EQ(ir_decode_packet(&pk, &p), 1);
  expect_invalid(p);
  EXPECT_NE(cap.text(1).find("Invalid Protocol"), std::string::npos);
}

TEST(DecodePath, ThreeEdgesThatAreNoNecRepeatAreInvalid) {
  LogCapture cap;
  for (auto e : {std::vector<uint16_t>{2400, 600, 1200}, std::vector<uint16_t>{13000, 300, 1500}}) {
    ir_packet pk = packet(e);
    ir_prot p{};
    EXPECT_EQ(ir_decode_packet(&pk, &p), 1);
    expect_invalid(p);
  }
}

TEST(DecodePath, FullEdgeArrayEndsInvalid) {
  LogCapture cap;
  std::vector<uint16_t> e(256);
  for (size_t i = 0; i < e.size(); ++i) e[i] = i % 3 ? 500 : 1500;
  ir_packet pk = packet(e);
  ir_prot p{};
  EXPECT_EQ(ir_decode_packet(&pk, &p), 1);  // the 8-bit edge count is 0
  expect_invalid(p);
}

// Same verdict from analyze_protocol and from the decode path's D line.
TEST(DecodePath, SameVerdictAsAnalyzeProtocol) {
  ensure_registered();
  forget_memories();
  const std::vector<std::vector<uint16_t>> captures = {
      nec_frame(0xF708FB04), sony_frame(0x2AB), panasonic_frame(0x123456789ABCull), ortek_frame(), foreign_frame(),
      {9000, 2250, 560},     std::vector<uint16_t>(99, 600)};
  for (const auto &c : captures) {
    std::vector<uint16_t> copy = c;
    const rc_proto guess = analyze_protocol(copy.data(), static_cast<uint16_t>(copy.size()));
    LevelGuard lg;
    set_loglevel(4);
    LogCapture cap;
    ir_packet pk = packet(c);
    ir_prot p{};
    ir_decode_packet(&pk, &p);
    const std::string want = "[D] lib/libcodara/protocols ir_decode_packet(#): protocol: " + std::to_string(guess) + "\n";
    EXPECT_NE(unlined(cap.text(4)).find(want), std::string::npos) << c.size() << " edges";
  }
  forget_memories();
}

// What a decode leaves behind: its result and every analyzer's state.
std::string decode_outcome(const std::vector<uint16_t> &c, uint16_t elapsed) {
  ir_packet pk = packet(c, elapsed);
  ir_prot p{};
  std::memset(&p, 0x5A, sizeof p);  // what the caller had there must not show through
  std::string out = std::to_string(ir_decode_packet(&pk, &p)) + ":";
  out.append(reinterpret_cast<const char *>(&p), sizeof p);
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next) {
    const auto *a = ll_entry(n, IR_PROTOCOL_ANALYZER, node);
    uint8_t mem[2] = {};
    if (a->priv != nullptr) std::memcpy(mem, a->priv, sizeof mem);
    char b[96];
    snprintf(b, sizeof b, " %s:%u/%u/%u/%u,%u", a->name, a->acc, a->result, a->enabled, mem[0], mem[1]);
    out += b;
  }
  return out;
}

// The whole-capture scoring the decode path takes while nothing logs keeps to
// the list as it stands and to records a client has left scored or disabled:
// it gives what scoring edge by edge (the path taken at debug level) gives.
TEST(DecodePath, WholeCaptureScoringAgreesWithEdgeByEdgeWhateverTheList) {
  ensure_registered();
  const std::vector<std::pair<std::vector<uint16_t>, uint16_t>> sequence = {
      {nec_frame(0xF708FB04), 0}, {{9000, 2250, 560}, 40}, {{9000, 2250, 560}, 900}, {sony_frame(0x2AB), 0},
      {panasonic_frame(0x123456789ABCull), 0}, {ortek_frame(), 0}, {foreign_frame(), 0},
      {{2400, 600, 1200, 600, 600}, 0}, {std::vector<uint16_t>(40, 889), 0}};
  struct Change {
    const char *what;
    void (*before_each)();
  };
  static IR_PROTOCOL_ANALYZER *nec = analyzer_named("NEC"), *sony = analyzer_named("sony"),
                              *rc5 = analyzer_named("rc5");
  ASSERT_TRUE(nec != nullptr && sony != nullptr && rc5 != nullptr);
  const Change changes[] = {
      {"as registered", [] {}},
      {"a penalty left on sony", [] { sony->acc = 300; }},
      {"rc5 disabled", [] { rc5->enabled = 0; }},
      {"a result left on NEC", [] { nec->result = 1; }},
  };
  for (bool unlinked : {false, true}) {
    ll_t *after = nec->node.prev;
    if (unlinked) ll_del(&nec->node);
    for (const Change &c : changes) {
      std::vector<std::string> at_level[2];
      for (int run = 0; run < 2; ++run) {
        LevelGuard lg;
        set_loglevel(run == 0 ? 0 : 4);
        LogCapture cap;
        forget_memories();
        for (const auto &[edges, elapsed] : sequence) {
          c.before_each();
          at_level[run].push_back(decode_outcome(edges, elapsed));
        }
      }
      for (size_t i = 0; i < sequence.size(); ++i)
        EXPECT_EQ(at_level[0][i], at_level[1][i]) << c.what << (unlinked ? ", NEC unlinked" : "") << ", capture " << i;
    }
    if (unlinked) {  // back where it was
      nec->node.prev = after;
      nec->node.next = after->next;
      after->next->prev = &nec->node;
      after->next = &nec->node;
    }
  }
  forget_memories();
}

// Where the analyzers that stay in after a capture's first edge change, that edge
// is moved to each side of the change in frames of every protocol: the analyzers
// the fast path picks to score are those edge-by-edge scoring keeps.
TEST(DecodePath, WholeCaptureScoringAgreesAtEveryFirstEdgeBoundary) {
  ensure_registered();
  forget_memories();
  auto kept_after = [](uint16_t t) {
    ir_t ir{};
    analyze_edge(t, &ir);
    std::string kept;
    for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next)
      kept += ll_entry(n, IR_PROTOCOL_ANALYZER, node)->enabled != 0 ? '1' : '0';
    reset_analyzer();
    return kept;
  };
  std::vector<uint16_t> boundaries;
  std::string prev = kept_after(0);
  for (uint16_t t = 1; t <= 14000; ++t) {
    std::string now = kept_after(t);
    if (now != prev) boundaries.push_back(t);
    prev = now;
  }
  forget_memories();
  ASSERT_GE(boundaries.size(), 9u);
  std::vector<std::vector<uint16_t>> frames = {ortek_frame()};
  for (auto [proto, code] : std::initializer_list<std::pair<rc_proto, uint32_t>>{
           {RC_PROTO_NEC32, 0xF708FB04}, {RC_PROTO_SONY12, 0x2AB}, {RC_PROTO_RC5, 0x1234}, {RC_PROTO_RC6_0, 0x1234},
           {RC_PROTO_PANASONIC, 0x123456}, {RC_PROTO_ZIVRA, 0x1234}}) {
    ir_packet pk{};
    ASSERT_EQ(ir_encode(proto, code, &pk), 0) << enum_to_str(proto);
    frames.emplace_back(pk.buf, pk.buf + pk.len);
  }
  for (uint16_t b : boundaries)
    for (uint16_t first : {static_cast<uint16_t>(b - 1), b})
      for (std::vector<uint16_t> f : frames) {
        f[0] = first;
        std::string at_level[2];
        for (int run = 0; run < 2; ++run) {
          LevelGuard lg;
          set_loglevel(run == 0 ? 0 : 4);
          LogCapture cap;
          forget_memories();
          at_level[run] = decode_outcome(f, 0);
        }
        EXPECT_EQ(at_level[0], at_level[1]) << "first edge " << first << ", " << f.size() << " edges";
      }
  forget_memories();
}

// ---- Client handlers and analyzers: the registry is open to them ----

int test_encodes = 0;
int test_encode_result = -1;
int last_repeat = -100;

int test_encode(rc_proto, uint32_t scancode, ir_packet *ir) {
  ++test_encodes;
  ir->buf[0] = static_cast<uint16_t>(scancode);
  ir->len = 1;
  return test_encode_result;
}
int test_transmit(rc_proto, uint32_t, int repeat) {
  last_repeat = repeat;
  return repeat == 7 ? -5 : 0;
}

// Decodes whatever it gets into a cleaned list of `fake_len` edges with a key gap.
uint16_t fake_len = 10;
uint32_t fake_hash = 77;
int fake_result = 0;
int test_decode(ir_t *, ir_prot *p) {
  p->protocol = RC_PROTO_JVC;
  p->hash = fake_hash;
  p->len = fake_len;
  for (uint16_t i = 0; i < fake_len && i < IR_MAX_EDGES; ++i) p->buf[i] = 520;
  if (fake_len + 1 < IR_MAX_EDGES) p->buf[fake_len + 1] = 28;
  return fake_result;
}

IR_PROTOCOL_HANDLER jvc_handler{{}, 1ull << RC_PROTO_JVC, test_decode, nullptr, test_encode, test_transmit, 38000, 0};
struct protocol jvc_rec = {"irprotocol", "JVC", &jvc_handler, {}};
IR_PROTOCOL_HANDLER cec_handler{{}, 1ull << RC_PROTO_CEC, nullptr, nullptr, nullptr, nullptr, 38000, 0};
struct protocol cec_rec = {"irprotocol", "CEC", &cec_handler, {}};

// Wins only captures that begin with its own leader, so other tests are unaffected.
void leader_analyze(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint16_t want = *static_cast<uint16_t *>(test->priv);
  if (ir->count == 0 && t != want) test->acc = 60000;
}
rc_proto jvc_finish(ir_t *, IR_PROTOCOL_ANALYZER *) { return RC_PROTO_JVC; }
rc_proto cec_finish(ir_t *, IR_PROTOCOL_ANALYZER *) { return RC_PROTO_CEC; }
uint16_t jvc_leader = 13500, cec_leader = 13600;
IR_PROTOCOL_ANALYZER jvc_analyzer{{}, "jvc-test", leader_analyze, jvc_finish, nullptr, &jvc_leader, 0, 0, 0};
IR_PROTOCOL_ANALYZER cec_analyzer{{}, "cec-test", leader_analyze, cec_finish, nullptr, &cec_leader, 0, 0, 0};
struct protocol jvc_arec = {"iranalyzer", "JVC", &jvc_analyzer, {}};
struct protocol cec_arec = {"iranalyzer", "CEC", &cec_analyzer, {}};

class ClientHandlers : public ::testing::Test {
 protected:
  void SetUp() override {
    ensure_registered();
    _register_protocol_irprotocol(&jvc_rec);  // a repeated registration is ignored
    _register_protocol_irprotocol(&cec_rec);
    _register_protocol_iranalyzer(&jvc_arec);
    _register_protocol_iranalyzer(&cec_arec);
    fake_len = 10;
    fake_hash = 77;
    fake_result = 0;
  }
};

TEST_F(ClientHandlers, DecoderResultGetsItsKeyGapInPronto) {
  ir_packet pk = packet(foreign_frame(13500));
  ir_prot p{};
  EXPECT_EQ(ir_decode_packet(&pk, &p), RC_PROTO_JVC);
  // Ten edges end in a space, which runs into the gap: nine words and the gap.
  ASSERT_EQ(p.pronto_len, 4 + 9 + 1);
  EXPECT_EQ(p.pronto[2], 5);
  EXPECT_EQ(p.pronto[4], 520 / 26);
  EXPECT_EQ(p.pronto[13], 1076);  // 28 ms
}

TEST_F(ClientHandlers, KeyGapSlotOutsideTheArrayCountsAsNone) {
  for (uint16_t n : {254, 255}) {
    fake_len = n;
    LevelGuard lg;
    set_loglevel(3);
    LogCapture cap;
    ir_packet pk = packet(foreign_frame(13500));
    ir_prot p{};
    EXPECT_EQ(ir_decode_packet(&pk, &p), RC_PROTO_JVC);
    EXPECT_EQ(p.pronto_len, 256);  // cut at the array's end
    if (n == 255) {
      EXPECT_NE(cap.text(3).find("ik_delay = 0"), std::string::npos);
    }
  }
}

TEST_F(ClientHandlers, RejectionsByTheHandler) {
  LogCapture cap;
  ir_packet pk = packet(foreign_frame(13500));
  ir_prot p{};
  fake_result = -1;  // decoder refuses
  EXPECT_EQ(ir_decode_packet(&pk, &p), 1);
  expect_invalid(p);
  fake_result = 0;
  fake_hash = 0;  // no hash, no result
  EXPECT_EQ(ir_decode_packet(&pk, &p), 1);
  expect_invalid(p);
  // A matched handler without a decoder.
  ir_packet cec = packet(foreign_frame(13600));
  EXPECT_EQ(ir_decode_packet(&cec, &p), 1);
  expect_invalid(p);
  EXPECT_EQ(unlined(cap.text(1)), "[E] lib/libcodara/protocols ir_decode_packet(#): no valid decoder for protocol\n");
}

TEST_F(ClientHandlers, VerboseWalkOfTheList) {
  LevelGuard lg;
  set_loglevel(5);
  LogCapture cap;
  ir_packet pk = packet(foreign_frame(13500));
  ir_prot p{};
  ir_decode_packet(&pk, &p);
  const std::string v = unlined(cap.text(5));
  EXPECT_NE(v.find("ir_decode_packet(#): checking: NONE\n"), std::string::npos);
  EXPECT_NE(v.find("ir_decode_packet(#): checking: JVC\n[V] lib/libcodara/protocols ir_decode_packet(#): handler match: JVC\n"),
            std::string::npos);
  EXPECT_EQ(v.find("checking: CEC"), std::string::npos);  // the first match ends the walk
}

TEST_F(ClientHandlers, Encode) {
  LogCapture cap;
  ir_packet pk{};
  test_encodes = 0;
  EXPECT_EQ(ir_encode(RC_PROTO_JVC, 1234, &pk), -1);  // the encoder's failure
  EXPECT_EQ(test_encodes, 1);
  EXPECT_EQ(pk.buf[0], 1234);
  EXPECT_EQ(ir_encode(RC_PROTO_NEC48, 1, &pk), -1);  // served by no handler: no message
  EXPECT_EQ(ir_encode(static_cast<rc_proto>(64), 1, &pk), -1);
  EXPECT_EQ(cap.text(1), "");
  EXPECT_EQ(ir_encode(RC_PROTO_CEC, 1, &pk), -1);
  EXPECT_EQ(unlined(cap.text(1)), "[E] lib/libcodara/protocols ir_encode(#): no tx function for prot: 24\n");
}

TEST_F(ClientHandlers, TransmitCapsTheRepeatCount) {
  LogCapture cap;
  EXPECT_EQ(ir_tx(RC_PROTO_JVC, 1, 31), 0);
  EXPECT_EQ(last_repeat, 30);
  EXPECT_EQ(unlined(cap.text(1)), "[E] lib/libcodara/protocols ir_tx(#): Repeat > 30, capping to 30\n");
  EXPECT_EQ(ir_tx(RC_PROTO_JVC, 1, 30), 0);
  EXPECT_EQ(last_repeat, 30);
  EXPECT_EQ(ir_tx(RC_PROTO_JVC, 1, -4), 0);
  EXPECT_EQ(last_repeat, -4);
  EXPECT_EQ(ir_tx(RC_PROTO_JVC, 1, 7), -5);  // the transmitter's failure reaches the caller
  EXPECT_EQ(ir_tx(RC_PROTO_NEC48, 1, 1), -1);
  EXPECT_EQ(ir_tx(RC_PROTO_CEC, 1, 1), -1);
  EXPECT_NE(cap.text(1).find("no tx function for prot: 24"), std::string::npos);
}

// ---- Transmit callback ----

std::vector<uint16_t> sent;
uint16_t sent_ik;
uint8_t sent_repeat;
int cb_result = 0;
int which_cb = 0;
int recording_cb(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  which_cb = 1;
  sent.assign(buf, buf + len);
  sent_ik = ik;
  sent_repeat = repeat;
  return cb_result;
}

TEST(TransmitCallback, PassesFramesAndReportsFailures) {
  ASSERT_EQ(ir_register_tx(recording_cb), 0);
  uint16_t frame[] = {9000, 4500, 560};
  cb_result = 3;
  EXPECT_EQ(_transmit_raw(frame, 3, 40, 7), 0);
  EXPECT_EQ(sent, (std::vector<uint16_t>{9000, 4500, 560}));
  EXPECT_EQ(sent_ik, 40);
  EXPECT_EQ(sent_repeat, 7);
  LevelGuard lg;
  set_loglevel(3);
  LogCapture cap;
  cb_result = -9;
  EXPECT_EQ(_transmit_raw(frame, 3, 40, 1), -9);
  EXPECT_EQ(unlined(cap.text(3)), "[I] lib/libcodara/protocols _transmit_raw(#): failed to tx: -9\n");
  cb_result = 0;
}

TEST(TransmitCallback, NullKeepsTheEarlierCallback) {
  ASSERT_EQ(ir_register_tx(recording_cb), 0);
  LogCapture cap;
  EXPECT_EQ(ir_register_tx(nullptr), -1);
  EXPECT_EQ(unlined(cap.text(1)), "[E] lib/libcodara/protocols ir_register_tx(#): Invalid callback registered\n");
  which_cb = 0;
  uint16_t frame[] = {1, 2};
  EXPECT_EQ(_transmit_raw(frame, 2, 0, 0), 0);
  EXPECT_EQ(which_cb, 1);
}

}  // namespace
