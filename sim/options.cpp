#include "options.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <set>

namespace rqsim {

namespace {

constexpr int kMaxUnits = 32;

bool parseLong(const std::string& text, long& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseRate(const std::string& text, double& out) {
  try {
    size_t used = 0;
    out = std::stod(text, &used);
    return used == text.size() && out >= 0.0 && out <= 1.0;
  } catch (...) {
    return false;
  }
}

// "3,7:2,9:all"
bool parseCountList(const std::string& text, CountList& out) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t colon = item.find(':');
    long number = 0;
    long times = 1;
    if (!parseLong(item.substr(0, colon), number) || number < 1) return false;
    if (colon != std::string::npos) {
      std::string count = item.substr(colon + 1);
      if (count == "all") {
        times = CountList::kAlways;
      } else if (!parseLong(count, times) || times < 1) {
        return false;
      }
    }
    out.add(number, static_cast<int>(times));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// "22" or "2241" or "none"
bool parseHexBytes(const std::string& text, std::string& out) {
  out.clear();
  if (text == "none") return true;
  if (text.empty() || text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    long value = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return false;
    out.push_back(static_cast<char>(value));
  }
  return true;
}

using Taker = std::function<bool(const std::string&)>;

// Every option, bound to the fields of one Options. Flags set a field to a fixed value, so that
// options aimed at one unit can be applied on top of those for all without undoing them.
struct OptionTable {
  std::map<std::string, std::pair<Taker, const char*>> valued;
  std::map<std::string, std::pair<bool*, bool>> flags;
};

using Valued = std::map<std::string, std::pair<Taker, const char*>>;

Taker nonNegative(long& target) {
  return [&target](const std::string& v) { return parseLong(v, target) && target >= 0; };
}
Taker positiveInt(int& target) {
  return [&target](const std::string& v) {
    long n = 0;
    if (!parseLong(v, n) || n < 1 || n > 1000000) return false;
    target = static_cast<int>(n);
    return true;
  };
}
Taker text(std::string& target) {
  return [&target](const std::string& v) {
    target = v;
    return !v.empty();
  };
}
Taker countList(CountList& target) {
  return [&target](const std::string& v) { return parseCountList(v, target); };
}

// Where it serves, how fast the unit is and how the run ends.
Valued serviceOptions(Options& o) {
  return {
      {"--device", {text(o.device), "a device path such as /dev/ttyUSB1"}},
      {"--link", {text(o.link), "a path for the link"}},
      {"--count",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || n < 1 || n > kMaxUnits) return false;
          o.count = static_cast<int>(n);
          return true;
        },
        "a number of units from 1 to 32"}},
      {"--loader-baud",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || (n != 38400 && n != 57600)) return false;
          o.loaderBaud = static_cast<int>(n);
          o.loaderBaudGiven = true;
          return true;
        },
        "38400 or 57600"}},
      {"--remote-baud",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || (n != 9600 && n != 19200 && n != 38400 && n != 57600))
            return false;
          o.remoteBaud = static_cast<int>(n);
          return true;
        },
        "9600, 19200, 38400 or 57600"}},
      {"--fail-in",
       {[&o](const std::string& v) {
          if (v == "erase") return o.loader.failInsteadOfEraseComplete = true;
          if (v == "thank-you") return o.loader.failInsteadOfThankYou = true;
          return false;
        },
        "erase or thank-you"}},
      {"--flash", {text(o.flashFile), "a file name"}},
      {"--power-on-after-ms", {nonNegative(o.powerOnAfterMs), "milliseconds (0 or more)"}},
      {"--erase-ms", {nonNegative(o.eraseMs), "milliseconds (0 or more)"}},
      {"--reboot-ms", {nonNegative(o.rebootMs), "milliseconds (0 or more)"}},
      {"--program-ms", {nonNegative(o.programMs), "milliseconds (0 or more)"}},
      {"--latency-ms",
       {[&o](const std::string& v) {
          return parseLong(v, o.latencyMs) && o.latencyMs >= 1 && o.latencyMs <= 255;
        },
        "milliseconds from 1 to 255"}},
      {"--byte-timeout-ms",
       {[&o](const std::string& v) { return parseLong(v, o.byteTimeoutMs) && o.byteTimeoutMs > 0; },
        "milliseconds (more than 0)"}},
      {"--address",
       {[&o](const std::string& v) {
          o.address = v;
          return v.size() == 4;
        },
        "four characters, such as 0000"}},
      {"--swr-version", {text(o.swrVersion), "a version text such as 1.01"}},
      {"--dump", {text(o.dumpFile), "a file name"}},
      {"--transcript", {text(o.transcriptFile), "a file name"}},
      {"--idle-exit-ms",
       {[&o](const std::string& v) { return parseLong(v, o.idleExitMs) && o.idleExitMs > 0; },
        "milliseconds (more than 0)"}},
      {"--exit-after-ms",
       {[&o](const std::string& v) { return parseLong(v, o.exitAfterMs) && o.exitAfterMs > 0; },
        "milliseconds (more than 0)"}},
  };
}

