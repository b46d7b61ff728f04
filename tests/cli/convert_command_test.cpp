// "kvuflash-cli convert": the intake and conversion without a unit.
#include "cli/convert_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "sequencer/sequencer_state.h"
#include "support/scratch_folder.h"
#include "support/upload_records.h"

namespace {

namespace fs = std::filesystem;
using namespace kvtest;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Convert(const std::string& file) {
  std::ostringstream out, err;
  const int status = RunConvert(file, out, err);
  return {status, out.str(), err.str()};
}

TEST(ConvertCommand, ConvertsBesideTheInputWhereverItIs) {
  ScratchFolder dir("kv-convert", ScratchFolder::Current::Enter);
  // A folder with a "." in its name: only the file's own name says what kind it is.
  fs::create_directory("fw.v2");
  WriteText("fw.v2/App.hex", ":0400100001020304E2\n:00000001FF\n");
  const fs::path before = fs::current_path();
  const Result r = Convert("./fw.v2/App.hex");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Emptying binary file:  App.BIN ...\n"
            "Processing .H86 input file to .BIN binary file ...\n"
            "Processing .BIN file to .KVU format ...\n"
            "Data file conversion complete, chksums: 0000, 0000\n"
            "Upload file: ./fw.v2/App.KVU\n"
            "Records: 1\n");
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(dir.Names("fw.v2"), (std::vector<std::string>{"App.BIN", "App.KVU", "App.hex"}));
  EXPECT_EQ(fs::file_size("fw.v2/App.KVU"),
            static_cast<std::uintmax_t>(kRecordSize + kTrailerSize));

  // The upload file it made is taken as it is, and reported.
  const Result again = Convert(dir.Path().string() + "/fw.v2/App.KVU");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, "Upload file " + dir.Path().string() +
                           "/fw.v2/App.KVU is sent as it is, chksums: 0000, 0000\nRecords: 1\n");
  EXPECT_EQ(fs::current_path(), before);
}

TEST(ConvertCommand, FailuresExitNonZeroWithTheMessageAndNoUploadFile) {
  ScratchFolder dir("kv-convert", ScratchFolder::Current::Enter);
  const fs::path before = fs::current_path();

  Result r = Convert("fw.rev.hex");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err, "fw.rev.hex: File not found\n");

  WriteText("fw.rev.hex", ":00000001FF\n");
  r = Convert("fw.rev.hex");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err, "Unexpected file extension (REV), choose another file\n");

  r = Convert("missing/fw.hex");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err, "missing/fw.hex: Path not found\n");

  r = Convert("");
  EXPECT_EQ(r.status, kConvertBadArguments);
  EXPECT_FALSE(r.err.empty());

  WriteText("bad.hex", ":0400100001020304E2\n:04ZZ100001020304E2\n:00000001FF\n");
  r = Convert("bad.hex");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err, "bad.hex: Intel HEX line 2: 'ZZ10' is not a valid integer value\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"bad.hex", "fw.rev.hex"}));

  // An upload file cut short is no upload file.
  WriteBytes("cut.kvu", std::vector<std::uint8_t>(kRecordSize + 3, 0x41));
  r = Convert("cut.kvu");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err,
            "The upload file cut.kvu is not a complete upload file: its 138 bytes are not whole "
            "135-byte records followed by the 8-byte checksum trailer. Choose another file\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(fs::current_path(), before);
}

TEST(ConvertCommand, RefusesWhatGivesNothingOrIsDamagedAndNamesTheFileAtFault) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  const std::string where = "fw.hex line 2: the checksum is 3F where the line's bytes call for 40";
  WriteText("fw.hex", ":0100100011DE\n:01000000BF3F\n:00000001FF\n");
  EXPECT_EQ(Convert("fw.hex").err, where +
                                       ". The file was not used; choose another file "
                                       "(--accept-bad-checksums converts it all the same)\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.hex"});
  std::ostringstream out, err;
  EXPECT_EQ(RunConvert("fw.hex", out, err, true), kConvertDone);
  EXPECT_EQ(err.str(), where + ". Converted all the same (--accept-bad-checksums)\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fw.BIN", "fw.KVU", "fw.hex"}));

  WriteText("end.hex", ":00000001FF\n");
  WriteText("none.kvu", "00000000");
  WriteText("app.hex", ":0100000011EE\n:00000001FF\n");
  fs::create_directory("app.BIN");
  for (const auto& [file, message] : std::vector<std::pair<std::string, std::string>>{
           {"end.hex",
            "end.hex holds no data for the unit: the one line read is not a data "
            "record with bytes to write. Choose another file\n"},
           {"none.kvu",
            "The upload file none.kvu holds no records, only its checksum trailer: "
            "there is nothing to send to the unit. Choose another file\n"},
           {"app.hex", "app.BIN: File access denied\n"}}) {
    const Result r = Convert(file);
    EXPECT_EQ(r.status, kConvertBadInput);
    EXPECT_EQ(r.err, message);
  }
  EXPECT_FALSE(fs::exists("app.KVU"));
  EXPECT_FALSE(fs::exists("end.KVU"));
}

