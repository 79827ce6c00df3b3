// The built codara program, run as a user runs it: every input format, --json, encode round
// trips, the listings, and the errors and exit codes. Expectations for a protocol apply once
// its handler is registered in the library the program links; until then they are skipped.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codara/codara.h"

namespace {

using nlohmann::json;

struct Result {
  int status = -1;  // exit code, or -1 if the program did not exit normally
  std::string out, err;
};

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// CTest runs the cases in parallel processes: every file name carries the process id.
std::string tmp(const std::string &name) {
  return testing::TempDir() + "codara_e2e_" + std::to_string(getpid()) + "_" + name;
}

void spit(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

// Runs `codara ARGS` with `input` on standard input.
Result codara(const std::string &args, const std::string &input = "") {
  std::string in = tmp("in"), out = tmp("out"), err = tmp("err");
  spit(in, input);
  std::string cmd = std::string("'") + CODARA_BIN + "' " + args + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
  int rc = std::system(cmd.c_str());
  Result r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

std::string sample(const std::string &name) { return std::string(CODARA_SAMPLES) + "/" + name; }

std::vector<std::string> lines(const std::string &s) {
  std::vector<std::string> r;
  std::stringstream ss(s);
  for (std::string l; std::getline(ss, l);) r.push_back(l);
  return r;
}

std::vector<json> json_lines(const std::string &s) {
  std::vector<json> r;
  for (const std::string &l : lines(s)) r.push_back(json::parse(l));
  return r;
}

int noop_tx(uint16_t *, uint16_t, uint16_t, uint8_t) { return 0; }

// Whether the library the program uses has a handler of this name registered.
bool landed(const std::string &handler) {
  ir_register_tx(noop_tx);
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next)
    if (handler == ll_entry(n, protocol, node)->name) return true;
  return false;
}

std::vector<std::string> handler_names() {
  ir_register_tx(noop_tx);
  std::vector<std::string> r;
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next)
    r.push_back(ll_entry(n, protocol, node)->name);
  return r;
}

// ---- the hand-made samples decode to what their frames carry ------------------------------

struct Expect {
  std::string protocol;
  uint32_t scancode;
  std::string desc;  // the description, or its tail when it starts with "..."
};

struct SampleCase {
  const char *file;
  const char *handler;
  std::vector<Expect> want;
};

void PrintTo(const SampleCase &c, std::ostream *os) { *os << c.file; }

class Samples : public testing::TestWithParam<SampleCase> {};

TEST_P(Samples, DecodeToTheirFrames) {
  const SampleCase &c = GetParam();
  Result r = codara("decode --json '" + sample(c.file) + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<json> got = json_lines(r.out);
  ASSERT_EQ(got.size(), c.want.size()) << r.out;
  for (const json &j : got) EXPECT_EQ(j["source"], sample(c.file));
  if (!landed(c.handler)) GTEST_SKIP() << c.handler << " handler not in the library yet";
  for (const json &j : got) EXPECT_NE(j["hash"].get<uint32_t>(), 0u) << j.dump();
  for (std::size_t i = 0; i < got.size(); ++i) {
    const Expect &e = c.want[i];
    SCOPED_TRACE(got[i].dump());
    EXPECT_EQ(got[i]["protocol"], e.protocol);
    EXPECT_EQ(got[i]["scancode"].get<uint32_t>(), e.scancode);
    std::string desc = got[i]["desc"];
    if (e.desc.rfind("...", 0) == 0) {
      std::string tail = e.desc.substr(3);
      EXPECT_TRUE(desc.size() >= tail.size() && desc.compare(desc.size() - tail.size(), tail.size(), tail) == 0)
          << desc;
    } else {
      EXPECT_EQ(desc, e.desc);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hand, Samples,
    testing::Values(
        SampleCase{"hand/nec32-04-08.mode2", "NEC",
                   {{"NEC32", 0xF708FB04, "NEC32         -- ADDR: 0xFB CMD: 0xF7"},
                    {"NEC_REPEAT", 0, "NEC           -- REPEAT"}}},
        SampleCase{"hand/nec32-04-08.pronto", "NEC",
                   {{"NEC32", 0xF708FB04, "NEC32         -- ADDR: 0xFB CMD: 0xF7"},
                    {"NEC_REPEAT", 0, "NEC           -- REPEAT"}}},
        SampleCase{"hand/nec-family.irctl", "NEC",
                   {{"NECX", 0xF7081204, "NECx          -- ADDR: 0x1204 CMD: 0xF708"},
                    {"NEC", 0xF7081204, "NEC           -- scancode: 0xF7081204"},
                    {"NEC_APPLE", 0x2B5D87EE, "NEC32 {APPLE} -- ID:0x2B CODE:0x5D TYPE:0x87 EVENT:0xEE"},
                    {"NEC48", 0, "NEC48         -- D:0x12 S:0x34 F:0x56 E:0x78"}}},
        SampleCase{"hand/rc5.irctl", "RC5",
                   {{"RC5", 0x0535, "RC5           -- ADD: 0x5 CMD: 0x35 T:1"},
                    {"RC5", 0x0535, "RC5           -- ADD: 0x5 CMD: 0x35 T:0"}}},
        SampleCase{"hand/rc5.pronto", "RC5", {{"RC5", 0x1F3F, "RC5           -- ADD: 0x1F CMD: 0x3F T:0"}}},
        SampleCase{"hand/rc6.raw", "RC6",
                   {{"RC6_0", 0x800C, "RC6           -- ADD: 0x80 CMD: 0xC T:0"},
                    {"RC6_0", 0x0421, "RC6           -- ADD: 0x4 CMD: 0x21 T:1"}}},
        SampleCase{"hand/sony.raw", "SONY",
                   {{"SONY12", 0x09500000, "SONY{12}      -- Device: 0x1 Function: 0x15"},
                    {"SONY15", 0x97340000, "SONY{15}      -- Device: 0x97 Function: 0x1A"},
                    {"SONY20", 0x49D39000, "SONY{20}      -- Device: 0x1A Sub-Device: 0x49 Function: 0x39"}}},
        SampleCase{"hand/sony12.mode2", "SONY",
                   {{"SONY12", 0x09500000, "SONY{12}      -- Device: 0x1 Function: 0x15"},
                    {"SONY12", 0x09500000, "SONY{12}      -- Device: 0x1 Function: 0x15"},
                    {"SONY12", 0x09500000, "SONY{12}      -- Device: 0x1 Function: 0x15"}}},
        SampleCase{"hand/panasonic.pronto", "PANASONIC",
                   {{"PANASONIC", 0x353D0008, "PANASONIC     -- D: 0x8 S: 0x0 F: 0x3D"}}},
        SampleCase{"hand/xmp.irctl", "XMP", {{"XMP", 0x0A1F2C00, "XMP-1         -- Dev: 0xA OBC: 0x0000002C T:0"}}},
        SampleCase{"hand/zivra.mode2", "ZIVRA", {{"ZIVRA", 0x2A135, "... -- ID: 0x2A DEV: 0x01 CMD: 0x35"}}}),
    [](const testing::TestParamInfo<SampleCase> &i) {
      std::string n = i.param.file;
      for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// ---- the samples made with `codara encode` decode back to the scancode in their names ------

bool serves(rc_proto proto) {
  ir_register_tx(noop_tx);
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    auto *h = static_cast<const IR_PROTOCOL_HANDLER *>(ll_entry(n, protocol, node)->iface);
    if (h->protocols >> proto & 1) return true;
  }
  return false;
}

TEST(EncodedSamples, DecodeToTheScancodeTheirNamesGive) {
  std::string dir = sample("encoded");
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(dir, ec)) files.push_back(e.path().filename());
  std::sort(files.begin(), files.end());
  if (files.empty()) GTEST_SKIP() << "no encoded samples yet";
  int checked = 0;
  for (const std::string &f : files) {
    // PROTOCOL-SCANCODE.FORMAT
    std::size_t dash = f.find('-'), dot = f.rfind('.');
    ASSERT_TRUE(dash != std::string::npos && dot != std::string::npos && dot > dash) << f;
    std::string proto = f.substr(0, dash);
    uint32_t sc = uint32_t(std::stoul(f.substr(dash + 1, dot - dash - 1), nullptr, 16));
    if (!serves(str_to_enum(proto.c_str()))) continue;
    SCOPED_TRACE(f);
    Result r = codara("decode --json '" + dir + "/" + f + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<json> got = json_lines(r.out);
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0]["scancode"].get<uint32_t>(), sc) << got[0].dump();
    EXPECT_NE(got[0]["protocol"], "INVALID");
    ++checked;
  }
  if (!checked) GTEST_SKIP() << "no handler for the encoded samples in the library yet";
}

// ---- formats and output -------------------------------------------------------------------

// One capture written in every input format.
// Every analyzer gives up on it, so the default handler decodes it whichever codecs exist.
const std::vector<uint16_t> kFrame = {7000, 7010, 310, 1490, 290, 1510, 300, 1500, 305, 1495, 300};

std::string as_mode2() {
  std::string s = "space 100000\n";
  for (std::size_t i = 0; i < kFrame.size(); ++i) s += (i % 2 ? "space " : "pulse ") + std::to_string(kFrame[i]) + "\n";
  return s + "timeout 125000\n";
}

std::string as_list(const char *sep, bool sign) {
  std::string s;
  for (std::size_t i = 0; i < kFrame.size(); ++i)
    s += (i ? sep : "") + std::string(sign ? (i % 2 ? "-" : "+") : "") + std::to_string(kFrame[i]);
  return s + (sign ? " # timeout 125000\n" : "\n");
}

std::string as_pronto() {
  // 0x006D: units of 26.296 us, the closing space 40 ms.
  std::string s = "0000 006D 0006 0000";
  char w[8];
  for (uint16_t e : kFrame) {
    std::snprintf(w, sizeof w, " %04X", unsigned(e / 26.296 + 0.5));
    s += w;
  }
  return s + " 05F1\n";
}

TEST(Formats, EveryFormatGivesTheSameDecode) {
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"mode2", as_mode2()}, {"ir-ctl", as_list(" ", true)}, {"raw", as_list(" ", false)},
      {"raw", as_list(",", false)}, {"pronto", as_pronto()}};
  json first;
  for (const auto &[format, text] : inputs) {
    SCOPED_TRACE(text);
    Result r = codara("decode --json", text);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<json> got = json_lines(r.out);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]["format"], format);
    EXPECT_EQ(got[0]["source"], "<stdin>");
    EXPECT_EQ(got[0]["edges_in"], kFrame.size());
    if (first.is_null()) {
      first = got[0];
      continue;
    }
    // Pronto rounds durations to carrier periods; nothing that identifies the button moves.
    for (const char *k : {"protocol", "scancode", "fullcode", "bits", "hash", "desc"}) EXPECT_EQ(got[0][k], first[k]) << k;
  }
}

