// Helpers shared by the protocol codecs: reading edges without running past a
// capture, storing the key gap, and the send-and-retry loop of every transmitter.
#pragma once
#include <cstddef>
#include <cstdint>

#include "liblog/log.h"

namespace codara {

// Edges a decoder may look at: position i of a capture of n edges, or 0 when the
// capture is shorter, so a truncated capture never makes a decoder read stale data.
inline uint16_t edge_at(const uint16_t *buf, int n, int i) { return (i >= 0 && i < n) ? buf[i] : 0; }

// Stores the key gap (milliseconds) one slot past the slot after the last edge, where
// the Pronto encoder looks for it; a capture that fills the array has no room for it.
inline void store_key_gap(uint16_t *buf, size_t cap, int len, uint16_t gap_ms) {
  if (len >= 0 && static_cast<size_t>(len) + 1 < cap) buf[len + 1] = gap_ms;
}

// Bit i of the low `bits` bits as '0'/'1', most significant first, for the trace lines.
inline char bit_char(uint64_t v, int i) { return ((v >> i) & 1) ? '1' : '0'; }

// Hands one frame to the raw-transmit callback until it accepts it. Returns false
// once the callback has refused it for a whole second, or at once when no
// callback is registered (none can appear while we retry).
bool send_until_accepted(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);
bool tx_callback_registered();
// Sends the last frame of a key press like send_until_accepted. A frame never
// accepted logs E "timeout" under the calling transmitter and gives -1; otherwise
// the key stays released for 200 ms and the result is 0.
int send_key(LogSite site, uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);

// The repeat count the device is handed, narrowed to its 8 bits; a negative
// count asks for no repetition (narrowed as it stands it would ask for 255 or so).
inline uint8_t device_repeat(int rep) { return static_cast<uint8_t>(rep < 0 ? 0 : rep); }


}  // namespace codara
