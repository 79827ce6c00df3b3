// zivra serve: an HTTP server (cpp-httplib) over the client's operations.
#include "serve.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "signal_svg.h"
#include "simulate.h"

extern char **environ;

namespace zivra_cli {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kMaxConfigBytes = 64 * 1024;
constexpr auto kPresencePeriod = std::chrono::milliseconds(500);
constexpr auto kKeepAlive = std::chrono::seconds(15);
constexpr size_t kEventsKept = 256;
constexpr int kMaxEventStreams = 16;
constexpr const char *kCookie = "zivra_token";

// The on-screen keyboard: the media and system keys first, then the rest of the
// key table a remote is likely to need. Only the names the dongle knows are shown.
struct KeyGroup {
  const char *name;
  std::vector<std::string> keys;
};
const std::vector<KeyGroup> &keyboard() {
  static const std::vector<KeyGroup> k = {
      {"Media", {"play/pause", "stop", "rewind", "fast_forward", "prev_track", "next_track", "vol_down", "vol_up", "mute",
                 "eject", "media_select", "media_home", "media_back", "media_forward", "ac_search"}},
      {"Menu", {"menu_up", "menu_down", "menu_left", "menu_right", "menu_pick"}},
      {"System", {"power", "wake", "suspend", "browser_back", "browser_fwd", "browser_home"}},
      {"Navigation", {"up", "down", "left", "right", "return", "enter", "escape", "backspace", "delete", "tab", "space",
                      "home", "end", "pageup", "pagedown", "insert"}},
      {"Function", {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "print_screen", "scroll",
                    "pause"}},
      {"Characters", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f", "g", "h", "i",
                      "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z"}},
  };
  return k;
}

template <class T>
json opt(const std::optional<T> &v) {
  return v ? json(*v) : json(nullptr);
}

json error_json(const Error &e) {
  return {{"error", {{"status", status_name(e.status)}, {"code", int(e.status)}, {"message", e.message}, {"hint", e.hint}}}};
}

int http_status(Status s) {
  switch (s) {
    case Status::Ok: return 200;
    case Status::Usage: return 400;
    case Status::File:
    case Status::Refused:
    case Status::Timeout: return 422;
    case Status::Unsupported: return 501;
    case Status::NoDongle:
    case Status::Permission: return 503;
    case Status::Failed:
    case Status::Upgrade: return 502;
  }
  return 500;
}

// What a handler answers: JSON, or bytes to download.
struct Reply {
  int code = 200;
  json body;
  std::string bytes, filename;
};

Reply ok(json body = {{"ok", true}}) { return Reply{200, std::move(body), {}, {}}; }
Reply failed(const Error &e) { return Reply{http_status(e.status), error_json(e), {}, {}}; }
Reply refuse(int code, const std::string &message, const std::string &hint = "") {
  return Reply{code, error_json(fail(Status::Usage, message, hint)), {}, {}};
}
template <class T>
Reply outcome(const Result<T> &r, const std::function<json(const T &)> &body) {
  return r.ok() ? ok(body(r.value)) : failed(r.error);
}

json info_json(const Info &i) {
  return {{"state", i.state},
          {"generation", i.generation},
          {"version", i.version},
          {"build_hash", opt(i.build_hash)},
          {"build_type", opt(i.build_type)},
          {"branch", opt(i.branch)},
          {"sku", opt(i.sku)},
          {"keys_recorded", opt(i.keys_recorded)},
          {"keys_remaining", opt(i.keys_remaining)},
          {"library_version", i.library_version}};
}

json abilities_json(const Abilities &a) {
  return {{"record", a.record},         {"long_press", a.long_press},     {"macro", a.macro},
          {"toggle", a.toggle},         {"delete_next", a.delete_next},   {"delete_key", a.delete_key},
          {"delete_index", a.delete_index}, {"list", a.list},             {"save", a.save},
          {"load", a.load},             {"format", a.format},             {"capture", a.capture},
          {"upgrade", a.upgrade}};
}

json signal_json(const Signal &s) {
  return {{"n", s.number},          {"protocol", s.protocol}, {"scancode", s.scancode},  {"description", s.description},
          {"hash", s.hash},         {"device_hash", s.device_hash}, {"key", opt(s.key)}, {"elapsed_ms", s.elapsed_ms},
          {"decoded", s.decoded},   {"edges", s.edges}};
}

