#include "cli/convert_command.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "components/file_errors.h"
#include "fileprep/file_names.h"
#include "fileprep/intake.h"
#include "sequencer/sequencer_core.h"

namespace fs = std::filesystem;

namespace {

// No unit is attached for a conversion: the port takes the baud rate it is given and nothing
// else happens.
class NoPort final : public ISerialPort {
 public:
  int Port() const override { return port_; }
  void SetPort(int value) override { port_ = value; }
  int Baudrate() const override { return baud_; }
  void SetBaudrate(int value) override { baud_ = value; }
  bool Active() const override { return false; }
  void SetActive(bool) override {}
  void WriteChar(std::uint8_t) override {}
  void WriteString(const std::string&) override {}
  int ReadString(std::string& text) override {
    text.clear();
    return 0;
  }
  std::string DeviceName(int) const override { return {}; }

 private:
  int port_ = 1;
  int baud_ = 0;
};

class NoWindow final : public IUiServices {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetChooserFilter(const std::string&) override {}
  bool ChooseFile(std::string&) override { return false; }
  void ShowHelp(int) override {}
  void ProcessPendingMessages() override {}
  void CloseWindow() override {}
  std::vector<std::string> messages;
};

// The chooser hands the intake a bare name inside the folder it has made current; the
// command does the same, so a folder name with a "." in it or "./fw.hex" is no extension.
// The earlier folder comes back when the command ends.
class FolderChange {
 public:
  explicit FolderChange(const fs::path& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    previous_ = fs::current_path(ec);
    if (ec) throw EInOutError::FromErrno(ec.value());
    fs::current_path(folder, ec);
    if (ec) {
      previous_.clear();
      throw ec.value() == ENOENT ? EInOutError("Path not found", 3)
                                 : EInOutError::FromErrno(ec.value());
    }
  }
  ~FolderChange() {
    std::error_code ec;
    if (!previous_.empty()) fs::current_path(previous_, ec);
  }
  FolderChange(const FolderChange&) = delete;
  FolderChange& operator=(const FolderChange&) = delete;

 private:
  fs::path previous_;
};

std::string TrailerText(ByteFile& file) {
  const std::uint64_t size = file.Size();
  if (size < static_cast<std::uint64_t>(kTrailerSize) || size % kRecordSize != kTrailerSize) {
    return {};
  }
  char trailer[kTrailerSize];
  file.Seek(size - kTrailerSize);
  if (file.Read(trailer, kTrailerSize) != kTrailerSize) return {};
  file.Seek(0);
  return std::string(trailer, 4) + ", " + std::string(trailer + 4, 4);
}

}  // namespace

int RunConvert(const std::string& file, std::ostream& out, std::ostream& err) {
  if (file.empty()) {
    err << "No input file given\n";
    return kConvertBadArguments;
  }
  try {
    const fs::path input(file);
    // Declared before the core: files it still holds (an unfinished temporary upload file)
    // are removed while their folder is still the current one.
    FolderChange folder(input.parent_path());
    const std::string name = input.filename().string();
    if (!FileExists(name)) throw EInOutError("File not found", 2);

    NoPort port;
    SystemClock clock;
    NoWindow window;
    SequencerCore core(port, clock, window, std::string());
    InputIntake intake(core);
    core.W.AddListener([&core, &out](const std::string& control) {
      if (control == "Label8" && !core.W.Caption("Label8").empty()) {
        out << core.W.Caption("Label8") << '\n';
      }
    });
    core.S.MainUploadMode = true;
    core.S.InputFileName = name;
    intake.IntakeInputFile();
    while (core.S.Step != kReadyStep && core.S.Step != 0) {
      const int step = core.S.Step;
      if (!intake.PerformStep(step)) {
        throw std::logic_error("conversion stopped at step " + std::to_string(step));
      }
    }
    if (core.S.Step == 0) {
      err << core.W.Caption("Label12") << '\n';
      return kConvertBadInput;
    }
    const std::string where = (input.parent_path() / core.S.UploadFileName).string();
    if (core.S.InputExtension == "KVU") {
      const std::string sums = TrailerText(core.S.UploadFile);
      if (sums.empty()) {
        err << "The upload file " << where << " is not a complete upload file: its "
            << core.S.UploadFile.Size() << " bytes are not whole " << kRecordSize
            << "-byte records followed by the " << kTrailerSize << "-byte checksum trailer\n";
        return kConvertBadInput;
      }
      out << "Upload file " << where << " is sent as it is, chksums: " << sums << '\n';
    } else {
      out << core.W.Caption("Label12") << '\n';
      out << "Upload file: " << where << '\n';
    }
    out << "Records: " << core.S.BlockCount << '\n';
    return kConvertDone;
  } catch (const std::exception& e) {
    // The runtime's message alone ("File not found") does not say which file.
    err << file << ": " << e.what() << '\n';
    return kConvertBadInput;
  }
}
