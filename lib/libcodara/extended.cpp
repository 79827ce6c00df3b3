// The extended protocols: registered together, after the library's own, by one call.
#include "codara/codara.h"
#include "libcodara/protocols/extended.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/extended");

namespace {

using Record = struct protocol *(*)();

// Lookup order of the handlers after the library's own.
constexpr Record kHandlers[] = {
    codara::sharp_handler, codara::denon_handler, codara::nokia_handler, codara::rc6_6a_handler,
    codara::ortek_handler, codara::tdc_handler,   codara::jvc_handler,   codara::samsung_handler,
};

bool registered = false;

}  // namespace

namespace codara {

bool extended_registered() { return registered; }

bool extended_handler(const struct protocol *rec) {
  for (Record r : kHandlers)
    if (r() == rec) return true;
  return false;
}

}  // namespace codara

extern "C" void codara_register_extended(void) {
  codara::register_builtin();
  if (registered) return;
  LOGD("registering the extended protocols");
  // Analyzers a client may already have registered stay where they are.
  SHARP__iranalyzer();
  DENON__iranalyzer();
  NOKIA__iranalyzer();
  TDC__iranalyzer();
  codara::register_jvc_analyzer();
  codara::register_samsung_analyzer();
  codara::register_rc6_6a_analyzer();
  for (Record r : kHandlers) _register_protocol_irprotocol(r());
  registered = true;
}
