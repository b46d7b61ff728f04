#include "transcript.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "sim_common.h"

namespace rqsim {

std::string hex4(unsigned value, bool lowerCase) {
  char text[8];
  std::snprintf(text, sizeof text, lowerCase ? "%04x" : "%04X", value & 0xFFFF);
  return text;
}

std::string hexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

Transcript::Transcript(const std::string& path, bool verbose, std::string& error, std::string label)
    : verbose_(verbose), label_(std::move(label)) {
  if (path.empty()) return;
  file_.reset(std::fopen(path.c_str(), "w"));
  if (!file_) error = "cannot create transcript '" + path + "': " + std::strerror(errno);
}

void Transcript::event(long ms, std::string_view text) {
  line(ms, "ev", text, false);
  if (verbose_)
    std::fprintf(stderr, "%s%ld ms: %.*s\n", label_.c_str(), ms, static_cast<int>(text.size()),
                 text.data());
}

void Transcript::line(long ms, const char* dir, std::string_view payload, bool asHex) {
  if (!file_) return;
  std::string body = asHex ? hexBytes(payload) : std::string(payload);
  std::fprintf(file_.get(), "%ld %s %s\n", ms, dir, body.c_str());
  // Flushed per line so that a test or a person can follow it while the unit runs.
  std::fflush(file_.get());
}

}  // namespace rqsim
