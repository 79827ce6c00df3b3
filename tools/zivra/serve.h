// zivra serve: the client's operations as a local web page and a JSON API.
//
// Both libraries keep process-wide state and are not thread-safe, so one thread (the
// device thread) makes every call into them; HTTP handler threads post jobs to it and
// answer reads from the last state it published.
#ifndef ZIVRA_TOOL_SERVE_H
#define ZIVRA_TOOL_SERVE_H

#include <functional>
#include <memory>
#include <string>

#include "ops.h"

namespace zivra_cli {

struct ServeOptions {
  std::string bind = "127.0.0.1";
  int port = 0;           // 0: any free port
  std::string web_dir;    // the page's files; empty: found beside the program
  std::string token;      // empty: a fresh random one
  size_t max_firmware = 512 * 1024;  // the largest flash of the dongles the kit knows
};

class Server {
 public:
  explicit Server(ServeOptions o);
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Binds the port and starts the device thread and the HTTP threads.
  Error start();
  int port() const;
  const std::string &token() const;
  // The address to open, token included.
  std::string url() const;
  // Ends every request and thread; safe to call more than once.
  void stop();
  // Runs `fn` on the device thread and returns when it did (tests drive the sim so).
  void on_device(const std::function<void()> &fn);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Where the page's files are when none was given: beside the program in the build
// tree, or under the install prefix.
std::string default_web_dir();

// The command: serves until SIGINT/SIGTERM; prints the URL and opens it unless no_open.
// When the port was not chosen and is taken (another run), any free one is used.
int serve_main(const ServeOptions &o, bool no_open, bool port_chosen);

}  // namespace zivra_cli

#endif
