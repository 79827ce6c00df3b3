// Writes a firmware image the simulated bootloaders accept, for the browser test.
#include <cstdio>
#include <fstream>

#include "sim/model_bl3.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> img = zivra_sim::make_fw_image(zivra_sim::ImageFields{});
  std::ofstream(argv[1], std::ios::binary).write(reinterpret_cast<const char *>(img.data()), static_cast<std::streamsize>(img.size()));
  return 0;
}
