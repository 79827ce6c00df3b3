#ifndef KIT_LIST_H
#define KIT_LIST_H
/*
 * Intrusive circular doubly linked list. An empty list is a head whose next and
 * prev point at itself; entries embed an ll_t and are reached with ll_entry().
 * The helpers are static inline, so no library exports or shares them. The
 * device library carries an identical copy under the same guard.
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct list_head {
  struct list_head *next;
  struct list_head *prev;
} ll_t;

/* A head that is empty from load time on. */
#define LL_HEAD_INIT(name) {&(name), &(name)}

/* The record of type `type` whose member `member` is the node `ptr`. */
#define ll_entry(ptr, type, member) ((type *)((char *)(ptr) - offsetof(type, member)))

static inline void ll_init(ll_t *head) {
  head->next = head;
  head->prev = head;
}

static inline int ll_empty(const ll_t *head) { return head->next == head; }

/* Links `node` in as the last entry of `head`. */
static inline void ll_add_tail(ll_t *node, ll_t *head) {
  ll_t *last = head->prev;
  node->next = head;
  node->prev = last;
  last->next = node;
  head->prev = node;
}

/* Unlinks `node` and leaves it pointing at itself. */
static inline void ll_del(ll_t *node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = node;
  node->prev = node;
}

#ifdef __cplusplus
}
#endif
#endif
