// The unit's 4 MB flash: erased to 0xFF, programmed like NOR flash (a write can only clear
// bits), summed over the regions that the remote control reports, and dumped to a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rqsim {

struct FlashSums {
  unsigned boot = 0;  // pages 0-479
  unsigned main = 0;  // firmware regions
  unsigned fpga = 0;  // FPGA regions
};

class Flash {
 public:
  static constexpr uint32_t kSize = 4u * 1024 * 1024;

  Flash();

  void erase();
  // Programs bytes at an address; false when they do not fit in the flash.
  bool program(uint32_t address, std::string_view bytes);
  FlashSums sums() const;
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // Both return an empty text on success, else what went wrong.
  std::string load(const std::string& path);
  std::string dump(const std::string& path) const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace rqsim
