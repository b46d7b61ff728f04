// kvuflash-cli's shell: its usage text, its refusal of bad arguments, and a port opened on a
// pseudo-terminal with the label lines it prints and the settings file it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

using kvtest::ReadText;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

class CliShell : public ::testing::Test {
 protected:
  CliRun Cli(const std::string& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {KV_CLI_PATH, "--dir", dir_.Path().string()};
    std::istringstream words(args);
    for (std::string word; words >> word;) argv.push_back(word);
    kvtest::Child cli(argv, env);
    CliRun r;
    r.status = cli.Wait(60 * 1000);
    r.out = cli.Out();
    r.err = cli.Err();
    return r;
  }

  kvtest::ScratchFolder dir_{"kv-cli"};
};

TEST_F(CliShell, UsageAndBadArguments) {
  CliRun help = Cli("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"convert FILE", "check-port", "ports"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  CliRun none = Cli("");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage:"), std::string::npos);

  CliRun badPort = Cli("--port 12 check-port");
  EXPECT_EQ(badPort.status, 1);
  EXPECT_NE(badPort.err.find("The port must be a number from 1 to 9, not 12."), std::string::npos);
  // 0 is no port: it must not quietly become COM 1, whichever option names it.
  const std::string kvu = dir_.File("zero.kvu");
  std::ofstream(kvu) << "";
  for (const std::string& zero : {std::string("--port 0 check-port"), "upload --port 0 " + kvu,
                                  std::string("factory --port 0")}) {
    CliRun r = Cli(zero);
    EXPECT_NE(r.status, 0) << zero;
    EXPECT_NE(r.err.find("from 1 to 9, not 0."), std::string::npos) << zero << ": " << r.err;
  }
  CliRun badBaud = Cli("--baud fast check-port");
  EXPECT_EQ(badBaud.status, 1);
  EXPECT_NE(badBaud.err.find("'fast' is not a valid number for --baud."), std::string::npos);
  CliRun unknown = Cli("frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("Unknown command 'frobnicate'"), std::string::npos);
  // convert has a usage of its own; --help is no file name.
  CliRun convertHelp = Cli("convert --help");
  EXPECT_EQ(convertHelp.status, 0) << convertHelp.err;
  EXPECT_EQ(convertHelp.out.rfind("Usage: kvuflash-cli convert", 0), 0u) << convertHelp.out;
  CliRun missing = Cli("convert");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("takes one file name"), std::string::npos);

  // A HEX file with a wrong line checksum converts only when the option says so.
  EXPECT_NE(help.out.find("--accept-bad-checksums"), std::string::npos);
  const std::string hex = dir_.File("old.hex");
  std::ofstream(hex) << ":01000000BF3F\n:00000001FF\n";
  CliRun refused = Cli("convert " + hex);
  EXPECT_EQ(refused.status, 3);
  EXPECT_NE(refused.err.find("line 1: the checksum is 3F"), std::string::npos) << refused.err;
  CliRun accepted = Cli("convert --accept-bad-checksums " + hex);
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.File("old.KVU")));
}

TEST_F(CliShell, ChecksAPortOnAPseudoTerminalAndRemembersIt) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);

  CliRun ok = Cli("--port 3 --baud 57600 check-port", {"KVUFLASH_PORTS=3=" + slave});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out,
            "Opening Com Port...\n"
            "Port is open on Com 3 at 57600 baud\n");
  EXPECT_EQ(ReadText(dir_.File("commsUP.txt")), "3,57600\n");

  CliRun ports = Cli("ports", {"KVUFLASH_PORTS=3=" + slave});
  EXPECT_EQ(ports.status, 0);
  EXPECT_NE(ports.out.find("COM3: " + slave + "\n"), std::string::npos) << ports.out;
  close(master);

  // The remembered port is used again; its device is gone now.
  CliRun gone = Cli("check-port", {"KVUFLASH_PORTS=3=" + dir_.File("no-such-tty")});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.out.find("Port did not open on Com 3 at 38400 baud"), std::string::npos)
      << gone.out;
  EXPECT_FALSE(gone.err.empty());
}

// A log that would wait for ever on a pipe nobody reads, or write itself into the firmware or
// a file made from it, is refused before anything is written or opened.
TEST_F(CliShell, LogNamesThatWouldHangOrLandOnFirmwareAreRefused) {
  const std::string hex = dir_.File("fw.hex");
  const std::string firmware = ":040000001122334452\n:00000001FF\n";
  std::ofstream(hex) << firmware;
  ASSERT_EQ(mkfifo(dir_.File("log.fifo").c_str(), 0644), 0);
  const std::vector<std::string> refused = {"--json " + dir_.File("log.fifo"),
                                            "--capture " + dir_.File("log.fifo"),
                                            "--capture " + hex,
                                            "--capture " + dir_.File("fw.KVU"),
                                            "--json " + dir_.File("FW.bin"),
                                            "--capture " + dir_.File("FW.HEX")};
  for (const std::string& options : refused) {
    const CliRun r = Cli("upload " + options + " " + hex);
    EXPECT_EQ(r.status, 2) << options << ": " << r.err;
    EXPECT_NE(r.err.find(options.substr(0, options.find(' '))), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadText(hex), firmware);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fw.KVU")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fw.BIN")));
  const CliRun factory = Cli("factory --capture " + dir_.File("log.fifo"));
  EXPECT_EQ(factory.status, 2) << factory.err;
}

}  // namespace