// Server-sent events: numbered frames, the latest few kept so a slow reader skips
// ahead instead of holding the others back.
class Events {
 public:
  void emit(const std::string &type, const json &data) {
    std::lock_guard<std::mutex> lk(mu_);
    frames_.push_back({++last_, "event: " + type + "\ndata: " + data.dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n"});
    if (frames_.size() > kEventsKept) frames_.pop_front();
    cv_.notify_all();
  }
  uint64_t last() {
    std::lock_guard<std::mutex> lk(mu_);
    return last_;
  }
  // The frames after `seen` (waits up to `wait` for one); empty on time-out or stop.
  std::string after(uint64_t &seen, Clock::duration wait) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, wait, [&] { return stopping_ || last_ > seen; });
    std::string out;
    for (const auto &f : frames_)
      if (f.first > seen) out += f.second;
    seen = last_;
    return out;
  }
  void stop() {
    std::lock_guard<std::mutex> lk(mu_);
    stopping_ = true;
    cv_.notify_all();
  }
  bool stopping() {
    std::lock_guard<std::mutex> lk(mu_);
    return stopping_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::pair<uint64_t, std::string>> frames_;
  uint64_t last_ = 0;
  bool stopping_ = false;
};

std::string random_token() {
  unsigned char b[16] = {};
  std::ifstream r("/dev/urandom", std::ios::binary);
  r.read(reinterpret_cast<char *>(b), sizeof b);
  if (!r) {
    // No /dev/urandom: a weaker token is still better than none.
    std::random_device rd;
    for (unsigned char &c : b) c = static_cast<unsigned char>(rd());
  }
  static const char *hex = "0123456789abcdef";
  std::string t;
  for (unsigned char c : b) {
    t += hex[c >> 4];
    t += hex[c & 15];
  }
  return t;
}

bool same_secret(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// "host:port" or "[v6]:port" without the port.
std::string host_part(const std::string &hostport) {
  if (!hostport.empty() && hostport.front() == '[') return hostport.substr(0, hostport.find(']') + 1);
  return hostport.substr(0, hostport.find(':'));
}

std::string cookie_value(const httplib::Request &req, const std::string &name) {
  std::string all = req.get_header_value("Cookie");
  std::istringstream in(all);
  for (std::string part; std::getline(in, part, ';');) {
    size_t start = part.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    part = part.substr(start);
    if (part.rfind(name + "=", 0) == 0) return part.substr(name.size() + 1);
  }
  return {};
}

// A file that is removed when it goes out of scope.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string &what) : path(temp_path("serve-" + what)) {}
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
  bool write(const std::string &bytes) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    return static_cast<bool>(f);
  }
  std::string read() const {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

// While alive, what the libraries print on standard output (progress bars, "[DEVICE]"
// status lines) reaches `each` piece by piece (split at '\r' and '\n') through a pipe.
class LibTextFeed {
 public:
  explicit LibTextFeed(std::function<void(const std::string &)> each) : each_(std::move(each)) {
    std::fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return;
    saved_ = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);
    read_ = fds[0];
    reader_ = std::thread([this] { pump(); });
  }
  ~LibTextFeed() {
    if (read_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, 1);  // the pipe's last writer: the reader sees its end
    close(saved_);
    reader_.join();
    close(read_);
  }
  LibTextFeed(const LibTextFeed &) = delete;
  LibTextFeed &operator=(const LibTextFeed &) = delete;

 private:
  void pump() {
    std::string piece;
    char buf[512];
    for (;;) {
      pollfd p{read_, POLLIN, 0};
      if (poll(&p, 1, 100) == 0) {
        // A status line may wait in stdout's buffer (stdio locks the stream itself).
        std::fflush(stdout);
        continue;
      }
      ssize_t n = read(read_, buf, sizeof buf);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r' && buf[i] != '\n') {
          piece += buf[i];
        } else if (!piece.empty()) {
          each_(piece);
          piece.clear();
        }
      }
    }
    if (!piece.empty()) each_(piece);
  }
  std::function<void(const std::string &)> each_;
  int saved_ = -1, read_ = -1;
  std::thread reader_;
};

// A piece of the libraries' text as a progress event of `op`: a bar's percentage, or a
// status line without its "[DEVICE]" tag; null for anything else.
json progress_of(const std::string &op, const std::string &piece) {
  size_t pct = piece.rfind("] ");
  if (!piece.empty() && piece.front() == '[' && pct != std::string::npos && piece.back() == '%')
    return {{"op", op}, {"percent", std::atoi(piece.c_str() + pct + 2)}};
  if (piece.rfind("[DEVICE]", 0) == 0) {
    size_t at = piece.find_first_not_of(' ', 8);
    if (at != std::string::npos) return {{"op", op}, {"stage", piece.substr(at)}};
  }
  return nullptr;
}

const Error kNoTemp = fail(Status::File, "cannot write a temporary file", "check that $TMPDIR (or /tmp) is writable");

}  // namespace

struct Server::Impl {
  ServeOptions opt;
  httplib::Server http;
  std::thread http_thread, device_thread;
  int port = 0;
  Events events;
  std::atomic<int> streams{0};

