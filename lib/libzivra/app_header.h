// The firmware image header as read back from a dongle, word by word.
#pragma once
#include <cstdint>
#include <cstdio>

#include "zivra/app_info.h"

namespace zivra {

// The edition name of a header whose signature was checked, pointing into it;
// null for a header version the library does not know. A version-1 name is
// also printed, as those dongles' tools always did.
inline char *edition_name(uint8_t *header) {
  app_info_v1_t *h = reinterpret_cast<app_info_v1_t *>(header);
  // Whatever the dongle holds, the name ends inside its field.
  h->app_name[ZV_APP_NAME_SIZE - 1] = '\0';
  if (h->header_version == 1) {
    printf("%s\n", h->app_name);
    return h->app_name;
  }
  if (h->header_version == 2) return h->app_name;
  return nullptr;
}

}  // namespace zivra
