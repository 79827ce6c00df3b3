#include "protocol_name.h"

#include <cctype>

namespace tools_common {

const char *protocol_name(int proto) {
  return proto == CODARA_PROTO_SAMSUNG32 ? "SAMSUNG32" : enum_to_str(static_cast<rc_proto>(proto));
}

bool parse_protocol_name(std::string name, rc_proto &out) {
  for (char &ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (name.rfind("RC_PROTO_", 0) == 0) name.erase(0, 9);
  if (name == protocol_name(CODARA_PROTO_SAMSUNG32)) {
    out = static_cast<rc_proto>(CODARA_PROTO_SAMSUNG32);
    return true;
  }
  out = str_to_enum(name.c_str());
  return out != RC_PROTO_UNKNOWN || name == "UNKNOWN";
}

rc_proto decoded_protocol(rc_proto proto) {
  return proto == static_cast<rc_proto>(CODARA_PROTO_SAMSUNG32) ? RC_PROTO_NECX : proto;
}

}  // namespace tools_common
