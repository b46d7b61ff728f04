// Taking in the chosen file: its kind by extension, the derived names, each road to the ready
// screen with its texts, and the failures that must leave the run as it was.
#include "fileprep/intake.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "fileprep/file_names.h"
#include "form/main_form.h"
#include "support/fakes.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace kvtest;

// A Software Upload with the port open, "Choose File" offered, as step 10 leaves it.
struct IntakeRig {
  FakePort port;
  FakeClock clock;
  FakeUi ui;
  MainForm form{port, clock, ui, "./"};
  std::string answer;

  IntakeRig() {
    form.FormActivate();
    form.Btn2UploadClick();
    form.S().UploadBaud = 57600;
    form.S().Step = kPortOpenedStep;
    form.W().Show(Ctl::BtnChooseFile);
    form.W().Clear(Ctl::Label12);
  }
  void Choose(const std::string& name) {
    answer = name;
    ui.chooserAnswer = &answer;
    form.BtnChooseFileClick();
  }
  // Ticks until the ready screen (or idle); returns the steps seen on the way.
  std::vector<int> TickToReady() {
    std::vector<int> seen{form.S().Step};
    for (int i = 0; i < 10 && form.S().Step != kReadyStep && form.S().Step != kIdleStep; ++i) {
      form.Timer1Timer();
      seen.push_back(form.S().Step);
    }
    return seen;
  }
  const std::string& Caption(Ctl name) { return form.W().Caption(name); }
};

std::vector<std::uint8_t> UploadFileOf(int records) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(records) * kRecordSize, 0x41);
  for (char c : std::string("12345678")) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

// Two pages with data: page 0 (boot region) and page 512 (first page of the firmware sums).
std::vector<std::uint8_t> SmallImage() {
  std::vector<std::uint8_t> image(513 * kPageSize, 0xFF);
  image[5] = 0x00;
  image[512 * kPageSize] = 0x12;
  return image;
}

TEST(InputNames, ExtensionIsUpToThreeCharactersAfterTheFirstDot) {
  struct Case {
    const char* name;
    const char* extension;
    const char* base;
  };
  for (const Case& c :
       {Case{"FW.hex", "HEX", "FW"}, Case{"fw.Hex", "HEX", "fw"}, Case{"fw.HEXA", "HEX", "fw"},
        Case{"fw.rev.hex", "REV", "fw"}, Case{"fw.r2.hex", "R2.", "fw"},
        Case{"firmware", "FIR", ""}, Case{"a.b", "B", "a"}, Case{".kvu", "KVU", ""},
        Case{"dir.v2/fw.hex", "V2/", "dir"}}) {
    const InputNameParts parts = SplitInputName(c.name);
    EXPECT_EQ(parts.Extension, c.extension) << c.name;
    EXPECT_EQ(parts.BaseName, c.base) << c.name;
  }
}

#ifndef _WIN32
// Windows finds such a file by itself: file_names_win_test.cpp.
TEST(InputNames, DerivedNameMeansTheFileThatDiffersOnlyInCase) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("fw.bin", "x");
  WriteText("other.KVU", "x");
  fs::create_directory("sub");
  WriteText("sub/Image.Bin", "x");
  EXPECT_EQ(ResolveExistingName("fw.BIN"), "fw.bin");
  EXPECT_EQ(ResolveExistingName("OTHER.kvu"), "other.KVU");
  EXPECT_EQ(ResolveExistingName("sub/IMAGE.BIN"), "sub/Image.Bin");
  EXPECT_EQ(ResolveExistingName(dir.Path().string() + "/FW.BIN"), dir.Path().string() + "/fw.bin");
  // Nothing to match: the name as derived, to be created.
  EXPECT_EQ(ResolveExistingName("new.KVU"), "new.KVU");
  // Spelt exactly: that file, even when another spelling exists as well.
  WriteText("fw.BIN", "y");
  EXPECT_EQ(ResolveExistingName("fw.BIN"), "fw.BIN");
  EXPECT_EQ(ResolveExistingName("Fw.Bin"), "fw.BIN");  // first in name order
}
#endif

