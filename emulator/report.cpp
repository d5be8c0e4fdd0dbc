#include "emulator/report.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "bcsp/settings_message.h"

namespace emulator {
namespace {

// Keys in the order they are set, so the report reads like the text one.
using Json = nlohmann::ordered_json;

Bytes Kept(const Recent<std::uint8_t>& bytes) { return Bytes(bytes.begin(), bytes.end()); }

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
    std::string earlier;
    if (bytes.forgotten() > 0) {
      earlier = " (the last " + std::to_string(bytes.size()) + " of " + std::to_string(bytes.total()) + ")";
    }
    text += Line(key, "at " + std::to_string(baud) + " baud" + earlier + ": \"" + EscapeBytes(Kept(bytes)) + "\"");
    key = "";
  }
  return text;
}

std::string Milliseconds(double ms, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, ms);
  return text;
}

std::string Levels(bool rts, bool dtr) {
  return std::string("RTS ") + (rts ? "high" : "low ") + ", DTR " + (dtr ? "high" : "low ");
}

std::string BaudText(unsigned baud) { return baud == 0 ? "rate unknown" : std::to_string(baud) + " baud"; }

// Each open's verdict, then the lines at the open, each change and the end,
// one a line.
std::string LineTraceLines(const LineTraces& traces) {
  if (!traces.watched) return Line("line traces", "none: the modem lines are not reported");
  std::string text;
  if (traces.opens.forgotten() > 0) {
    text +=
        Line("line traces",
             Plural(static_cast<unsigned>(traces.opens.forgotten()), "earlier open", "earlier opens") + " not kept");
  }
  if (traces.opens.empty()) text += Line("line traces", "none: the port was not opened");
  for (const LineTraceFacts& trace : traces.opens) {
    text += Line("line trace", trace.verdict);
    text += Line(
        "", "  at the open  " + Levels(trace.rts_at_open, trace.dtr_at_open) + "  " + BaudText(trace.baud_at_open));
    for (const LineTraceFacts::Step& step : trace.steps) {
      text +=
          Line("", Milliseconds(step.ms, "%9.1f ms") + "  " + Levels(step.rts, step.dtr) + "  " + BaudText(step.baud));
    }
    if (trace.end != "open") text += Line("", Milliseconds(trace.ended_ms, "%9.1f ms") + "  " + trace.end);
  }
  return text;
}

// Each discovery's verdict, then its line changes, one a line.
std::string PulseLines(const AdapterFacts& adapter) {
  std::string text = Line("modem lines", adapter.pulse_check == "timer" ? "not seen: the reply follows the timer"
                                                                        : "seen (" + adapter.pulse_check + ")");
  if (adapter.pulses.forgotten() > 0) {
    text += Line("pulses",
                 Plural(static_cast<unsigned>(adapter.pulses.forgotten()), "earlier discovery", "earlier discoveries") +
                     " not kept");
  }
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
  if (module.writes.forgotten() > 0) {
    text = Plural(static_cast<unsigned>(module.writes.forgotten()), "earlier write", "earlier writes") + " not kept";
  }
  for (const SettingWrite& w : module.writes) {
    if (!text.empty()) text += ", ";
    text += SettingName(w.setting) + " = " + SettingValue(w.setting, w.value) + " (status " + std::to_string(w.status) +
            ")";
  }
  return text;
}

std::string ValuesText(const ModuleFacts& module) {
  return "UART configuration " + SettingValue(bcsp::kSettingUartConfig, module.uart_config) + ", host interface " +
         SettingValue(bcsp::kSettingHostInterface, module.host_interface) + ", VM disable " +
         SettingValue(bcsp::kSettingVmDisable, module.vm_disable);
}

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json PortJson(const PortFacts& port) {
  Json json = Json::object();
  json["path"] = port.path;
  json["link"] = OrNull(port.link);
  json["opens"] = port.opens;
  json["closes"] = port.closes;
  json["open_at_end"] = port.open_at_end;
  json["vanished_at"] = OrNull(port.vanished_at);
  json["exclusive_at_end"] = port.exclusive_at_end ? Json(*port.exclusive_at_end) : Json(nullptr);
  return json;
}

