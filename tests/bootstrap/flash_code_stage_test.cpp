// The second part of a factory run: the carried flash code made into Reserved.BIN and
// Reserved.KVU in ProgramDir, the flash-loader dialogue at 38400 baud, the completion screen and
// the removal of the temporary files; and what a file error there does.
#include "bootstrap/flash_code_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "factory_rig.h"
#include "support/scratch_folder.h"

using namespace factory_test;
namespace fs = std::filesystem;

namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(FlashCodeStage, Uploads49RecordsWithChecksum1503AndTimesTheFlashCodeAlone) {
  FactoryRig r;
  r.flashLoader.onUploadDone = [&] { r.clock.AdvanceSeconds(25); };
  r.Proceed();
  ASSERT_TRUE(r.TickUntil([&] { return r.chip.started; }, 400));
  r.clock.AdvanceSeconds(3600);  // however long the bootstrap took
  ASSERT_TRUE(r.RunTo(kHandshakeStep, 10));
  EXPECT_EQ(r.port.baud, 38400);
  EXPECT_EQ(r.LastHist(), "Checksum is 1503");
  EXPECT_EQ(r.S().BlockCount, 49);

  // The image grew past its 64 KB for the flash code's second segment; no record took that.
  const std::string bin = FileText(r.dir.Dir() + "Reserved.BIN");
  const std::string kvu = FileText(r.dir.Dir() + "Reserved.KVU");
  ASSERT_EQ(bin.size(), 66206u);
  EXPECT_NE(bin.find_first_not_of('\xFF', 65536), std::string::npos);
  ASSERT_EQ(kvu.size(), 49u * 135 + 8);
  for (std::size_t i = 0; i < 49; ++i) {
    const unsigned address = std::stoul(kvu.substr(i * 135, 6), nullptr, 16);
    ASSERT_LT(address, 65536u);
    EXPECT_EQ(kvu.substr(i * 135 + 6, 128), bin.substr(address, 128)) << "record " << i;
  }

  ASSERT_TRUE(r.RunTo(kIdleStep, 400));
  EXPECT_EQ(r.flashLoader.records.size(), 49u);
  const auto& h = r.W().FUpHist();
  EXPECT_EQ(std::vector<std::string>(h.end() - 4, h.end()),
            (std::vector<std::string>{"FlashCode Upload complete", " ", "Factory Upload completed.",
                                      "Time taken: 25 seconds"}));
  EXPECT_EQ(r.W().Caption(Ctl::Label16), "Click on <Go Back to Start> to upload Main Software");
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(r.S().Outcome, RunOutcome::Completed);
  EXPECT_EQ(r.port.baud, 38400) << "no reboot wait in a factory run";
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.BIN") ||
               fs::exists(r.dir.Dir() + "Reserved.KVU"));
}

TEST(FlashCodeStage, AfterASoftwareUploadOfExtendedLinearHexTheFlashCodeStillStartsAtZero) {
  FactoryRig r;
  const std::string hex = r.dir.Dir() + "fw.hex";
  std::ofstream(hex) << ":020000040030CA\n:0100000011EE\n:00000001FF\n";
  r.ui.chooserAnswer = &hex;
  r.form.Btn2UploadClick();
  r.Tick(3);
  r.form.BtnChooseFileClick();
  ASSERT_TRUE(r.RunTo(kIdleStep, 30));
  ASSERT_EQ(r.S().BlockCount, 1);
  r.form.BtnBackToStartClick();

  r.Proceed();
  ASSERT_TRUE(r.RunTo(kHandshakeStep));
  EXPECT_EQ(r.S().BlockCount, 49);
  EXPECT_EQ(r.LastHist(), "Checksum is 1503");
}