// The faults, and what they draw on.
Valued faultOptions(Options& o) {
  return {
      {"--seed",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || n < 0) return false;
          o.seed = static_cast<uint32_t>(n);
          return true;
        },
        "a whole number"}},
      {"--power-noise",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || n < 0 || n > 4096) return false;
          o.powerNoiseBytes = static_cast<int>(n);
          return true;
        },
        "a number of bytes from 0 to 4096"}},
      {"--ready-after-u", {positiveInt(o.loader.readyAfterU), "a number from 1"}},
      {"--resend-records", {countList(o.loader.resendRecords), "a list such as 3,7:2,9:all"}},
      {"--unknown-line-records",
       {countList(o.loader.unknownLineRecords), "a list such as 3,7:2,9:all"}},
      {"--twice-records", {countList(o.loader.twiceRecords), "a list such as 3,7:2,9:all"}},
      {"--silent-after-records",
       {nonNegative(o.loader.silentAfterRecords), "a number of records (0 or more)"}},
      {"--silence-ms", {nonNegative(o.loader.silenceMs), "milliseconds (0 or more)"}},
      {"--fail-at-record",
       {[&o](const std::string& v) {
          return parseLong(v, o.loader.failAtRecord) && o.loader.failAtRecord >= 1;
        },
        "a record number from 1"}},
      {"--erase-errors",
       {[&o](const std::string& v) {
          long n = 0;
          if (!parseLong(v, n) || n < 0 || n > 1000) return false;
          o.loader.eraseErrors = static_cast<int>(n);
          return true;
        },
        "a number from 0 to 1000"}},
      {"--corrupt-records",
       {[&o](const std::string& v) { return parseRate(v, o.loader.corruptRecordRate); },
        "a share from 0 to 1, such as 0.05"}},
  };
}

// The faults of the remote control and of the bootstrap.
Valued remoteAndBootOptions(Options& o) {
  return {
      {"--swr-after", {positiveInt(o.remote.swrAfter), "a number from 1"}},
      {"--fcs-wrong",
       {[&o](const std::string& v) {
          if (v != "boot" && v != "main" && v != "fpga") return false;
          o.remote.fcsWrong.insert(v);
          return true;
        },
        "boot, main or fpga"}},
      {"--id-byte",
       {[&o](const std::string& v) {
          std::string bytes;
          if (!parseHexBytes(v, bytes) || bytes.size() > 1) return false;
          o.boot.idByte =
              bytes.empty() ? std::nullopt : std::optional<uint8_t>(static_cast<uint8_t>(bytes[0]));
          return true;
        },
        "one byte in hex, such as D5, or none"}},
      {"--loader1-reply",
       {[&o](const std::string& v) { return parseHexBytes(v, o.boot.loader1Reply); },
        "bytes in hex, such as 22, or none"}},
      {"--loader2-reply",
       {[&o](const std::string& v) { return parseHexBytes(v, o.boot.loader2Reply); },
        "bytes in hex, such as 55, or none"}},
      {"--bad-check-lines", {countList(o.boot.badCheckLines), "a list such as 3,7:2,9:all"}},
      {"--corrupt-lines",
       {[&o](const std::string& v) { return parseRate(v, o.boot.corruptLineRate); },
        "a share from 0 to 1, such as 0.05"}},
  };
}

OptionTable tableFor(Options& o) {
  OptionTable t;
  t.valued = serviceOptions(o);
  t.valued.merge(faultOptions(o));
  t.valued.merge(remoteAndBootOptions(o));
  t.flags = {
      {"--help", {&o.help, true}},
      {"-h", {&o.help, true}},
      {"--version", {&o.version, true}},
      {"--bootstrap", {&o.bootstrap, true}},
      {"--running", {&o.running, true}},
      {"--verbose", {&o.verbose, true}},
      {"--once", {&o.once, true}},
      {"--never-ready", {&o.loader.neverReady, true}},
      {"--short-answers", {&o.loader.shortAnswers, true}},
      {"--erase-timeout", {&o.loader.eraseTimeout, true}},
      {"--no-thank-you", {&o.loader.noThankYou, true}},
      {"--fcs-lowercase", {&o.remote.fcsLowerCase, true}},
      {"--no-speed-check", {&o.speedCheck, false}},
      {"--no-auto-power-cycle", {&o.autoPowerCycle, false}},
      {"--line-time", {&o.lineTime, true}},
      {"--no-line-time", {&o.lineTime, false}},
  };
  return t;
}