  // ---- the device thread's side ----
  Dongle dongle;
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::function<void(bool cancelled)>> jobs;
  bool quit = false;
  std::atomic<bool> live{false};

  // ---- what readers see ----
  std::mutex snap_mu;
  json snapshot = {{"connected", false}};
  std::string busy;  // what runs on the dongle; empty when nothing
  json last;         // the last operation's outcome

  explicit Impl(ServeOptions o) : opt(std::move(o)) {}

  // ---- device thread ----------------------------------------------------------

  void device_loop() {
    auto next_check = Clock::now();
    for (;;) {
      std::function<void(bool)> job;
      {
        std::unique_lock<std::mutex> lk(mu);
        cv.wait_until(lk, next_check, [&] { return quit || !jobs.empty() || want_capture(); });
        if (quit) break;
        if (!jobs.empty()) {
          job = std::move(jobs.front());
          jobs.pop_front();
        }
      }
      if (job) {
        job(false);
        continue;
      }
      if (want_capture()) {
        listen();
        continue;
      }
      if (Clock::now() >= next_check) {
        check_presence();
        next_check = Clock::now() + kPresencePeriod;
      }
    }
    std::deque<std::function<void(bool)>> left;
    {
      std::lock_guard<std::mutex> lk(mu);
      left.swap(jobs);
    }
    for (auto &j : left) j(true);
    dongle.close();
  }

  // Whether the dongle last seen can do `what` (see abilities_json); snap_mu held.
  bool can_locked(const char *what) const {
    return snapshot.value("connected", false) && snapshot.contains("abilities") && snapshot["abilities"].value(what, false);
  }
  bool capture_ready() {
    std::lock_guard<std::mutex> lk(snap_mu);
    return can_locked("capture");
  }
  bool want_capture() { return live && capture_ready(); }

  // Streams the signals the dongle receives until a job arrives or listening stops.
  void listen() {
    CaptureOptions o;
    o.stop_when = [this] {
      std::lock_guard<std::mutex> lk(mu);
      return quit || !jobs.empty() || !live;
    };
    Result<int> r = capture(dongle, o, [this](const Signal &s) {
      json j = signal_json(s);
      j["svg"] = tools_common::render_svg({plot_row(s, false)}, {});
      events.emit("signal", j);
      return true;
    });
    if (!r.ok()) {
      live = false;
      events.emit("live", {{"on", false}, {"message", r.error.message}});
      check_presence();
    }
  }

  void check_presence() {
    if (dongle.is_open()) {
      if (dongle.present()) return;
      dongle.forget();
      publish();
      return;
    }
    bool was;
    {
      std::lock_guard<std::mutex> lk(snap_mu);
      was = snapshot.value("connected", false);
    }
    dongle.forget();
    Error e = dongle.open();
    if (!e || was) {
      publish();
      return;
    }
    // Still nothing there: tell readers only when the reason changed.
    std::lock_guard<std::mutex> lk(snap_mu);
    if (!snapshot.contains("error") || snapshot["error"].value("message", "") != e.message) {
      snapshot = {{"connected", false}, {"error", error_json(e)["error"]}};
      events.emit("state", view_locked());
    }
  }

  // Reads everything the page shows and publishes it.
  void publish() {
    json s;
    Error e = dongle.open();
    if (e) {
      s = {{"connected", false}, {"error", error_json(e)["error"]}};
    } else {
      Result<Info> i = info(dongle);
      s["connected"] = i.ok();
      if (!i.ok()) {
        dongle.forget();
        s["error"] = error_json(i.error)["error"];
      } else {
        s["info"] = info_json(i.value);
        Abilities a = abilities(dongle);
        s["abilities"] = abilities_json(a);
        s["buttons"] = json::array();
        if (a.list) {
          Result<std::vector<Button>> l = list(dongle);
          for (const Button &b : l.value)
            s["buttons"].push_back({{"index", b.index}, {"hash", b.hash}, {"key", b.name}, {"long_press", b.long_press}});
          if (!l.ok()) s["list_error"] = l.error.message;
        }
        s["settings"] = json::array();
        if (i.value.state == "application") {
          Result<std::vector<Setting>> st = settings(dongle);
          for (const Setting &x : st.value)
            s["settings"].push_back(
                {{"name", x.name}, {"description", x.description}, {"value", x.value}, {"min", x.min}, {"max", x.max}});
        }
        s["keys"] = json::array();
        for (const KeyGroup &g : keyboard()) {
          std::vector<std::string> known = known_keys(dongle, g.keys);
          if (!known.empty()) s["keys"].push_back({{"group", g.name}, {"keys", known}});
        }
      }
    }
    std::lock_guard<std::mutex> lk(snap_mu);
    snapshot = std::move(s);
    events.emit("state", view_locked());
  }

  // ---- what readers see ------------------------------------------------------------

