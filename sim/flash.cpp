#include "flash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace rqsim {

namespace {

struct Range {
  uint32_t first;
  uint32_t last;  // included
};

constexpr Range kBoot[] = {{0x000000, 0x00EFFF}};
constexpr Range kMain[] = {{0x010000, 0x05FFFF}, {0x1C0000, 0x1CFFFF}};
constexpr Range kFpga[] = {{0x060000, 0x07FFFF}, {0x0A0000, 0x1BFFFF}, {0x1D0000, 0x1FFFFF}};

template <size_t N>
unsigned sumOf(const std::vector<uint8_t>& bytes, const Range (&ranges)[N]) {
  uint32_t sum = 0;
  for (const Range& r : ranges) {
    for (uint32_t a = r.first; a <= r.last; ++a) sum += bytes[a];
  }
  return sum & 0xFFFF;
}

}  // namespace

Flash::Flash() : bytes_(kSize, 0xFF) {}

void Flash::erase() {
  std::fill(bytes_.begin(), bytes_.end(), 0xFF);
}

bool Flash::program(uint32_t address, std::string_view data) {
  if (address >= kSize || data.size() > kSize - address) return false;
  for (size_t i = 0; i < data.size(); ++i) {
    bytes_[address + i] &= static_cast<uint8_t>(data[i]);
  }
  return true;
}

FlashSums Flash::sums() const {
  return {sumOf(bytes_, kBoot), sumOf(bytes_, kMain), sumOf(bytes_, kFpga)};
}

std::string Flash::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open flash file '" + path + "': " + std::strerror(errno);
  std::vector<char> data(kSize + 1);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  size_t got = static_cast<size_t>(in.gcount());
  if (in.bad()) return "cannot read flash file '" + path + "'";
  if (got > kSize) return "flash file '" + path + "' is larger than the 4 MB flash";
  erase();
  std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(got), bytes_.begin());
  return {};
}

std::string Flash::dump(const std::string& path) const {
  // Written under a temporary name and renamed when whole, so that a dump that exists is complete.
  std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create dump file '" + temporary + "': " + std::strerror(errno);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return "cannot write dump file '" + temporary + "' (disk full?)";
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    std::remove(temporary.c_str());
    return "cannot rename dump file to '" + path + "': " + why;
  }
  return {};
}

}  // namespace rqsim