TEST(InputIntakeTest, IntelHexInputsOfAnyCaseTakeTheConversionRoad) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  struct Case {
    const char* input;
    const char* bin;
    const char* kvu;
  };
  for (const Case& c : {Case{"FW.hex", "FW.BIN", "FW.KVU"}, Case{"fw.Hex", "fw.BIN", "fw.KVU"},
                        Case{"fw.HEXA", "fw.BIN", "fw.KVU"}, Case{"fw.h86", "fw.BIN", "fw.KVU"},
                        Case{"fw.MCS", "fw.BIN", "fw.KVU"}}) {
    WriteText(c.input, ":00000001FF\n");
    IntakeRig rig;
    rig.Choose(c.input);
    const SequencerState& s = rig.form.S();
    EXPECT_EQ(s.Step, kEmptyImageStep) << c.input;
    EXPECT_EQ(s.InputFileName, c.input);
    EXPECT_EQ(s.BinFileName, c.bin);
    EXPECT_EQ(s.UploadFileName, c.kvu);
    EXPECT_EQ(s.ImagePages, kSoftwareImagePages);
    EXPECT_EQ(s.HelpContext, 4);
    EXPECT_EQ(rig.Caption(Ctl::Label12), "Preparing input file, please wait ...");
    EXPECT_EQ(rig.form.W().FontColor(Ctl::Label12), clBlue);
    EXPECT_EQ(rig.Caption(Ctl::Label8), std::string("Emptying binary file:  ") + c.bin + " ...");
    EXPECT_FALSE(rig.form.W().Visible(Ctl::RunBox));
    EXPECT_FALSE(rig.form.W().Visible(Ctl::BtnChooseFile));
    EXPECT_FALSE(rig.form.W().Visible(Ctl::Gauge));
    fs::remove(c.input);
  }
}

TEST(InputIntakeTest, UnknownExtensionsAreRejectedAndChooseFileComesBack) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  for (const auto& [input, extension] : std::vector<std::pair<std::string, std::string>>{
           {"fw.rev.hex", "REV"}, {"fw.r2.hex", "R2."}, {"firmware", "FIR"}, {"fw.txt", "TXT"}}) {
    WriteText(input, ":00000001FF\n");
    IntakeRig rig;
    rig.form.W().SetFontColor(Ctl::Label12, clRed);
    rig.Choose(input);
    EXPECT_EQ(rig.form.S().Step, kRejectedInputStep) << input;
    EXPECT_FALSE(rig.form.W().Visible(Ctl::BtnChooseFile));
    rig.form.Timer1Timer();
    EXPECT_EQ(rig.form.S().Step, kIdleStep);
    EXPECT_EQ(rig.Caption(Ctl::Label12),
              "Unexpected file extension (" + extension + "), choose another file");
    EXPECT_EQ(rig.form.W().FontColor(Ctl::Label12), clRed);  // colour left as it was
    EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));
  }
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"firmware", "fw.r2.hex", "fw.rev.hex", "fw.txt"}));
}

TEST(InputIntakeTest, ChosenUploadFileGoesStraightToTheReadyScreenUntouched) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  const auto kvu = UploadFileOf(49);
  ASSERT_EQ(kvu.size(), 6623u);
  WriteBytes("fw.kvu", kvu);
  chmod("fw.kvu", 0444);  // sending only reads it
  IntakeRig rig;
  rig.form.W().SetCaption(Ctl::Label2, "old");
  rig.form.W().Show(Ctl::BtnRepeatUpload);
  rig.Choose("fw.kvu");
  const SequencerState& s = rig.form.S();
  EXPECT_TRUE(rig.ui.messages.empty()) << rig.ui.messages.front();
  EXPECT_EQ(s.Step, kReadyStep);
  EXPECT_EQ(s.BlockCount, 49);
  EXPECT_EQ(s.InputExtension, "KVU");
  EXPECT_EQ(s.UploadFileName, "fw.kvu");
  EXPECT_TRUE(s.UploadFile.IsOpen());
  EXPECT_EQ(s.HelpContext, 4);
  EXPECT_EQ(rig.port.baud, 57600);
  EXPECT_TRUE(rig.form.W().Visible(Ctl::RunBox));
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnStartRun));
  EXPECT_FALSE(rig.form.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_FALSE(rig.form.W().Visible(Ctl::BtnChooseFile));
  EXPECT_FALSE(rig.form.W().Visible(Ctl::Label10));
  EXPECT_EQ(rig.Caption(Ctl::Label2), "");
  EXPECT_EQ(rig.Caption(Ctl::Label12), "");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.kvu"});
  EXPECT_EQ(ReadBytes("fw.kvu"), kvu);
}

