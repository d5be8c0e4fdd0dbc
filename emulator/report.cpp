#include "emulator/report.h"

#include <cstdio>

#include "bcsp/settings_message.h"

namespace emulator {
namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(value));
  return text;
}

// The UART configuration is a set of bits; the others are plain numbers.
std::string SettingValue(std::uint16_t setting, std::uint32_t value) {
  return setting == bcsp::kSettingUartConfig ? Hex(value) : std::to_string(value);
}

std::string Line(const char* key, const std::string& value) {
  char label[24];
  std::snprintf(label, sizeof label, "%-16s", key);
  return std::string("  ") + label + value + "\n";
}

std::string Plural(unsigned count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string JoinCommand(const std::vector<std::string>& command) {
  std::string text;
  for (const std::string& word : command) {
    if (!text.empty()) text += ' ';
    text += word.empty() ? "''" : word;
  }
  return text;
}

std::string HeardLines(const AdapterFacts& adapter) {
  if (adapter.heard.empty()) return Line("adapter heard", "nothing");
  std::string text;
  const char* key = "adapter heard";
  for (const auto& [baud, bytes] : adapter.heard) {
    text += Line(key, "at " + std::to_string(baud) + " baud: \"" + EscapeBytes(bytes) + "\"");
    key = "";
  }
  return text;
}

std::string Milliseconds(double ms, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, ms);
  return text;
}

// Each discovery's verdict, then its line changes, one a line.
std::string PulseLines(const AdapterFacts& adapter) {
  std::string text = Line("modem lines", adapter.pulse_check == "timer"
                                             ? "not seen: the reply follows the timer"
                                             : "seen (" + adapter.pulse_check + ")");
  for (const PulseFacts& pulses : adapter.pulses) {
    text += Line("pulses", "open " + std::to_string(pulses.open) + ": " + pulses.verdict);
    for (const PulseFacts::Change& change : pulses.changes) {
      text += Line("", Milliseconds(change.ms, "%9.1f ms") + "  RTS " + (change.rts ? "high" : "low ") + ", DTR " +
                           (change.dtr ? "high" : "low") + (change.after_reply ? "  (after the reply)" : ""));
    }
  }
  return text;
}

std::string WritesText(const ModuleFacts& module) {
  if (module.writes.empty()) return "none";
  std::string text;
  for (const SettingWrite& w : module.writes) {
    if (!text.empty()) text += ", ";
    text += SettingName(w.setting) + " = " + SettingValue(w.setting, w.value) + " (status " +
            std::to_string(w.status) + ")";
  }
  return text;
}

std::string ValuesText(const ModuleFacts& module) {
  return "UART configuration " + SettingValue(bcsp::kSettingUartConfig, module.uart_config) + ", host interface " +
         SettingValue(bcsp::kSettingHostInterface, module.host_interface) + ", VM disable " +
         SettingValue(bcsp::kSettingVmDisable, module.vm_disable);
}

std::string JsonField(const char* key, const std::string& value, bool last = false) {
  return std::string("    \"") + key + "\": " + value + (last ? "\n" : ",\n");
}

std::string JsonField(const char* key, unsigned long long value, bool last = false) {
  return JsonField(key, std::to_string(value), last);
}

std::string JsonBool(bool value) { return value ? "true" : "false"; }

std::string JsonCommand(const std::vector<std::string>& command) {
  std::string text = "[";
  for (std::size_t i = 0; i < command.size(); ++i) {
    if (i > 0) text += ", ";
    text += JsonQuote(command[i]);
  }
  return text + "]";
}

std::string JsonHeard(const AdapterFacts& adapter) {
  std::string text = "[";
  bool first = true;
  for (const auto& [baud, bytes] : adapter.heard) {
    if (!first) text += ", ";
    first = false;
    text += "{\"baud\": " + std::to_string(baud) + ", \"hex\": " + JsonQuote(HexBytes(bytes)) +
            ", \"text\": " + JsonQuote(std::string(bytes.begin(), bytes.end())) + "}";
  }
  return text + "]";
}

std::string JsonPulses(const AdapterFacts& adapter) {
  std::string text = "[";
  for (std::size_t i = 0; i < adapter.pulses.size(); ++i) {
    const PulseFacts& pulses = adapter.pulses[i];
    if (i > 0) text += ", ";
    text += "{\"open\": " + std::to_string(pulses.open) + ", \"accepted\": " + JsonBool(pulses.accepted) +
            ", \"verdict\": " + JsonQuote(pulses.verdict) + ", \"changes\": [";
    for (std::size_t k = 0; k < pulses.changes.size(); ++k) {
      const PulseFacts::Change& change = pulses.changes[k];
      if (k > 0) text += ", ";
      text += "{\"ms\": " + Milliseconds(change.ms, "%.3f") + ", \"rts\": " + JsonBool(change.rts) +
              ", \"dtr\": " + JsonBool(change.dtr) + ", \"after_reply\": " + JsonBool(change.after_reply) + "}";
    }
    text += "]}";
  }
  return text + "]";
}

std::string JsonWrites(const ModuleFacts& module) {
  std::string text = "[";
  for (std::size_t i = 0; i < module.writes.size(); ++i) {
    const SettingWrite& w = module.writes[i];
    if (i > 0) text += ", ";
    text += "{\"tag\": " + std::to_string(w.tag) + ", \"setting\": " + std::to_string(w.setting) +
            ", \"value\": " + std::to_string(w.value) + ", \"status\": " + std::to_string(w.status) + "}";
  }
  return text + "]";
}

}  // namespace

