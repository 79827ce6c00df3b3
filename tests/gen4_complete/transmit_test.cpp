// Raw and Pronto transmission, stopping it, and the wake signal.
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture.h"
#include "dongle.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

using namespace gen4t;

namespace {

std::vector<size_t> chunk_bytes(const std::vector<Exchange> &ex, size_t total, size_t chunk) {
  std::vector<size_t> v;
  for (size_t i = 0; i < ex.size(); ++i) v.push_back(total - i * chunk < chunk ? total - i * chunk : chunk);
  return v;
}

// The upload slot itself, of the revision's own table (41 entries do not pass
// the public normalising).
int upload(int minor, uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  zv_iface_t *t = minor == 2 ? zv_fw_ver4p2_init() : minor == 7 ? zv_fw_ver4p7_init() : zv_fw_ver4p10_init();
  int rc = t->zv_transmit_raw(buf, len, ik, repeat);
  free(t);
  return rc;
}

class Chunking : public ::testing::TestWithParam<int> {};

TEST_P(Chunking, FortyOneEntries) {
  const int minor = GetParam();
  Dongle d(minor);
  std::vector<uint16_t> sig(41);
  for (size_t i = 0; i < sig.size(); ++i) sig[i] = static_cast<uint16_t>(i ? 500 + i : 0);
  d.clear_trace();
  ASSERT_EQ(upload(minor, sig.data(), 41, 500, 2), 0);
  auto raw = d.trace("irtransraw");
  const size_t chunk = minor == 2 ? 20 : 52;
  auto want = minor == 2 ? std::vector<size_t>{20, 20, 20, 20, 2} : std::vector<size_t>{52, 30};
  ASSERT_EQ(chunk_bytes(raw, 82, chunk), want);
  for (auto &e : raw) EXPECT_EQ(e.size, minor == 2 ? 32u : 64u);
  ASSERT_EQ(d.transmitted().size(), 1u);
  EXPECT_EQ(d.transmitted()[0], sig);
  auto set = d.trace("irtranset");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].size, minor == 2 ? 32u : 64u);
  EXPECT_EQ(set[0].u16(0), 41);
  EXPECT_EQ(set[0].u16(2), minor == 2 ? 0 : 500);
  EXPECT_EQ(set[0].payload[4], minor == 2 ? 0 : 2);
}

INSTANTIATE_TEST_SUITE_P(Revisions, Chunking, ::testing::Values(2, 7, 10));

TEST(Transmit, PauseIsTakenInMillisecondsFromRevisionTen) {
  Dongle d(10);
  std::vector<uint16_t> sig = {0, 900, 450, 560};
  LogCapture cap;
  LevelGuard g;
  set_loglevel(3);
  ASSERT_EQ(zv_transmit_raw(sig.data(), 4, 40000, 1), 0);
  ASSERT_EQ(zv_transmit_raw(sig.data(), 4, 999, 1), 0);
  auto s = d.transmit_settings();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].ik, 40);
  EXPECT_EQ(s[1].ik, 999);
  EXPECT_NE(cap.text(3).find("ik looks to be in us, converting to ms: 40000 -> 40\n"), std::string::npos);
}

TEST(Transmit, BusyDongleGetsNoData) {
  Dongle d(10);
  d.set_transmitting(true);
  std::vector<uint16_t> sig = {0, 900, 450, 560};
  d.clear_trace();
  EXPECT_EQ(zv_transmit_raw(sig.data(), 4, 10, 1), -2);
  EXPECT_TRUE(d.trace("irtransraw").empty());
  EXPECT_EQ(zv_transmit_kill(), 0);
  EXPECT_EQ(zv_ir_transmit_kill(), 0);
  EXPECT_EQ(d.trace("irtranskil").size(), 2u);
  EXPECT_EQ(d.trace("irtranskil")[0].size, 64u);
  EXPECT_EQ(zv_transmit_raw(sig.data(), 4, 10, 1), 0);
}

TEST(Transmit, FailedSetupAndChunk) {
  Dongle d(7);
  std::vector<uint16_t> sig(60, 700);
  d.fail("irtranset", 1);
  EXPECT_EQ(zv_transmit_raw(sig.data(), 59, 10, 1), -12);
  d.fail("irtransraw", 2);
  LogCapture cap;
  EXPECT_EQ(zv_transmit_raw(sig.data(), 59, 10, 1), -1);
  EXPECT_NE(cap.text(1).find("error sending data, check device log\n"), std::string::npos);
}

struct RawCase {
  std::vector<uint16_t> in;
  std::vector<uint16_t> sent;  // empty: refused
  const char *message;
};