TEST(ConvertCommand, HexWithoutEndRecordIsTakenForCutShortAndRefusedUnlessAccepted) {
  ScratchFolder dir("kv-convert", ScratchFolder::Current::Enter);
  // A download that stopped at a line end: every line is sound, only the end record is missing.
  WriteText("cut.hex", ":0100000011EE\n:0100010022DC\n");
  const Result r = Convert("cut.hex");
  EXPECT_EQ(r.status, kConvertBadInput);
  EXPECT_EQ(r.err,
            "cut.hex has no end record: it may have been cut short. The file was not used; "
            "choose another file (--accept-bad-checksums converts it all the same)\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"cut.hex"});

  std::ostringstream out, err;
  EXPECT_EQ(RunConvert("cut.hex", out, err, true), kConvertDone);
  EXPECT_EQ(err.str(),
            "cut.hex has no end record: it may have been cut short. Converted all the same "
            "(--accept-bad-checksums)\n");
  EXPECT_TRUE(fs::exists("cut.KVU"));
}

TEST(ConvertCommand, BinaryImageLargerThanTheFlashIsRefusedBeforeAnythingIsWritten) {
  ScratchFolder dir("kv-convert", ScratchFolder::Current::Enter);
  WriteBytes("big.bin", std::vector<std::uint8_t>(kSoftwareImagePages * kPageSize + 1, 0x00));
  const Result r = Convert("big.bin");
  EXPECT_EQ(r.status, kConvertBadInput);
  // Named as the conversion opens it: big.BIN where names are case-insensitive.
  ASSERT_GT(r.err.size(), 7u);
  EXPECT_TRUE(r.err.rfind("big.bin", 0) == 0 || r.err.rfind("big.BIN", 0) == 0) << r.err;
  EXPECT_EQ(r.err.substr(7),
            ": the image is 4194305 bytes, more than the 4 MB (4194304 bytes) of the unit's "
            "flash\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"big.bin"});
}

}  // namespace

TEST(ConvertCommand, ADifferentFileOfADerivedNameIsKeptOnceAndSaid) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("fw.hex", ":0100000011EE\n:00000001FF\n");
  WriteText("fw.bin", "someone's image");
  WriteText("fw.bin~", "an older copy");
  const Result r = Convert("fw.hex");
  EXPECT_EQ(r.status, kConvertDone) << r.err;
  EXPECT_NE(r.out.find("The earlier fw.bin, which held something else, is kept as fw.bin~\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(ReadText("fw.bin~"), "someone's image");
  // Made again from the same file, nothing else is kept.
  const Result again = Convert("fw.hex");
  EXPECT_EQ(again.out.find("is kept as"), std::string::npos) << again.out;
  EXPECT_EQ(ReadText("fw.bin~"), "someone's image");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fw.KVU", "fw.bin", "fw.bin~", "fw.hex"}));
}

TEST(ConvertCommand, AnUploadFileIsCheckedWholeAndATrailerThatDisagreesNeedsTheOption) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  std::vector<std::uint8_t> image(32768 * 128, 0xFF);
  image[512 * 128] = 0x12;
  const std::string wrong = "12AB34CD";
  WriteBytes("fw.kvu", UploadFileBytes(image, &wrong));
  const Result refused = Convert("fw.kvu");
  EXPECT_EQ(refused.status, kConvertBadInput);
  EXPECT_EQ(refused.err,
            "The upload file fw.kvu may be damaged: its trailer holds the checksums 12AB, 34CD "
            "where its records give FF13, 0000. Make the upload file again or choose another "
            "(--accept-bad-checksums sends it all the same)\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunConvert("fw.kvu", out, err, true), kConvertDone);
  EXPECT_NE(out.str().find("chksums: 12AB, 34CD"), std::string::npos) << out.str();

  const std::string sound = "FF130000";
  std::vector<std::uint8_t> damaged = UploadFileBytes(image, &sound);
  damaged[40] ^= 0x01;
  WriteBytes("fw.kvu", damaged);
  EXPECT_NE(Convert("fw.kvu").err.find("fw.kvu is damaged: record 1 (address 010000)"),
            std::string::npos);
}
