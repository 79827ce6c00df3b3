/* A client that knows nothing of the sim: linked against libzivra alone, it is
 * run with the sim preloaded and a named dongle plugged through the environment.
 * Exit status 0 when the dongle opened as the revision named in argv[1]. */
#include <stdio.h>
#include <string.h>

#include "zivra/zivra.h"

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  int rc = zv_open_device(ZV_VID, NULL);
  const char *v = rc == 2 ? zv_version_str() : NULL;
  printf("open %d version %s\n", rc, v != NULL ? v : "(none)");
  int ok = v != NULL && strcmp(v, argv[1]) == 0;
  zv_close_device();
  return ok ? 0 : 1;
}
