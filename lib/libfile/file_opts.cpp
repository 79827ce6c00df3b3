// Whole-file read and write for configuration files and firmware images.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "liblog/log.h"
#include "zivra/file_opts.h"

LOG_MODULE("lib/libfile/file_opts");

namespace {

// A mode that truncates: the old contents are gone once fopen succeeds. "x"
// (exclusive create) keeps its own meaning and is opened directly.
bool replaces_file(const char *ops) { return ops[0] == 'w' && strchr(ops, 'x') == nullptr; }

// How a write ended; buf_to_file turns it into its message and result, so every
// line is logged from buf_to_file itself.
enum class Outcome { done, cannot_open, not_saved, not_replaceable };

// Flushes, syncs and closes; false if any of it failed. The stream is closed either way.
bool finish_stream(FILE *f, bool sync) {
  bool ok = fflush(f) == 0;
  if (ok && sync && fsync(fileno(f)) != 0 && errno != EINVAL) ok = false;
  if (fclose(f) != 0) ok = false;
  return ok;
}

// Opens a fresh file beside `target` for writing. The kernel applies the umask
// to 0666 as fopen would; an existing target's permissions are carried over.
FILE *open_temp_beside(const char *target, const char *ops, const struct stat *old, char **tmp_out) {
  size_t n = strlen(target) + 32;
  char *tmp = static_cast<char *>(malloc(n));
  if (tmp == nullptr) return nullptr;
  static unsigned counter;
  for (int attempt = 0; attempt < 100; ++attempt) {
    snprintf(tmp, n, "%s.%ld.%u.tmp", target, static_cast<long>(getpid()), counter++);
    int fd = open(tmp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    if (old != nullptr) (void)fchmod(fd, old->st_mode & 07777);
    FILE *f = fdopen(fd, ops);
    if (f == nullptr) {
      close(fd);
      unlink(tmp);
      break;
    }
    *tmp_out = tmp;
    return f;
  }
  free(tmp);
  return nullptr;
}

// Writes through a temporary file renamed over `loc` only after a complete,
// flushed write, so a failed save never destroys the previous file.
Outcome replace_file(const char *loc, unsigned char *buf, size_t len, const char *ops) {
  // Write where fopen would have: through a symbolic link, not over it.
  char *real = realpath(loc, nullptr);
  const char *target = real != nullptr ? real : loc;
  struct stat st;
  bool exists = stat(target, &st) == 0;
  Outcome r = Outcome::done;
  char *tmp = nullptr;
  FILE *f = nullptr;
  if (exists && !S_ISREG(st.st_mode)) {
    r = Outcome::not_replaceable;  // devices, pipes and the like are written directly
  } else if (exists && access(target, W_OK) != 0) {
    r = Outcome::cannot_open;  // as fopen would have refused
  } else if ((f = open_temp_beside(target, ops, exists ? &st : nullptr, &tmp)) == nullptr) {
    r = Outcome::cannot_open;
  } else {
    bool ok = fwrite(buf, 1, len, f) == len;
    ok = finish_stream(f, true) && ok;
    if (!ok || rename(tmp, target) != 0) {
      r = Outcome::not_saved;
      unlink(tmp);
    }
  }
  free(tmp);
  free(real);
  return r;
}

Outcome write_direct(const char *loc, unsigned char *buf, size_t len, const char *ops) {
  FILE *f = fopen(loc, ops);
  if (f == nullptr) return Outcome::cannot_open;
  bool ok = fwrite(buf, 1, len, f) == len;
  // A write that only fails when the buffer is flushed is still a failed save.
  ok = finish_stream(f, false) && ok;
  return ok ? Outcome::done : Outcome::not_saved;
}

// Size of an open regular file, or -1.
long file_size(FILE *f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode) || fseek(f, 0, SEEK_END) != 0) return -1;
  long size = ftell(f);
  rewind(f);
  return size;
}

}  // namespace

extern "C" {

ssize_t file_to_buf(const char *loc, unsigned char **buf, const char *ops) {
  if (loc == nullptr) {
    LOGE("invalid file");
    return -EFAULT;
  }
  if (buf == nullptr || ops == nullptr) return -EFAULT;
  FILE *f = fopen(loc, ops);
  if (f == nullptr) {
    LOGE("file %s not found\n", loc);
    return -EFAULT;
  }
  long size = file_size(f);
  if (size >= 0) {
    auto *b = static_cast<unsigned char *>(malloc(static_cast<size_t>(size) + 1));
    *buf = b;
    if (b == nullptr) {
      LOGE("could not allocate memory");
      fclose(f);
      return -ENOMEM;
    }
    if (fread(b, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size)) {
      fclose(f);
      return size;
    }
    free(b);
    *buf = nullptr;
  }
  LOGE("error reading file");
  fclose(f);
  return -EFAULT;
}

ssize_t buf_to_file(const char *loc, unsigned char *buf, size_t len, const char *ops) {
  if (loc == nullptr) {
    LOGE("file (NULL) could not be opened");
    return -EBADF;
  }
  if (buf == nullptr) {
    LOGE("invalid buffer");
    return -EBADF;
  }
  if (ops == nullptr) {
    LOGE("invalid file operations");
    return -EBADF;
  }
  Outcome r = Outcome::not_replaceable;
  if (len > static_cast<size_t>(SSIZE_MAX))
    r = Outcome::not_saved;
  else if (replaces_file(ops))
    r = replace_file(loc, buf, len, ops);
  if (r == Outcome::not_replaceable) r = write_direct(loc, buf, len, ops);
  switch (r) {
    case Outcome::done:
      return static_cast<ssize_t>(len);
    case Outcome::cannot_open:
      LOGE("file %s could not be opened", loc);
      return -EBADF;
    default:
      LOGE("file could not be saved");
      return -EBADF;
  }
}
}
