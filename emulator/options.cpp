#include "emulator/options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "bcsp/settings_message.h"

namespace emulator {
namespace {

using Apply = std::function<bool(Options&, const std::string& value, std::string* error)>;

struct OptionEntry {
  const char* name;      // without the leading dashes; nullptr: a heading
  const char* argument;  // nullptr: a flag
  const char* help;
  Apply apply;
};

// Decimal, or hex after 0x: a leading zero is no octal prefix here.
bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long* out, std::string* error) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) {
    *error = "\"" + text + "\" is not a number (decimal, or hex after 0x)";
    return false;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (errno != 0 || value > limit) {
    *error = "\"" + text + "\" is more than " + std::to_string(limit);
    return false;
  }
  *out = value;
  return true;
}

bool ParseProbability(const std::string& text, double* out, std::string* error) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
    *error = "\"" + text + "\" is not a probability from 0 to 1";
    return false;
  }
  *out = value;
  return true;
}

// The steps' own lines, under the option's.
const char* VanishHelp() {
  static const std::string text = "close the master at STEP, as an unplugged device vanishes; STEP is one of\n" +
                                  VanishStepHelp(std::string(34, ' '));
  return text.c_str();
}

// Two lines, the second under the help column: the steps are --vanish-at's,
// listed there.
const char* SignalHelp() {
  static const std::string text = "send the command SIGNAL (TERM, INT, HUP or KILL; default TERM) at STEP, one of\n" +
                                  std::string(30, ' ') + "--vanish-at's steps with its timing, and carry on";
  return text.c_str();
}

// The signals a person or a service manager ends a console program with, and
// the one that no program can catch.
bool ParseSignal(const std::string& text, int* number) {
  const std::string name = text.compare(0, 3, "SIG") == 0 ? text.substr(3) : text;
  if (name == "TERM")
    *number = SIGTERM;
  else if (name == "INT")
    *number = SIGINT;
  else if (name == "HUP")
    *number = SIGHUP;
  else if (name == "KILL")
    *number = SIGKILL;
  else
    return false;
  return true;
}

Apply Text(Bytes AdapterOptions::*field) {
  return [field](Options& o, const std::string& v, std::string* e) { return UnescapeText(v, &(o.adapter.*field), e); };
}

Apply Value(std::uint32_t ModuleOptions::*field) {
  return [field](Options& o, const std::string& v, std::string* e) {
    unsigned long long n = 0;
    if (!ParseNumber(v, 0xFFFFFFFFull, &n, e)) return false;
    o.module.*field = static_cast<std::uint32_t>(n);
    return true;
  };
}

Apply FrameCount(DirectionFaults ModuleOptions::*direction, FrameFaultRule DirectionFaults::*rule, bool every) {
  return [=](Options& o, const std::string& v, std::string* e) {
    unsigned long long n = 0;
    if (!ParseNumber(v, 0xFFFFFFFFull, &n, e)) return false;
    if (n == 0) {
      *e = "frames are counted from 1";
      return false;
    }
    FrameFaultRule& target = (o.module.*direction).*rule;
    if (every) {
      target.every = static_cast<unsigned>(n);
    } else {
      target.nth.insert(static_cast<unsigned>(n));
    }
    return true;
  };
}

Apply Flag(std::function<void(Options&)> set) {
  return [set](Options& o, const std::string&, std::string*) {
    set(o);
    return true;
  };
}

