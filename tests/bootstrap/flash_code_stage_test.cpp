// The second part of a factory run: the carried flash code made into Reserved.BIN and
// Reserved.KVU in ProgramDir, the flash-loader dialogue at 38400 baud, the completion screen and
// the removal of the temporary files; and what a file error there does.
#include "bootstrap/flash_code_stage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "factory_rig.h"
#include "support/temp_dir.h"

using namespace factory_test;
namespace fs = std::filesystem;

namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Puts the current folder back at the end of a test that moves it.
struct CurrentFolderKept {
  fs::path before = fs::current_path();
  ~CurrentFolderKept() { fs::current_path(before); }
};

}  // namespace

TEST(FlashCodeStage, Uploads49RecordsWithChecksum1503AndTimesTheFlashCodeAlone) {
  FactoryRig r;
  r.flashLoader.onUploadDone = [&] { r.clock.AdvanceSeconds(25); };
  r.Proceed();
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.started; }, 400));
  r.clock.AdvanceSeconds(3600);  // however long the bootstrap took
  const std::size_t before = r.W().FUpHist().size();
  ASSERT_TRUE(r.RunTo(kHandshakeStep, 10));
  EXPECT_EQ(r.port.baud, 38400);
  const std::vector<std::string> prepared(r.W().FUpHist().begin() + static_cast<long>(before),
                                          r.W().FUpHist().end());
  EXPECT_EQ(
      prepared,
      (std::vector<std::string>{
          "Bootstrap Upload complete", "Changing baudrate to 38400...", "Emptying binary file...",
          "Binary file emptied", "Processing .h86 to .bin format...", ".bin complete",
          "Processing .bin to .kvu format...", ".kvu complete", "Checksum is 1503"}));
  EXPECT_EQ(r.S().BlockCount, 49);
  EXPECT_EQ(r.S().AttemptCount, 0);

  // The image grew past its 64 KB for the second segment; the upload file took none of that.
  const std::string bin = FileText(r.dir.Dir() + "Reserved.BIN");
  const std::string kvu = FileText(r.dir.Dir() + "Reserved.KVU");
  ASSERT_EQ(bin.size(), 66206u);
  EXPECT_NE(bin.substr(65536).find_first_not_of('\xFF'), std::string::npos);
  ASSERT_EQ(kvu.size(), 49u * 135 + 8);
  for (std::size_t i = 0; i < 49; ++i) {
    const std::string record = kvu.substr(i * 135, 135);
    const unsigned address = std::stoul(record.substr(0, 6), nullptr, 16);
    ASSERT_LT(address, 65536u) << "record " << i;
    EXPECT_EQ(record.substr(6, 128), bin.substr(address, 128)) << "record " << i;
  }
  EXPECT_EQ(kvu.substr(0, 6), "000000");
  EXPECT_EQ(static_cast<unsigned char>(kvu[134]), 0x8F);

  ASSERT_TRUE(r.RunTo(0, 400));
  ASSERT_EQ(r.flashLoader.records.size(), 49u);
  for (std::size_t i = 0; i < 49; ++i)
    EXPECT_EQ(r.flashLoader.records[i], kvu.substr(i * 135, 135));
  const auto& h = r.W().FUpHist();
  EXPECT_EQ(std::vector<std::string>(h.end() - 5, h.end()),
            (std::vector<std::string>{"Sending block 49 of 49...", "FlashCode Upload complete", " ",
                                      "Factory Upload completed.", "Time taken: 25 seconds"}));
  EXPECT_EQ(r.W().Caption(Ctl::Label19), "");
  EXPECT_EQ(r.W().Caption(Ctl::Label1),
            "Turn off power to the Unit and remove the Bootstrap jumpers JP2 and JP3");
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "Click on <Go Back to Start> to upload Main Software");
  EXPECT_EQ(r.W().FontColor(Ctl::Label16), clBlue);
  EXPECT_EQ(r.W().FontSize(Ctl::Label16), 10);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_FALSE(r.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_EQ(r.S().Outcome, RunOutcome::Completed);
  EXPECT_EQ(r.port.baud, 38400) << "no reboot wait and checksum query in a factory run";
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.BIN"));
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.KVU"));
}

TEST(FlashCodeStage, AfterASoftwareUploadOfExtendedLinearHexTheFlashCodeStillStartsAtZero) {
  FactoryRig r;
  const std::string hex = r.dir.Dir() + "fw.hex";
  std::ofstream(hex) << ":020000040030CA\n:0100000011EE\n:00000001FF\n";
  const std::string chosen = hex;
  r.ui.chooserAnswer = &chosen;
  r.form.Btn2UploadClick();
  ASSERT_TRUE(r.RunTo(0, 30));
  r.form.BtnChooseFileClick();
  ASSERT_TRUE(r.RunTo(0, 30));
  ASSERT_EQ(r.S().BlockCount, 1);
  r.form.BtnBackToStartClick();

  r.Proceed();
  ASSERT_TRUE(r.RunTo(kHandshakeStep));
  EXPECT_EQ(r.S().BlockCount, 49);
  EXPECT_EQ(r.LastHist(), "Checksum is 1503");
}

TEST(FlashCodeStage, OldFilesAreReplacedAndBothDeletedInProgramDirWhateverTheCurrentFolder) {
  FactoryRig r;
  CurrentFolderKept kept;
  std::ofstream(r.dir.Dir() + "Reserved.KVU") << std::string(100000, 'k');
  std::ofstream(r.dir.Dir() + "Reserved.BIN") << std::string(200000, 'b');
  // ProgramDir named from the current folder, which then moves.
  const fs::path program = fs::path(r.dir.Dir()).parent_path();
  fs::current_path(program.parent_path());
  r.form.Core.ProgramDir = program.filename().string() + "/";
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kHandshakeStep));
  EXPECT_EQ(fs::file_size(r.dir.Dir() + "Reserved.KVU"), 49u * 135 + 8);
  EXPECT_EQ(fs::file_size(r.dir.Dir() + "Reserved.BIN"), 66206u);

  TempDir elsewhere;
  std::ofstream(elsewhere.Dir() + "Reserved.KVU") << "not ours";
  std::ofstream(elsewhere.Dir() + "Reserved.BIN") << "not ours";
  fs::current_path(elsewhere.Dir());
  ASSERT_TRUE(r.RunTo(0, 400));
  EXPECT_EQ(r.S().Outcome, RunOutcome::Completed);
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.KVU"));
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.BIN"));
  EXPECT_TRUE(fs::exists(elsewhere.Dir() + "Reserved.KVU"));
  EXPECT_TRUE(fs::exists(elsewhere.Dir() + "Reserved.BIN"));
}

TEST(FlashCodeStage, AFileErrorStopsTheRunWithItsMessageAndLeavesNoUploadFile) {
  FactoryRig r;
  fs::create_directory(r.dir.Dir() + "Reserved.KVU");  // cannot be replaced by a file
  r.Proceed();
  ASSERT_TRUE(r.RunTo(0, 400));
  ASSERT_EQ(r.ui.messages.size(), 1u);
  EXPECT_FALSE(r.ui.messages[0].empty());
  EXPECT_EQ(r.S().Outcome, RunOutcome::InputOutputError);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(r.LastHist(), "Processing .bin to .kvu format...");
  EXPECT_EQ(r.flashLoader.uCount, 0);
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(r.dir.Dir()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"Reserved.BIN", "Reserved.KVU"}));
  EXPECT_TRUE(fs::is_directory(r.dir.Dir() + "Reserved.KVU"));
}