class RawNormalising : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawNormalising, Examples) {
  Dongle d(10);
  auto in = GetParam().in;
  auto copy = in;
  LogCapture cap;
  LevelGuard g;
  set_loglevel(3);
  int rc = zv_transmit_raw(in.data(), static_cast<uint16_t>(in.size()), 10, 1);
  EXPECT_EQ(in, copy);  // the caller's array is left alone
  if (GetParam().sent.empty()) {
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(d.transmitted().empty());
  } else {
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(d.transmitted().size(), 1u);
    EXPECT_EQ(d.transmitted()[0], GetParam().sent);
  }
  if (GetParam().message[0]) {
    EXPECT_NE(cap.all().find(GetParam().message), std::string::npos) << cap.all();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, RawNormalising,
    ::testing::Values(RawCase{{4900, 4900, 840}, {0, 4900, 4900, 840}, ""},
                      RawCase{{4900, 4900, 840, 40000}, {0, 4900, 4900, 840}, "removing trailing space\n"},
                      RawCase{{0, 4900, 4900, 840}, {0, 4900, 4900, 840}, ""},
                      RawCase{{0, 4900, 4900}, {}, "Invalid ir signal\n"},
                      RawCase{{}, {}, "Invalid ir signal\n"},
                      RawCase{std::vector<uint16_t>(257, 600), {}, "buf size is too large\n"}));

TEST(Transmit, NoDongleAndNoSlot) {
  uint16_t sig[] = {0, 900, 450, 560};
  EXPECT_EQ(zv_transmit_raw(sig, 4, 0, 1), -19);
  EXPECT_EQ(zv_transmit_kill(), -19);
  Dongle d(1);
  EXPECT_EQ(zv_transmit_raw(sig, 4, 0, 1), -12);
  EXPECT_EQ(zv_ir_transmit_kill(), -12);
}

// Pronto: format, frequency 0x006D (38 kHz, 26 us), intro and repeat pairs.
std::vector<uint16_t> pronto(std::vector<uint16_t> intro, std::vector<uint16_t> rep) {
  std::vector<uint16_t> v = {0x0000, 0x006D, static_cast<uint16_t>(intro.size() / 2),
                             static_cast<uint16_t>(rep.size() / 2)};
  v.insert(v.end(), intro.begin(), intro.end());
  v.insert(v.end(), rep.begin(), rep.end());
  return v;
}

TEST(Pronto, IntroAloneIsRepeated) {
  Dongle d(10);
  auto code = pronto({16, 0x0100}, {});
  LogCapture cap;
  LevelGuard g;
  set_loglevel(4);
  EXPECT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 2), 0);
  auto sent = d.transmitted();
  ASSERT_EQ(sent.size(), 3u);
  for (auto &s : sent) EXPECT_EQ(s, (std::vector<uint16_t>{0, 16 * 26}));
  // The pause, 256 periods of 26 us, travels as 6 ms.
  for (auto &s : d.transmit_settings()) EXPECT_EQ(s.ik, 6);
  EXPECT_NE(cap.text(4).find("khz= 38\n"), std::string::npos);
  EXPECT_NE(cap.text(4).find("sendPronto intros: 2\n"), std::string::npos);
}

TEST(Pronto, FrequencyAndTimebaseAreRounded) {
  Dongle d(10);
  LogCapture cap;
  LevelGuard g;
  set_loglevel(4);
  auto code = pronto({10, 0x0100}, {});
  code[1] = 0x0068;  // 39 857 Hz: 40 kHz to the nearest
  ASSERT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 0), 0);
  EXPECT_NE(cap.text(4).find("khz= 40\n"), std::string::npos);
  code[1] = 0x0073;  // 27.74 us per period: 28 to the nearest
  ASSERT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 0), 0);
  ASSERT_EQ(d.transmitted().size(), 2u);
  EXPECT_EQ(d.transmitted()[1], (std::vector<uint16_t>{0, 280}));
}

TEST(Pronto, LongPauseIsWaitedInFullAfterTheSend) {
  Dongle d(7);
  auto code = pronto({16, 3693}, {});  // 3693 periods of 26 us: a 96 ms pause
  uint64_t t0 = sim_now_us();
  ASSERT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 0), 0);
  EXPECT_GE(sim_now_us() - t0, 96000u);
  // The device is handed the pause in microseconds kept in 16 bits.
  ASSERT_EQ(d.transmit_settings().size(), 1u);
  EXPECT_EQ(d.transmit_settings()[0].ik, static_cast<uint16_t>(96000));
}

TEST(Pronto, IntroThenRepeats) {
  Dongle d(7);
  auto code = pronto({10, 20, 30, 0x0200}, {40, 0x0300});
  ASSERT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 2), 0);
  auto sent = d.transmitted();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], (std::vector<uint16_t>{0, 260, 520, 780}));
  EXPECT_EQ(sent[1], (std::vector<uint16_t>{0, 1040}));
  EXPECT_EQ(sent[2], sent[1]);
  auto s = d.transmit_settings();
  EXPECT_EQ(s[0].ik, 13 * 1000);  // 0x200 * 26 / 1000 ms, handed on in us
  EXPECT_EQ(s[1].ik, 19 * 1000);
}

