// Small pieces shared by the parts of the simulated unit: the way a part talks to the line and
// the transcript, and the "which numbers, how many times" lists that switch faults on.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace rqsim {

// What a part of the unit may do to the world: answer on the line, note an event.
class UnitIo {
 public:
  virtual ~UnitIo() = default;
  virtual void send(std::string_view bytes) = 0;
  virtual void note(std::string_view event) = 0;
};

// Numbers with a count of uses left: "3,7:2,9:all" means number 3 once, 7 twice, 9 every time.
class CountList {
 public:
  static constexpr int kAlways = -1;

  void add(long number, int times) { left_[number] = times; }
  bool empty() const { return left_.empty(); }

  // True when the fault applies to this number now; uses one of its counts.
  bool take(long number) {
    auto it = left_.find(number);
    if (it == left_.end() || it->second == 0) return false;
    if (it->second > 0) --it->second;
    return true;
  }

 private:
  std::map<long, int> left_;
};

// Four upper-case hexadecimal digits of a 16-bit value.
std::string hex4(unsigned value, bool lowerCase = false);

// "55 0D" style text of bytes, for events.
std::string hexBytes(std::string_view bytes);

}  // namespace rqsim