TEST(InputIntakeTest, CancellingTheChooserChangesNothing) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  IntakeRig rig;
  rig.form.S().InputFileName = "earlier.hex";
  rig.form.S().UploadFileName = "earlier.KVU";
  rig.form.W().SetCaption(Ctl::Label12, "Port open");
  rig.ui.chooserAnswer = nullptr;
  rig.form.BtnChooseFileClick();
  EXPECT_EQ(rig.ui.chooserShown, 1);
  EXPECT_EQ(rig.form.S().Step, kPortOpenedStep);
  EXPECT_EQ(rig.form.S().InputFileName, "earlier.hex");
  EXPECT_EQ(rig.form.S().UploadFileName, "earlier.KVU");
  EXPECT_EQ(rig.Caption(Ctl::Label12), "Port open");
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));
  EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(InputIntakeTest, BinaryImageIsConvertedBesideItAndReplacesTheOldUploadFile) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteBytes("fw.bin", SmallImage());
  WriteText("fw.kvu", "stale upload file");  // the same name but for case: replaced
  IntakeRig rig;
  rig.Choose("fw.bin");
  const SequencerState& s = rig.form.S();
  ASSERT_EQ(s.Step, kMakeUploadFileStep) << (rig.ui.messages.empty() ? "" : rig.ui.messages[0]);
#ifdef _WIN32
  // The names as derived: the file system itself takes them for the files of other case.
  EXPECT_EQ(s.BinFileName, "fw.BIN");
  EXPECT_EQ(s.UploadFileName, "fw.KVU");
#else
  EXPECT_EQ(s.BinFileName, "fw.bin");
  EXPECT_EQ(s.UploadFileName, "fw.kvu");
#endif
  EXPECT_EQ(rig.Caption(Ctl::Label12), "Preparing input file, please wait ...");
  EXPECT_EQ(rig.form.W().FontColor(Ctl::Label12), clBlue);
  EXPECT_EQ(rig.Caption(Ctl::Label8), "Converting .BIN file to .KVU format ...");
  EXPECT_FALSE(rig.form.W().Visible(Ctl::RunBox));

  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kWriteUploadFileStep);
  EXPECT_EQ(ReadBytes("fw.kvu").size(), 17u) << "the old file stays until the new one is whole";
  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kReadyStep);
  EXPECT_EQ(s.BlockCount, 2);
  // The sums cover every page of their regions, erased ones too; those come to 0 modulo
  // 65536, so page 512's single 0x12 in place of 0xFF leaves 0x12 - 0xFF = 0xFF13.
  EXPECT_EQ(s.LastReply, "FF13, 0000");
  EXPECT_EQ(rig.Caption(Ctl::Label12), "Data file conversion complete, chksums: FF13, 0000");
  EXPECT_EQ(rig.form.W().FontColor(Ctl::Label12), clBlack);
  EXPECT_TRUE(rig.form.W().Visible(Ctl::RunBox));
  // The upload file it replaced held something else: kept once, and said.
  const std::string kept = s.UploadFileName + "~";
  EXPECT_EQ(ReadText(kept), "stale upload file");
  EXPECT_EQ(rig.form.W().FUpHist().back(),
            "The earlier " + s.UploadFileName + ", which held something else, is kept as " + kept);
  fs::remove(kept);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fw.bin", "fw.kvu"}));
  const auto kvu = ReadBytes("fw.kvu");
  ASSERT_EQ(kvu.size(), 2u * kRecordSize + kTrailerSize);
  EXPECT_EQ(std::string(kvu.begin(), kvu.begin() + 6), "000000");
  EXPECT_EQ(std::string(kvu.begin() + kRecordSize, kvu.begin() + kRecordSize + 6), "010000");
  EXPECT_EQ(std::string(kvu.end() - 8, kvu.end()), "FF130000");
  EXPECT_EQ(ReadBytes("fw.bin"), SmallImage()) << "the input image is only read";
}

