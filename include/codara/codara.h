#ifndef CODARA_CODARA_H
#define CODARA_CODARA_H
/*
 * libcodara: IR signal library. A capture of edge durations is scored by the
 * protocol analyzers, decoded by the handler of the winning protocol into a
 * protocol, scancode, description and hash, and given its Pronto form. Scancodes
 * encode back into edge durations and go out through one registered callback.
 *
 * The library allocates nothing; every record is static or supplied by the caller.
 * All state is process-wide and unlocked: use it from one thread at a time.
 */
#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include "codara/export.h"
#include "codara/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Protocol identifiers; the values are stable (bit n of a handler mask is value n). */
enum rc_proto {
  RC_PROTO_UNKNOWN = 0,
  RC_PROTO_INVALID = 1,
  RC_PROTO_OTHER = 2,
  RC_PROTO_RC5 = 3,
  RC_PROTO_RC5X_20 = 4,
  RC_PROTO_RC5_SZ = 5,
  RC_PROTO_JVC = 6,
  RC_PROTO_SONY12 = 7,
  RC_PROTO_SONY15 = 8,
  RC_PROTO_SONY20 = 9,
  RC_PROTO_NEC = 10,
  RC_PROTO_NECX = 11,
  RC_PROTO_NEC32 = 12,
  RC_PROTO_NEC48 = 13,
  RC_PROTO_SANYO = 14,
  RC_PROTO_MCIR2_KBD = 15,
  RC_PROTO_MCIR2_MSE = 16,
  RC_PROTO_RC6_0 = 17,
  RC_PROTO_RC6_6A_20 = 18,
  RC_PROTO_RC6_6A_24 = 19,
  RC_PROTO_RC6_6A_32 = 20,
  RC_PROTO_RC6_MCE = 21,
  RC_PROTO_SHARP = 22,
  RC_PROTO_XMP = 23,
  RC_PROTO_CEC = 24,
  RC_PROTO_IMON = 25,
  RC_PROTO_RCMM12 = 26,
  RC_PROTO_RCMM24 = 27,
  RC_PROTO_RCMM32 = 28,
  RC_PROTO_ORTEK = 29,
  RC_PROTO_DENON = 30,
  RC_PROTO_ZIVRA = 31,
  RC_PROTO_NOKIA = 32,
  RC_PROTO_TDC = 33,
  RC_PROTO_AMINO = 34,
  RC_PROTO_NEC_APPLE = 35,
  RC_PROTO_NEC_REPEAT = 36,
  RC_PROTO_PANASONIC = 37
};
typedef enum rc_proto rc_proto;

/* Capacity of every edge array of the library. */
#define IR_MAX_EDGES 256

/*
 * One raw capture or one encoded frame: edge durations in microseconds, mark
 * first. On decode `elapsed` is the silence (ms) since the previous capture; on
 * encode it is the gap (ms) to keep after the frame.
 */
struct ir_packet {
  uint16_t buf[IR_MAX_EDGES];
  uint16_t len;
  uint16_t elapsed;
};
typedef struct ir_packet ir_packet;

/* Working record handed to the analyzers and to the handlers' decoders. */
struct ir_t {
  uint8_t count;            /* current edge index while scoring, edge count (8 bits) after */
  uint16_t buf[IR_MAX_EDGES];
  struct timeval ts, tf;    /* carried for callers; unused by the library */
  uint16_t tp;              /* carried for callers */
  uint32_t hash;            /* carried for callers */
  uint16_t te;              /* ms since the previous capture (packet's elapsed) */
  uint8_t repeat;           /* set by an analyzer that judges the capture a repeat frame */
};
typedef struct ir_t ir_t;

/* A decoded result. */
struct ir_prot {
  enum rc_proto protocol;
  uint32_t scancode;
  uint64_t fullcode;
  uint32_t hash;            /* 0 means no result: the capture is invalid */
  uint8_t repeat;
  uint32_t bits;
  char desc[100];
  uint16_t buf[IR_MAX_EDGES]; /* cleaned capture; key gap (ms) at buf[len + 1], 0 = none */
  uint16_t len;
  uint16_t pronto[IR_MAX_EDGES];
  uint16_t pronto_len;
};
typedef struct ir_prot ir_prot;

/* One protocol handler. A `protocols` mask of 0 marks the default handler. */
typedef struct IR_PROTOCOL_HANDLER {
  struct list_head node;    /* unused: the enclosing `protocol` record is linked */
  uint64_t protocols;       /* bit n set: serves rc_proto value n */
  int (*decode)(struct ir_t *ir, struct ir_prot *p);
  uint32_t (*hash)(struct ir_t *ir);
  int (*encode)(enum rc_proto protocol, uint32_t scancode, struct ir_packet *ir);
  int (*transmit)(enum rc_proto protocol, uint32_t scancode, int repeat);
  uint32_t carrier;         /* Hz */
  uint32_t min_timeout;
} IR_PROTOCOL_HANDLER;

/* One protocol analyzer: scores a capture edge by edge. */
typedef struct IR_PROTOCOL_ANALYZER {
  struct list_head node;    /* links the record into registered_analyzers */
  const char *name;
  void (*analyze)(uint16_t ticks, struct ir_t *ir, struct IR_PROTOCOL_ANALYZER *test);
  enum rc_proto (*finish)(struct ir_t *ir, struct IR_PROTOCOL_ANALYZER *test);
  void (*reset)(struct IR_PROTOCOL_ANALYZER *test); /* optional */
  void *priv;
  uint16_t acc;             /* running penalty, wraps modulo 65536 */
  uint8_t result;
  uint8_t enabled;
} IR_PROTOCOL_ANALYZER;

