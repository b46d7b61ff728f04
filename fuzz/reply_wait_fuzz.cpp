// Any received text, cut into receive events at any points, against the reply waits: a wait
// takes only what ends in its terminator, keeps at most 125 characters behind it, and never
// reads outside the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sequencer/sequencer_core.h"
#include "support/fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  SequencerCore core(port, clock, ui, "/nonexistent/");
  core.S.WaitLimit = 1000;
  const bool lineFeed = data[0] & 1;
  const std::string word = std::string(1, static_cast<char>(data[1])) + (data[0] & 2 ? "ND" : "");
  std::size_t i = 2;
  while (i < size) {
    const std::size_t chunk = 1 + data[i] % 40;
    ++i;
    const std::size_t n = std::min(chunk, size - i);
    core.S.ReplyText.append(reinterpret_cast<const char*>(data + i), n);
    i += n;
    core.S.Step = 57;
    std::string reply;
    const std::string before = core.S.ReplyText;
    if (lineFeed) {
      core.WaitReplyLF(word, 99, reply, 58);
    } else {
      core.WaitReplyCR(word, 99, reply, 58);
    }
    if (core.S.Step == 58) {
      const char t = lineFeed ? '\n' : '\r';
      if (reply.empty() || reply.back() != t) std::abort();
      if (before.compare(0, reply.size(), reply) != 0) std::abort();
      if (core.S.ReplyText.size() > kReplyWindow) std::abort();
    } else if (!reply.empty()) {
      std::abort();
    }
  }
  return 0;
}