  json view_locked() const {
    json v = snapshot;
    v["busy"] = busy.empty() ? json(nullptr) : json(busy);
    v["live"] = live.load();
    v["last"] = last;
    return v;
  }
  json view() {
    std::lock_guard<std::mutex> lk(snap_mu);
    return view_locked();
  }

  // Runs `fn` on the device thread as the one operation on the dongle; a second one
  // while it runs is refused with 409, and reads go on from the last state.
  Reply exclusive(const std::string &op, const std::string &what, const std::function<Reply()> &fn) {
    {
      std::lock_guard<std::mutex> lk(snap_mu);
      if (!busy.empty())
        return refuse(409, "the dongle is busy " + busy, "wait until it has finished, then try again");
      if (!snapshot.value("connected", false)) {
        Error e = snapshot.contains("error") ? fail(Status::NoDongle, snapshot["error"].value("message", "no dongle found"),
                                                    snapshot["error"].value("hint", ""))
                                             : fail(Status::NoDongle, "no dongle found");
        return failed(e);
      }
      busy = what;
      events.emit("state", view_locked());
    }
    auto done = std::make_shared<std::promise<Reply>>();
    std::future<Reply> result = done->get_future();
    post([this, fn, op, done](bool cancelled) {
      Reply r;
      try {
        r = cancelled ? refuse(503, "the server is stopping") : fn();
      } catch (const std::exception &e) {
        r = Reply{500, error_json(fail(Status::Failed, std::string("the server failed: ") + e.what())), {}, {}};
      }
      // Refused before anything was sent (bad input, a file, an operation this dongle
      // lacks): the dongle is as it was, so not even a read goes out.
      std::string status = r.code == 200 ? "" : r.body["error"].value("status", "");
      if (!cancelled && status != "usage" && status != "file" && status != "unsupported") publish();
      json outcome = {{"op", op}, {"ok", r.code == 200}};
      if (r.code != 200) outcome["error"] = r.body["error"];
      {
        std::lock_guard<std::mutex> lk(snap_mu);
        busy.clear();
        last = outcome;
        events.emit("state", view_locked());
      }
      events.emit("done", outcome);
      done->set_value(r);
    });
    return result.get();
  }

  void post(std::function<void(bool)> job) {
    bool cancelled;
    {
      std::lock_guard<std::mutex> lk(mu);
      cancelled = quit;
      if (!cancelled) jobs.push_back(job);
      cv.notify_all();
    }
    if (cancelled) job(true);
  }

  // While alive, the libraries' progress text reaches the page as progress events of `op`.
  struct LibOutputFeed {
    Impl &m;
    LibTextFeed feed;
    LibOutputFeed(Impl &impl, const std::string &op)
        : m(impl), feed([&impl, op](const std::string &piece) {
            json p = progress_of(op, piece);
            if (!p.is_null()) impl.events.emit("progress", p);
          }) {
      m.dongle.progress = LibOutput::Stdout;
    }
    ~LibOutputFeed() { m.dongle.progress = LibOutput::Discard; }
  };

  // ---- requests ------------------------------------------------------------------------