std::string SettingName(std::uint16_t setting) {
  switch (setting) {
    case bcsp::kSettingUartConfig: return "UART configuration";
    case bcsp::kSettingHostInterface: return "host interface";
    case bcsp::kSettingVmDisable: return "VM disable";
    default: return "setting " + Hex(setting);
  }
}

std::string TextReport(const RunFacts& facts) {
  const PortFacts& port = facts.port;
  const AdapterFacts& adapter = facts.adapter;
  const ModuleFacts& module = facts.module;
  std::string text = "corvane-emulator report\n";
  if (!facts.command.empty()) text += Line("command", JoinCommand(facts.command));
  if (facts.command_exit) text += Line("command exit", std::to_string(*facts.command_exit));
  text += Line("port", port.path + (port.link.empty() ? "" : " (linked as " + port.link + ")"));
  text += Line("port use", "opened " + Plural(port.opens, "time", "times") + ", closed " +
                               Plural(port.closes, "time", "times") + ", " +
                               (port.open_at_end ? "open" : "closed") + " at the end");
  if (!port.vanished_at.empty()) text += Line("vanished", "at " + port.vanished_at + ": the master was closed");
  text += PulseLines(adapter);
  text += HeardLines(adapter);
  text += Line("garbage", Plural(adapter.garbage_bytes, "byte", "bytes") +
                              " heard at a rate the adapter was not listening at");
  text += Line("adapter sent", Plural(adapter.pnp_replies, "Plug-and-Play reply", "Plug-and-Play replies") +
                                   ", " + Plural(adapter.ready_replies, "ready reply", "ready replies") +
                                   " (" + Plural(adapter.setup_requests, "setup request", "setup requests") +
                                   " heard)");
  text += Line("hand-over", adapter.handovers > 0 ? "seen" : "not seen");
  text += Line("from the host", Plural(module.frames_from_host, "frame", "frames") + ": " +
                                    std::to_string(module.lost_from_host) + " lost, " +
                                    std::to_string(module.corrupted_from_host) + " corrupted, " +
                                    std::to_string(module.dropped_from_host) + " dropped; " +
                                    Plural(module.garbage_bytes, "garbage byte", "garbage bytes"));
  text += Line("to the host", Plural(module.frames_to_host, "frame", "frames") + ": " +
                                  std::to_string(module.lost_to_host) + " lost, " +
                                  std::to_string(module.corrupted_to_host) + " corrupted; " +
                                  Plural(module.resends, "resend", "resends") + ", " +
                                  std::to_string(module.abandoned) + " given up");
  text += Line("link starts", Plural(module.syncs, "SYNC", "SYNCs") + ", " + Plural(module.confs, "CONF", "CONFs"));
  text += Line("module writes", WritesText(module));
  text += Line("module holds", ValuesText(module));
  return text;
}

std::string JsonReport(const RunFacts& facts) {
  const PortFacts& port = facts.port;
  const AdapterFacts& adapter = facts.adapter;
  const ModuleFacts& module = facts.module;
  std::string text = "{\n";
  text += "  \"command\": " + JsonCommand(facts.command) + ",\n";
  text += "  \"command_exit\": " + (facts.command_exit ? std::to_string(*facts.command_exit) : "null") + ",\n";
  text += "  \"port\": {\n";
  text += JsonField("path", JsonQuote(port.path));
  text += JsonField("link", port.link.empty() ? "null" : JsonQuote(port.link));
  text += JsonField("opens", port.opens);
  text += JsonField("closes", port.closes);
  text += JsonField("open_at_end", JsonBool(port.open_at_end));
  text += JsonField("vanished_at", port.vanished_at.empty() ? "null" : JsonQuote(port.vanished_at), true);
  text += "  },\n  \"adapter\": {\n";
  text += JsonField("pulse_check", JsonQuote(adapter.pulse_check));
  text += JsonField("pulses", JsonPulses(adapter));
  text += JsonField("received", JsonHeard(adapter));
  text += JsonField("garbage_bytes", adapter.garbage_bytes);
  text += JsonField("pnp_replies", adapter.pnp_replies);
  text += JsonField("setup_requests", adapter.setup_requests);
  text += JsonField("ready_replies", adapter.ready_replies);
  text += JsonField("handovers", adapter.handovers);
  text += JsonField("handover", JsonBool(adapter.handovers > 0), true);
  text += "  },\n  \"module\": {\n";
  text += JsonField("frames_from_host", module.frames_from_host);
  text += JsonField("frames_to_host", module.frames_to_host);
  text += JsonField("lost_from_host", module.lost_from_host);
  text += JsonField("lost_to_host", module.lost_to_host);
  text += JsonField("corrupted_from_host", module.corrupted_from_host);
  text += JsonField("corrupted_to_host", module.corrupted_to_host);
  text += JsonField("dropped_from_host", module.dropped_from_host);
  text += JsonField("garbage_bytes", module.garbage_bytes);
  text += JsonField("bytes_from_host", module.bytes_from_host);
  text += JsonField("ack_frames_from_host", module.ack_frames_from_host);
  text += JsonField("ack_bytes_from_host", module.ack_bytes_from_host);
  text += JsonField("bytes_to_host", module.bytes_to_host);
  text += JsonField("syncs", module.syncs);
  text += JsonField("confs", module.confs);
  text += JsonField("resends", module.resends);
  text += JsonField("abandoned", module.abandoned);
  text += JsonField("writes", JsonWrites(module));
  text += JsonField("uart_config", module.uart_config);
  text += JsonField("host_interface", module.host_interface);
  text += JsonField("vm_disable", module.vm_disable, true);
  text += "  }\n}\n";
  return text;
}

}  // namespace emulator