/*
 * Registration record of a handler ("irprotocol") or analyzer ("iranalyzer")
 * module; `iface` points at its IR_PROTOCOL_HANDLER or IR_PROTOCOL_ANALYZER.
 */
struct protocol {
  const char *category;
  const char *name;
  const void *iface;
  struct list_head node;
};

/* Raw-transmit callback: same signature as the device library's zv_transmit_raw. */
typedef int (*ir_tx_cb)(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);

/* ---- Registry, decoding, encoding, transmission ---- */

/* Handler `protocol` records in registration (= lookup) order. */
CD_API extern ll_t registered_protocols;
/* The default handler's record, or null. */
CD_API extern struct protocol *unknown;

/* -1: bad packet (*p untouched); 1: rejected (RC_PROTO_INVALID); else p->protocol. */
CD_API int ir_decode_packet(struct ir_packet *ir, struct ir_prot *p);
CD_API int ir_encode(enum rc_proto protocol, uint32_t scancode, struct ir_packet *ir);
CD_API int ir_tx(enum rc_proto protocol, uint32_t scancode, int repeat);
CD_API int ir_register_tx(int (*cb)(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat));
CD_API int _transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);
CD_API void _register_protocol_irprotocol(struct protocol *p);
CD_API const char *enum_to_str(enum rc_proto protocol);
CD_API enum rc_proto str_to_enum(const char *protocol);
CD_API void ir_enabled_protocols(void);
CD_API const char *ir_lib_version(void);

/* Handler modules' registration functions (the default sequence calls them in this order). */
CD_API void AMINO__irprotocol(void);
CD_API void ZIVRA__irprotocol(void);
CD_API void NEC__irprotocol(void);
CD_API void NONE__irprotocol(void);
CD_API void RC5__irprotocol(void);
CD_API void RC6__irprotocol(void);
CD_API void PANASONIC__irprotocol(void);
CD_API void SONY__irprotocol(void);
CD_API void XMP__irprotocol(void);

/* ---- Analyzers ---- */

/* Analyzer records in registration (= tie-break) order. */
CD_API extern ll_t registered_analyzers;

CD_API uint8_t analyze_edge(uint16_t ticks, struct ir_t *ir);
CD_API enum rc_proto analyze_finish(struct ir_t *ir);
CD_API void reset_analyzer(void);
CD_API enum rc_proto analyze_protocol(uint16_t *buf, uint16_t len);
CD_API void print_all_analyzers(void);
CD_API void _register_protocol_iranalyzer(struct protocol *p);

CD_API void ZIVRA__iranalyzer(void);
CD_API void MCE__iranalyzer(void);
CD_API void NEC__iranalyzer(void);
CD_API void ORTEK__iranalyzer(void);
CD_API void RC6__iranalyzer(void);
CD_API void RC5__iranalyzer(void);
CD_API void PANASONIC__iranalyzer(void);
CD_API void SONY__iranalyzer(void);
CD_API void XMP__iranalyzer(void);
/* Not in the default sequence; a client that calls one appends that analyzer. */
CD_API void SHARP__iranalyzer(void);
CD_API void DENON__iranalyzer(void);
CD_API void NOKIA__iranalyzer(void);
CD_API void TDC__iranalyzer(void);

/* ---- Extended protocols ---- */

/*
 * Registers decoders and encoders for Sharp, Denon, Nokia, RC6 mode 6A (20, 24 and
 * 32 bits) and its MCE variant, Ortek, TDC, JVC and Samsung-32, with the analyzers
 * they need, after the library's own (which it registers first if need be). The
 * library never registers them by itself. Once registered, a capture that one of
 * their analyzers wins but their decoder cannot read goes on to the next closest
 * analyzer (or, for a verdict of the library's own analyzers, to the default
 * handler), so the library's own protocols decode as they did. Calling it again
 * does nothing.
 */
CD_API void codara_register_extended(void);

/*
 * Key of the Samsung-32 codec for ir_encode and ir_tx (cast to enum rc_proto), and
 * the verdict its analyzer gives (analyze_protocol may return it). Decoded Samsung-32
 * frames report RC_PROTO_NECX, the protocol the kernel gives them, with the scancode
 * laid out as address << 16 | address << 8 | command and the label "samsung32".
 */
#define CODARA_PROTO_SAMSUNG32 38

/* ---- Hash and Pronto ---- */

/* Pattern hash of `len` edges; edges above `_max_edge` count as gaps. 0 = cannot split. */
CD_API uint32_t ir_hash(uint16_t *buf, size_t len, uint16_t _max_edge);
/* Appends the Pronto form of ir->buf/len at ir->pronto_len; ik_delay in ms, 0 = none. */
CD_API void pronto_encode(struct ir_prot *ir, uint16_t ik_delay);

/* ---- Manchester coding ---- */

CD_API int manchester_decode(uint16_t *buf, int len, uint32_t bit_count, uint32_t *bits,
                             uint32_t *bits_collected, int T, int T2);
CD_API void compress_times(int32_t *times, int tlen, uint16_t *buf, uint16_t *len);
CD_API void encode_manchester(uint32_t value, int numBits, int pulseWidth, uint16_t *buf,
                              uint16_t *len);

/* ---- Codec utilities ---- */

/* Entry i is i with its eight bits reversed. */
CD_API extern const uint8_t lookup[256];

#ifdef __cplusplus
}
#endif
#endif
