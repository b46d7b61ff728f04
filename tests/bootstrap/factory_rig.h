// A factory run of the main window's core on a scripted serial port: the C161 and its two
// loaders answer as the test scripts them, Loader 2 answers each frame, and after the end frame
// the flash loader of the upload tests takes over at 38400 baud.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resources/embedded_images.h"
#include "sequencer/upload_rig.h"

namespace factory_test {

// The bytes a hex text stands for.
inline std::string Bytes(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The byte that makes the frame's bytes sum to zero: what a healthy Loader 2 answers.
inline std::string RightEcho(const std::string& frame) {
  unsigned sum = 0;
  for (unsigned char c : frame) sum += c;
  return std::string(1, static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF));
}

struct Chip {
  std::string idReply = "\xD5";  // to the zero byte; empty: silent
  std::string loader1Reply = "\"";
  std::string loader2Reply = "U";
  // The answer to the n-th frame (from 1, repeats counted); empty: none.
  std::function<std::string(int n, const std::string& frame)> echo = [](int, const std::string& f) {
    return RightEcho(f);
  };

  int zeroBytes = 0;
  std::string loader1, loader2;
  std::vector<std::string> frames;
  bool started = false;  // the end frame has arrived: the loaded program runs

  void Receive(FakePort& port, char c) {
    if (!identified_) {
      // The chip takes its speed from a zero byte and ignores anything else.
      if (c != 0) return;
      ++zeroBytes;
      port.Feed(idReply);
      identified_ = !idReply.empty();
    } else if (loader1.size() < 32) {
      loader1 += c;
      if (loader1.size() == 32) port.Feed(loader1Reply);
    } else if (loader2.size() < 172) {
      loader2 += c;
      if (loader2.size() == 172) port.Feed(loader2Reply);
    } else if (!started) {
      frame_ += c;
      const auto type = static_cast<std::uint8_t>(frame_[0]);
      const std::size_t need =
          type == 0x00   ? (frame_.size() >= 2 ? 4u + static_cast<std::uint8_t>(frame_[1]) : 2u)
          : type == 0x04 ? 2u
                         : 1u;
      if (frame_.size() < need) return;
      frames.push_back(frame_);
      frame_.clear();
      if (type == 0x01) {
        started = true;
      } else {
        port.Feed(echo(static_cast<int>(frames.size()), frames.back()));
      }
    }
  }

 private:
  bool identified_ = false;
  std::string frame_;
};

struct FactoryRig : upload_test::UploadRig {
  Chip chip;
  upload_test::LoaderUnit flashLoader;
  bool loaderAttached = false;

  FactoryRig() {
    port.onWrite = [this](char c) { chip.Receive(port, c); };
    ui.pending = [this] {
      // The loaded program answers from the tick after the end frame on.
      if (chip.started && !loaderAttached) {
        loaderAttached = true;
        flashLoader.Attach(port);
      }
      if (!port.input.empty()) form.ReadMessage();
    };
  }

  // "Factory Bootstrap Upload": the port opens and the instructions show (steps 5, 6, 541).
  void OpenFactoryScreen() {
    form.BtnBootClick();
    ASSERT_TRUE(TickUntilStep(0, 30));
  }
  // ... and "&Proceed".
  void Proceed() {
    OpenFactoryScreen();
    port.TakeWritten();
    form.BtnGoOnClick();
  }
  // Ticks until `step`, at most `limit` ticks; false when the run stopped or took longer.
  bool RunTo(int step, int limit = 1000) {
    return TickUntil([&] { return S().Step == step || S().Step == 0; }, limit) && S().Step == step;
  }
  bool HistHas(const std::string& line) {
    const auto& h = W().FUpHist();
    return std::find(h.begin(), h.end(), line) != h.end();
  }
  const std::string& LastHist() { return W().FUpHist().back(); }
};

}  // namespace factory_test
