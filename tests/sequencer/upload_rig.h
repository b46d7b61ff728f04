// A main window core on a scripted serial port, with a small resident flash loader behind it
// that answers what it is sent, and helpers to write upload files and drive ticks.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "form/main_form.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"
#include "support/upload_records.h"

namespace upload_test {

namespace fs = std::filesystem;

using kvtest::ScratchFolder;

// One 135-byte record for page `page`, data bytes derived from the page number.
inline std::string MakeRecord(int page) {
  std::uint8_t data[128];
  for (int i = 0; i < 128; ++i) data[i] = static_cast<std::uint8_t>((page * 7 + i * 3) & 0xFF);
  return kvtest::UploadRecord(static_cast<unsigned>(page) * 128, data);
}

// Records of pages 0 to records-1 and `trailer`, by default their true sums.
inline std::vector<std::string> WriteUploadFile(const std::string& path, int records,
                                                const std::string& trailer = "") {
  std::vector<std::string> all;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (int i = 0; i < records; ++i) {
    all.push_back(MakeRecord(i));
    out << all.back();
  }
  out << (trailer.empty() ? kvtest::TrueTrailer(all) : trailer);
  return all;
}

// The unit's resident flash loader as the test scripts it.
struct LoaderUnit {
  int readyAfterU = 1;  // answers "READY" after this many "U"; 0: never
  std::vector<std::string> afterGo = {"ERASING...\r", "ERASE COMPLETE\r", "SEND BLOCK\r"};
  // The answer to the n-th record received (1-based); default "SEND BLOCK\r".
  std::function<std::string(int n, const std::string& record)> answer;
  std::string thankYou = "THANK YOU\r";
  std::function<void()> onUploadDone;

  int uCount = 0;
  std::vector<std::string> records;
  std::vector<std::string> commands;

  void Attach(FakePort& port) {
    port_ = &port;
    port.onWrite = [this](char c) { Receive(c); };
  }

 private:
  void Receive(char c) {
    if (!readyDone_) {
      if (c == 'U') {
        ++uCount;
        if (readyAfterU > 0 && uCount == readyAfterU) {
          port_->Feed("READY\r");
          readyDone_ = true;
        }
      }
      return;
    }
    buffer_ += c;
    // In the record phase a record starts with an address digit; a command starts otherwise.
    const bool command = !goDone_ || !IsAddressDigit(buffer_[0]);
    if (command) {
      if (c != '\r') return;
      commands.push_back(buffer_);
      if (buffer_ == "GO\r") {
        goDone_ = true;
        for (const std::string& line : afterGo) port_->Feed(line);
      } else if (buffer_ == "UPLOAD DONE\r") {
        if (onUploadDone) onUploadDone();
        port_->Feed(thankYou);
      }
      buffer_.clear();
      return;
    }
    if (buffer_.size() < 135) return;
    records.push_back(buffer_);
    buffer_.clear();
    port_->Feed(answer ? answer(static_cast<int>(records.size()), records.back())
                       : std::string("SEND BLOCK\r"));
  }
  static bool IsAddressDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

  FakePort* port_ = nullptr;
  bool readyDone_ = false;
  bool goDone_ = false;
  std::string buffer_;
};

struct UploadRig {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  ScratchFolder dir{"kv-upload"};
  MainForm form{port, clock, ui, dir.Dir()};
  std::vector<std::string> fileRecords;
  std::string fileTrailer;  // of the file UseUploadFile wrote

  UploadRig() {
    form.FormActivate();
    // Received data reach the core as the receive event, run at the start of a tick.
    ui.pending = [this] {
      if (!port.input.empty()) form.ReadMessage();
    };
    port.active = true;
    port.baud = 38400;
    port.port = 1;
  }

  SequencerState& S() { return form.S(); }
  WindowModel& W() { return form.W(); }

  // An upload file of `records` records, taken in as the intake leaves it.
  void UseUploadFile(int records, const std::string& trailer = "") {
    const std::string path = dir.Dir() + "fw.KVU";
    fileRecords = WriteUploadFile(path, records, trailer);
    fileTrailer = trailer.empty() ? kvtest::TrueTrailer(fileRecords) : trailer;
    S().UploadFileName = path;
    S().BlockCount = records;
    S().MainUploadMode = true;
  }

  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) form.Timer1Timer();
  }
  // Ticks until `done` holds; false when it did not within `limit` ticks.
  bool TickUntil(const std::function<bool()>& done, int limit = 100000) {
    for (int i = 0; i < limit; ++i) {
      if (done()) return true;
      form.Timer1Timer();
    }
    return done();
  }
  bool TickUntilStep(int step, int limit = 100000) {
    return TickUntil([&] { return S().Step == step; }, limit);
  }
  // The ready screen, then "Start &Upload".
  void StartUpload() {
    S().Step = kReadyStep;
    Tick();
    form.BtnStartRunClick();
  }
  std::string CaptureText() const {
    std::ifstream in(dir.Dir() + "Capture.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

}  // namespace upload_test