Json LineTraceJson(const LineTraceFacts& trace) {
  Json steps = Json::array();
  for (const LineTraceFacts::Step& step : trace.steps) {
    Json json = Json::object();
    json["ms"] = std::round(step.ms * 1000) / 1000;  // to the microsecond, as measured
    json["rts"] = step.rts;
    json["dtr"] = step.dtr;
    json["baud"] = step.baud;
    steps.push_back(std::move(json));
  }
  Json at_open = Json::object();
  at_open["rts"] = trace.rts_at_open;
  at_open["dtr"] = trace.dtr_at_open;
  at_open["baud"] = trace.baud_at_open;
  Json json = Json::object();
  json["open"] = trace.open;
  json["road"] = trace.road;
  json["at_open"] = std::move(at_open);
  json["steps"] = std::move(steps);
  json["end"] = trace.end;
  json["ended_ms"] = trace.end == "open" ? Json(nullptr) : Json(std::round(trace.ended_ms * 1000) / 1000);
  json["outcome"] = trace.outcome;
  json["departs_at"] = trace.departs_at ? Json(*trace.departs_at) : Json(nullptr);
  json["verdict"] = trace.verdict;
  return json;
}

Json LineTracesJson(const LineTraces& traces) {
  Json opens = Json::array();
  for (const LineTraceFacts& trace : traces.opens) opens.push_back(LineTraceJson(trace));
  Json json = Json::object();
  json["watched"] = traces.watched;
  json["opens"] = std::move(opens);
  json["forgotten"] = traces.opens.forgotten();
  return json;
}

std::string ExclusiveText(const std::optional<bool>& exclusive) {
  if (!exclusive) return "unknown at the end (the line had vanished)";
  return *exclusive ? "still set at the end: only root can open the port" : "cleared at the end";
}

Json PulsesJson(const PulseFacts& pulses) {
  Json changes = Json::array();
  for (const PulseFacts::Change& change : pulses.changes) {
    Json json = Json::object();
    json["ms"] = std::round(change.ms * 1000) / 1000;  // to the microsecond, as measured
    json["rts"] = change.rts;
    json["dtr"] = change.dtr;
    json["after_reply"] = change.after_reply;
    changes.push_back(std::move(json));
  }
  Json json = Json::object();
  json["open"] = pulses.open;
  json["accepted"] = pulses.accepted;
  json["verdict"] = pulses.verdict;
  json["changes"] = std::move(changes);
  return json;
}

// Line bytes are any bytes, which no JSON text can carry as they are: hex.
Json HeardJson(unsigned baud, const Recent<std::uint8_t>& bytes) {
  Json json = Json::object();
  json["baud"] = baud;
  json["hex"] = HexBytes(Kept(bytes));
  json["bytes"] = bytes.total();
  return json;
}

Json AdapterJson(const AdapterFacts& adapter) {
  Json pulses = Json::array();
  for (const PulseFacts& discovery : adapter.pulses) pulses.push_back(PulsesJson(discovery));
  Json received = Json::array();
  for (const auto& [baud, bytes] : adapter.heard) received.push_back(HeardJson(baud, bytes));
  Json json = Json::object();
  json["pulse_check"] = adapter.pulse_check;
  json["pulses"] = std::move(pulses);
  json["pulses_forgotten"] = adapter.pulses.forgotten();
  json["received"] = std::move(received);
  json["garbage_bytes"] = adapter.garbage_bytes;
  json["pnp_replies"] = adapter.pnp_replies;
  json["setup_requests"] = adapter.setup_requests;
  json["ready_replies"] = adapter.ready_replies;
  json["handovers"] = adapter.handovers;
  json["handover"] = adapter.handovers > 0;
  return json;
}

