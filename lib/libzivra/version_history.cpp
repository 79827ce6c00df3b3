// Firmware release notes, and the selection of the releases an upgrade brings.
#include "libzivra/version_history.h"

#include <cstdio>
#include <cstdlib>

#include "liblog/log.h"
#include "zivra/version_history.h"

LOG_MODULE("lib/libzivra/version_history");

ll_t head = LL_HEAD_INIT(head);

namespace {

// The 3.x line (bulk-USB dongles).
const ver_t ver1[] = {
    {"3.0.0", " first release of the 3.x line\n - keyboard, consumer and system reports\n"},
    {"3.1.0", " faster button recording\n - fix: lost keys after a USB resume\n"},
    {"3.2.0", " browser keys\n - longer hash for noisy remotes\n"},
    {"3.3.0", " adjustable sensitivity\n"},
    {"3.4.0", " noise cancelling filter\n - fix: double presses on some remotes\n"},
    {"3.5.0", " inter-key delay setting\n - built-in profiles\n"},
    {"3.6.0", " sleep detection\n - fix: stuck modifier keys\n"},
    {"3.7.0", " key sequences with modifiers\n - key count query\n"},
    {"3.8.0", " delete a button by index\n - delete a button by key\n"},
    {"3.9.0", " more built-in remote tables\n - fix: configuration length after format\n"},
    {"3.11.0", " bootloader flag handling\n - fix: wake from suspend on some hosts\n"},
    {"3.12.0", " last release of the 3.x line\n - stability fixes\n"},
};

// The 4.x line (HID dongles). 4.9.61 is a patch release numbered 61.
const ver_t ver2[] = {
    {"4.0.3", " first release of the 4.x line\n - named command protocol\n - HID bootloader\n"},
    {"4.0.7", " fix: record state not cleared after a timeout\n"},
    {"4.0.9", " device log over dmesg\n - fix: configuration CRC after format\n"},
    {"4.0.10", " debug pipes\n"},
    {"4.0.16", " built-in key tables can be switched off\n - fix: consumer keys repeating\n"},
    {"4.0.21", " faster configuration reading\n"},
    {"4.0.24", " fix: lost recording when two buttons are pressed quickly\n"},
    {"4.1.0", " debug pipe query by number\n - edition name in the image header\n"},
    {"4.1.1", " fix: system control reports on some hosts\n"},
    {"4.1.2", " improved hash for long signals\n"},
    {"4.1.4", " fix: wake key ignored after suspend\n"},
    {"4.1.5", " stability fixes\n"},
    {"4.2.1", " raw IR transmit\n"},
    {"4.2.2", " fix: transmit timing drift\n"},
    {"4.3.0", " configuration writing in blocks\n - faster configuration loading\n"},
    {"4.4.0", " long-press recording\n - macro recording\n"},
    {"4.4.1", " fix: macro playback order\n"},
    {"4.4.2", " fix: long press detected too early\n"},
    {"4.6.1", " record toggle\n - second USB interface can be switched on\n"},
    {"4.6.2", " fix: interface switch lost after reset\n"},
    {"4.6.3", " stability fixes\n"},
    {"4.7.0", " 64-byte transmit exchanges\n - faster raw transmit\n"},
    {"4.8.2", " wake signal recording\n - transmit kill\n - wake settings\n"},
    {"4.9.0", " raw IR capture streaming\n"},
    {"4.9.1", " fix: capture packets out of order\n"},
    {"4.9.2", " fix: missing last edge in captures\n"},
    {"4.9.6", " capture gap reporting\n - fix: wake signal length\n"},
    {"4.9.61", " fix: capture stall on long signals\n"},
    {"4.9.7", " improved receiver filtering\n"},
    {"4.9.8", " fix: repeated keys on NEC remotes\n"},
    {"4.10.1", " transmit completion status\n - branch and build strings\n"},
    {"4.10.2", " fix: transmit status stuck at busy\n"},
    {"4.10.3", " stability fixes\n - lower idle power\n"},
};

// Releases every node of the current selection.
void clear_list() {
  while (!ll_empty(&head)) {
    ll_t *n = head.next;
    ll_del(n);
    free(ll_entry(n, fw_ver_hist, node));
  }
}

enum class Outcome { done, bad_key, no_memory };

// Appends every release after `dev` up to and including `comp`, in table order.
template <size_t N>
Outcome select(const ver_t (&table)[N], semver_t dev, semver_t comp) {
  bool differs = semver_compare_version(comp, dev) != 0;
  for (const ver_t &e : table) {
    semver_t key{};
    if (semver_parse(e.v, &key) != 0) return Outcome::bad_key;
    bool keep = differs && semver_compare_version(key, dev) > 0 && semver_compare_version(key, comp) <= 0;
    semver_free(&key);
    if (!keep) continue;
    auto *h = static_cast<fw_ver_hist *>(malloc(sizeof(fw_ver_hist)));
    if (h == nullptr) return Outcome::no_memory;
    h->v = e.v;
    h->s = e.s;
    ll_add_tail(&h->node, &head);
  }
  return Outcome::done;
}

}  // namespace

extern "C" {

struct list_head *zv_get_ver_hist_v1(semver_t dev, semver_t comp) {
  if (!ll_empty(&head)) {
    LOGI("list not empty, clearing");
    clear_list();
  }
  switch (select(ver1, dev, comp)) {
    case Outcome::done:
      return &head;
    case Outcome::bad_key:
      LOGE("semver parse failed");
      return nullptr;
    default:
      LOGE("can't allocate memory");
      return nullptr;
  }
}

struct list_head *zv_get_ver_hist_v2(semver_t dev, semver_t comp) {
  if (!ll_empty(&head)) {
    LOGI("list not empty, clearing");
    clear_list();
  }
  switch (select(ver2, dev, comp)) {
    case Outcome::done:
      return &head;
    case Outcome::bad_key:
      LOGE("semver parse failed");
      return nullptr;
    default:
      LOGE("can't allocate memory");
      return nullptr;
  }
}
}

namespace zivra {

struct list_head *ver_hist_select(semver_t dev, semver_t comp, bool hid) {
  return hid ? zv_get_ver_hist_v2(dev, comp) : zv_get_ver_hist_v1(dev, comp);
}

void print_ver_hist(struct list_head *list) {
  if (list == nullptr) return;
  for (ll_t *n = list->next; n != list; n = n->next) {
    const fw_ver_hist *h = ll_entry(n, fw_ver_hist, node);
    printf("v%s\n", h->v);
    printf(" -%s", h->s);
    puts(" ");
  }
}

}  // namespace zivra