TEST(InputIntakeTest, IntelHexTakesFourTicksWithEachStepsText) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  // Four bytes at 0x000010, and one byte in the FPGA region at 0x060000.
  WriteText("FW.hex",
            ":0400100001020304E2\n"
            ":020000040006F4\n"
            ":0100000055AA\n"
            ":00000001FF\n");
  WriteText("fw.bin", "old image");  // replaced, whatever its case
  IntakeRig rig;
  rig.Choose("FW.hex");
  const SequencerState& s = rig.form.S();
  ASSERT_EQ(s.Step, kEmptyImageStep);
#ifdef _WIN32
  EXPECT_EQ(s.BinFileName, "FW.BIN");
#else
  EXPECT_EQ(s.BinFileName, "fw.bin");
#endif
  EXPECT_EQ(s.UploadFileName, "FW.KVU");

  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kReadHexStep);
  EXPECT_EQ(rig.Caption(Ctl::Label8), "Processing .H86 input file to .BIN binary file ...");
  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kMakeUploadFileStep);
  EXPECT_EQ(rig.Caption(Ctl::Label8), "Processing .BIN file to .KVU format ...");
  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kWriteUploadFileStep);
  EXPECT_FALSE(fs::exists("FW.KVU")) << "no complete-looking upload file before it is written";
  rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kReadyStep);
  EXPECT_TRUE(rig.ui.messages.empty()) << rig.ui.messages.front();
  EXPECT_EQ(s.BlockCount, 2);
  EXPECT_EQ(rig.Caption(Ctl::Label12), "Data file conversion complete, chksums: 0000, FF56");
  EXPECT_EQ(ReadText(s.BinFileName + "~"), "old image");
  fs::remove(s.BinFileName + "~");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"FW.KVU", "FW.hex", "fw.bin"}));
  // Converted again, the files it made are replaced by their equals without a copy.
  rig.Choose("FW.hex");
  for (int i = 0; i < 4; ++i) rig.form.Timer1Timer();
  EXPECT_EQ(s.Step, kReadyStep);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"FW.KVU", "FW.hex", "fw.bin"}));
  EXPECT_EQ(fs::file_size("fw.bin"), 4u * 1024 * 1024);
  const auto kvu = ReadBytes("FW.KVU");
  ASSERT_EQ(kvu.size(), 2u * kRecordSize + kTrailerSize);
  EXPECT_EQ(std::vector<std::uint8_t>(kvu.begin() + 6 + 16, kvu.begin() + 6 + 20),
            (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(std::string(kvu.begin() + kRecordSize, kvu.begin() + kRecordSize + 6), "060000");
}

TEST(InputIntakeTest, RepeatUploadReopensTheConvertedFileWithoutConverting) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteBytes("fw.bin", SmallImage());
  IntakeRig rig;
  rig.Choose("fw.bin");
  rig.TickToReady();
  ASSERT_EQ(rig.form.S().Step, kReadyStep);
  const auto kvu = ReadBytes("fw.KVU");
  // The run ends; the image changes on disk meanwhile.
  rig.form.S().UploadFile.Close();
  rig.form.S().Step = kIdleStep;
  rig.form.S().BlockCount = 0;
  rig.form.W().Show(Ctl::BtnRepeatUpload);
  rig.form.W().Show(Ctl::BtnBackToStart);
  rig.form.W().Hide(Ctl::RunBox);
  rig.form.W().SetCaption(Ctl::Label12, "Upload complete");
  WriteBytes("fw.bin", std::vector<std::uint8_t>(kPageSize, 0x00));
  rig.port.baud = 9600;

  rig.form.BtnRepeatUploadClick();
  const SequencerState& s = rig.form.S();
  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_EQ(s.Step, kReadyStep);
  EXPECT_EQ(s.BlockCount, 2);
  EXPECT_EQ(s.UploadFileName, "fw.KVU");
  EXPECT_TRUE(s.UploadFile.IsOpen());
  EXPECT_EQ(rig.port.baud, 57600);
  EXPECT_FALSE(rig.form.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnBackToStart));  // until "Start Upload"
  EXPECT_TRUE(rig.form.W().Visible(Ctl::RunBox));
  EXPECT_EQ(rig.Caption(Ctl::Label12), "");
  EXPECT_EQ(ReadBytes("fw.KVU"), kvu);
}

