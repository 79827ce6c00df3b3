#ifndef KIT_LIST_H
#define KIT_LIST_H
/*
 * Intrusive circular doubly linked list node. A head is a node whose next/prev
 * point at itself when the list is empty; members embed a node and are linked
 * through it. The device library carries an identical copy under the same guard,
 * so both headers may be included together.
 */
struct list_head {
  struct list_head *next;
  struct list_head *prev;
};
typedef struct list_head ll_t;

/* Static initializer for an empty head: ll_t h = LL_HEAD_INIT(h); */
#define LL_HEAD_INIT(name) { &(name), &(name) }
#endif
