// Placeholders for codec modules that have not landed yet, so the default
// registration sequence links. Each is weak: a codec module's own definition
// replaces it. Delete a line here when its module lands.
#include "codara/codara.h"

extern "C" {
__attribute__((weak)) void AMINO__irprotocol(void) {}
__attribute__((weak)) void ZIVRA__irprotocol(void) {}
__attribute__((weak)) void NEC__irprotocol(void) {}
__attribute__((weak)) void RC5__irprotocol(void) {}
__attribute__((weak)) void RC6__irprotocol(void) {}
__attribute__((weak)) void PANASONIC__irprotocol(void) {}
__attribute__((weak)) void SONY__irprotocol(void) {}
__attribute__((weak)) void XMP__irprotocol(void) {}
}