const std::vector<OptionEntry>& OptionTable() {
  using M = ModuleOptions;
  using D = DirectionFaults;
  static const std::vector<OptionEntry> table = {
      {nullptr, nullptr, "Running", nullptr},
      {"link", "PATH", "make PATH a link to the port and serve until SIGINT or SIGTERM",
       [](Options& o, const std::string& v, std::string*) {
         o.mode = RunMode::kLink;
         o.link_path = v;
         return true;
       }},
      {"json", "FILE", "also write the report as JSON to FILE",
       [](Options& o, const std::string& v, std::string*) {
         o.json_path = v;
         return true;
       }},
      {"quiet", nullptr, "print no report on standard output", Flag([](Options& o) { o.quiet = true; })},
      {"verbose", nullptr, "print the dialogue on standard error as it goes",
       Flag([](Options& o) { o.verbose = true; })},
      {"busy", nullptr, "hold the port open and locked, so that no one else can open it",
       Flag([](Options& o) { o.busy = true; })},
      {"vanish-at", "STEP", VanishHelp(),
       [](Options& o, const std::string& v, std::string* e) {
         if (ParseVanishStep(v, &o.vanish)) return true;
         *e = "no step \"" + v + "\" (--help lists them)";
         return false;
       }},
      {"signal-at", "STEP[:SIGNAL]", SignalHelp(),
       [](Options& o, const std::string& v, std::string* e) {
         const std::size_t colon = v.find(':');
         const std::string step = v.substr(0, colon);
         if (!ParseVanishStep(step, &o.signal_at)) {
           *e = "no step \"" + step + "\" (--help lists them)";
           return false;
         }
         o.signal_number = SIGTERM;
         if (colon != std::string::npos && !ParseSignal(v.substr(colon + 1), &o.signal_number)) {
           *e = "no signal \"" + v.substr(colon + 1) + "\" (TERM, INT, HUP or KILL)";
           return false;
         }
         return true;
       }},
      {"help", nullptr, "print this list and exit (also -h)", nullptr},
      {"version", nullptr, "print the emulator's version and exit", nullptr},
      {nullptr, nullptr, "Modem lines (a pseudo-terminal has none: a library preloaded into COMMAND emulates them)",
       nullptr},
      {"no-modem-lines", nullptr, "do not preload it; answer on the timer (--reply-delay), whatever the pulses",
       Flag([](Options& o) { o.no_modem_lines = true; })},
      {"modem-lines", nullptr,
       "with --link: watch the lines too, and print the LD_PRELOAD and CORVANE_MODEM_LINES for the programs",
       Flag([](Options& o) { o.modem_lines = true; })},
      {"any-pulses", nullptr, "report and judge the pulses, but answer on the timer whatever they were",
       Flag([](Options& o) { o.any_pulses = true; })},
      {"modem-lines-library", "PATH", "the library to preload (default: preload/ beside the emulator)",
       [](Options& o, const std::string& v, std::string*) {
         o.modem_lines_library = v;
         return true;
       }},
      {nullptr, nullptr, "Adapter", nullptr},
      {"no-reply", nullptr, "never answer the Plug-and-Play pulses", Flag([](Options& o) { o.adapter.reply = false; })},
      {"reply-delay", "MS", "answer MS ms after the line reaches 1200 baud (default 650)",
       [](Options& o, const std::string& v, std::string* e) {
         unsigned long long n = 0;
         if (!ParseNumber(v, 60000, &n, e)) return false;
         o.adapter.reply_delay_ms = static_cast<unsigned>(n);
         return true;
       }},
      {"first-byte", "BYTE", "send BYTE in place of the opening parenthesis",
       [](Options& o, const std::string& v, std::string* e) {
         Bytes b;
         if (!UnescapeText(v, &b, e)) return false;
         if (b.size() != 1) {
           *e = "--first-byte takes exactly one byte";
           return false;
         }
         o.adapter.first_byte = b[0];
         return true;
       }},
      {"revision", "TEXT", "the revision bytes after the parenthesis (default \"10\")",
       Text(&AdapterOptions::revision)},
      {"id", "TEXT", "the ID characters (default KVT3052); escapes \\xNN \\0 \\\\ allowed", Text(&AdapterOptions::id)},
      {"after", "TEXT", "send TEXT right after the closing parenthesis", Text(&AdapterOptions::after)},
      {"no-close", "silent|endless|trickle",
       "no closing parenthesis: fall silent after the ID, repeat the ID forever, or trickle it (--trickle-ms)",
       [](Options& o, const std::string& v, std::string* e) {
         if (v == "silent") {
           o.adapter.ending = ReplyEnding::kSilent;
         } else if (v == "endless") {
           o.adapter.ending = ReplyEnding::kEndless;
         } else if (v == "trickle") {
           o.adapter.ending = ReplyEnding::kTrickle;
         } else {
           *e = "--no-close takes silent, endless or trickle";
           return false;
         }
         return true;
       }},
      {"trickle-ms", "MS",
       "with --no-close trickle: one ID character every MS ms after the reply, from the first (default 1400)",
       [](Options& o, const std::string& v, std::string* e) {
         unsigned long long n = 0;
         if (!ParseNumber(v, 60000, &n, e)) return false;
         if (n == 0) {
           *e = "a trickle needs at least 1 ms between bytes";
           return false;
         }
         o.adapter.trickle_ms = static_cast<unsigned>(n);
         return true;
       }},
      {"ready", "TEXT", "send TEXT as the ready reply (default KESTRAVIN READY); escapes as in --id",
       Text(&AdapterOptions::ready)},
      {"ready-wrong-at", "N", "send '?' in place of byte N (1-15) of the ready reply",
       [](Options& o, const std::string& v, std::string* e) {
         unsigned long long n = 0;
         if (!ParseNumber(v, 15, &n, e)) return false;
         if (n == 0) {
           *e = "the ready reply's bytes are counted from 1";
           return false;
         }
         o.adapter.ready_wrong_at = static_cast<unsigned>(n);
         return true;
       }},
      {"ready-silent", nullptr, "never answer the setup request",
       Flag([](Options& o) { o.adapter.ready_silent = true; })},
      {"no-handover", nullptr, "ignore the hand-over command: the module never hears the host",
       Flag([](Options& o) { o.adapter.handover = false; })},
      {nullptr, nullptr, "Module settings", nullptr},
      {"uart-config", "VALUE", "UART configuration at start (default 0xA0)", Value(&M::uart_config)},
      {"host-interface", "VALUE", "host interface at start (default 1)", Value(&M::host_interface)},
      {"vm-disable", "VALUE", "VM disable at start (default 1)", Value(&M::vm_disable)},
      {"refuse", "SETTING", "answer writes of SETTING (uart-config, host-interface, vm-disable) with status 2",
       [](Options& o, const std::string& v, std::string* e) {
         if (v == "uart-config") {
           o.module.refused.insert(bcsp::kSettingUartConfig);
         } else if (v == "host-interface") {
           o.module.refused.insert(bcsp::kSettingHostInterface);
         } else if (v == "vm-disable") {
           o.module.refused.insert(bcsp::kSettingVmDisable);
         } else {
           *e = "--refuse takes uart-config, host-interface or vm-disable";
           return false;
         }
         return true;
       }},
      {nullptr, nullptr, "Module link (frames counted from 1 in each direction; repeatable)", nullptr},
      {"lose-from-host", "N", "lose the Nth frame from the host", FrameCount(&M::from_host, &D::lose, false)},
      {"lose-from-host-every", "N", "lose every Nth frame from the host", FrameCount(&M::from_host, &D::lose, true)},
      {"lose-to-host", "N", "lose the Nth frame to the host", FrameCount(&M::to_host, &D::lose, false)},
      {"lose-to-host-every", "N", "lose every Nth frame to the host", FrameCount(&M::to_host, &D::lose, true)},
      {"corrupt-from-host", "N", "corrupt the Nth frame from the host", FrameCount(&M::from_host, &D::corrupt, false)},
      {"corrupt-from-host-every", "N", "corrupt every Nth frame from the host",
       FrameCount(&M::from_host, &D::corrupt, true)},
      {"corrupt-to-host", "N", "corrupt the Nth frame to the host", FrameCount(&M::to_host, &D::corrupt, false)},
      {"corrupt-to-host-every", "N", "corrupt every Nth frame to the host", FrameCount(&M::to_host, &D::corrupt, true)},
      {"loss", "P", "lose each frame, in either direction, with probability P (0 to 1)",
       [](Options& o, const std::string& v, std::string* e) {
         return ParseProbability(v, &o.module.loss.probability, e);
       }},
      {"seed", "N", "seed of the --loss draws (default 1): the same seed loses the same frames",
       [](Options& o, const std::string& v, std::string* e) {
         unsigned long long n = 0;
         if (!ParseNumber(v, 0xFFFFFFFFull, &n, e)) return false;
         o.module.loss.seed = static_cast<std::uint32_t>(n);
         return true;
       }},
  };
  return table;
}

