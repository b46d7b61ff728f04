#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <string>
#include <vector>

#include "cli/command_support.h"

namespace {

constexpr int kShellStatus = 1;    // the shell's own options, and the small commands' words
constexpr int kCommandStatus = 2;  // upload's and factory's, as their exit statuses say

// The words a command did not take, as CLI11 leaves them.
struct Leftovers {
  std::vector<std::string> words;
  bool Empty() const { return words.empty(); }
  const std::string& First() const { return words.front(); }
};

// What every command's option holds before it is checked: the words as given.
struct RawWords {
  std::string port;
  std::string baud;
  std::string timeout;
  std::vector<std::string> ports;
  std::vector<std::string> positional;
};

int WholeNumber(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) {
    throw UsageError("'" + text + "' is not a valid number for " + option + ".", kShellStatus);
  }
  return value;
}

std::string WithSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// "--capture: 1 required TEXT missing" names the option first.
std::string MissingValueText(const CLI::ParseError& e) {
  const std::string text = e.what();
  const auto colon = text.find(':');
  return (colon == std::string::npos ? std::string("An option") : text.substr(0, colon)) +
         " needs a value.";
}

CLI::App* Command(CLI::App& app, const char* name) {
  CLI::App* command = app.add_subcommand(name);
  command->set_help_flag();  // the help texts are our own
  command->allow_extras();   // told in our words below
  return command;
}

// The options that upload and factory both take.
void AddRunOptions(CLI::App* command, bool& help, std::string& capture, std::string& dir,
                   RawWords& raw) {
  command->add_flag("-h,--help", help);
  command->add_option("--capture", capture);
  command->add_option("--dir", dir);
  command->add_option("--timeout", raw.timeout);
}

void SetUpUpload(CLI::App& app, CommandLine& c, RawWords& raw) {
  CLI::App* up = Command(app, "upload");
  UploadOptions& o = c.upload;
  AddRunOptions(up, c.help, o.capture, o.dir, raw);
  up->add_option("--port", raw.ports)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  up->add_flag("--fast", o.fast);
  up->add_option("--json", o.json);
  up->add_option("--baud", raw.baud);
  up->add_flag("--accept-bad-checksums", o.acceptBadChecksums);
  up->add_option("file", raw.positional);
}

// verify FILE and info: the unit's remote control asked, on one port or many.
void SetUpQueries(CLI::App& app, CommandLine& c, RawWords& raw) {
  for (const char* name : {"verify", "info"}) {
    CLI::App* query = Command(app, name);
    query->add_flag("-h,--help", c.help);
    query->add_option("--port", raw.ports)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    query->add_option("--json", c.upload.json);
    query->add_option("--dir", c.upload.dir);
    query->add_option("--timeout", raw.timeout);
    query->add_option("file", raw.positional);
  }
}

void SetUpFactory(CLI::App& app, CommandLine& c, RawWords& raw) {
  CLI::App* factory = Command(app, "factory");
  FactoryOptions& o = c.factory;
  AddRunOptions(factory, c.help, o.capture, o.dir, raw);
  factory->add_flag("-y,--yes", o.yes);
  factory->add_option("--port", raw.port);
  factory->add_option("words", raw.positional);
}

void SetUpSmallCommands(CLI::App& app, CommandLine& c, RawWords& raw) {
  CLI::App* convert = Command(app, "convert");
  convert->add_flag("-h,--help", c.help);
  convert->add_flag("--accept-bad-checksums", c.convert.acceptBadChecksums);
  convert->add_option("file", raw.positional);
  CLI::App* doctor = Command(app, "doctor");
  doctor->add_option("--port", raw.port);
  for (const char* name : {"check-port", "ports", "help"}) Command(app, name);
}

void CheckUpload(const CLI::App& sub, CommandLine& c, RawWords& raw, const Leftovers& left) {
  UploadOptions& o = c.upload;
  const std::string& name = c.command;
  const auto refuse = [&](const std::string& text) {
    throw UsageError(text + " Try kvuflash-cli " + name + " --help.", kCommandStatus);
  };
  o.job = name == "verify" ? UnitJob::Verify : name == "info" ? UnitJob::Info : UnitJob::Upload;
  if (!left.Empty()) {
    if (StartsWith(left.First(), "--"))
      refuse("Unknown option " + left.First() + " for " + name + ".");
    raw.positional.insert(raw.positional.end(), left.words.begin(), left.words.end());
  }
  if (c.help) return;
  // Ports named after the command replace the one named before it.
  if (!raw.ports.empty()) o.ports = raw.ports;
  for (const std::string& port : o.ports) {
    if (port.empty()) refuse("--port needs a number or a device.");
  }
  if (!raw.baud.empty()) {
    if (!AllDigits(raw.baud) || raw.baud.size() > 6)
      refuse("'" + raw.baud + "' is not a valid number for --baud.");
    o.baud = std::stoi(raw.baud);
  }
  try {
    if (!raw.timeout.empty()) o.timeoutSeconds = TimeoutSecondsValue(raw.timeout);
    if (o.job == UnitJob::Upload && sub.count("--capture")) FileNameValue("--capture", o.capture);
    if (sub.count("--json")) FileNameValue("--json", o.json);
  } catch (const std::invalid_argument& e) {
    refuse(e.what());
  }
  if (o.job == UnitJob::Info) {
    if (!raw.positional.empty()) refuse("info takes no file, not '" + raw.positional[0] + "'.");
    return;
  }
  if (raw.positional.size() > 1)
    refuse(name + " takes one file name, not also '" + raw.positional[1] + "'.");
  if (raw.positional.empty())
    refuse(o.job == UnitJob::Upload ? "upload needs the name of the file to send."
                                    : "verify needs the name of the file to compare with.");
  o.file = raw.positional.front();
}

