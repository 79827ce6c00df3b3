#include "atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tools_common {

bool write_file_atomically(const std::string &path, const std::string &text, std::string &error) {
  if (path.empty() || path.back() == '/') {
    error = "cannot write '" + path + "': not a file name";
    return false;
  }
  std::string dir = ".", base = path;
  if (std::size_t slash = path.rfind('/'); slash != std::string::npos) {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
  std::string pattern = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
  std::vector<char> tmp(pattern.begin(), pattern.end());
  tmp.push_back('\0');
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno) + " (is " + dir + " an existing, writable directory?)";
    return false;
  }
  int err = 0;
  FILE *f = fdopen(fd, "wb");
  if (!f) {
    err = errno;
    close(fd);
  } else {
    if (std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fflush(f) != 0) err = errno ? errno : EIO;
    if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  }
  // mkstemp makes the file private; the output is an ordinary file, as a shell would make it.
  if (!err) {
    mode_t mask = umask(0);
    umask(mask);
    if (chmod(tmp.data(), 0666 & ~mask) != 0) err = errno;
  }
  if (!err && std::rename(tmp.data(), path.c_str()) != 0) err = errno;
  if (err) {
    std::remove(tmp.data());
    error = "cannot write " + path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace tools_common
