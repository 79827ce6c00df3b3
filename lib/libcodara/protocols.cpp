// Protocol names, the handler registry, and the decode / encode / transmit paths.
#include <cstdio>
#include <cstring>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/analyzer.h"
#include "libcodara/analyzers/scoring.h"
#include "libcodara/ll.h"
#include "libcodara/protocols/extended.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols");

ll_t registered_protocols = LL_HEAD_INIT(registered_protocols);
struct protocol *unknown = nullptr;

namespace {

struct proto_l {
  rc_proto proto;
  const char *proto_string;
};

#define PROTO_ENTRY(x) {x, #x}
constexpr proto_l protocol_t[] = {
    PROTO_ENTRY(RC_PROTO_UNKNOWN),    PROTO_ENTRY(RC_PROTO_INVALID),    PROTO_ENTRY(RC_PROTO_OTHER),
    PROTO_ENTRY(RC_PROTO_RC5),        PROTO_ENTRY(RC_PROTO_RC5X_20),    PROTO_ENTRY(RC_PROTO_RC5_SZ),
    PROTO_ENTRY(RC_PROTO_JVC),        PROTO_ENTRY(RC_PROTO_SONY12),     PROTO_ENTRY(RC_PROTO_SONY15),
    PROTO_ENTRY(RC_PROTO_SONY20),     PROTO_ENTRY(RC_PROTO_NEC),        PROTO_ENTRY(RC_PROTO_NECX),
    PROTO_ENTRY(RC_PROTO_NEC32),      PROTO_ENTRY(RC_PROTO_NEC48),      PROTO_ENTRY(RC_PROTO_SANYO),
    PROTO_ENTRY(RC_PROTO_MCIR2_KBD),  PROTO_ENTRY(RC_PROTO_MCIR2_MSE),  PROTO_ENTRY(RC_PROTO_RC6_0),
    PROTO_ENTRY(RC_PROTO_RC6_6A_20),  PROTO_ENTRY(RC_PROTO_RC6_6A_24),  PROTO_ENTRY(RC_PROTO_RC6_6A_32),
    PROTO_ENTRY(RC_PROTO_RC6_MCE),    PROTO_ENTRY(RC_PROTO_SHARP),      PROTO_ENTRY(RC_PROTO_XMP),
    PROTO_ENTRY(RC_PROTO_CEC),        PROTO_ENTRY(RC_PROTO_IMON),       PROTO_ENTRY(RC_PROTO_RCMM12),
    PROTO_ENTRY(RC_PROTO_RCMM24),     PROTO_ENTRY(RC_PROTO_RCMM32),     PROTO_ENTRY(RC_PROTO_ORTEK),
    PROTO_ENTRY(RC_PROTO_DENON),      PROTO_ENTRY(RC_PROTO_ZIVRA),      PROTO_ENTRY(RC_PROTO_NOKIA),
    PROTO_ENTRY(RC_PROTO_TDC),        PROTO_ENTRY(RC_PROTO_AMINO),      PROTO_ENTRY(RC_PROTO_NEC_APPLE),
    PROTO_ENTRY(RC_PROTO_NEC_REPEAT), PROTO_ENTRY(RC_PROTO_PANASONIC),
};
#undef PROTO_ENTRY
constexpr size_t kProtoCount = sizeof(protocol_t) / sizeof(protocol_t[0]);
static_assert(kProtoCount == 38, "one name per rc_proto value");
constexpr size_t kPrefix = sizeof("RC_PROTO_") - 1;

int lib_init = 0;
ir_tx_cb _cb = nullptr;

const IR_PROTOCOL_HANDLER *handler_of(const struct protocol *p) {
  return static_cast<const IR_PROTOCOL_HANDLER *>(p->iface);
}

struct protocol *record_of(ll_t *node) { return ll_entry(node, struct protocol, node); }

bool serves(const IR_PROTOCOL_HANDLER *h, rc_proto protocol) {
  auto v = static_cast<uint32_t>(protocol);
  return v < 64 && ((h->protocols >> v) & 1u) != 0;
}

// The one-time registration. The order is the analyzers' tie-break order and the
// handlers' lookup order: one line per module, keep it as it stands.
void init_lib() {
  if (lib_init) return;
  ZIVRA__iranalyzer();
  MCE__iranalyzer();
  NEC__iranalyzer();
  ORTEK__iranalyzer();
  RC6__iranalyzer();
  RC5__iranalyzer();
  PANASONIC__iranalyzer();
  SONY__iranalyzer();
  XMP__iranalyzer();

  AMINO__irprotocol();
  ZIVRA__irprotocol();
  NEC__irprotocol();
  NONE__irprotocol();
  RC5__irprotocol();
  RC6__irprotocol();
  PANASONIC__irprotocol();
  SONY__irprotocol();
  XMP__irprotocol();
  lib_init = 1;
}

// First registered handler serving `protocol`; later ones are never consulted.
struct protocol *find_handler(rc_proto protocol) {
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    struct protocol *rec = record_of(n);
    if (serves(handler_of(rec), protocol)) return rec;
  }
  return nullptr;
}