TEST(Output, JsonCarriesEveryField) {
  Result r = codara("decode --json", as_list(" ", false) + "1 2\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<json> got = json_lines(r.out);
  ASSERT_EQ(got.size(), 2u);
  for (const json &j : got) {
    for (const char *k : {"source", "format", "protocol", "desc", "pronto"}) EXPECT_TRUE(j[k].is_string()) << k;
    for (const char *k : {"line", "protocol_id", "scancode", "fullcode", "bits", "hash", "repeat", "edges_in"})
      EXPECT_TRUE(j[k].is_number_unsigned() || j[k].is_number_integer()) << k;
    EXPECT_TRUE(j["edges"].is_array());
  }
  EXPECT_EQ(got[1]["protocol"], "INVALID");  // two edges are too few for any decode
  EXPECT_EQ(got[1]["protocol_id"], RC_PROTO_INVALID);
  EXPECT_EQ(got[1]["line"], 2);
  EXPECT_EQ(got[1]["hash"], 0);
  EXPECT_EQ(got[1]["desc"], "INVALID       -- 0x0000");
  EXPECT_EQ(got[1]["pronto"], "");
  // A decoded capture carries its Pronto form: learned code, 38 kHz word.
  EXPECT_EQ(got[0]["protocol"], "UNKNOWN");
  EXPECT_NE(got[0]["hash"], 0);
  EXPECT_EQ(got[0]["pronto"].get<std::string>().rfind("0000 006D ", 0), 0u) << got[0]["pronto"];
}

TEST(Output, TextLineHasNameScancodeDescriptionHash) {
  Result r = codara("decode", "1 2\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "INVALID    0x00000000  INVALID       -- 0x0000  hash=0x00000000\n");
}

TEST(Output, SeveralFilesArePrefixedWithFileAndLine) {
  std::string a = tmp("a.txt"), b = tmp("b.txt");
  spit(a, "# first\n1 2\n");
  spit(b, "1 2\n");
  Result r = codara("decode '" + a + "' '" + b + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                              a + ":2: INVALID    0x00000000  INVALID       -- 0x0000  hash=0x00000000",
                              b + ":1: INVALID    0x00000000  INVALID       -- 0x0000  hash=0x00000000"}));
}