  static bool parse_body(const httplib::Request &req, json &out, Reply &bad) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
      bad = refuse(400, "the request body is not a JSON object; nothing was sent");
      return false;
    }
    return true;
  }

  Reply record_request(const json &b) {
    RecordRequest r;
    static const std::map<std::string, RecordMode> kModes = {
        {"normal", RecordMode::Normal}, {"long", RecordMode::LongPress}, {"macro", RecordMode::Macro}, {"toggle", RecordMode::Toggle}};
    std::string mode = b.value("mode", std::string("normal"));
    auto m = b.contains("mode") && !b["mode"].is_string() ? kModes.end() : kModes.find(mode);
    if (m == kModes.end()) return refuse(400, "mode must be normal, long, macro or toggle; nothing was sent");
    r.mode = m->second;
    if (b.contains("key") && !b["key"].is_string()) return refuse(400, "key must be a key name; nothing was sent");
    r.key = b.value("key", std::string());
    if ((r.mode == RecordMode::Toggle) != r.key.empty())
      return refuse(400, r.mode == RecordMode::Toggle ? "a toggle takes no key; nothing was sent" : "record needs a key; nothing was sent");
    if (b.contains("more")) {
      if (!b["more"].is_array()) return refuse(400, "more must be a list of key names; nothing was sent");
      for (const json &k : b["more"]) {
        if (!k.is_string()) return refuse(400, "more must be a list of key names; nothing was sent");
        r.more.push_back(k.get<std::string>());
      }
    }
    if (r.mode == RecordMode::Macro && r.more.empty()) return refuse(400, "a macro needs further keys in more; nothing was sent");
    if (b.contains("wait") && !b["wait"].is_number_integer()) return refuse(400, "wait must be whole seconds, 1 to 100; nothing was sent");
    r.wait_s = b.value("wait", 10);
    if (r.wait_s < 1 || r.wait_s > 100) return refuse(400, "wait must be 1 to 100 seconds; nothing was sent");
    std::string label = r.key.empty() ? "the toggle" : "'" + r.key + "'";
    return exclusive("record", "recording " + label, [this, r, label] {
      events.emit("progress", {{"op", "record"}, {"stage", "press the button on your remote for " + label}, {"wait", r.wait_s}});
      Done d = record(dongle, r);
      return d.ok() ? ok({{"ok", true}, {"message", "Recorded " + label + "."}}) : failed(d.error);
    });
  }

  Reply delete_request(const json &b) {
    if (b.contains("index")) {
      if (!b["index"].is_number_integer() || b["index"].get<long long>() < 0 || b["index"].get<long long>() > 100000)
        return refuse(400, "index must be a listing index; nothing was sent");
      int index = b["index"].get<int>();
      return exclusive("delete", "deleting button " + std::to_string(index), [this, index] {
        Done d = delete_index(dongle, index);
        return d.ok() ? ok({{"ok", true}, {"message", "Deleted the button at index " + std::to_string(index) + "."}}) : failed(d.error);
      });
    }
    if (b.value("next", false) == true) {
      if (b.contains("wait") && !b["wait"].is_number_integer()) return refuse(400, "wait must be whole seconds, 1 to 100; nothing was sent");
      int wait = b.value("wait", 10);
      if (wait < 1 || wait > 100) return refuse(400, "wait must be 1 to 100 seconds; nothing was sent");
      return exclusive("delete", "deleting the next button pressed", [this, wait] {
        events.emit("progress", {{"op", "delete"}, {"stage", "press the remote button to delete"}, {"wait", wait}});
        Done d = delete_next(dongle, wait);
        return d.ok() ? ok({{"ok", true}, {"message", "Deleted the button."}}) : failed(d.error);
      });
    }
    if (!b.contains("key") || !b["key"].is_string() || b["key"].get<std::string>().empty())
      return refuse(400, "delete needs a key, an index or next; nothing was sent");
    std::string key = b["key"];
    return exclusive("delete", "deleting '" + key + "'", [this, key] {
      Result<int> n = delete_key(dongle, key);
      return outcome<int>(n, [&](int k) {
        return json{{"ok", true}, {"deleted", k}, {"message", "Deleted " + std::to_string(k) + " button" + (k == 1 ? "" : "s") + " recorded as " + key + "."}};
      });
    });
  }

  Reply settings_request(const json &b) {
    if (!b.contains("name") || !b["name"].is_string()) return refuse(400, "a setting needs a name; nothing was sent");
    std::string name = b["name"], value;
    if (b.contains("value") && b["value"].is_number_integer())
      value = std::to_string(b["value"].get<long long>());
    else if (b.contains("value") && b["value"].is_string())
      value = b["value"];
    else
      return refuse(400, "a setting needs a whole-number value; nothing was sent");
    return exclusive("settings", "changing " + name, [this, name, value] {
      Done d = set_setting(dongle, name, value);
      return d.ok() ? ok({{"ok", true}, {"message", "Set " + name + " to " + value + "."}}) : failed(d.error);
    });
  }

  Reply restore_request(const std::string &bytes) {
    if (bytes.empty()) return refuse(400, "no configuration file was sent; nothing was written");
    if (bytes.size() > kMaxConfigBytes)
      return refuse(413, "a configuration file is at most 64 KiB, this one has " + std::to_string(bytes.size()) + " bytes; nothing was written",
                    "choose a file written by backup or zivra save");
    return exclusive("restore", "restoring a backup", [this, bytes] {
      TempFile f("restore");
      if (f.path.empty() || !f.write(bytes)) return failed(kNoTemp);
      Done d;
      {
        // The library's own progress bar drives the page's.
        LibOutputFeed feed(*this, "restore");
        d = load(dongle, f.path);
      }
      if (!d.ok()) {
        // The user chose the file in the browser: name it so, not by our temporary path.
        size_t at = d.error.message.find(f.path);
        if (at != std::string::npos) d.error.message.replace(at, f.path.size(), "the chosen file");
        return failed(d.error);
      }
      return ok({{"ok", true}, {"message", "Restored the backup."}});
    });
  }

  Reply firmware_request(const std::string &bytes, bool install) {
    if (bytes.empty()) return refuse(400, "no firmware image was sent; nothing was sent to the dongle");
    if (bytes.size() > opt.max_firmware)
      return refuse(413, "a firmware image is at most " + std::to_string(opt.max_firmware / 1024) + " KiB (the dongle's flash), this one has " +
                             std::to_string(bytes.size()) + " bytes; nothing was sent",
                    "choose a firmware image made for this dongle");
    auto run = [this, bytes, install] {
      TempFile f("firmware");
      if (f.path.empty() || !f.write(bytes)) return failed(kNoTemp);
      auto mention = [&](Error e) {
        size_t at = e.message.find(f.path);
        if (at != std::string::npos) e.message.replace(at, f.path.size(), "the chosen file");
        return e;
      };
      Result<size_t> checked = check_firmware(f.path);
      if (!checked.ok()) return failed(mention(checked.error));
      if (!install) return ok({{"ok", true}, {"size", checked.value}, {"message", "The image looks right (" + std::to_string(checked.value) + " bytes)."}});
      events.emit("progress", {{"op", "upgrade"}, {"percent", 0}});
      int shown = 0;
      Result<Upgraded> u;
      {
        // The stages are the library's own "[DEVICE]" status lines, in the order printed.
        LibOutputFeed feed(*this, "upgrade");
        u = upgrade(dongle, f.path, 30, [&](int percent) {
          if (percent == shown) return;
          shown = percent;
          events.emit("progress", {{"op", "upgrade"}, {"percent", percent}});
        });
      }
      if (!u.ok()) return failed(mention(u.error));
      return ok({{"ok", true}, {"from", u.value.from}, {"to", u.value.to}, {"state", u.value.state},
                 {"message", "Upgrade complete: the dongle runs firmware " + u.value.to + "."}});
    };
    return exclusive(install ? "upgrade" : "check", install ? "upgrading the firmware" : "checking a firmware image", run);
  }

  Reply backup_request() {
    return exclusive("backup", "making a backup", [this] {
      TempFile f("backup");
      if (f.path.empty()) return failed(kNoTemp);
      Done d = save(dongle, f.path);
      if (!d.ok()) return failed(d.error);
      Reply r = ok();
      r.bytes = f.read();
      r.filename = "zivra-backup.cfg";
      return r;
    });
  }

  Reply format_request(const json &b) {
    if (b.value("confirm", false) != true)
      return refuse(400, "format erases every recorded button: send confirm true to go ahead; nothing was erased");
    return exclusive("format", "erasing every button", [this] {
      Result<int> n = format(dongle);
      return outcome<int>(n, [](int k) {
        return json{{"ok", true}, {"erased", k}, {"message", "Erased " + std::to_string(k) + " button" + (k == 1 ? "" : "s") + "."}};
      });
    });
  }

  Reply live_request(const json &b) {
    if (!b.contains("on") || !b["on"].is_boolean()) return refuse(400, "live needs on: true or false");
    bool on = b["on"];
    if (on) {
      std::lock_guard<std::mutex> lk(snap_mu);
      if (!snapshot.value("connected", false)) return failed(fail(Status::NoDongle, "no dongle found"));
      if (!can_locked("capture"))
        return failed(fail(Status::Unsupported, "live signals need firmware 4.9 or later",
                           "the firmware section installs newer firmware"));
    }
    {
      std::lock_guard<std::mutex> lk(mu);
      live = on;
      cv.notify_all();
    }
    events.emit("live", {{"on", on}});
    return ok({{"ok", true}, {"live", on}});
  }

  // ---- HTTP ----------------------------------------------------------------------------

  static void send(httplib::Response &res, const Reply &r) {
    res.status = r.code;
    res.set_header("Cache-Control", "no-store");
    if (!r.filename.empty()) {
      res.set_header("Content-Disposition", "attachment; filename=\"" + r.filename + "\"");
      res.set_content(r.bytes, "application/octet-stream");
      return;
    }
    res.set_content(r.body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
  }

  // A name some DNS could rebind to this machine is refused; an address written out
  // cannot be rebound (other pages are kept out by the Origin check and the token).
  bool host_allowed(const std::string &host) const {
    std::string h = host_part(host);
    bool v4 = !h.empty() && h.find_first_not_of("0123456789.") == std::string::npos &&
              std::count(h.begin(), h.end(), '.') == 3;
    bool v6 = h.size() > 2 && h.front() == '[' && h.back() == ']' &&
              h.find_first_not_of("0123456789abcdefABCDEF:.", 1) == h.size() - 1;
    return v4 || v6 || h == "localhost" || h == opt.bind;
  }

  // No other web page may drive the dongle: the Host must name this server (not a
  // name rebound to it), an Origin must be this page's own, and the token must come
  // along (in the session cookie set from the link, or as a bearer token).
  httplib::Server::HandlerResponse gate(const httplib::Request &req, httplib::Response &res) {
    using HR = httplib::Server::HandlerResponse;
    std::string host = req.get_header_value("Host");
    if (!host_allowed(host)) {
      send(res, refuse(403, "this server answers only requests addressed to it (Host '" + host + "' refused)",
                       "open the address zivra serve printed"));
      return HR::Handled;
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      send(res, refuse(403, "requests from another web page are refused", "use the page zivra serve printed"));
      return HR::Handled;
    }
    std::string given = req.get_param_value("token");
    if (given.empty()) given = cookie_value(req, kCookie);
    std::string auth = req.get_header_value("Authorization");
    if (given.empty() && auth.rfind("Bearer ", 0) == 0) given = auth.substr(7);
    if (!same_secret(given, opt.token)) {
      send(res, refuse(403, "this page needs the access token", "open the whole link zivra serve printed (it ends in ?token=...)"));
      return HR::Handled;
    }
    if (req.has_param("token") && req.method == "GET") {
      // From the link to a session cookie, and the token out of the address bar.
      res.set_header("Set-Cookie", std::string(kCookie) + "=" + opt.token + "; HttpOnly; SameSite=Strict; Path=/");
      res.set_redirect(req.path, 303);
      return HR::Handled;
    }
    return HR::Unhandled;
  }

  void serve_file(httplib::Response &res, const std::string &name, const char *type) {
    std::ifstream f(opt.web_dir + "/" + name, std::ios::binary);
    if (!f) {
      send(res, refuse(500, "the page's file " + name + " is missing from " + opt.web_dir, "reinstall zivra or set ZIVRA_WEB_DIR"));
      return;
    }
    std::ostringstream s;
    s << f.rdbuf();
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; frame-ancestors 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(s.str(), type);
  }

  void routes() {
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) { return gate(req, res); });
    // The library's default also sets SO_REUSEPORT, which would let a second run share
    // the port and answer half of the page's requests with another token.
    http.set_socket_options([](socket_t sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Large enough for any image; each upload checks its own limit and says so.
    http.set_payload_max_length(std::max(opt.max_firmware, kMaxConfigBytes) * 2);
    http.new_task_queue = [] { return new httplib::ThreadPool(kMaxEventStreams + 16); };

    http.Get("/", [this](const httplib::Request &, httplib::Response &res) { serve_file(res, "index.html", "text/html; charset=utf-8"); });
    http.Get("/app.js", [this](const httplib::Request &, httplib::Response &res) { serve_file(res, "app.js", "text/javascript; charset=utf-8"); });
    http.Get("/app.css", [this](const httplib::Request &, httplib::Response &res) { serve_file(res, "app.css", "text/css; charset=utf-8"); });

    http.Get("/api/state", [this](const httplib::Request &, httplib::Response &res) { send(res, ok(view())); });
    http.Get("/api/backup", [this](const httplib::Request &, httplib::Response &res) { send(res, backup_request()); });
    auto with_json = [this](Reply (Impl::*fn)(const json &)) {
      return [this, fn](const httplib::Request &req, httplib::Response &res) {
        json b;
        Reply bad;
        try {
          send(res, parse_body(req, b, bad) ? (this->*fn)(b) : bad);
        } catch (const json::exception &) {
          // A field of the wrong type.
          send(res, refuse(400, "the request has a field of the wrong type; nothing was sent"));
        }
      };
    };
    http.Post("/api/record", with_json(&Impl::record_request));
    http.Post("/api/delete", with_json(&Impl::delete_request));
    http.Post("/api/settings", with_json(&Impl::settings_request));
    http.Post("/api/format", with_json(&Impl::format_request));
    http.Post("/api/live", with_json(&Impl::live_request));
    http.Post("/api/restore", [this](const httplib::Request &req, httplib::Response &res) { send(res, restore_request(req.body)); });
    http.Post("/api/firmware/check", [this](const httplib::Request &req, httplib::Response &res) { send(res, firmware_request(req.body, false)); });
    http.Post("/api/upgrade", [this](const httplib::Request &req, httplib::Response &res) { send(res, firmware_request(req.body, true)); });

    http.Get("/api/events", [this](const httplib::Request &, httplib::Response &res) {
      if (++streams > kMaxEventStreams) {
        --streams;
        send(res, refuse(503, "too many pages are open on this server", "close other tabs of the page"));
        return;
      }
      res.set_header("Cache-Control", "no-store");
      // The stream opens with the whole state; then every event after it.
      auto seen = std::make_shared<uint64_t>(events.last());
      auto first = std::make_shared<bool>(true);
      res.set_chunked_content_provider(
          "text/event-stream",
          [this, seen, first](size_t, httplib::DataSink &sink) {
            if (*first) {
              *first = false;
              std::string s = "event: state\ndata: " + view().dump(-1, ' ', false, json::error_handler_t::replace) + "\n\n";
              return sink.write(s.data(), s.size());
            }
            if (events.stopping()) return false;
            std::string out = events.after(*seen, kKeepAlive);
            if (out.empty()) out = ": still here\n\n";
            return sink.is_writable() && sink.write(out.data(), out.size()) && !events.stopping();
          },
          [this](bool) { --streams; });
    });
    http.set_error_handler([](const httplib::Request &, httplib::Response &res) {
      if (!res.body.empty()) return;
      std::string msg = res.status == 404 ? "no such page or API call" : res.status == 413 ? "the upload is too large" : "the request failed";
      res.set_content(error_json(fail(Status::Usage, msg))
                          .dump(),
                      "application/json");
    });
  }
};

