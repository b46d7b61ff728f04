// A factory run of the main window's core on a scripted serial port: the C161 and its two
// loaders answer as the test scripts them, Loader 2 answers each frame, and after the end frame
// the flash loader of the upload tests takes over at 38400 baud.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "resources/embedded_images.h"
#include "sequencer/upload_rig.h"
#include "support/history.h"

namespace factory_test {

// The bytes a hex text stands for.
inline std::string Bytes(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// What a healthy Loader 2 answers: the byte that makes the frame sum to zero.
inline std::string RightEcho(const std::string& frame) {
  unsigned sum = 0;
  for (unsigned char c : frame) sum += c;
  return std::string(1, static_cast<char>(-sum & 0xFF));
}

struct Chip {
  std::string idReply = "\xD5";  // to the zero byte; empty: silent
  std::string loader1Reply = "\"", loader2Reply = "U";
  // The answer to each frame; empty: none.
  std::function<std::string(const std::string& frame)> echo = RightEcho;
  int zeroBytes = 0;
  std::string loaders;  // both, as received
  std::vector<std::string> frames;
  bool started = false;  // the end frame has arrived: the loaded program runs

  void Receive(FakePort& port, char c) {
    if (!identified_) {
      // The chip takes its speed from a zero byte and ignores anything else.
      if (c != 0) return;
      ++zeroBytes;
      port.Feed(idReply);
      identified_ = !idReply.empty();
    } else if (loaders.size() < 32 + 172) {
      loaders += c;
      if (loaders.size() == 32) port.Feed(loader1Reply);
      if (loaders.size() == 32 + 172) port.Feed(loader2Reply);
    } else if (!started) {
      frame_ += c;
      const auto type = static_cast<unsigned char>(frame_[0]);
      const std::size_t length = type == 0x04        ? 2
                                 : type == 0x01      ? 1
                                 : frame_.size() < 2 ? 2
                                                     : 4u + static_cast<unsigned char>(frame_[1]);
      if (frame_.size() < length) return;
      frames.push_back(frame_);
      frame_.clear();
      started = type == 0x01;
      if (!started) port.Feed(echo(frames.back()));
    }
  }

 private:
  bool identified_ = false;
  std::string frame_;
};

struct FactoryRig : upload_test::UploadRig {
  Chip chip;
  upload_test::LoaderUnit flashLoader;

  FactoryRig() {
    port.onWrite = [this](char c) { chip.Receive(port, c); };
    ui.pending = [this] {
      // The loaded program answers from the tick after the end frame on.
      if (chip.started && !attached_) {
        attached_ = true;
        flashLoader.Attach(port);
      }
      if (!port.input.empty()) form.ReadMessage();
    };
  }
  // "Factory Bootstrap Upload": the port opens and the instructions show (steps 5, 6, 541).
  void OpenFactoryScreen() {
    form.BtnBootClick();
    Tick(3);
  }
  // ... and "&Proceed".
  void Proceed() {
    OpenFactoryScreen();
    port.TakeWritten();
    form.BtnGoOnClick();
  }
  // Ticks until `step`; false when the run stopped first or took more than `limit` ticks.
  bool RunTo(int step, int limit = 1000) {
    return TickUntil([&] { return S().Step == step || S().Step == kIdleStep; }, limit) &&
           S().Step == step;
  }
  const std::string& LastHist() { return LastRunLine(S(), W()); }

 private:
  bool attached_ = false;
};

}  // namespace factory_test