Json ModuleJson(const ModuleFacts& module) {
  Json writes = Json::array();
  for (const SettingWrite& w : module.writes) {
    Json json = Json::object();
    json["tag"] = w.tag;
    json["setting"] = w.setting;
    json["value"] = w.value;
    json["status"] = w.status;
    writes.push_back(std::move(json));
  }
  Json json = Json::object();
  json["frames_from_host"] = module.frames_from_host;
  json["frames_to_host"] = module.frames_to_host;
  json["lost_from_host"] = module.lost_from_host;
  json["lost_to_host"] = module.lost_to_host;
  json["corrupted_from_host"] = module.corrupted_from_host;
  json["corrupted_to_host"] = module.corrupted_to_host;
  json["dropped_from_host"] = module.dropped_from_host;
  json["garbage_bytes"] = module.garbage_bytes;
  json["bytes_from_host"] = module.bytes_from_host;
  json["ack_frames_from_host"] = module.ack_frames_from_host;
  json["ack_bytes_from_host"] = module.ack_bytes_from_host;
  json["bytes_to_host"] = module.bytes_to_host;
  json["syncs"] = module.syncs;
  json["confs"] = module.confs;
  json["resends"] = module.resends;
  json["abandoned"] = module.abandoned;
  json["writes"] = std::move(writes);
  json["writes_forgotten"] = module.writes.forgotten();
  json["uart_config"] = module.uart_config;
  json["host_interface"] = module.host_interface;
  json["vm_disable"] = module.vm_disable;
  return json;
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
  if (facts.command_signal) {
    text += Line("command signal", facts.command_signal->signal + " at " + facts.command_signal->step);
  }
  if (facts.command_exit) text += Line("command exit", std::to_string(*facts.command_exit));
  text += Line("port", port.path + (port.link.empty() ? "" : " (linked as " + port.link + ")"));
  text += Line("port use", "opened " + Plural(port.opens, "time", "times") + ", closed " +
                               Plural(port.closes, "time", "times") + ", " + (port.open_at_end ? "open" : "closed") +
                               " at the end");
  if (!port.vanished_at.empty()) text += Line("vanished", "at " + port.vanished_at + ": the master was closed");
  text += Line("exclusive flag", ExclusiveText(port.exclusive_at_end));
  text += LineTraceLines(facts.line_traces);
  text += PulseLines(adapter);
  text += HeardLines(adapter);
  text += Line("garbage",
               Plural(adapter.garbage_bytes, "byte", "bytes") + " heard at a rate the adapter was not listening at");
  text += Line("adapter sent", Plural(adapter.pnp_replies, "Plug-and-Play reply", "Plug-and-Play replies") + ", " +
                                   Plural(adapter.ready_replies, "ready reply", "ready replies") + " (" +
                                   Plural(adapter.setup_requests, "setup request", "setup requests") + " heard)");
  text += Line("hand-over", adapter.handovers > 0 ? "seen" : "not seen");
  text += Line("from the host", Plural(module.frames_from_host, "frame", "frames") + ": " +
                                    std::to_string(module.lost_from_host) + " lost, " +
                                    std::to_string(module.corrupted_from_host) + " corrupted, " +
                                    std::to_string(module.dropped_from_host) + " dropped; " +
                                    Plural(module.garbage_bytes, "garbage byte", "garbage bytes"));
  text += Line("to the host",
               Plural(module.frames_to_host, "frame", "frames") + ": " + std::to_string(module.lost_to_host) +
                   " lost, " + std::to_string(module.corrupted_to_host) + " corrupted; " +
                   Plural(module.resends, "resend", "resends") + ", " + std::to_string(module.abandoned) + " given up");
  text += Line("link starts", Plural(module.syncs, "SYNC", "SYNCs") + ", " + Plural(module.confs, "CONF", "CONFs"));
  text += Line("module writes", WritesText(module));
  text += Line("module holds", ValuesText(module));
  return text;
}

std::string JsonReport(const RunFacts& facts) {
  Json report = Json::object();
  report["command"] = facts.command;
  report["command_exit"] = facts.command_exit ? Json(*facts.command_exit) : Json(nullptr);
  Json signal = nullptr;
  if (facts.command_signal) {
    signal = Json::object();
    signal["step"] = facts.command_signal->step;
    signal["signal"] = facts.command_signal->signal;
  }
  report["command_signal"] = std::move(signal);
  report["port"] = PortJson(facts.port);
  report["line_traces"] = LineTracesJson(facts.line_traces);
  report["adapter"] = AdapterJson(facts.adapter);
  report["module"] = ModuleJson(facts.module);
  // Words and paths come from the command line and the file system, in no
  // promised encoding: what is not UTF-8 is replaced, so the report always is.
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace emulator