TEST(InputIntakeTest, MissingFilesAreReportedAndLeaveTheRunAsItWas) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  IntakeRig rig;
  rig.form.S().UploadFileName = "earlier.KVU";
  rig.form.W().SetCaption(Ctl::Label12, "Port open");

  // The chosen file vanished between the chooser and the intake.
  rig.Choose("gone.hex");
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "gone.hex: File not found");
  EXPECT_EQ(rig.form.S().Step, kPortOpenedStep);
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));

  // fw.bin2 means the image fw.BIN, which is not there.
  WriteText("fw.bin2", "x");
  rig.Choose("fw.bin2");
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1], "fw.BIN: File not found");
  EXPECT_EQ(rig.form.S().Step, kPortOpenedStep);
  EXPECT_EQ(rig.form.S().UploadFileName, "earlier.KVU");
  EXPECT_EQ(rig.Caption(Ctl::Label12), "Port open");
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));

  // "&Repeat Upload" after the last upload file was deleted: the way back stays offered.
  rig.form.S().Step = kIdleStep;
  rig.form.W().Show(Ctl::BtnRepeatUpload);
  rig.form.W().Show(Ctl::BtnBackToStart);
  rig.form.BtnRepeatUploadClick();
  ASSERT_EQ(rig.ui.messages.size(), 3u);
  EXPECT_EQ(rig.ui.messages[2], "earlier.KVU: File not found");
  EXPECT_EQ(rig.form.S().Step, kIdleStep);
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnBackToStart));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.bin2"});
}

TEST(InputIntakeTest, ImageThatCannotBeWrittenStillConverts) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
#ifndef _WIN32
  // A file nobody may write to, root included: a program while it runs. Not this test program,
  // which can be larger than the unit's flash.
  const pid_t sleeper = fork();
  ASSERT_GE(sleeper, 0);
  if (sleeper == 0) {
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string exe = "/proc/" + std::to_string(sleeper) + "/exe";
  for (int i = 0; i < 500 && fs::read_symlink(exe).filename() != "sleep"; ++i) usleep(10000);
  fs::create_symlink(exe, "ro.bin");
  IntakeRig rig;
  rig.Choose("ro.bin");
  EXPECT_TRUE(rig.ui.messages.empty()) << rig.ui.messages.front();
  rig.TickToReady();
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(rig.form.S().Step, kReadyStep);
  EXPECT_GT(rig.form.S().BlockCount, 0);
  EXPECT_EQ(fs::file_size("ro.KVU"),
            static_cast<std::uintmax_t>(rig.form.S().BlockCount) * kRecordSize + kTrailerSize);
#endif

  // And a read-only image by its permissions (they bind everyone but root).
  WriteBytes("perm.bin", SmallImage());
  chmod("perm.bin", 0444);
  IntakeRig other;
  other.Choose("perm.bin");
  other.TickToReady();
  EXPECT_EQ(other.form.S().Step, kReadyStep);
  EXPECT_EQ(other.form.S().BlockCount, 2);
}

