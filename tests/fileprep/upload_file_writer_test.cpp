#include <gtest/gtest.h>

#include "components/file_errors.h"
#include "conversion_support.h"

using namespace kvtest;

namespace {

// Writes `image` as a .bin input and converts it the way a chosen .bin file is converted.
Bytes convertImage(ConvertRun& S, const ScratchFolder& dir, const Bytes& image,
                   int pages = kSoftwareImagePages) {
  S.MainUploadMode = pages == kSoftwareImagePages;
  S.ImagePages = pages;
  WriteBytes(dir.File("img.BIN"), image);
  convertBinary(S, dir.File("img.BIN"), dir.File("img.KVU"));
  return ReadBytes(S.UploadFileName);
}

Bytes erased(std::size_t bytes = 4194304) {
  return Bytes(bytes, 0xFF);
}

}  // namespace

TEST(UploadFileWriter, RecordsOnlyForPagesThatHoldData) {
  ScratchFolder dir;
  ConvertRun S;
  Bytes image = erased();
  image[5] = 0x00;         // page 0: a single 0x00
  image[2 * 128] = 0xFE;   // page 2, after an erased page 1
  image[0x3FFFFF] = 0x12;  // the last page
  const Bytes kvu = convertImage(S, dir, image);
  ASSERT_EQ(kvu.size(), 3u * 135 + 8);
  EXPECT_EQ(S.BlockCount, 3);
  EXPECT_EQ(std::string(kvu.begin(), kvu.begin() + 6), "000000");
  EXPECT_EQ(std::string(kvu.begin() + 135, kvu.begin() + 141), "000100");
  EXPECT_EQ(std::string(kvu.begin() + 270, kvu.begin() + 276), "3FFF80");
  EXPECT_EQ(kvu[6 + 5], 0x00);
  // Record checksum of page 0: "000000" is 6 x 0x30, then 127 x 0xFF and one 0x00.
  EXPECT_EQ(kvu[134], static_cast<std::uint8_t>((6 * 0x30 + 127 * 0xFF) & 0xFF));
  std::array<std::uint8_t, kRecordSize> record{};
  record.fill(0x01);
  record[134] = 0x77;  // not part of its own sum
  EXPECT_EQ(RecordChecksum(record), 134);
  record[0] = 0xFF;
  EXPECT_EQ(RecordChecksum(record), (134 + 0xFE) & 0xFF);
  expectUploadFileOf(kvu, image, kSoftwareImagePages);

  Bytes seventh = erased();
  seventh[7 * 128 + 127] = 0x01;
  const Bytes one = convertImage(S, dir, seventh);
  EXPECT_EQ(std::string(one.begin(), one.begin() + 6), "000380");
  EXPECT_EQ(S.BlockCount, 1);
}

TEST(UploadFileWriter, ChecksumRegions) {
  ScratchFolder dir;
  ConvertRun S;
  Bytes image = erased();
  // Pages 480 to 511 and 4096 to 5119 belong to no sum, and 0x200000 on neither.
  for (std::size_t a : {0x00F000u, 0x00FFFFu, 0x080000u, 0x09FFFFu, 0x200000u, 0x3FFFFFu})
    image[a] = 0x00;
  const Bytes unsummed = convertImage(S, dir, image);
  EXPECT_EQ(S.BlockCount, 6);
  EXPECT_EQ(S.LastReply, "0000, 0000");
  EXPECT_EQ(std::string(unsummed.end() - 8, unsummed.end()), "00000000");

  Bytes firmware = erased();
  firmware[0x1C0000] = 0x00;  // one byte 0xFF less in the firmware sum
  const Bytes f = convertImage(S, dir, firmware);
  EXPECT_EQ(S.LastReply, "FF01, 0000");
  EXPECT_EQ(std::string(f.end() - 8, f.end()), "FF010000");

  Bytes fpga = erased();
  fpga[0x1D0000] = 0xFD;
  fpga[0x060000] = 0xFD;
  const Bytes g = convertImage(S, dir, fpga);
  EXPECT_EQ(S.LastReply, "0000, FFFC");
  EXPECT_EQ(std::string(g.end() - 8, g.end()), "0000FFFC");

  Bytes both = erased();
  both[0x010000] = 0x00;
  both[0x05FFFF] = 0x01;
  both[0x0A0000] = 0x10;
  both[0x1BFFFF] = 0x00;
  both[0x100] = 0x00;  // boot region: not in the trailer
  expectUploadFileOf(convertImage(S, dir, both), both, kSoftwareImagePages);
  EXPECT_EQ(S.LastReply, "FE03, FE12");

  // A Factory image reports its boot sum alone; its trailer is always zero.
  Bytes factory = erased(65536);
  factory[0] = 0x00;
  factory[0xF000] = 0x00;  // page 480: no sum
  const Bytes h = convertImage(S, dir, factory, kFactoryImagePages);
  EXPECT_EQ(S.LastReply, "0F01");
  EXPECT_EQ(std::string(h.end() - 8, h.end()), "00000000");
  EXPECT_EQ(S.BlockCount, 2);
}

