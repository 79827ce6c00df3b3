// Output files the tools write whole or not at all.
#ifndef ZIVRA_TOOLS_ATOMIC_FILE_H
#define ZIVRA_TOOLS_ATOMIC_FILE_H

#include <string>

namespace tools_common {

// Writes `text` to `path` through a temporary file in the same directory, renamed over
// `path` once complete, so a reader never sees part of it and a failure leaves no file
// behind (and an existing one as it was). On failure returns false with `error` in the
// user's words: which file, and why.
bool write_file_atomically(const std::string &path, const std::string &text, std::string &error);

}  // namespace tools_common

#endif