int reject(struct ir_prot *p) {
  memset(p, 0, sizeof(*p));
  codara::format_text(p->desc, sizeof(p->desc), "%-13s -- 0x0000", "INVALID");
  p->protocol = RC_PROTO_INVALID;
  return RC_PROTO_INVALID;
}

// What the default handler makes of a capture no handler decodes; false when
// there is none (the capture is rejected).
bool decode_unknown(ir_t *t, ir_prot *p) {
  [[maybe_unused]] constexpr const char *kLogFunc = "ir_decode_packet";  // its lines are the decode's
  if (unknown == nullptr) return false;
  LOGW("no known decoder, calling default handler");
  const IR_PROTOCOL_HANDLER *h = handler_of(unknown);
  if (h->decode != nullptr) h->decode(t, p);
  return true;
}

// Hands the capture to the handler of the verdict `matched`, or to the default
// handler when none serves it. False when the capture is rejected.
bool dispatch(rc_proto matched, ir_t *t, ir_prot *p) {
  [[maybe_unused]] constexpr const char *kLogFunc = "ir_decode_packet";  // its lines are the decode's
  memset(p, 0, sizeof(*p));
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    struct protocol *rec = record_of(n);
    LOGV("checking: %s", rec->name);
    const IR_PROTOCOL_HANDLER *h = handler_of(rec);
    if (!serves(h, matched)) continue;
    LOGV("handler match: %s", rec->name);
    if (h->decode == nullptr) {
      LOGE("no valid decoder for protocol");
      return false;
    }
    return h->decode(t, p) >= 0;
  }
  return decode_unknown(t, p);
}

// A result of one of the library's own protocols that the decode path keeps.
bool decoded_known(const ir_prot *p) {
  return p->hash != 0 && p->protocol != RC_PROTO_UNKNOWN && p->protocol != RC_PROTO_INVALID;
}

// With the extended protocols registered, the analyzers are asked from the closest
// on. An extended handler that cannot read the capture passes it on. The closest of
// the library's own analyzers decides as it does without the extension, unless that
// leaves the capture unknown or invalid: then only the extension's analyzers may
// still take it, and if none does, the library's result stands.
bool dispatch_extended(ir_t *t, ir_prot *p) {
  [[maybe_unused]] constexpr const char *kLogFunc = "ir_decode_packet";  // its lines are the decode's
  bool have_own = false, own_ok = false;
  ir_prot own{};
  for (IR_PROTOCOL_ANALYZER *a; (a = codara::closest_analyzer()) != nullptr; a->enabled = 0) {
    const rc_proto matched = a->finish != nullptr ? a->finish(t, a) : RC_PROTO_UNKNOWN;
    LOGD("protocol: %d", matched);
    struct protocol *rec = find_handler(matched);
    const bool extended = rec != nullptr && codara::extended_handler(rec);
    if (extended) {
      memset(p, 0, sizeof(*p));
      LOGV("handler match: %s", rec->name);
      if (handler_of(rec)->decode(t, p) >= 0) return true;
      LOGD("%s declined", rec->name);
    }
    if (have_own || codara::extended_analyzer(a)) continue;
    // Without the extension a verdict its handlers serve went to the default handler.
    have_own = true;
    memset(p, 0, sizeof(*p));
    own_ok = extended ? decode_unknown(t, p) : dispatch(matched, t, p);
    if (own_ok && decoded_known(p)) return true;
    own = *p;
    codara::leave_extended_analyzers_only();
  }
  if (!have_own) return dispatch(RC_PROTO_UNKNOWN, t, p);
  *p = own;
  return own_ok;
}

}  // namespace

namespace codara {
bool tx_callback_registered() { return _cb != nullptr; }
void register_builtin() { init_lib(); }
}  // namespace codara

