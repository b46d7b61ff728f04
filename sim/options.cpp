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
          return true;
        },
        "38400 or 57600"}},
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

std::string helpText() {
  return R"(rq410-sim - a simulated RQ-410 unit on a serial line, for trying the uploader without
hardware. It plays the unit's resident flash loader, its reboot and remote control, and
(with --bootstrap) the C161 bootstrap loader and the program that it loads.

Usage: rq410-sim [options]

Where it serves
  (no option)             a new pseudo-terminal; its path is the first line printed
  --link PATH             also make PATH a symbolic link to it (removed again at the end)
  --device DEV            serve on a real serial device instead, e.g. /dev/ttyUSB1, for a
                          bench of two adapters and a null-modem cable
  --loader-baud N         on a device: the flash loader's speed, 38400 (default) or 57600
  --count N               serve N units at once (1 to 32), each on its own pseudo-terminal with
                          its own flash; their paths are the first N lines printed, in order.
                          --link, --dump and --transcript get the unit's number added: PATH1 ..
                          PATHN. Each unit runs on a thread of its own, so one that halts,
                          damages records or waits on a peer that does not read slows no other
  --unit K OPTION         aim one option (with its value, if it takes one) at unit K alone,
                          e.g. --unit 2 --fail-at-record 40; options without it go to every
                          unit. Any option of what the unit does or of its faults can be aimed;
                          where it serves, the line's time and the output are for all units

The line's time
  A pseudo-terminal moves bytes at memory speed; a cable takes 10 bits a byte (start, 8 data,
  stop). On a pseudo-terminal the unit keeps the line's time unless told not to: a byte that the
  other end writes reaches the unit 10 bit times (at the speed the other end set) after the byte
  before it, and the unit's own answers go out at that rate, not in one burst. A 135-byte record
  takes 35 ms at 38400 baud, "SEND BLOCK" + CR 2.9 ms. A serial device keeps the time itself.
  --line-time             keep the line's time (the default on a pseudo-terminal)
  --no-line-time          pass bytes at memory speed, as a bare pseudo-terminal does

What the unit does
  On a Software Upload it waits to be switched on, answers "U" with READY, erases its 4 MB
  flash after GO, asks for records with SEND BLOCK, writes each record whose checksum is
  right (RESEND BLOCK otherwise), answers UPLOAD DONE with THANK YOU, reboots and then
  answers <0000/SWR? and <0000/FCS? at 9600 baud. Its flash starts as all 0xFF.
  With --bootstrap it answers the zero byte with its identification byte, takes Loader 1
  (32 bytes) and Loader 2 (172 bytes), answers every line frame with its check byte, and
  after the end frame runs the loaded program: the flash-loader dialogue at 38400 baud with
  the texts found in the loaded data at 0x080000 (a text missing there is never said).
  At the end of each upload dialogue it prints "flash Boot:xxxx Main:xxxx FPGA:xxxx
  records=N" (sums of its flash) and reboots into the remote control.
  Speeds: flash loader 38400 or 57600, remote control 9600, bootstrap 19200. On a
  pseudo-terminal it sees the speed that the other end set; at a wrong speed it answers
  garbage, as a real unit would.

  --bootstrap             start in the C161 bootstrap loader (jumpers fitted)
  --running               start with the firmware running: the remote control answers at
                          once, as after a reboot (with --flash, to try checksum queries)
  --flash FILE            start with this flash content instead of 0xFF
  --power-on-after-ms N   the unit is switched on N ms after the first byte arrives
                          (default 0: on from the start)
  --erase-ms N            time the erase takes (default 2000)
  --reboot-ms N           time from THANK YOU to the remote control (default 3000)
  --latency-ms N          play a USB adapter's latency timer (1 to 255): the unit's bytes reach
                          the other end in batches, every N ms, as the adapter passes on what it
                          has received (16 is common; 1 with low latency asked for)
  --program-ms N          time to write a whole, good record into the flash; SEND BLOCK for the
                          next one follows only then (default 0). Bytes that arrive meanwhile are
                          lost. RESEND BLOCK and the fault answers come at once
  --byte-timeout-ms N     drop a half-received record, frame or line after N ms without
                          a byte (default 1000); a dropped record is answered RESEND BLOCK
  --address AAAA          remote-control address (default 0000)
  --swr-version TEXT      answer to SWR? (default 1.01)
  --no-speed-check        never answer garbage, whatever speed the other end uses
  --no-auto-power-cycle   on a pseudo-terminal, "U" bytes arriving on their own (or, with
                          --bootstrap, zero bytes at 19200) after the end of a dialogue count as
                          the unit being switched off and on for a new run; this turns that off.
                          SIGUSR1 always switches it off and on (on a device too)

Records and counting
  A record is 135 bytes: 6 address characters, 128 data bytes, 1 checksum byte. Records
  are numbered from 1 in the order the unit accepts them; a record that the unit asks for
  again keeps its number. Line frames of the bootstrap are numbered from 1 the same way.
  LIST is numbers separated by commas, each optionally with :COUNT or :all for how many
  times the fault applies (default once), e.g. 3,7:2,9:all.

Faults of the flash loader
  --ready-after-u N       READY only for the N-th "U"
  --never-ready           never READY
  --resend-records LIST   RESEND BLOCK for these records
  --short-answers         "S" and "R" instead of SEND BLOCK and RESEND BLOCK
  --unknown-line-records LIST   "OK" for these records (not accepted)
  --twice-records LIST    SEND BLOCK (or RESEND BLOCK) in answer to these records said
                          twice, as an echo on the line would bring it
  --silent-after-records N      no answer after N accepted records ...
  --silence-ms N          ... for N ms (default: for good), then the next record is answered
  --fail-at-record N      UPLOAD FAILED for record N; the loader then stops
  --erase-errors N        N pairs of "ERASE ERROR: " and "BLOCK BASE INDEX: " lines before
                          ERASE COMPLETE
  --erase-timeout         "ERASE BLOCK TIMEOUT: " instead of ERASE COMPLETE; the loader stops
  --no-thank-you          no THANK YOU (it reboots all the same)
  --corrupt-records RATE  this share of records arrives damaged (RESEND BLOCK); see --seed
  --power-noise N         N noise bytes when switched on

Faults of the remote control
  --swr-after N           answer SWR? only from the N-th query on
  --fcs-wrong FIELD       report the boot, main or fpga sum one off (may be repeated)
  --fcs-lowercase         report the sums in lower-case hex

Faults of the bootstrap
  --id-byte XX|none       identification byte (default D5)
  --loader1-reply HEX|none  answer to Loader 1 (default 22, a double quote)
  --loader2-reply HEX|none  answer to Loader 2 (default 55, the letter U)
  --bad-check-lines LIST  wrong check byte for these lines (not the end frame, the last
                          line, which gets no check byte)
  --corrupt-lines RATE    this share of lines arrives damaged; see --seed
  --seed N                seed of the random faults (default 1); the same seed gives the
                          same faults

Output and ending
  --dump FILE             write the 4 MB flash to FILE at the end (also on SIGINT/SIGTERM)
  --transcript FILE       log every byte each way, one line per chunk:
                            <ms> in <hex bytes>    <ms> out <hex bytes>    <ms> ev <event>
  --verbose               print the events on stderr as well
  --once                  stop after one upload: after the FCS? answer, or with --bootstrap
                          after THANK YOU of the loaded program
  --idle-exit-ms N        stop when nothing has arrived for N ms
  --exit-after-ms N       stop after N ms
  --version               print the version and stop
  SIGINT, SIGTERM and SIGHUP stop it cleanly (the dump is written); SIGUSR1 switches every
  unit off and on. On exit it prints a summary line: "summary key=value ...". With --count each
  unit prints its own as it stops, "summary unit=K key=value ...", and its flash reports as
  "flash unit=K Boot:xxxx ...".

Examples
  rq410-sim --link /tmp/rq410 --erase-ms 500 --dump /tmp/flash.bin
  rq410-sim --bootstrap --transcript /tmp/boot.txt
  rq410-sim --device /dev/ttyUSB1 --resend-records 5 --fail-at-record 40
  rq410-sim --count 4 --link /tmp/unit --dump /tmp/flash --program-ms 5 \
            --unit 2 --fail-at-record 40 --unit 3 --corrupt-records 0.05
)";
}

}  // namespace rqsim