Server::Server(ServeOptions o) : impl_(std::make_unique<Impl>(std::move(o))) {
  if (impl_->opt.token.empty()) impl_->opt.token = random_token();
  if (impl_->opt.web_dir.empty()) impl_->opt.web_dir = default_web_dir();
}

Server::~Server() { stop(); }

Error Server::start() {
  Impl &m = *impl_;
  m.routes();
  if (m.opt.port == 0) {
    m.port = m.http.bind_to_any_port(m.opt.bind);
    if (m.port <= 0) m.port = 0;
  } else if (m.http.bind_to_port(m.opt.bind, m.opt.port)) {
    m.port = m.opt.port;
  }
  if (m.port == 0)
    return fail(Status::Failed, "cannot listen on " + m.opt.bind + (m.opt.port ? ":" + std::to_string(m.opt.port) : ""),
                m.opt.port ? "another program uses that port: choose another with --port N, or leave --port out" : "check --bind names an address of this machine");
  m.device_thread = std::thread([&m] {
    m.publish();
    m.device_loop();
  });
  m.http_thread = std::thread([&m] { m.http.listen_after_bind(); });
  return {};
}

int Server::port() const { return impl_->port; }
const std::string &Server::token() const { return impl_->opt.token; }

std::string Server::url() const {
  std::string host = impl_->opt.bind.find(':') != std::string::npos ? "[" + impl_->opt.bind + "]" : impl_->opt.bind;
  if (host == "0.0.0.0" || host == "[::]") host = "127.0.0.1";
  return "http://" + host + ":" + std::to_string(impl_->port) + "/?token=" + impl_->opt.token;
}

