// The check of a whole upload file: its records, the sums they give (erased pages as 0xFF),
// the trailer's fields, and what is wrong, in words that name the file.
#include "components/upload_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/upload_records.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ImageWith(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
  Bytes image(32768 * 128, 0xFF);
  for (const auto& [at, value] : bytes) image[at] = value;
  return image;
}

UploadFileCheck Check(const Bytes& file) {
  return CheckUploadFile(file.data(), file.size(), "fw.KVU");
}

}  // namespace

TEST(UploadFileCheck, SumsComeFromTheRecordsWithErasedPagesAsFF) {
  // Boot, firmware (both parts), FPGA (third part) and the gap between the areas.
  const Bytes image = ImageWith({{5, 0x00},
                                 {512 * 128, 0x12},
                                 {14336 * 128 + 7, 0x34},
                                 {14848 * 128, 0x00},
                                 {4096 * 128, 0x55}});
  const Bytes file = kvtest::UploadFileBytes(image);
  const UploadFileCheck c = Check(file);
  EXPECT_EQ(c.fault, UploadFileFault::None) << c.problem;
  EXPECT_EQ(c.records, 5);
  EXPECT_EQ(c.firmwareSum + c.fpgaSum, kvtest::SumImage(image, 32768).trailer);
  EXPECT_EQ(c.trailer.firmwareSum + c.trailer.fpgaSum, c.firmwareSum + c.fpgaSum);

  // A second record of a page is what the flash ends up holding.
  Bytes twice(file.begin(), file.end() - 8);
  Bytes page(128, 0x01);
  const std::string again = kvtest::UploadRecord(512 * 128, page.data());
  twice.insert(twice.end(), again.begin(), again.end());
  const Bytes replaced =
      ImageWith({{5, 0x00}, {14336 * 128 + 7, 0x34}, {14848 * 128, 0x00}, {4096 * 128, 0x55}});
  Bytes expected = replaced;
  std::fill(expected.begin() + 512 * 128, expected.begin() + 513 * 128, 0x01);
  const std::string trailer = kvtest::SumImage(expected, 32768).trailer;
  twice.insert(twice.end(), trailer.begin(), trailer.end());
  EXPECT_EQ(Check(twice).fault, UploadFileFault::None) << Check(twice).problem;

  // The same records under the first file's trailer disagree with it.
  const std::string old(file.end() - 8, file.end());
  std::copy(old.begin(), old.end(), twice.end() - 8);
  const UploadFileCheck d = Check(twice);
  EXPECT_EQ(d.fault, UploadFileFault::SumsDisagree);
  EXPECT_NE(d.problem.find("fw.KVU may be damaged: its trailer holds the checksums " +
                           old.substr(0, 4) + ", " + old.substr(4)),
            std::string::npos)
      << d.problem;
}

TEST(UploadFileCheck, DamageIsNamedFieldByFieldAndRecordByRecord) {
  const Bytes image = ImageWith({{512 * 128, 0x12}});
  const std::string good = kvtest::SumImage(image, 32768).trailer;
  for (const auto& [trailer, words] : std::vector<std::pair<std::string, std::string>>{
           {good.substr(0, 4) + "34cd", "the FPGA checksum '34cd' is not four upper-case"},
           {"\x01"
            "2AB" +
                good.substr(4),
            "the Firmware checksum '?2AB' is not four"}}) {
    const UploadFileCheck c = Check(kvtest::UploadFileBytes(image, &trailer));
    EXPECT_EQ(c.fault, UploadFileFault::DamagedTrailer) << trailer;
    EXPECT_NE(c.problem.find("The upload file fw.KVU is damaged: its checksum trailer"),
              std::string::npos);
    EXPECT_NE(c.problem.find(words), std::string::npos) << c.problem;
  }
  Bytes file = kvtest::UploadFileBytes(image);
  file[40] ^= 0x01;
  EXPECT_EQ(Check(file).fault, UploadFileFault::DamagedRecord);
  EXPECT_NE(Check(file).problem.find("record 1 (address 010000) has the checksum"),
            std::string::npos);
  EXPECT_EQ(Check(Bytes(good.begin(), good.end())).fault, UploadFileFault::NoRecords);
  EXPECT_EQ(Check(Bytes(135 + 7, 0x41)).fault, UploadFileFault::NotWholeRecords);
  EXPECT_EQ(Check(Bytes(kLargestUploadFile + 135, 0x41)).fault, UploadFileFault::TooLarge);
}
