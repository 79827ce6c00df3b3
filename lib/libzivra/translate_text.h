// Text both key tables print: the usage shown when a key is not found and the
// modifier names of a listing. Internal to libzivra.
#pragma once
#include <cstdint>

namespace zivra::keys {

// The four writes to standard output that follow an unknown key.
void print_usage();
// The names of the set modifier bits in bit order, joined by "+".
void print_modifiers(uint8_t modifier);

}  // namespace zivra::keys
