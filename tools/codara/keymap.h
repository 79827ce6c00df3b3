// Labelled captures — a remote's buttons with their names — and the keymaps made of them:
// a Linux kernel rc_keymap TOML file (what ir-keytable loads) or a lircd.conf remote.
//
// A labelled-capture file is text: a line holding a key name (a Linux input key name such as
// KEY_POWER or BTN_LEFT) starts a button, and the lines up to the next key name hold its
// captures, in any format parse_captures() reads. '#' starts a comment. For example:
//
//   # living-room TV
//   KEY_POWER
//   +9024 -4512 +564 -564 ... +564
//   KEY_VOLUMEUP
//   pulse 9024
//   space 4512
//   ...
//
// A button may hold several captures (two presses, a frame and its repeats): every frame must
// decode to the same protocol and scancode; NEC repeat frames are passed over.
#ifndef CODARA_TOOL_KEYMAP_H
#define CODARA_TOOL_KEYMAP_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codara/codara.h"

namespace codara_cli {

struct Capture;

// Decodes one parsed capture as ir_decode_packet() does, with the silence before it.
int decode_capture(const Capture &c, ir_prot &result);

enum class KeymapFormat { RcKeymap, Lircd };

// Whether `name` is a key name of the Linux input layer. LIRC's namespace leaves out the
// kernel's alias names (KEY_HANGUEL for KEY_HANGEUL, ...), so `lirc` narrows it to those.
bool is_key_name(std::string_view name, bool lirc);

// Whether a line of a labelled-capture file names a key (rather than holding capture data):
// one word starting with a letter that is not a hex number or a mode2 keyword.
bool is_label_line(std::string_view line);

// One button as read from a labelled-capture file and decoded.
struct Button {
  std::string key;
  std::string where;             // "FILE:LINE" of its key name
  std::string protocol;          // short name, e.g. "NEC32"
  uint32_t scancode = 0;
  std::string description;       // the decoder's description, trimmed
  std::vector<uint16_t> edges;   // the first frame as captured
  std::vector<uint16_t> clean;   // the decoder's cleaned form of it, or empty
  uint16_t key_gap_ms = 0;       // the decoder's gap between frames, 0 when it keeps none
};

// Reads the labelled captures of `text` (from `source`, named in messages) and appends the
// buttons to `out`. On failure returns false with `error` saying where and why.
bool read_buttons(std::string_view text, const std::string &source, KeymapFormat format,
                  std::vector<Button> &out, std::string &error);

// The kernel's view of a button: protocol, variant and scancode as its decoders compute them.
// `protocol` is empty when no kernel decoder reads this protocol, or when the button was
// decoded by a decoder other than the built-in one its mapping is written for.
struct KernelCode {
  std::string protocol, variant;
  uint32_t scancode = 0;
};
KernelCode kernel_code(const Button &b);

// The whole keymap text for `buttons`, or false with `error` (e.g. two keys with one code).
bool make_keymap(const std::vector<Button> &buttons, KeymapFormat format, const std::string &name,
                 std::string &text, std::string &error);

// The labelled-capture text for one button: its key name, then the capture as ir-ctl text.
std::string labelled_capture(const std::string &key, const std::vector<uint16_t> &edges);

}  // namespace codara_cli

#endif