TEST(Pronto, RefusedCodesSendNothing) {
  Dongle d(10);
  auto good = pronto({16, 0x20}, {16, 0x20});
  auto shorter = good;
  shorter.pop_back();
  auto badfmt = good;
  badfmt[0] = 0x5000;
  auto nofreq = good;
  nofreq[1] = 0;
  std::vector<uint16_t> intro(2 * 51, 20);
  auto toolong = pronto(intro, {});
  LogCapture cap;
  EXPECT_EQ(zivra_send_pronto(good.data(), static_cast<uint32_t>(good.size()) + 1, 1), -1);
  EXPECT_NE(cap.text(1).find("Pronto Hex is invalid, invalid size\n"), std::string::npos);
  EXPECT_EQ(zivra_send_pronto(shorter.data(), static_cast<uint32_t>(shorter.size()), 1), -1);
  EXPECT_EQ(zivra_send_pronto(badfmt.data(), static_cast<uint32_t>(badfmt.size()), 1), -1);
  EXPECT_EQ(zivra_send_pronto(nofreq.data(), static_cast<uint32_t>(nofreq.size()), 1), -1);
  EXPECT_NE(cap.text(1).find("frequency code is 0\n"), std::string::npos);
  EXPECT_EQ(zivra_send_pronto(toolong.data(), static_cast<uint32_t>(toolong.size()), 1), -1);
  EXPECT_NE(cap.text(1).find("Pronto sequence too long: 101 durations > 99\n"), std::string::npos);
  EXPECT_TRUE(d.transmitted().empty());
  // A sequence of exactly 99 durations fits.
  std::vector<uint16_t> fits(2 * 50, 20);
  auto ok = pronto(fits, {});
  EXPECT_EQ(zivra_send_pronto(ok.data(), static_cast<uint32_t>(ok.size()), 0), 0);
  ASSERT_EQ(d.transmitted().size(), 1u);
  EXPECT_EQ(d.transmitted()[0].size(), 100u);
}

TEST(Pronto, EveryRepetitionIsTriedAndTheFirstFailureReported) {
  Dongle d(7);
  auto code = pronto({16, 0x20}, {});
  d.fail("irtranset", 1);
  LevelGuard g;
  set_loglevel(0);
  EXPECT_EQ(zivra_send_pronto(code.data(), static_cast<uint32_t>(code.size()), 2), -12);
  EXPECT_EQ(d.trace("irtranset").size(), 3u);
  EXPECT_EQ(d.transmitted().size(), 2u);
}

TEST(WakeSignal, Chunking) {
  Dongle d(8);
  for (uint8_t n : {10, 30}) {
    std::vector<uint16_t> sig(n);
    for (size_t i = 0; i < sig.size(); ++i) sig[i] = static_cast<uint16_t>(300 + i);
    d.clear_trace();
    ASSERT_EQ(zv_rb_wake_sig(sig.data(), n), 0);
    auto len = d.trace("rbsetlen");
    ASSERT_EQ(len.size(), 1u);
    EXPECT_EQ(len[0].u16(0), n);
    EXPECT_EQ(len[0].size, 64u);
    auto chunks = d.trace("rbwakesig");
    for (auto &c : chunks) EXPECT_EQ(c.size, 64u);
    const std::vector<size_t> want = n == 10 ? std::vector<size_t>{20} : std::vector<size_t>{52, 8};
    EXPECT_EQ(chunk_bytes(chunks, 2u * n, 52), want);
    EXPECT_EQ(d.wake_signal(), sig);
  }
  std::vector<uint16_t> big(128, 500);
  d.clear_trace();
  LogCapture cap;
  EXPECT_EQ(zv_rb_wake_sig(big.data(), 128), -1);
  EXPECT_NE(cap.text(1).find("wake signal too long: 128 durations > 127\n"), std::string::npos);
  EXPECT_TRUE(d.trace().empty());
  EXPECT_EQ(zv_rb_wake_sig(big.data(), 127), 0);
}

TEST(WakeSignal, Settings) {
  Dongle d(8);
  ASSERT_EQ(zv_rb_settings_set(0x11223344, 0xAB, 0xCD), 0);
  auto e = d.trace("rbset");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].size, 64u);
  EXPECT_EQ(e[0].u32(0), 0x11223344u);
  EXPECT_EQ(e[0].u32(4) | e[0].u32(8) | e[0].u32(12), 0u);
  uint32_t en = 0;
  uint8_t hi = 0, lo = 0;
  ASSERT_EQ(zv_rb_settings_get(&en, &hi, &lo), 0);
  EXPECT_EQ(en, 0x11223344u);
  EXPECT_EQ(hi, 0xAB);
  EXPECT_EQ(lo, 0xCD);
  d.fail("rbget", 1);
  EXPECT_EQ(zv_rb_settings_get(&en, &hi, &lo), -12);
  d.fail("rbset", 1);
  EXPECT_EQ(zv_rb_settings_set(1, 2, 3), -12);
  uint16_t sig[30] = {};
  d.fail("rbsetlen", 1);
  EXPECT_EQ(zv_rb_wake_sig(sig, 30), -12);
  d.fail("rbwakesig", 2);
  LogCapture cap;
  EXPECT_EQ(zv_rb_wake_sig(sig, 30), -1);
  EXPECT_NE(cap.text(1).find("error sending data, ceck device log\n"), std::string::npos);
}

}  // namespace