TEST(Output, ProtocolsListsTheLibrarysHandlersAndAnalyzers) {
  Result r = codara("--core-only protocols");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out = lines(r.out);
  std::vector<std::string> names;
  std::size_t i = 2;  // title and column heads
  for (; i < out.size() && !out[i].empty(); ++i) names.push_back(out[i].substr(2, out[i].find(' ', 2) - 2));
  EXPECT_EQ(names, handler_names());
  EXPECT_NE(r.out.find("  NONE       38000    yes     no      (default handler)\n"), std::string::npos) << r.out;
  std::vector<std::string> analyzers(out.begin() + long(std::min(i + 2, out.size())), out.end());
  EXPECT_EQ(analyzers, (std::vector<std::string>{"  zivra", "  mce", "  NEC", "  ortek", "  RC6", "  rc5",
                                                  "  Panasonic", "  sony", "  xmp"}));
}

// The extended set follows the library's own, each list under a heading of its own.
TEST(Output, ProtocolsListsTheExtendedSetApart) {
  Result r = codara("protocols");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> out = lines(r.out);
  auto after = [&out](const std::string &heading) {
    std::vector<std::string> names;
    auto at = std::find(out.begin(), out.end(), heading);
    for (++at; at < out.end() && at->rfind("  ", 0) == 0; ++at) names.push_back(at->substr(2, at->find(' ', 2) - 2));
    return names;
  };
  EXPECT_EQ(after("Extended protocols (left out with --core-only):"),
            (std::vector<std::string>{"SHARP", "DENON", "NOKIA", "RC6_6A", "ORTEK", "TDC", "JVC", "SAMSUNG32"}));
  EXPECT_EQ(after("Extended protocols' analyzers:"),
            (std::vector<std::string>{"sharp", "denon", "nokia", "TDC", "jvc", "samsung32", "rc6_6a"}));
  EXPECT_NE(r.out.find("  SAMSUNG32  38000    yes     yes     SAMSUNG32\n"), std::string::npos) << r.out;
}

