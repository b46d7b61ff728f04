// The transcript: every byte each way and the unit's events, one line per chunk, with the
// milliseconds since the start: "<ms> in <hex>", "<ms> out <hex>", "<ms> ev <text>".
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace rqsim {

class Transcript {
 public:
  // An empty path keeps no file; events still reach stderr when verbose, after label.
  Transcript(const std::string& path, bool verbose, std::string& error, std::string label = {});

  void bytesIn(long ms, std::string_view bytes) { line(ms, "in", bytes, true); }
  void bytesOut(long ms, std::string_view bytes) { line(ms, "out", bytes, true); }
  void event(long ms, std::string_view text);

 private:
  struct Closer {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  void line(long ms, const char* dir, std::string_view payload, bool asHex);

  std::unique_ptr<FILE, Closer> file_;
  bool verbose_;
  std::string label_;
};

}  // namespace rqsim
