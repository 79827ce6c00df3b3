// The extended protocols' records, registered together by codara_register_extended.
#pragma once
#include "codara/codara.h"

namespace codara {

struct protocol *sharp_handler();
struct protocol *denon_handler();
struct protocol *nokia_handler();
struct protocol *rc6_6a_handler();
struct protocol *ortek_handler();
struct protocol *tdc_handler();
struct protocol *jvc_handler();
struct protocol *samsung_handler();

void register_jvc_analyzer();
void register_samsung_analyzer();
void register_rc6_6a_analyzer();

// Whether codara_register_extended has run, and whether a handler record is one of its.
bool extended_registered();
bool extended_handler(const struct protocol *rec);

// The library's own one-time registration (protocols.cpp).
void register_builtin();

}  // namespace codara
