// The model base classes and the scriptable dongle.
#include <algorithm>
#include <cstring>

#include "sim/internal.h"

namespace zivra_sim {

// ---- Model defaults ----------------------------------------------------------------

void Model::on_output_report(Device &, const uint8_t *, size_t) {}
int Model::on_control(Device &, const ControlSetup &, uint8_t *) { return kUsbErrorPipe; }
int Model::on_interrupt(Device &, uint8_t, uint8_t *, int, int *transferred, unsigned int) {
  if (transferred != nullptr) *transferred = 0;
  return kUsbErrorPipe;
}
void Model::on_poll(Device &) {}
void Model::on_open(Device &) {}
void Model::on_close(Device &) {}
void Model::on_reset(Device &) {}

// ---- CommandModel ----------------------------------------------------------------

void CommandModel::on_output_report(Device &dev, const uint8_t *report, size_t len) {
  if (len == 0) return;
  uint8_t id = report[0];
  size_t size = id == 2 ? 32 : id == 6 ? 64 : 0;
  if (size != 0 && len >= size + 1) {
    Command c;
    c.report_id = id;
    c.size = size;
    c.packet.assign(report + 1, report + 1 + size);
    const char *w = reinterpret_cast<const char *>(c.packet.data());
    c.word.assign(w, strnlen(w, 11));
    on_command(dev, c);
    return;
  }
  if (id == 4) {
    on_data(dev, report + 1, len - 1);
    return;
  }
  on_other_report(dev, report, len);
}

void CommandModel::on_data(Device &dev, const uint8_t *, size_t) { ack(dev, 0); }
void CommandModel::on_other_report(Device &, const uint8_t *, size_t) {}

void CommandModel::reply(Device &dev, const Command &cmd, uint8_t status, const void *payload, size_t n,
                         uint64_t delay_us) {
  std::vector<uint8_t> r(cmd.size + 1, 0);
  r[0] = cmd.report_id == 6 ? 5 : 1;
  memcpy(r.data() + 1, cmd.packet.data(), std::min<size_t>(11, cmd.packet.size()));
  r[12] = status;
  if (payload != nullptr && n > 0) memcpy(r.data() + 13, payload, std::min(n, cmd.size - 12));
  dev.queue_input(std::move(r), delay_us);
}

void CommandModel::ack(Device &dev, uint8_t ack_byte, uint64_t delay_us) {
  dev.queue_input({3, ack_byte}, delay_us);
}

// ---- ScriptModel -----------------------------------------------------------------

void ScriptModel::set_reply(const std::string &word, uint8_t status, std::vector<uint8_t> payload,
                            uint64_t delay_us) {
  sticky_[word] = Reply{status, std::move(payload), delay_us};
}

void ScriptModel::push_reply(const std::string &word, uint8_t status, std::vector<uint8_t> payload) {
  once_[word].push_back(Reply{status, std::move(payload), 0});
}

void ScriptModel::set_handler(const std::string &word, Handler h) { handlers_[word] = std::move(h); }

void ScriptModel::queue_unsolicited(std::vector<uint8_t> payload, uint64_t delay_us, uint8_t id) {
  std::vector<uint8_t> r(65, 0);
  r[0] = id;
  memcpy(r.data() + 1, payload.data(), std::min<size_t>(payload.size(), 64));
  unsolicited_.push_back(Unsolicited{std::move(r), delay_us});
}

void ScriptModel::set_control_reply(uint8_t bRequest, std::vector<uint8_t> data, int result) {
  control_[bRequest] = {std::move(data), result};
}

void ScriptModel::set_interrupt_reply(uint8_t endpoint, std::vector<uint8_t> data, int result) {
  interrupt_[endpoint] = {std::move(data), result};
}

void ScriptModel::on_command(Device &dev, const Command &cmd) {
  commands_.push_back(cmd);
  auto h = handlers_.find(cmd.word);
  if (h != handlers_.end()) {
    h->second(dev, cmd);
    return;
  }
  auto q = once_.find(cmd.word);
  if (q != once_.end() && !q->second.empty()) {
    Reply r = std::move(q->second.front());
    q->second.erase(q->second.begin());
    reply(dev, cmd, r.status, r.payload.data(), r.payload.size(), r.delay_us);
    return;
  }
  auto s = sticky_.find(cmd.word);
  if (s != sticky_.end()) {
    reply(dev, cmd, s->second.status, s->second.payload.data(), s->second.payload.size(), s->second.delay_us);
    return;
  }
  if (answer_unknown_) reply(dev, cmd, unknown_status_);
}

void ScriptModel::on_data(Device &dev, const uint8_t *block, size_t len) {
  data_blocks_.emplace_back(block, block + len);
  ack(dev, data_ack_);
}

int ScriptModel::on_control(Device &, const ControlSetup &setup, uint8_t *data) {
  Transfer t;
  t.setup = setup;
  auto it = control_.find(setup.bRequest);
  if (setup.in()) {
    if (it == control_.end()) {
      transfers_.push_back(std::move(t));
      return kUsbErrorPipe;
    }
    size_t n = std::min<size_t>(setup.wLength, it->second.first.size());
    if (n > 0) memcpy(data, it->second.first.data(), n);
    t.data.assign(data, data + n);
    transfers_.push_back(std::move(t));
    return it->second.second == (1 << 30) ? static_cast<int>(n) : it->second.second;
  }
  t.data.assign(data, data + setup.wLength);
  transfers_.push_back(std::move(t));
  if (it != control_.end() && it->second.second != (1 << 30)) return it->second.second;
  return setup.wLength;
}

int ScriptModel::on_interrupt(Device &, uint8_t endpoint, uint8_t *data, int length, int *transferred,
                              unsigned int) {
  Transfer t;
  t.interrupt = true;
  t.endpoint = endpoint;
  int moved = 0;
  int result = 0;
  auto it = interrupt_.find(endpoint);
  if ((endpoint & 0x80) != 0) {
    if (it == interrupt_.end()) {
      result = kUsbErrorTimeout;
    } else {
      moved = static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(length, 0)), it->second.first.size()));
      if (moved > 0) memcpy(data, it->second.first.data(), static_cast<size_t>(moved));
      result = it->second.second;
    }
    t.data.assign(data, data + moved);
  } else {
    moved = length;
    t.data.assign(data, data + std::max(length, 0));
    if (it != interrupt_.end()) result = it->second.second;
  }
  if (transferred != nullptr) *transferred = moved;
  transfers_.push_back(std::move(t));
  return result;
}

void ScriptModel::on_poll(Device &dev) {
  for (auto &u : unsolicited_) dev.queue_input(std::move(u.report), u.delay_us);
  unsolicited_.clear();
}

}  // namespace zivra_sim

// A dongle that enumerates as the HID application and answers nothing it knows:
// enough to see a client find, open and close a device.
ZIVRA_SIM_DONGLE("script", [] {
  zivra_sim::plug(zivra_sim::Identity{}, std::make_shared<zivra_sim::ScriptModel>());
});