void Server::stop() {
  Impl &m = *impl_;
  {
    std::lock_guard<std::mutex> lk(m.mu);
    m.quit = true;
    m.cv.notify_all();
  }
  m.events.stop();
  if (m.device_thread.joinable()) m.device_thread.join();
  m.http.stop();
  if (m.http_thread.joinable()) m.http_thread.join();
}

void Server::on_device(const std::function<void()> &fn) {
  std::promise<void> done;
  impl_->post([&](bool) {
    fn();
    done.set_value();
  });
  done.get_future().wait();
}

std::string default_web_dir() {
  if (const char *d = getenv("ZIVRA_WEB_DIR"); d != nullptr && *d != '\0') return d;
  std::string found = find_beside(ZIVRA_WEB_RELATIVE_PATHS, "/index.html");
  return found.empty() ? self_dir() + "/web" : found;
}

namespace {
// The desktop's browser, when there is a desktop.
void open_in_browser(const std::string &url) {
  if (getenv("DISPLAY") == nullptr && getenv("WAYLAND_DISPLAY") == nullptr) return;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::string prog = "xdg-open";
  char *argv[] = {prog.data(), const_cast<char *>(url.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", &fa, nullptr, argv, environ) != 0)
    std::fprintf(stderr, "zivra: could not start xdg-open; open the address above yourself\n");
  posix_spawn_file_actions_destroy(&fa);
}

bool loopback(const std::string &addr) { return addr == "127.0.0.1" || addr == "::1" || addr == "localhost"; }
}  // namespace

int serve_main(const ServeOptions &o, bool no_open, bool port_chosen) {
  // Every thread blocks the stop signals; this one waits for them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!loopback(o.bind))
    std::fprintf(stderr,
                 "zivra: warning: serving on %s, not only this machine: anyone who can reach it and has the link can drive "
                 "the dongle\n",
                 o.bind.c_str());
  auto s = std::make_unique<Server>(o);
  Error e = s->start();
  if (e && !port_chosen) {
    ServeOptions any = o;
    any.port = 0;
    s = std::make_unique<Server>(any);
    e = s->start();
  }
  if (e) {
    std::fprintf(stderr, "zivra: %s\n", e.message.c_str());
    if (!e.hint.empty()) std::fprintf(stderr, "  %s\n", e.hint.c_str());
    return int(e.status);
  }
  std::printf("zivra serve: the dongle's page is at\n\n    %s\n\nOpen that link (it carries this run's access token). Ctrl-C stops the server.\n",
              s->url().c_str());
  std::fflush(stdout);
  if (!no_open) open_in_browser(s->url());
  int sig = 0;
  sigwait(&stop_signals, &sig);
  s->stop();
  return 0;
}

}  // namespace zivra_cli