TEST(InputIntakeTest, FailedConversionStopsTheRunAndLeavesNoUploadFile) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("bad.hex", ":0400100001020304E2\n:04ZZ100001020304E2\n:00000001FF\n");
  IntakeRig rig;
  rig.Choose("bad.hex");
  const std::vector<int> steps = rig.TickToReady();
  EXPECT_EQ(steps, (std::vector<int>{kEmptyImageStep, kReadHexStep, 0}));
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "bad.hex: Intel HEX line 2: 'ZZ10' is not a valid integer value");
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnBackToStart));
  for (const std::string& name : dir.Names()) {
    EXPECT_EQ(name.find(".KVU"), std::string::npos) << name;
  }
}

// A refusal in red with nothing sent; `outcome` says how the run ended.
void ExpectRefused(IntakeRig& rig, const std::string& text, RunOutcome outcome) {
  EXPECT_EQ(rig.form.S().Step, kIdleStep);
  EXPECT_EQ(rig.Caption(Ctl::Label12), text);
  EXPECT_EQ(rig.form.W().FontColor(Ctl::Label12), clRed);
  EXPECT_EQ(rig.form.S().Outcome, outcome);
  EXPECT_TRUE(rig.ui.messages.empty()) << rig.ui.messages.front();
  EXPECT_EQ(rig.port.written, "");
}

TEST(InputIntakeTest, InputThatGivesNothingToSendIsRefusedBeforeAnythingIsWritten) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("fw.KVU", "last upload file");
  const std::string noData = "fw.hex holds no data for the unit: ";
  for (const auto& [text, refusal] : std::vector<std::pair<std::string, std::string>>{
           {":00000001FF\r\n",
            noData + "the one line read is not a data record with bytes to write"},
           {"\xEF\xBB\xBF:00000001FF\r\n",  // the byte-order mark passed over without a word
            noData + "the one line read is not a data record with bytes to write"},
           {"Dear customer,\nthe new firmware is attached.\n",
            "fw.hex holds no Intel HEX records: none of its 2 lines begins with ':'"},
           {":04000000FFFFFFFFFC\n:01000A00FFF6\n:00000001FF\n",
            noData +
                "its 2 data records hold only bytes of 0xFF, which erased flash holds already"},
           {"", "fw.hex is empty: it holds no data for the unit"}}) {
    WriteText("fw.hex", text);
    IntakeRig rig;
    rig.Choose("fw.hex");
    rig.TickToReady();
    ExpectRefused(rig, refusal + ". Choose another file", RunOutcome::BadInput);
    EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fw.KVU", "fw.hex"}));
  EXPECT_EQ(ReadBytes("fw.KVU").size(), 16u) << "the last conversion's file is kept";

  WriteBytes("blank.bin", std::vector<std::uint8_t>(3 * kPageSize, 0xFF));
  IntakeRig blank;
  blank.Choose("blank.bin");
  blank.TickToReady();
#ifdef _WIN32
  // The name as derived: the file system itself takes it for the file of other case.
  const std::string blankName = "blank.BIN";
#else
  const std::string blankName = "blank.bin";
#endif
  ExpectRefused(blank,
                blankName +
                    " holds no data for the unit: where the unit's flash lies it holds only "
                    "bytes of 0xFF, which erased flash holds already. Choose another file",
                RunOutcome::BadInput);
  EXPECT_FALSE(fs::exists("blank.KVU"));

  // An upload file of the trailer alone: refused by the ready screen, and by the button.
  WriteText("none.kvu", "00000000");
  IntakeRig kvu;
  kvu.Choose("none.kvu");
  kvu.form.Timer1Timer();
  const std::string none =
      "The upload file none.kvu holds no records, only its checksum trailer: there is nothing "
      "to send to the unit. Choose another file";
  ExpectRefused(kvu, none, RunOutcome::RefusedBeforeSending);
  kvu.form.BtnStartRunClick();
  ExpectRefused(kvu, none, RunOutcome::RefusedBeforeSending);
}