extern "C" {

const char *enum_to_str(enum rc_proto protocol) {
  auto v = static_cast<uint32_t>(protocol);
  if (v >= kProtoCount) return "ERROR";
  return protocol_t[v].proto_string + kPrefix;
}

enum rc_proto str_to_enum(const char *protocol) {
  if (protocol == nullptr) return RC_PROTO_UNKNOWN;
  for (const auto &e : protocol_t)
    if (strcmp(protocol, e.proto_string + kPrefix) == 0) return e.proto;
  return RC_PROTO_UNKNOWN;
}

void _register_protocol_irprotocol(struct protocol *p) {
  if (p == nullptr) return;
  if (codara::ll_contains(&registered_protocols, &p->node)) {
    LOGD("already registered: %s", p->name);
    return;
  }
  LOGD("registering: %s", p->name);
  ll_add_tail(&p->node, &registered_protocols);
  if (handler_of(p)->protocols == 0) {
    LOGD("caching unknown handler");
    unknown = p;
  }
}

int ir_decode_packet(struct ir_packet *ir, struct ir_prot *p) {
  // Nothing below changes the log level: read it once for the whole decode.
  LogLevelSnapshot level;
  init_lib();
  if (ir == nullptr || p == nullptr || ir->len > IR_MAX_EDGES) {
    LOGE("error: invalid packet");
    return -1;
  }
  const uint16_t len = ir->len;
  if (len == 0) return reject(p);

  ir_t t{};
  uint16_t longest = 0;
  for (uint16_t i = 0; i < len; ++i) {
    t.buf[i] = ir->buf[i];
    longest = t.buf[i] > longest ? t.buf[i] : longest;
  }
  if (longest > codara::kMaxEdgeUs) {
    LOGE("error: invalid packet");
    return -1;
  }
  t.te = ir->elapsed;
  t.count = static_cast<uint8_t>(len);
  if (len <= 2) return reject(p);

  bool decoded;
  if (codara::extended_registered()) {
    codara::score_capture_edges(&t, len);
    decoded = dispatch_extended(&t, p);
    reset_analyzer();
  } else {
    rc_proto matched;
    if (!codara::analyze_and_reset(&t, len, &matched)) {
      matched = codara::analyze_capture(&t, len);
      LOGD("protocol: %d", matched);
      reset_analyzer();
    }
    decoded = dispatch(matched, &t, p);
  }
  if (!decoded) return reject(p);

  if (p->hash == 0 || (len == 3 && p->protocol != RC_PROTO_NEC_REPEAT)) return reject(p);
  // The decoder's key gap sits one past the slot after the last edge, when that
  // slot exists at all.
  const size_t gap_at = static_cast<size_t>(p->len) + 1;
  const uint16_t gap = gap_at < IR_MAX_EDGES ? p->buf[gap_at] : 0;
  pronto_encode(p, gap);
  return p->protocol;
}

int ir_encode(enum rc_proto protocol, uint32_t scancode, struct ir_packet *ir) {
  init_lib();
  struct protocol *rec = find_handler(protocol);
  if (rec == nullptr) return -1;
  LOGV("handler match: %s", rec->name);
  const IR_PROTOCOL_HANDLER *h = handler_of(rec);
  if (h->encode == nullptr) {
    LOGE("no tx function for prot: %d", protocol);
    return -1;
  }
  // An encoder that could not build the frame has left nothing worth sending.
  int rc = h->encode(protocol, scancode, ir);
  return rc < 0 ? rc : 0;
}

int ir_tx(enum rc_proto protocol, uint32_t scancode, int repeat) {
  if (repeat > 30) {
    LOGE("Repeat > 30, capping to 30");
    repeat = 30;
  }
  struct protocol *rec = find_handler(protocol);
  if (rec == nullptr) return -1;
  LOGV("handler match: %s", rec->name);
  const IR_PROTOCOL_HANDLER *h = handler_of(rec);
  if (h->transmit == nullptr) {
    LOGE("no tx function for prot: %d", protocol);
    return -1;
  }
  int rc = h->transmit(protocol, scancode, repeat);
  return rc < 0 ? rc : 0;
}

int ir_register_tx(int (*cb)(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat)) {
  init_lib();
  if (cb == nullptr) {
    LOGE("Invalid callback registered");
    return -1;
  }
  _cb = cb;
  return 0;
}

int _transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  if (_cb == nullptr) {
    LOGE("No IR transmit callback registered");
    return -1;
  }
  const int rq = _cb(buf, len, ik, repeat);
  if (rq < 0) {
    LOGI("failed to tx: %d", rq);
    return rq;
  }
  return 0;
}

void ir_enabled_protocols(void) {
  puts("Enabled Protocols");
  puts("-----------------");
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) puts(record_of(n)->name);
}

const char *ir_lib_version(void) { return "3.27.10-39-gb76f58e4"; }

}  // extern "C"
