// List operations on the intrusive ll_t nodes of the registries.
#pragma once
#include "codara/list.h"

namespace codara {

inline void ll_init(ll_t *head) { head->next = head->prev = head; }

// A zero-initialised head (static storage) counts as empty.
inline bool ll_empty(const ll_t *head) { return head->next == nullptr || head->next == head; }

inline bool ll_contains(const ll_t *head, const ll_t *node) {
  if (ll_empty(head)) return false;
  for (const ll_t *n = head->next; n != head; n = n->next)
    if (n == node) return true;
  return false;
}

inline void ll_add_tail(ll_t *head, ll_t *node) {
  if (head->next == nullptr) ll_init(head);
  node->prev = head->prev;
  node->next = head;
  head->prev->next = node;
  head->prev = node;
}

}  // namespace codara