TEST(FlashCodeStage, OldFilesAreReplacedAndBothDeletedInProgramDirWhateverTheCurrentFolder) {
  FactoryRig r;
  const fs::path before = fs::current_path();
  std::ofstream(r.dir.Dir() + "Reserved.KVU") << std::string(100000, 'k');
  std::ofstream(r.dir.Dir() + "Reserved.BIN") << std::string(200000, 'b');
  // ProgramDir named from the current folder, which then moves to one with files of those names.
  const fs::path program = fs::path(r.dir.Dir()).parent_path();
  fs::current_path(program.parent_path());
  r.form.Core.ProgramDir = program.filename().string() + "/";
  r.Proceed();
  EXPECT_TRUE(r.RunTo(kHandshakeStep));
  EXPECT_EQ(fs::file_size(r.dir.Dir() + "Reserved.KVU"), 49u * 135 + 8);
  EXPECT_EQ(fs::file_size(r.dir.Dir() + "Reserved.BIN"), 66206u);
  kvtest::ScratchFolder elsewhere;
  std::ofstream(elsewhere.Dir() + "Reserved.KVU") << "not ours";
  fs::current_path(elsewhere.Dir());
  EXPECT_TRUE(r.RunTo(kIdleStep, 400));
  fs::current_path(before);
  EXPECT_FALSE(fs::exists(r.dir.Dir() + "Reserved.KVU") ||
               fs::exists(r.dir.Dir() + "Reserved.BIN"));
  EXPECT_TRUE(fs::exists(elsewhere.Dir() + "Reserved.KVU"));
}

TEST(FlashCodeStage, AFileErrorStopsTheRunWithItsMessageAndLeavesNoUploadFile) {
  FactoryRig r;
  fs::create_directory(r.dir.Dir() + "Reserved.KVU");  // cannot be replaced by a file
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kIdleStep, 400));
  ASSERT_EQ(r.ui.messages.size(), 1u);
  // The runtime's words alone ("File access denied") would not say which file.
  EXPECT_EQ(r.ui.messages[0].rfind(r.dir.Dir() + "Reserved.KVU: ", 0), 0u) << r.ui.messages[0];
  EXPECT_EQ(r.S().Outcome, RunOutcome::InputOutputError);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(r.flashLoader.uCount, 0);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(r.dir.Dir())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1) << "Reserved.BIN alone, no temporary upload file";
}

TEST(FlashCodeStage, TheDialoguesFailuresShowInTheFactoryHistory) {
  // The factory screen is what the user watches: an unexpected erase answer and a halt by the
  // unit are told there, not only on the hidden Software Upload screen.
  FactoryRig r;
  r.flashLoader.afterGo = {"ERASING...\r", "ERASE BLOCK TIMEOUT: 7\r"};
  r.Proceed();
  ASSERT_FALSE(r.RunTo(kHandshakeStep + 1000, 800));
  EXPECT_EQ(r.LastHist(), "unexpected response: ERASE BLOCK TIMEOUT: 7\r");
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));

  FactoryRig h;
  h.flashLoader.answer = [](int n, const std::string&) -> std::string {
    return n == 3 ? "UPLOAD FAILED\r" : "SEND BLOCK\r";
  };
  h.Proceed();
  ASSERT_FALSE(h.RunTo(kHandshakeStep + 1000, 800));
  EXPECT_EQ(h.LastHist(), "Upload failed");
  EXPECT_EQ(h.S().Outcome, RunOutcome::HaltedByUnit);
  EXPECT_TRUE(h.W().Visible(Ctl::BtnBackToStart));
}

TEST(FlashCodeStage, EraseErrorsReportedByTheUnitAreTheRunsOutcome) {
  FactoryRig r;
  r.flashLoader.afterGo = {"ERASING...\r", "ERASE ERROR: 3\r", "BLOCK BASE INDEX: 40000\r",
                           "ERASE COMPLETE\r", "SEND BLOCK\r"};
  r.Proceed();
  ASSERT_TRUE(r.RunTo(kIdleStep, 1200));
  const auto& h = r.W().FUpHist();
  EXPECT_NE(std::find(h.begin(), h.end(), "ERASE ERROR: 3\r"), h.end());
  EXPECT_EQ(h[h.size() - 2], "Factory Upload completed.");
  EXPECT_EQ(r.S().Outcome, RunOutcome::CompletedWithEraseErrors);
}
