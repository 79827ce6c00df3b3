// Protocol names as the tools take and print them: the library's short names, plus
// SAMSUNG32, an encoder key beyond the protocol values (its frames decode as NECX).
#ifndef ZIVRA_TOOLS_PROTOCOL_NAME_H
#define ZIVRA_TOOLS_PROTOCOL_NAME_H

#include <string>

#include "codara/codara.h"

namespace tools_common {

// The short name of a protocol value or encoder key.
const char *protocol_name(int proto);

// Reads a name in any case, with or without the RC_PROTO_ prefix. False when the
// library does not know it; "UNKNOWN" reads as RC_PROTO_UNKNOWN.
bool parse_protocol_name(std::string name, rc_proto &out);

// The protocol value a frame of `proto` decodes to.
rc_proto decoded_protocol(rc_proto proto);

}  // namespace tools_common

#endif