TEST(UploadFileWriter, ImageOfOtherLengthsAndReadOnlyMedia) {
  ScratchFolder dir;
  ConvertRun S;
  // Shorter than its pages: the missing bytes are erased flash (in the sums too).
  Bytes shortImage(1000, 0x55);
  const Bytes kvu = convertImage(S, dir, shortImage);
  EXPECT_EQ(S.BlockCount, 8);
  Bytes padded = erased();
  std::copy(shortImage.begin(), shortImage.end(), padded.begin());
  expectUploadFileOf(kvu, padded, kSoftwareImagePages);
  Bytes lastPage(128, 0xFF);
  std::fill(lastPage.begin(), lastPage.begin() + (1000 - 896), std::uint8_t{0x55});
  EXPECT_EQ(parseUploadFile(kvu).pages.at(7), lastPage);

  // An image on read-only media, of the flash's size exactly: opened for reading only.
  fs::permissions(dir.Path(), fs::perms::all);
  Bytes image = erased();
  image[0x200] = 0x01;
  WriteBytes(dir.File("ro.bin"), image);
  fs::permissions(dir.File("ro.bin"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(runUnprivileged([&] {
              ConvertRun R;
              convertBinary(R, dir.File("ro.bin"), dir.File("ro.KVU"));
              if (R.BlockCount != 1) throw std::runtime_error("wrong BlockCount");
            }),
            "");
  expectUploadFileOf(ReadBytes(dir.File("ro.KVU")), image, kSoftwareImagePages);

  EXPECT_EQ(BlockCountOfSize(6623), 49);
  EXPECT_EQ(BlockCountOfSize(49 * 135), 49);
  EXPECT_EQ(BlockCountOfSize(134), 0);
  EXPECT_EQ(BlockCountOfSize(8), 0);
}

TEST(UploadFileWriter, FailedWriteLeavesNoFileThatLooksComplete) {
  ScratchFolder dir;
  fs::permissions(dir.Path(), fs::perms::all);
  Bytes image = erased();
  for (std::size_t a = 0; a < image.size(); a += 4096) image[a] = 0x00;  // 1024 records, 138 KB
  WriteBytes(dir.File("full.BIN"), image);
  WriteText(dir.File("full.KVU"), "an older upload file");

#ifndef _WIN32
  // The disk fills up half way: the older file stays as it was, no part file remains.
  const std::string message = runUnprivileged(
      [&] {
        ConvertRun S;
        S.BlockCount = 7;
        try {
          convertBinary(S, dir.File("full.BIN"), dir.File("full.KVU"));
        } catch (...) {
          if (S.BlockCount != 0) throw std::runtime_error("BlockCount kept");
          throw;
        }
      },
      64 * 1024);
  EXPECT_EQ(message, "Disk full");
  EXPECT_EQ(ReadText(dir.File("full.KVU")), "an older upload file");
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));
#endif

  // The final name is taken by a folder: the rename fails, and nothing is left over.
  fs::create_directory(dir.File("taken.KVU"));
  ConvertRun S;
  try {
    convertBinary(S, dir.File("full.BIN"), dir.File("taken.KVU"));
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_EQ(S.BlockCount, 0);
  EXPECT_TRUE(fs::is_directory(dir.File("taken.KVU")));
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));

  // The folder cannot take a new file at all.
  EXPECT_THROW(WriteWholeFile("/proc/self/kv.KVU", Bytes(8, '0')), EInOutError);

  // A binary image that is a folder is refused at once.
  try {
    ReadBinaryImage(dir.File("taken.KVU"), kSoftwareImagePages);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
}