TEST(InputIntakeTest, BadLinesAreAskedAboutBeforeAnythingIsWritten) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("fw.hex",
            ":0400100001020304E2\n:01000000BF3F\n:0100200011CE\n:0100300011\n:00000001FF\n");
  const std::string where =
      "fw.hex line 2: the checksum is 3F where the line's bytes call for 40 (2 bad lines in all)";
  IntakeRig no;
  no.Choose("fw.hex");
  no.TickToReady();
  EXPECT_EQ(no.ui.questions, std::vector<std::string>{
                                 where + ". Some old tools wrote wrong checksums, but the file may "
                                         "be damaged. Use it anyway?"});
  ExpectRefused(no, where + ". The file was not used; choose another file", RunOutcome::BadInput);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.hex"});

  // Yes: the file is used as it always was, the bad line's byte included.
  IntakeRig yes;
  yes.ui.confirmAnswer = true;
  yes.Choose("fw.hex");
  yes.TickToReady();
  EXPECT_EQ(yes.form.S().Step, kReadyStep);
  EXPECT_EQ(ReadBytes("fw.KVU")[6], 0xBF);
}

TEST(InputIntakeTest, HexWithoutEndRecordIsAskedAboutAsADamagedFile) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  WriteText("fw.hex", ":0100000011EE\n:0100010022DC\n");
  IntakeRig no;
  no.Choose("fw.hex");
  no.TickToReady();
  const std::string what = "fw.hex has no end record: it may have been cut short";
  EXPECT_EQ(no.ui.questions, std::vector<std::string>{what + ". Use it anyway?"});
  ExpectRefused(no, what + ". The file was not used; choose another file", RunOutcome::BadInput);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"fw.hex"});
}

TEST(InputIntakeTest, ErrorsNameTheFileTheyAreAbout) {
  ScratchFolder dir("kv-intake", ScratchFolder::Current::Enter);
  IntakeRig rig;
  fs::create_directory("folder.hex");
#ifndef _WIN32
  ASSERT_EQ(mkfifo("pipe.hex", 0600), 0);
  for (const char* name : {"folder.hex", "pipe.hex", "/dev/null"}) rig.Choose(name);
  EXPECT_EQ(rig.ui.messages,
            (std::vector<std::string>{"folder.hex is a folder, not a file",
                                      "pipe.hex is a named pipe (FIFO), not a file",
                                      "/dev/null is a device, not a file"}));
#else
  rig.Choose("folder.hex");
  EXPECT_EQ(rig.ui.messages, std::vector<std::string>{"folder.hex is a folder, not a file"});
#endif
  EXPECT_TRUE(rig.form.W().Visible(Ctl::BtnChooseFile));

  // The image or upload file that cannot be written is named, not the input; so is the line
  // that puts data past the unit's 4 MB of flash.
  WriteText("fw.hex", ":0100000011EE\n:00000001FF\n");
  WriteText("big.hex", ":020000040040BA\n:0100000011EE\n");
  for (const auto& [input, folder, message] : std::vector<std::array<std::string, 3>>{
           {"fw.hex", "fw.BIN", "fw.BIN: File access denied"},
           {"fw.hex", "fw.KVU", "fw.KVU: File access denied"},
           {"big.hex", "",
            "big.hex: Intel HEX line 2 puts data at address 0x400000, at or "
            "beyond the 4 MB limit (0x400000) of a binary image"}}) {
    if (!folder.empty()) fs::create_directory(folder);
    IntakeRig run;
    run.Choose(input);
    run.TickToReady();
    EXPECT_EQ(run.ui.messages, std::vector<std::string>{message});
    if (!folder.empty()) fs::remove(folder);
  }
  EXPECT_FALSE(fs::exists("big.BIN"));
}

}  // namespace
