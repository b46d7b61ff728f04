// Upload files built here without the writer's code, for every test that needs one: records of
// an address and a page, the sums of each area counted as the unit counts them (erased pages as
// 0xFF), and whole files of an image's pages with a trailer of their true sums or another.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kvtest {

// Byte 134 of `record` made the sum of the bytes before it.
inline std::string WithRecordChecksum(std::string record) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < 134; ++i) sum += static_cast<unsigned char>(record[i]);
  record.resize(135);
  record[134] = static_cast<char>(sum & 0xFF);
  return record;
}

// The record of the 128 bytes at `page` for the page at `address`.
inline std::string UploadRecord(unsigned address, const std::uint8_t* page) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", address);
  std::string record(text, 6);
  record.append(reinterpret_cast<const char*>(page), 128);
  return WithRecordChecksum(record + '\0');
}

struct ImageSums {
  std::string trailer;  // Firmware and FPGA, four digits each
  std::string boot;
};

// The sums of the first `pages` pages of `image`; bytes past its end count as erased.
inline ImageSums SumImage(const std::vector<std::uint8_t>& image, int pages) {
  std::uint32_t boot = 0, firmware = 0, fpga = 0;
  for (int p = 0; p < pages; ++p) {
    std::uint32_t s = 0;
    for (int i = 0; i < 128; ++i) {
      const std::size_t at = static_cast<std::size_t>(p) * 128 + static_cast<std::size_t>(i);
      s += at < image.size() ? image[at] : 0xFF;
    }
    if (p < 480)
      boot += s;
    else if ((p >= 512 && p < 3072) || (p >= 14336 && p < 14848))
      firmware += s;
    else if ((p >= 3072 && p < 4096) || (p >= 5120 && p < 14336) || (p >= 14848 && p < 16384))
      fpga += s;
  }
  char t[16], b[8];
  std::snprintf(t, sizeof t, "%04X%04X", firmware & 0xFFFF, fpga & 0xFFFF);
  std::snprintf(b, sizeof b, "%04X", boot & 0xFFFF);
  return {t, b};
}

// The trailer of true sums of an upload file's records.
inline std::string TrueTrailer(const std::vector<std::string>& records) {
  std::vector<std::uint8_t> image(32768 * 128, 0xFF);
  for (const std::string& r : records) {
    const unsigned long address = std::stoul(r.substr(0, 6), nullptr, 16);
    for (std::size_t i = 0; i < 128 && address + i < image.size(); ++i)
      image[address + i] = static_cast<std::uint8_t>(r[6 + i]);
  }
  return SumImage(image, 32768).trailer;
}

// An upload file of every page of `image` that holds anything but 0xFF, then `trailer`, or the
// true sums when none is given.
inline std::vector<std::uint8_t> UploadFileBytes(const std::vector<std::uint8_t>& image,
                                                 const std::string* trailer = nullptr) {
  std::string out;
  for (std::size_t at = 0; at + 128 <= image.size(); at += 128) {
    bool used = false;
    for (std::size_t i = 0; i < 128; ++i) used = used || image[at + i] != 0xFF;
    if (used) out += UploadRecord(static_cast<unsigned>(at), &image[at]);
  }
  out += trailer ? *trailer : SumImage(image, 32768).trailer;
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

}  // namespace kvtest