// Where and how the simulator serves as a whole; everything else may be aimed at one unit.
const std::set<std::string> kForAllUnits = {
    "--help", "-h",           "--device",  "--link",      "--count",        "--loader-baud",
    "--dump", "--transcript", "--verbose", "--line-time", "--no-line-time",
};

// "--name value" or "--name=value"
struct Split {
  std::string name;
  std::string value;
  bool inlineValue = false;
};

Split split(const std::string& arg) {
  if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos)
    return {arg.substr(0, eq), arg.substr(eq + 1), true};
  return {arg, {}, false};
}

// Applies the options in args to o; returns what is wrong with them, or an empty text.
std::string applyOptions(Options& o, const std::vector<std::string>& args) {
  OptionTable table = tableFor(o);
  for (size_t i = 0; i < args.size(); ++i) {
    Split a = split(args[i]);
    if (auto f = table.flags.find(a.name); f != table.flags.end() && !a.inlineValue) {
      *f->second.first = f->second.second;
      continue;
    }
    auto v = table.valued.find(a.name);
    if (v == table.valued.end()) return "unknown option '" + args[i] + "' (see rq410-sim --help)";
    if (!a.inlineValue) {
      if (i + 1 >= args.size()) return a.name + " needs a value: " + v->second.second;
      a.value = args[++i];
    }
    if (!v->second.first(a.value))
      return a.name + " '" + a.value + "' is not usable; give " + v->second.second;
  }
  return {};
}

std::string contradictions(const Options& o) {
  if (o.running && o.bootstrap)
    return "--running and --bootstrap exclude each other: a unit in bootstrap runs no firmware";
  return {};
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
  // Options after "--unit K" are for unit K alone; the rest are for every unit.
  std::vector<std::string> forAll;
  std::map<long, std::vector<std::string>> forUnit;
  Options scratch;
  const OptionTable names = tableFor(scratch);
  for (size_t i = 0; i < args.size(); ++i) {
    Split u = split(args[i]);
    if (u.name != "--unit") {
      forAll.push_back(args[i]);
      continue;
    }
    if (!u.inlineValue) u.value = i + 1 < args.size() ? args[++i] : "";
    long unit = 0;
    if (!parseLong(u.value, unit) || unit < 1 || unit > kMaxUnits)
      return {std::nullopt, {}, "--unit needs a unit number from 1, then the option for it"};
    if (i + 1 >= args.size())
      return {std::nullopt, {}, "--unit " + u.value + " needs an option after it"};
    Split a = split(args[++i]);
    bool flag = names.flags.count(a.name) > 0 && !a.inlineValue;
    if (!flag && names.valued.count(a.name) == 0)
      return {std::nullopt, {}, "unknown option '" + args[i] + "' (see rq410-sim --help)"};
    if (kForAllUnits.count(a.name) > 0)
      return {std::nullopt, {}, a.name + " is for all units; it cannot follow --unit"};
    forUnit[unit].push_back(args[i]);
    if (!flag && !a.inlineValue && i + 1 < args.size()) forUnit[unit].push_back(args[++i]);
  }

  Options o;
  if (std::string problem = applyOptions(o, forAll); !problem.empty())
    return {std::nullopt, {}, problem};
  if (o.help) return {std::move(o), {}, {}};
  if (!o.link.empty() && !o.device.empty())
    return {std::nullopt, {}, "--link is for the pseudo-terminal; it cannot go with --device"};
  if (!o.device.empty() && o.count > 1)
    return {std::nullopt, {}, "--count is for pseudo-terminals; a device serves one unit"};
  if (!o.device.empty() && std::find(forAll.begin(), forAll.end(), "--line-time") != forAll.end()) {
    return {std::nullopt,
            {},
            "--line-time is for the pseudo-terminal; a serial device keeps the line's time itself"};
  }
  if (!forUnit.empty() && forUnit.rbegin()->first > o.count) {
    return {std::nullopt,
            {},
            "--unit " + std::to_string(forUnit.rbegin()->first) + " is beyond --count " +
                std::to_string(o.count)};
  }

  std::vector<Options> units;
  for (int k = 1; k <= o.count; ++k) {
    Options u = o;
    if (std::string problem = applyOptions(u, forUnit[k]); !problem.empty())
      return {std::nullopt, {}, problem};
    if (o.count > 1) {
      // Each unit its own files: PATH becomes PATH1 .. PATHN.
      u.unitNumber = k;
      for (std::string* path : {&u.link, &u.dumpFile, &u.transcriptFile}) {
        if (!path->empty()) *path += std::to_string(k);
      }
    }
    if (std::string problem = contradictions(u); !problem.empty()) {
      return {std::nullopt,
              {},
              (o.count > 1 ? "unit " + std::to_string(k) + ": " : std::string()) + problem};
    }
    units.push_back(std::move(u));
  }
  return {std::move(o), std::move(units), {}};
}

}  // namespace rqsim