const OptionEntry* FindOption(const std::string& name) {
  for (const OptionEntry& entry : OptionTable()) {
    if (entry.name != nullptr && name == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  int i = 1;
  bool saw_separator = false;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      saw_separator = true;
      ++i;
      break;
    }
    if (arg == "-h") return ParseResult::kHelp;
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      *error = "unexpected argument \"" + arg + "\" (the command follows --)";
      return ParseResult::kError;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_value = false;
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      has_value = true;
    }
    const OptionEntry* entry = FindOption(name);
    if (entry == nullptr) {
      *error = "unknown option --" + name;
      return ParseResult::kError;
    }
    if (name == "help") return ParseResult::kHelp;
    if (name == "version") return ParseResult::kVersion;
    if (entry->argument != nullptr && !has_value) {
      if (i + 1 >= argc) {
        *error = "--" + name + " needs " + entry->argument;
        return ParseResult::kError;
      }
      value = argv[++i];
    } else if (entry->argument == nullptr && has_value) {
      *error = "--" + name + " takes no value";
      return ParseResult::kError;
    }
    std::string why;
    if (!entry->apply(*options, value, &why)) {
      *error = "--" + name + ": " + why;
      return ParseResult::kError;
    }
  }
  for (; i < argc; ++i) options->command.push_back(argv[i]);

  if (options->mode == RunMode::kLink) {
    if (saw_separator || !options->command.empty()) {
      *error = "--link serves the port to others; it runs no command";
      return ParseResult::kError;
    }
  } else if (options->command.empty()) {
    *error = "give a command after --, or --link PATH";
    return ParseResult::kError;
  }
  if (options->mode == RunMode::kLink && options->signal_at != VanishStep::kNever) {
    *error = "--signal-at signals the command; --link runs none";
    return ParseResult::kError;
  }
  if (options->no_modem_lines && (options->modem_lines || options->any_pulses)) {
    *error = "--no-modem-lines leaves no lines for --modem-lines or --any-pulses";
    return ParseResult::kError;
  }
  const bool lines = !options->no_modem_lines && (options->mode == RunMode::kCommand || options->modem_lines);
  if (options->any_pulses && !lines) {
    *error = "--any-pulses with --link needs --modem-lines";
    return ParseResult::kError;
  }
  options->adapter.pulse_check = !lines                ? PulseCheck::kTimer
                                 : options->any_pulses ? PulseCheck::kAnyPulses
                                                       : PulseCheck::kJudged;
  return ParseResult::kRun;
}

std::string HelpText(const std::string& program) {
  std::string text = "Usage: " + program + " [options] -- COMMAND [ARG...]\n" + "       " + program +
                     " [options] --link PATH\n" +
                     "Plays a Corvane adapter and its radio module on a pseudo-terminal; COMMAND\n"
                     "runs with COM1 set to the port. Options:\n";
  for (const OptionEntry& entry : OptionTable()) {
    if (entry.name == nullptr) {
      text += std::string("\n") + entry.help + ":\n";
      continue;
    }
    std::string left = std::string("  --") + entry.name;
    if (entry.argument != nullptr) left += std::string(" ") + entry.argument;
    if (left.size() < 30)
      left.resize(30, ' ');
    else
      left += "  ";
    text += left + entry.help + "\n";
  }
  return text;
}

}  // namespace emulator
