// Registry list helpers beyond the public ones in codara/list.h.
#pragma once
#include "codara/list.h"

namespace codara {

inline bool ll_contains(const ll_t *head, const ll_t *node) {
  for (const ll_t *n = head->next; n != head; n = n->next)
    if (n == node) return true;
  return false;
}

}  // namespace codara
