/* A plain C client of the installed kit: opens the dongle, reads its version and
 * recorded-key count, and decodes a frame encoded by the IR library. */
#include <stdio.h>

#include <codara/codara.h>
#include <zivra/zivra.h>

int main(void) {
  int state = zv_open_device(ZV_VID, NULL);
  if (state != 2) {
    fprintf(stderr, "no dongle in application state: %d\n", state);
    return 1;
  }
  const char *version = zv_version_str();
  printf("firmware %s\n", version != NULL ? version : "?");
  zv_close_device();

  struct ir_packet pkt = {{0}, 0, 0};
  if (ir_encode(RC_PROTO_NEC, 0x5B0104, &pkt) != 0 || pkt.len == 0) return 2;
  if (pkt.len % 2 == 0) pkt.len--; /* a receiver sees no space after the last mark */
  struct ir_prot p;
  if (ir_decode_packet(&pkt, &p) < 0) return 3;
  printf("%s 0x%X\n", enum_to_str(p.protocol), (unsigned)p.scancode);
  return 0;
}