// ---- errors and exit codes ----------------------------------------------------------------

struct ErrCase {
  const char *name;
  std::string args, input;
  int status;
  std::string err;  // expected on stderr (a substring)
};

void PrintTo(const ErrCase &c, std::ostream *os) { *os << c.name; }

std::string repeated(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

class Errors : public testing::TestWithParam<ErrCase> {};

TEST_P(Errors, AreClearAndExitNonZero) {
  Result r = codara(GetParam().args, GetParam().input);
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_NE(r.err.find(GetParam().err), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Errors,
    testing::Values(
        ErrCase{"missing_file", "decode /nonexistent/capture", "", 1,
                "codara: cannot read /nonexistent/capture: No such file or directory"},
        ErrCase{"directory", "decode /", "", 1, "codara: cannot read /: Is a directory"},
        ErrCase{"malformed_number", "decode", "1 2 3\n4 5x 6\n", 1, "codara: <stdin>:2: malformed number '5x'"},
        ErrCase{"mode2_bad_line", "decode", "pulse 1\nspace two\n", 1, "codara: <stdin>:2: malformed number 'two'"},
        ErrCase{"long_mark", "decode", "20000 1 1\n", 1, "codara: <stdin>:1: pulse of 20000 us is longer"},
        ErrCase{"too_long", "decode", repeated("500 ", 300) + "\n", 1,
                "codara: <stdin>:1: capture of 299 edges is too long (at most 256)"},
        ErrCase{"bad_pronto", "decode", "0000 006D 0005 0000 0001\n", 1,
                "codara: <stdin>:1: Pronto code has 5 words, its header announces 14"},
        ErrCase{"no_subcommand", "", "", 2, "A subcommand is required"},
        ErrCase{"unknown_subcommand", "frobnicate", "", 2, "frobnicate"},
        ErrCase{"encode_unknown_protocol", "encode FOO 1", "", 2, "codara: unknown protocol 'FOO'"},
        ErrCase{"encode_bad_scancode", "encode NEC 0xZZ", "", 2, "codara: malformed scancode '0xZZ'"},
        ErrCase{"encode_scancode_too_big", "encode NEC 0x100000000", "", 2, "malformed scancode"},
        ErrCase{"encode_bad_format", "encode NEC 1 --format wav", "", 2, "wav"},
        ErrCase{"encode_bad_count", "encode NEC 1 --count 0", "", 2, "count"},
        ErrCase{"encode_without_encoder", "encode AMINO 1", "", 1, "codara: no encoder for AMINO"},
        ErrCase{"encode_unserved", "encode NEC48 1", "", 1, "codara: no encoder for NEC48"},
        ErrCase{"bad_log_level", "--log-level 9 protocols", "", 2, "log-level"}),
    [](const testing::TestParamInfo<ErrCase> &i) { return i.param.name; });

TEST(Errors, BadCapturesDoNotStopTheGoodOnes) {
  Result r = codara("decode", "1 2\n1 x\n1 2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.out).size(), 2u) << r.out;
}

TEST(Errors, AnUnreadableFileDoesNotStopTheOthers) {
  std::string a = tmp("ok.txt");
  spit(a, "1 2\n");
  Result r = codara("decode /nonexistent '" + a + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.out).size(), 1u) << r.out;
}

TEST(Errors, HelpAndVersionExitZero) {
  Result h = codara("--help");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("decode"), std::string::npos);
  Result v = codara("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("codara ") + ir_lib_version() + "\n");
}

// Random durations of random lengths, truncated samples and plain garbage: the program always
// exits on its own with 0 or 1, whatever the decoders make of the captures.
TEST(Robustness, GarbageNeverCrashesTheProgram) {
  std::mt19937 rng(4242);
  std::string text;
  for (int line = 0; line < 400; ++line) {
    int n = int(rng() % 300) + 1;
    for (int i = 0; i < n; ++i) text += std::to_string(rng() % 2 ? rng() % 2000 + 1 : rng() % 14000 + 1) + " ";
    text += "\n";
  }
  for (const char *f : {"hand/nec32-04-08.mode2", "hand/rc6.raw", "hand/panasonic.pronto", "hand/xmp.irctl",
                        "hand/zivra.mode2", "hand/sony.raw", "hand/rc5.irctl", "hand/nec-family.irctl"}) {
    std::string s = slurp(sample(f));
    for (std::size_t cut = s.size() / 7; cut < s.size(); cut += s.size() / 7 + 1) text += s.substr(0, cut) + "\n\n";
  }
  for (int i = 0; i < 2000; ++i) text += char(rng() % 256);
  Result r = codara("--log-level 0 decode --json", text);
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
  for (const json &j : json_lines(r.out)) EXPECT_LE(j["edges"].size(), 256u);
}

// ---- encode, and encode -> decode round trips ----------------------------------------------

struct RoundTrip {
  const char *encode_as;   // protocol given to encode
  const char *handler;
  const char *decoded_as;  // "" = the same protocol
  uint32_t mask;           // scancode bits the protocol carries
};

void PrintTo(const RoundTrip &c, std::ostream *os) { *os << c.encode_as; }

class RoundTrips : public testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, EveryFormatDecodesBackToTheScancode) {
  const RoundTrip &c = GetParam();
  if (!landed(c.handler)) GTEST_SKIP() << c.handler << " handler not in the library yet";
  std::mt19937 rng(uint32_t(std::hash<std::string>{}(c.encode_as)));
  std::string want = *c.decoded_as ? c.decoded_as : c.encode_as;
  for (int k = 0; k < 6; ++k) {
    // Not all-zero or all-one codes: frames of one edge length have no hash, so never decode.
    uint32_t sc = uint32_t(k ? rng() : 0xA5A5A5A5u) & c.mask;
    for (const char *format : {"raw", "mode2", "pronto"}) {
      char args[96];
      std::snprintf(args, sizeof args, "encode %s 0x%X --format %s", c.encode_as, sc, format);
      SCOPED_TRACE(args);
      Result e = codara(args);
      ASSERT_EQ(e.status, 0) << e.err;
      Result d = codara("decode --json", e.out);
      ASSERT_EQ(d.status, 0) << d.err;
      std::vector<json> got = json_lines(d.out);
      ASSERT_GE(got.size(), 1u) << e.out;
      EXPECT_EQ(got[0]["scancode"].get<uint32_t>(), sc) << e.out << got[0].dump();
      if (want != "NEC*") {
        EXPECT_EQ(got[0]["protocol"], want) << got[0].dump();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encode, RoundTrips,
    testing::Values(
        // NEC frames come back as NEC32, NECx or NEC by their bytes; Apple by its second byte.
        RoundTrip{"NEC", "NEC", "NEC*", 0xFFFFFFFFu}, RoundTrip{"RC5", "RC5", "", 0x1F3Fu},
        RoundTrip{"RC6_0", "RC6", "", 0xFFFFu}, RoundTrip{"SONY12", "SONY", "", 0xFFF00000u},
        RoundTrip{"SONY15", "SONY", "", 0xFFFE0000u}, RoundTrip{"SONY20", "SONY", "", 0xFFFFF000u},
        RoundTrip{"PANASONIC", "PANASONIC", "", 0xFFFFFFFFu},
        // The lowest ID bit does not survive the device-own protocol's decoder.
        RoundTrip{"ZIVRA", "ZIVRA", "", 0xFEFFFu}),
    [](const testing::TestParamInfo<RoundTrip> &i) { return std::string(i.param.encode_as); });

TEST(Encode, NecFrameInEachFormat) {
  if (!landed("NEC")) GTEST_SKIP() << "NEC handler not in the library yet";
  Result raw = codara("encode nec 0xF708FB04");
  ASSERT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(raw.out.rfind("+9000 -4500 +560 -560 ", 0), 0u) << raw.out;
  EXPECT_EQ(raw.out.substr(raw.out.size() - 6), " +560\n");
  Result m2 = codara("encode NEC 0xF708FB04 --format mode2");
  std::vector<std::string> l = lines(m2.out);
  ASSERT_EQ(l.size(), 68u);  // 67 edges and the 40 ms that follow
  EXPECT_EQ(l[0], "pulse 9000");
  EXPECT_EQ(l[66], "pulse 560");
  EXPECT_EQ(l[67], "space 40000");
  Result pr = codara("encode RC_PROTO_NEC 0xF708FB04 -f pronto");
  // NEC: 34 burst pairs once, the 2-pair repeat frame after them.
  EXPECT_EQ(pr.out.rfind("0000 006D 0022 0002 015A 00AD ", 0), 0u) << pr.out;
  EXPECT_EQ(pr.out.substr(pr.out.size() - 26), " 05F1 0156 0056 0015 0E4A\n") << pr.out;
}

TEST(Encode, CountGivesSuccessiveFramesWithTheToggleAdvancing) {
  if (!landed("RC5")) GTEST_SKIP() << "RC5 handler not in the library yet";
  Result e = codara("encode RC5 0x0535 --count 3");
  ASSERT_EQ(e.status, 0) << e.err;
  ASSERT_EQ(lines(e.out).size(), 3u);
  Result d = codara("decode --json", e.out);
  std::vector<json> got = json_lines(d.out);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0]["desc"], "RC5           -- ADD: 0x5 CMD: 0x35 T:0");
  EXPECT_EQ(got[1]["desc"], "RC5           -- ADD: 0x5 CMD: 0x35 T:1");
  EXPECT_EQ(got[2]["desc"], "RC5           -- ADD: 0x5 CMD: 0x35 T:0");
}

TEST(Encode, XmpHasNoEncoderThatGivesAFrame) {
  if (!landed("XMP")) GTEST_SKIP() << "XMP handler not in the library yet";
  Result e = codara("encode XMP 0x1234");
  EXPECT_EQ(e.status, 1);
  EXPECT_NE(e.err.find("codara: the XMP encoder produced no frame"), std::string::npos) << e.err;
}

}  // namespace

// ---- Output files: whole or not at all ------------------------------------------------

struct FileCase {
  const char *name;
  std::string args;  // OUT stands for the output file
  int status;
  std::string err;     // expected on stderr (a substring); empty: none expected
  std::string starts;  // success: how the written file begins
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class OutputFile : public testing::TestWithParam<FileCase> {};

TEST_P(OutputFile, IsWrittenWholeOrLeftAsItWas) {
  const FileCase &c = GetParam();
  const std::string dir = tmp(std::string(c.name) + "_dir");
  std::filesystem::create_directories(dir);
  const std::string out = dir + "/out";
  spit(out, "earlier contents\n");
  spit(dir + "/labelled", "KEY_POWER\n" + slurp(sample("hand/rc5.irctl")) + "KEY_MUTE\n" +
                              slurp(sample("hand/sony12.mode2")));
  spit(dir + "/unknown_key", "KEY_NOPE\n" + slurp(sample("hand/xmp.irctl")));
  spit(dir + "/undecodable", "KEY_A\n500 500 500 500 500\n");
  std::string args = c.args;
  for (std::size_t p; (p = args.find("OUT")) != std::string::npos;) args.replace(p, 3, "'" + out + "'");
  for (std::size_t p; (p = args.find("DIR")) != std::string::npos;) args.replace(p, 3, "'" + dir + "'");
  Result r = codara(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  if (!c.err.empty()) {
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  const std::string now = slurp(out);
  if (c.status == 0) {
    EXPECT_EQ(now.rfind(c.starts, 0), 0u) << now.substr(0, 200);
  } else {
    EXPECT_EQ(now, "earlier contents\n");
  }
  // No temporary file is left beside it.
  for (const auto &e : std::filesystem::directory_iterator(dir))
    EXPECT_NE(e.path().filename().string().rfind(".", 0), 0u) << e.path();
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Tool, OutputFile,
    testing::Values(
        FileCase{"plot", "plot -o OUT " + sample("hand/rc5.irctl") + " " + sample("hand/sony.raw"), 0, "",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "},
        FileCase{"keymap_toml", "keymap --format rc-keymap -o OUT DIR/labelled", 0, "", "# rc_keymap"},
        FileCase{"keymap_lircd", "keymap --format lircd --name tv -o OUT DIR/labelled", 0, "", "# lircd.conf"},
        FileCase{"plot_unreadable_input", "plot -o OUT " + sample("hand/rc5.irctl") + " /nonexistent/capture", 1,
                 "codara: cannot read /nonexistent/capture", ""},
        FileCase{"plot_bad_capture", "plot -o OUT " + sample("hand/rc5.irctl") + " DIR/labelled", 1,
                 "labelled:1: ", ""},
        FileCase{"plot_into_missing_directory", "plot -o DIR/missing/out.svg " + sample("hand/rc5.irctl"), 1,
                 "codara: cannot write ", ""},
        FileCase{"plot_over_a_directory", "plot -o DIR " + sample("hand/rc5.irctl"), 1, "codara: cannot write ", ""},
        FileCase{"keymap_unknown_key", "keymap --format rc-keymap -o OUT DIR/labelled DIR/unknown_key", 1,
                 "unknown_key:1: unknown key name 'KEY_NOPE'", ""},
        FileCase{"keymap_undecodable", "keymap --format rc-keymap -o OUT DIR/labelled DIR/undecodable", 1,
                 "undecodable:2: the capture for KEY_A does not decode", ""},
        FileCase{"keymap_not_labelled", "keymap --format lircd -o OUT " + sample("hand/rc5.pronto"), 1,
                 "capture data before the first key name", ""},
        FileCase{"keymap_bad_name", "keymap --format lircd --name 'my tv' -o OUT DIR/labelled", 2,
                 "remote name 'my tv'", ""},
        FileCase{"keymap_into_missing_directory", "keymap --format lircd -o DIR/missing/x.conf DIR/labelled", 1,
                 "codara: cannot write ", ""}),
    [](const testing::TestParamInfo<FileCase> &i) { return i.param.name; });