void CheckFactory(const CLI::App& sub, CommandLine& c, RawWords& raw, const Leftovers& left) {
  FactoryOptions& o = c.factory;
  const auto refuse = [](const std::string& text) {
    throw UsageError(text + " Try kvuflash-cli factory --help.", kCommandStatus);
  };
  std::vector<std::string> unknown = left.words;
  unknown.insert(unknown.begin(), raw.positional.begin(), raw.positional.end());
  if (!unknown.empty()) {
    const std::string& a = unknown.front();
    refuse("Unknown " + std::string(StartsWith(a, "-") ? "option " : "word ") + a +
           " for factory.");
  }
  if (c.help) return;
  if (sub.count("--port") && raw.port.empty()) refuse("--port needs a number or a device.");
  try {
    if (!raw.port.empty()) {
      o.port = raw.port;
      if (AllDigits(o.port)) PortOptionValue(o.port);  // refuses a number outside 1 to 9
    }
    if (!raw.timeout.empty()) o.timeoutSeconds = TimeoutSecondsValue(raw.timeout);
    if (sub.count("--capture")) FileNameValue("--capture", o.capture);
  } catch (const std::invalid_argument& e) {
    refuse(e.what());
  }
}

// The commands that take few words: their refusals say so and point to the shell's help.
void CheckSmallCommand(CommandLine& c, RawWords& raw, const Leftovers& left) {
  const auto takes = [&](const char* what) {
    throw UsageError("'" + c.command + "' takes " + what + ". Try kvuflash-cli --help.",
                     kShellStatus);
  };
  if (c.command == "convert") {
    std::vector<std::string> files = raw.positional;
    files.insert(files.end(), left.words.begin(), left.words.end());
    if (c.help) return;
    if (files.size() != 1) takes("one file name");
    c.convert.file = files.front();
  } else if (c.command == "doctor") {
    if (!left.Empty()) takes("no arguments but --port N or --port DEVICE");
    c.doctor.port = raw.port.empty() && c.global.port ? std::to_string(c.global.port) : raw.port;
  } else if (c.command != "help" && !left.Empty()) {
    takes("no arguments");
  }
}

void CheckGlobal(CommandLine& c, const RawWords& raw, const Leftovers& left) {
  if (!raw.port.empty()) {
    c.global.port = WholeNumber("--port", raw.port);
    // 0 would mean "none given" further on, and quietly become the remembered port.
    if (c.global.port < 1 || c.global.port > 9) {
      throw UsageError(
          "The port must be a number from 1 to 9, not " + std::to_string(c.global.port) + ".",
          kShellStatus);
    }
  }
  if (!raw.baud.empty()) c.global.baud = WholeNumber("--baud", raw.baud);
  c.global.dir = WithSeparator(c.global.dir);
  if (!left.Empty() && c.command.empty()) {
    const std::string& a = left.First();
    if (StartsWith(a, "--")) throw UsageError("Unknown option " + a + ".", kShellStatus);
    throw UsageError("Unknown command '" + a + "'. Try kvuflash-cli --help.", kCommandStatus);
  }
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine c;
  RawWords global;
  RawWords command;
  bool version = false;
  CLI::App app("", "kvuflash-cli");
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.require_subcommand(0, 1);
  app.add_flag("-h,--help", c.help);
  app.add_flag("--version", version);
  app.add_option("--port", global.port);
  app.add_option("--baud", global.baud);
  app.add_option("--dir", c.global.dir);
  SetUpUpload(app, c, command);
  SetUpFactory(app, c, command);
  SetUpQueries(app, c, command);
  SetUpSmallCommands(app, c, command);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& e) {
    const auto chosen = app.get_subcommands();
    const bool runs = !chosen.empty() && (chosen.front()->get_name() == "upload" ||
                                          chosen.front()->get_name() == "factory");
    throw UsageError(MissingValueText(e), runs ? kCommandStatus : kShellStatus);
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what(), kShellStatus);
  }
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (c.help && chosen.empty()) c.command = "help";
  if (version && chosen.empty()) c.command = "version";
  if (!chosen.empty()) c.command = chosen.front()->get_name();
  CheckGlobal(c, global, Leftovers{app.remaining()});
  if (chosen.empty()) return c;
  const Leftovers left{chosen.front()->remaining()};
  // What the command does not name itself it takes from before it.
  c.upload.baud = c.global.baud;
  if (c.upload.dir.empty()) c.upload.dir = c.global.dir;
  if (c.global.port) c.upload.ports = {std::to_string(c.global.port)};
  if (c.global.port) c.factory.port = std::to_string(c.global.port);
  if (c.factory.dir.empty()) c.factory.dir = c.global.dir;
  if (c.command == "upload" || c.command == "verify" || c.command == "info") {
    CheckUpload(*chosen.front(), c, command, left);
  } else if (c.command == "factory") {
    CheckFactory(*chosen.front(), c, command, left);
  } else {
    CheckSmallCommand(c, command, left);
  }
  return c;
}
