// The Software Upload driven tick by tick against a scripted flash loader: port opening, the
// ready screen, the handshake, erase, record requests, the end of the dialogue and the screens.
#include "sequencer/upload_dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sequencer/ticks.h"
#include "upload_rig.h"

using namespace upload_test;

namespace {

int CountOf(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

bool HistHas(WindowModel& w, const std::string& line) {
  const auto& h = w.FUpHist();
  return std::find(h.begin(), h.end(), line) != h.end();
}

}  // namespace

TEST(UploadPortOpening, OpensTheChosenPortReportsItAndRemembersIt) {
  UploadRig r;
  r.port.active = false;
  r.W().SetItemIndex(Ctl::CommPortBox, 2);  // "3"
  r.form.Btn2UploadClick();
  r.Tick();  // 5
  EXPECT_EQ(r.port.port, 3);
  EXPECT_EQ(r.port.baud, 38400);
  EXPECT_TRUE(r.port.active);
  EXPECT_EQ(r.S().Step, kPortWaitStep);
  r.Tick(2);  // 6, 10
  EXPECT_EQ(r.W().Caption(Ctl::Label12), "Port is open on Com 3 at 38400 baud");
  EXPECT_TRUE(r.W().Visible(Ctl::BtnChooseFile));
  EXPECT_FALSE(r.W().Visible(Ctl::Label10));
  EXPECT_EQ(r.S().Step, kIdleStep);
  std::ifstream settings(r.dir.Dir() + "commsUP.txt");
  std::string line;
  std::getline(settings, line);
  EXPECT_EQ(line, "3,38400");

#ifndef _WIN32
  // Settings that fail only as they are written out (a full disk) are reported, and the
  // upload goes on.
  UploadRig full;
  full.port.active = false;
  std::filesystem::create_symlink("/dev/full", full.dir.File("commsUP.txt"));
  full.W().SetItemIndex(Ctl::CommPortBox, 2);
  full.form.Btn2UploadClick();
  full.Tick(3);
  EXPECT_EQ(full.ui.messages,
            std::vector<std::string>{"The port settings could not be saved: Disk full"});
  EXPECT_TRUE(full.W().Visible(Ctl::BtnChooseFile));
#endif

  // A port that does not open gets 20 ticks, then says so and offers no file.
  UploadRig bad;
  bad.port.active = false;
  bad.port.opens = false;
  bad.form.Btn2UploadClick();
  bad.Tick();
  for (int i = 0; i < 19; ++i) {
    bad.Tick();
    ASSERT_EQ(bad.S().Step, kPortWaitStep) << "tick " << i;
  }
  bad.Tick(2);
  EXPECT_EQ(bad.W().Caption(Ctl::Label12), "Port did not open on Com 1 at 38400 baud");
  EXPECT_FALSE(bad.W().Visible(Ctl::BtnChooseFile));
  EXPECT_TRUE(bad.W().Visible(Ctl::BtnBackToStart));  // the way back the help page tells of
  EXPECT_EQ(bad.S().Outcome, RunOutcome::PortFailure);
  EXPECT_EQ(bad.S().Step, kIdleStep);

  // An open port moved to a number with no device is tried once, not a second time at once
  // (which would show the same message twice).
  UploadRig moved;
  moved.port.opens = false;
  moved.W().SetItemIndex(Ctl::CommPortBox, 1);  // "2"
  moved.form.Btn2UploadClick();
  moved.Tick();
  EXPECT_EQ(moved.port.openAttempts, 1);
}

TEST(UploadPortOpening, WithoutAChosenPortNoneIsOpened) {
  UploadRig r;
  r.port.active = false;
  r.W().SetItemIndex(Ctl::CommPortBox, -1);
  r.form.Btn2UploadClick();
  r.Tick(3);
  EXPECT_EQ(r.port.activeWrites, 0);
  EXPECT_FALSE(r.port.active);
  EXPECT_EQ(r.W().Caption(Ctl::Label12), "No Com port selected: go back to start and choose one");
  EXPECT_EQ(r.W().FontColor(Ctl::Label12), clRed);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_FALSE(r.W().Visible(Ctl::BtnChooseFile));
  EXPECT_EQ(r.S().Step, kIdleStep);
}

TEST(UploadReadyScreen, ShowsTheEstimateAndRefusesAFileThatIsBrokenOrHasChanged) {
  UploadRig r;
  r.UseUploadFile(3);
  r.S().Step = kReadyStep;
  r.Tick();
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "THE UNIT MUST BE OFF");
  EXPECT_EQ(r.W().FontSize(Ctl::Label15), 12);
  EXPECT_EQ(r.W().FontColor(Ctl::Label15), clRed);
  EXPECT_EQ(r.W().Caption(Ctl::Label4), "Click on <Start Upload> button");
  EXPECT_EQ(r.W().FontColor(Ctl::Label4), clBlue);
  EXPECT_EQ(r.W().Caption(Ctl::Label8), "Upload will be 3 blocks, less than 1 minute");
  EXPECT_EQ(r.W().FontColor(Ctl::Label8), clBlue);
  // Which file goes out, a .KVU too: its name, folder, records and trailer.
  const std::filesystem::path file(r.S().UploadFileName);
  const std::string trailer = kvtest::ReadText(file).substr(3 * 135, 8);
  EXPECT_EQ(r.W().Caption(Ctl::Label2),
            "Upload file " + file.filename().string() + " in " + file.parent_path().string() +
                ": 3 records, checksums " + trailer.substr(0, 4) + ", " + trailer.substr(4));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnStartRun));
  EXPECT_EQ(r.S().Step, kIdleStep);

  // The file loses a byte after the ready screen: "Start Upload" sends nothing.
  std::filesystem::resize_file(r.S().UploadFileName, 3 * 135 + 7);
  r.form.BtnStartRunClick();
  r.Tick(5);
  EXPECT_EQ(r.port.TakeWritten(), "");
  EXPECT_EQ(r.S().Step, kIdleStep);
  EXPECT_EQ(r.W().FontColor(Ctl::Label12), clRed);
  EXPECT_NE(r.W().Caption(Ctl::Label12).find("not a complete upload file"), std::string::npos)
      << r.W().Caption(Ctl::Label12);
  EXPECT_FALSE(r.W().Visible(Ctl::BtnStartRun));

  // A file that grew by whole records is not the one whose records were counted.
  UploadRig g;
  g.UseUploadFile(3);
  g.S().Step = kReadyStep;
  g.Tick();
  std::ofstream(g.S().UploadFileName, std::ios::binary | std::ios::app) << MakeRecord(9);
  g.form.BtnStartRunClick();
  g.Tick(5);
  EXPECT_EQ(g.port.TakeWritten(), "");
  EXPECT_NE(g.W().Caption(Ctl::Label12).find("has changed since it was chosen (4 records, not 3)"),
            std::string::npos)
      << g.W().Caption(Ctl::Label12);

  // Chosen that way, the ready screen refuses it at once.
  UploadRig t;
  t.UseUploadFile(2);
  std::ofstream(t.S().UploadFileName, std::ios::binary | std::ios::app) << "x";
  t.S().Step = kReadyStep;
  t.Tick();
  EXPECT_FALSE(t.W().Visible(Ctl::BtnStartRun));
  EXPECT_EQ(t.W().Caption(Ctl::Label8), "");
  EXPECT_NE(t.W().Caption(Ctl::Label12).find("279 bytes"), std::string::npos);
  // A file without its trailer is refused too.
  std::filesystem::resize_file(t.S().UploadFileName, 2 * 135);
  t.S().Step = kReadyStep;
  t.Tick();
  EXPECT_FALSE(t.W().Visible(Ctl::BtnStartRun));
  EXPECT_EQ(t.W().FontColor(Ctl::Label12), clRed);
  // A record whose checksum byte does not fit its bytes is found before anything is sent.
  std::vector<std::string> records = WriteUploadFile(t.S().UploadFileName, 2);
  {
    std::fstream f(t.S().UploadFileName, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(135 + 20);
    f.put(static_cast<char>(records[1][20] ^ 0x01));
  }
  t.S().Step = kReadyStep;
  t.Tick();
  EXPECT_FALSE(t.W().Visible(Ctl::BtnStartRun));
  EXPECT_NE(t.W().Caption(Ctl::Label12).find("is damaged: record 2 (address 000080)"),
            std::string::npos)
      << t.W().Caption(Ctl::Label12);
  EXPECT_EQ(t.S().Outcome, RunOutcome::RefusedBeforeSending);
  EXPECT_EQ(t.port.TakeWritten(), "");
  // Records the unit would halt on, or refuse for ever, once its flash is erased.
  for (const char* address : {"400000", "01ZZ00"}) {
    const std::string record = kvtest::WithRecordChecksum(MakeRecord(0).replace(0, 6, address));
    std::ofstream(t.S().UploadFileName, std::ios::binary | std::ios::trunc)
        << MakeRecord(0) << record << "12AB34CD";
    t.S().Step = kReadyStep;
    t.Tick();
    EXPECT_NE(t.W().Caption(Ctl::Label12).find(std::string("record 2 has the address ") + address),
              std::string::npos)
        << t.W().Caption(Ctl::Label12);
  }
  // A trailer that is no checksum, where the unit's checksums will be compared with it.
  t.UseUploadFile(kChecksumCheckRecords, "zzzz0000");
  t.S().Step = kReadyStep;
  t.Tick();
  EXPECT_NE(t.W().Caption(Ctl::Label12).find("checksum trailer 'zzzz0000'"), std::string::npos)
      << t.W().Caption(Ctl::Label12);
  // A whole file afterwards gets the ready screen and Label12 its colour back.
  t.UseUploadFile(2);
  t.S().Step = kReadyStep;
  t.Tick();
  EXPECT_TRUE(t.W().Visible(Ctl::BtnStartRun));
  EXPECT_EQ(t.W().FontColor(Ctl::Label12), clBlue);
  EXPECT_EQ(t.W().Caption(Ctl::Label8), "Upload will be 2 blocks, less than 1 minute");
}

TEST(UploadRun, StartPressedBeforeTheReadyScreenLeavesNoPreparationWordsUp) {
  UploadRig r;
  r.UseUploadFile(3);
  // The conversion's last words, and Start in the same tick, before the ready screen ran.
  r.W().SetCaption(Ctl::Label8, "Processing .BIN file to .KVU format ...");
  r.S().Step = kReadyStep;
  r.form.BtnStartRunClick();
  EXPECT_EQ(r.S().Step, kHandshakeStep);
  EXPECT_EQ(r.W().Caption(Ctl::Label8), "Upload will be 3 blocks, less than 1 minute");
  EXPECT_EQ(r.W().FontColor(Ctl::Label8), clBlack);
}

TEST(UploadRun, AFileReplacedWhileTheUnitIsSwitchedOnIsRefusedBeforeGo) {
  UploadRig r;
  r.UseUploadFile(3);
  LoaderUnit unit;
  unit.readyAfterU = 4;
  unit.Attach(r.port);
  r.StartUpload();
  r.Tick();
  // A new conversion puts another file of as many records in its place.
  const std::string other = r.dir.Dir() + "other.KVU";
  WriteUploadFile(other, 3, "FFFF0000");
  std::filesystem::rename(other, r.S().UploadFileName);
  ASSERT_TRUE(r.TickUntilStep(kIdleStep, 20));
  EXPECT_TRUE(unit.commands.empty()) << "no GO, so the unit keeps its firmware";
  EXPECT_EQ(r.S().Outcome, RunOutcome::RefusedBeforeSending);
  EXPECT_NE(r.W().Caption(Ctl::Label12).find("has changed since the upload was started"),
            std::string::npos)
      << r.W().Caption(Ctl::Label12);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
}

TEST(UploadRun, ThreeRecordsFromHandshakeToCompletion) {
  UploadRig r;
  r.UseUploadFile(3);
  LoaderUnit unit;
  unit.readyAfterU = 3;
  unit.onUploadDone = [&] { r.clock.AdvanceSeconds(25); };
  unit.Attach(r.port);
  r.StartUpload();
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "POWER UP THE UNIT, NOW");
  EXPECT_EQ(r.W().FontSize(Ctl::Label2), 13);
  EXPECT_EQ(r.W().Caption(Ctl::Label10), "DO NOT INTERRUPT UPLOAD");
  EXPECT_EQ(r.W().FontSize(Ctl::Label10), 14);
  EXPECT_EQ(r.W().FontColor(Ctl::Label10), clRed);
  EXPECT_FALSE(r.W().Visible(Ctl::BtnStartRun));
  EXPECT_FALSE(r.W().Visible(Ctl::Label10));
  EXPECT_EQ(r.S().Step, kHandshakeStep);

  ASSERT_TRUE(r.TickUntilStep(kSendGoStep, 10));
  EXPECT_EQ(r.S().AttemptCount, 3);
  EXPECT_EQ(unit.uCount, 3);
  EXPECT_TRUE(r.W().Visible(Ctl::Label10));

  ASSERT_TRUE(r.TickUntilStep(kRecordRequestStep, 20));
  EXPECT_EQ(r.S().WaitLimit, 2000);
  EXPECT_TRUE(r.W().Visible(Ctl::Gauge));
  EXPECT_EQ(r.W().Gauge().MaxValue(), 3);
  EXPECT_TRUE(unit.records.empty()) << "no record before the unit asks";

  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 2; }, 20));
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Sending block 2 of 3...");
  EXPECT_EQ(r.W().FUpHist().back(), "Sending block 2 of 3...");
  EXPECT_EQ(r.W().Gauge().Progress(), 2);

  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 30));
  EXPECT_EQ(unit.records, r.fileRecords);
  const std::vector<std::string> commands = {"GO\r", "UPLOAD DONE\r"};
  EXPECT_EQ(unit.commands, commands);
  std::vector<std::string> history = {
      "Got U,READY handshake", "Sending GO",           "Erasing...",
      "Erase complete",        "Sending FlashCode...", "Sending block 3 of 3..."};
  const std::filesystem::path file = std::filesystem::absolute(r.S().UploadFileName);
  history.insert(history.begin(), "Sending " + file.filename().string() + " in " +
                                      file.parent_path().string() + ": 3 records, checksums " +
                                      r.S().FileFirmwareChecksum + ", " + r.S().FileFpgaChecksum);
  EXPECT_EQ(r.W().FUpHist(), history);
  EXPECT_EQ(r.S().BlocksSent, 3);
  EXPECT_EQ(r.S().FileFirmwareChecksum + r.S().FileFpgaChecksum, r.fileTrailer);
  EXPECT_FALSE(r.S().UploadFile.IsOpen());
  EXPECT_EQ(r.S().HelpContext, 5);
  EXPECT_FALSE(r.W().Visible(Ctl::Gauge));
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "");
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "Software Upload complete");
  EXPECT_EQ(r.W().Caption(Ctl::Label4), "Upload complete. Time taken: 25 seconds");
  EXPECT_EQ(r.W().FontColor(Ctl::Label4), clBlack);
  EXPECT_EQ(r.W().Caption(Ctl::Label10), "Now, CYCLE POWER on the RQ-410....");
  EXPECT_EQ(r.W().FontSize(Ctl::Label10), 15);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_TRUE(r.port.baudChanges.empty()) << "no checksum check below 1000 records";
  r.Tick();
  EXPECT_EQ(r.W().FontColor(Ctl::Label10), clRed);  // the closing message blinks
}

TEST(UploadRun, HandshakeGivesUpAfter251U) {
  UploadRig r;
  r.UseUploadFile(1);
  LoaderUnit unit;
  unit.readyAfterU = 0;
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(kIdleStep, 400));
  EXPECT_EQ(unit.uCount, 251);
  EXPECT_EQ(CountOf(r.port.TakeWritten(), 'U'), 251);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Timed out waiting for response");
  EXPECT_TRUE(HistHas(r.W(), "Timed out waiting for response"));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnRepeatUpload));
}

TEST(UploadRun, ResendsRepeatTheRecordWithoutCountingIt) {
  UploadRig r;
  r.UseUploadFile(3);
  r.form.BtnCaptureFileClick();
  ASSERT_TRUE(r.S().CaptureEnabled);
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) -> std::string {
    switch (n) {
      case 2:
        return "RESEND BLOCK\r";  // record 2 again
      case 3:
        return "R\r";  // and again
      case 4:
        return "S\r";  // record 3
      case 5:
        return "OK\r";  // not understood: record 3 again
      default:
        return "SEND BLOCK\r";
    }
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 4; }, 100));
  EXPECT_EQ(r.S().BlocksSent, 2) << "resends are not counted";
  EXPECT_EQ(r.W().Gauge().Progress(), 2);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Sending block 2 of 3...");
  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 100));
  const auto& f = r.fileRecords;
  const std::vector<std::string> expected = {f[0], f[1], f[1], f[1], f[2], f[2]};
  EXPECT_EQ(unit.records, expected);
  EXPECT_EQ(r.S().BlocksSent, 3);
  const std::string capture = r.CaptureText();
  EXPECT_NE(capture.find("[out]resend"), std::string::npos);
  EXPECT_LT(capture.find("[out]resend"), capture.rfind("[info  ]  addr 000100"));
  EXPECT_NE(capture.find("[info  ]  addr 000080  cksm "), std::string::npos);
}

TEST(UploadRun, RecordsOnRequestGoOutFromTheReceiveEventWithEveryAnswerAsOnATick) {
  UploadRig r;
  r.UseUploadFile(5);
  r.form.Pacing.RecordsOnRequest = true;
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) -> std::string {
    switch (n) {
      case 2:
        return "RESEND BLOCK\r";
      case 3:
        return "OK\r";
      case 5:
        return "";  // the answer is fed by hand, in pieces
      default:
        return n >= 7 ? "UPLOAD FAILED\r" : "SEND BLOCK\r";
    }
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 1; }, 50));
  const auto& f = r.fileRecords;
  // Each answer comes once the record before it has crossed the line (35 ms at 38400 baud).
  const auto answerArrives = [&r] {
    r.clock.AdvanceSeconds(0.04);
    r.form.ReadMessage();
  };

  // Between ticks the request is served at once: record 2, its resend, then nothing for "OK"
  // until the next tick resends it, as the tick's own step would.
  answerArrives();
  EXPECT_EQ(unit.records.size(), 2u);
  EXPECT_EQ(r.S().BlocksSent, 2);
  answerArrives();
  EXPECT_EQ(unit.records.size(), 3u);
  EXPECT_EQ(r.S().BlocksSent, 2) << "a resend is not counted";
  answerArrives();
  EXPECT_EQ(unit.records.size(), 3u);
  EXPECT_EQ(r.S().Step, kResendStep);
  r.Tick();
  ASSERT_EQ(unit.records.size(), 4u);
  EXPECT_EQ(unit.records, (std::vector<std::string>{f[0], f[1], f[1], f[1]}));

  // A line without its CR is left to wait. A look between ticks spends none of the budget: a
  // request completed with one tick of it left is taken, not timed out.
  answerArrives();  // "SEND BLOCK" for record 3 went out, answered by nothing yet
  ASSERT_EQ(unit.records.size(), 5u);
  r.port.Feed("SEND BL");
  r.S().WaitTicks = r.S().WaitLimit - 1;
  answerArrives();
  EXPECT_EQ(unit.records.size(), 5u);
  EXPECT_EQ(r.S().WaitTicks, r.S().WaitLimit - 1);
  r.port.Feed("OCK\r");
  answerArrives();
  EXPECT_EQ(r.S().Step, kRecordRequestStep);
  ASSERT_EQ(unit.records.size(), 6u);
  EXPECT_EQ(unit.records.back(), f[3]);
  // A receive event that runs inside a tick (pending events run first) leaves the step to the
  // tick: one step a tick, so the wait that sent the record has counted no tick since.
  r.clock.AdvanceSeconds(0.04);
  r.Tick();
  EXPECT_EQ(unit.records.size(), 7u);
  EXPECT_EQ(r.S().WaitTicks, 0);

  // "UPLOAD FAILED" halts from the receive event as from a tick.
  answerArrives();
  EXPECT_EQ(r.S().Step, kHaltStep);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Upload failed");

  // Off (the window), the receive event only collects the text.
  UploadRig w;
  w.UseUploadFile(2);
  LoaderUnit plain;
  plain.Attach(w.port);
  w.StartUpload();
  ASSERT_TRUE(w.TickUntil([&] { return plain.records.size() == 1; }, 50));
  w.form.ReadMessage();
  EXPECT_EQ(plain.records.size(), 1u);
  EXPECT_EQ(w.S().ReplyText, "SEND BLOCK\r");
}

// A request is judged by when it came, not when the program got round to reading it.
TEST(UploadRun, RecordsOnRequestHoldBackARepeatThatIsReadLate) {
  UploadRig r;
  r.UseUploadFile(3);
  r.form.Pacing.RecordsOnRequest = true;
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) { return n == 2 ? "" : "SEND BLOCK\r"; };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 1; }, 50));
  r.clock.AdvanceSeconds(0.04);
  r.form.ReadMessage();
  ASSERT_EQ(unit.records.size(), 2u);
  // Said again 3 ms after record 2 went, and read 120 ms later by a program kept busy: it
  // came while record 2 was on its way, so it is the request already served.
  r.port.Feed("SEND BLOCK\r");
  r.port.inputAge = 0.117;
  r.clock.AdvanceSeconds(0.12);
  r.form.ReadMessage();
  EXPECT_EQ(unit.records.size(), 2u);
  // The unit's own answer, read as it comes: record 3 goes.
  r.port.inputAge = 0;
  r.port.Feed("SEND BLOCK\r");
  r.clock.AdvanceSeconds(0.01);
  r.form.ReadMessage();
  ASSERT_EQ(unit.records.size(), 3u);
  EXPECT_EQ(unit.records[2], r.fileRecords[2]);
}

TEST(UploadRun, RecordsOnRequestTakeNoRequestThatCameBeforeTheRecordCouldReachTheUnit) {
  UploadRig r;
  r.UseUploadFile(3);
  r.form.Pacing.RecordsOnRequest = true;
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) { return n == 2 ? "" : "SEND BLOCK\r"; };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 1; }, 50));
  r.clock.AdvanceSeconds(0.04);
  r.form.ReadMessage();
  ASSERT_EQ(unit.records.size(), 2u);

  // The request just served comes again 3 ms and 30 ms later (an echo on the line, a unit
  // that says it twice): record 2 is still on its way, so neither asks for record 3. Sent,
  // record 3 would reach the unit while it writes record 2 and be lost without a word.
  for (double ms : {3.0, 27.0}) {
    r.port.Feed("SEND BLOCK\r");
    r.clock.AdvanceSeconds(ms / 1000);
    r.form.ReadMessage();
    EXPECT_EQ(unit.records.size(), 2u) << ms;
    EXPECT_EQ(r.S().ReplyText, "");
    EXPECT_EQ(r.S().Step, kRecordRequestStep);
  }
  // Nor when the repeat is taken in by a tick that was due as it came.
  r.port.Feed("SEND BLOCK\r");
  r.Tick();
  EXPECT_EQ(unit.records.size(), 2u);
  // The unit's own answer to record 2, after it has arrived: record 3 goes.
  r.port.Feed("SEND BLOCK\r");
  r.clock.AdvanceSeconds(0.01);
  r.form.ReadMessage();
  ASSERT_EQ(unit.records.size(), 3u);
  EXPECT_EQ(unit.records[2], r.fileRecords[2]);
  // Ticks a tick apart, as the timer keeps them.
  ASSERT_TRUE(r.TickUntil(
      [&] {
        r.clock.AdvanceSeconds(kTickSeconds);
        return r.S().Step == kBlinkFirstStep;
      },
      50));
  EXPECT_EQ(r.S().BlocksSent, 3);

  // A line faster than its speed (a pseudo-terminal at memory speed): the unit's answer comes
  // at once. Held back, it is let through after a second of nothing else, and from then on
  // every answer is taken as it comes.
  UploadRig m;
  m.UseUploadFile(4);
  m.form.Pacing.RecordsOnRequest = true;
  LoaderUnit fast;
  fast.Attach(m.port);
  m.StartUpload();
  ASSERT_TRUE(m.TickUntil([&] { return fast.records.size() == 1; }, 50));
  m.form.ReadMessage();
  EXPECT_EQ(fast.records.size(), 1u);
  m.Tick(RecordPacing::kHeldReplyTicks - 1);
  EXPECT_EQ(fast.records.size(), 1u);
  m.Tick();
  ASSERT_EQ(fast.records.size(), 2u);
  m.form.ReadMessage();
  m.form.ReadMessage();
  EXPECT_EQ(fast.records.size(), 4u);
  EXPECT_EQ(fast.records, m.fileRecords);
}

TEST(UploadRun, NothingStaleGoesOutBeforeTheFirstRequest) {
  UploadRig r;
  r.UseUploadFile(2);
  r.S().RecordBuffer.fill('Z');  // left from an earlier run
  LoaderUnit unit;
  unit.afterGo = {"ERASING...\r", "ERASE COMPLETE\r", "INVALID START\r"};
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(kRecordRequestStep, 20));
  r.port.TakeWritten();
  // An unknown line is no request: nothing is sent while the budget lasts.
  r.Tick(1990);
  EXPECT_EQ(r.port.TakeWritten(), "");
  EXPECT_EQ(r.S().Step, kRecordRequestStep);
  // The unit's first request was lost: at the time-out the first record goes out, read from
  // the file, so that the two sides do not wait on each other for ever.
  ASSERT_TRUE(r.TickUntil([&] { return !unit.records.empty(); }, 20));
  EXPECT_EQ(unit.records[0], r.fileRecords[0]);
  EXPECT_EQ(r.S().BlocksSent, 1);
  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 50));
  EXPECT_EQ(unit.records.size(), 2u);

  // A resend request before any record means the first record, counted.
  UploadRig p;
  p.UseUploadFile(2);
  p.S().RecordBuffer.fill('Z');
  LoaderUnit early;
  early.afterGo = {"ERASING...\r", "ERASE COMPLETE\r", "RESEND BLOCK\r"};
  early.Attach(p.port);
  p.StartUpload();
  ASSERT_TRUE(p.TickUntil([&] { return !early.records.empty(); }, 30));
  EXPECT_EQ(early.records[0], p.fileRecords[0]);
  EXPECT_EQ(p.S().BlocksSent, 1);

  // After the first request a silent unit gets the same record again at each time-out.
  UploadRig q;
  q.UseUploadFile(2);
  LoaderUnit quiet;
  quiet.answer = [](int n, const std::string&) { return n == 1 ? "" : "SEND BLOCK\r"; };
  quiet.Attach(q.port);
  q.StartUpload();
  ASSERT_TRUE(q.TickUntil([&] { return quiet.records.size() == 1; }, 50));
  q.Tick(1999);
  EXPECT_EQ(quiet.records.size(), 1u);
  q.Tick(2);
  ASSERT_EQ(quiet.records.size(), 2u);
  EXPECT_EQ(quiet.records[1], q.fileRecords[0]);
  EXPECT_EQ(q.S().BlocksSent, 1);
}

TEST(UploadRun, EraseErrorsAreShownAndAnUnexpectedEraseLineStops) {
  UploadRig r;
  r.UseUploadFile(1);
  LoaderUnit unit;
  unit.afterGo = {"ERASING...\r", "ERASE ERROR: 3\r", "BLOCK BASE INDEX: 40000\r",
                  "ERASE COMPLETE\r", "SEND BLOCK\r"};
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(kEraseErrorBlockStep, 30));
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "ERASE ERROR: 3\r");
  r.Tick();
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "BLOCK BASE INDEX: 40000\r");
  EXPECT_EQ(r.S().Step, kEraseResultWaitStep);
  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 30));
  EXPECT_TRUE(HistHas(r.W(), "ERASE ERROR: 3\r"));
  EXPECT_TRUE(HistHas(r.W(), "BLOCK BASE INDEX: 40000\r"));
  EXPECT_EQ(unit.records.size(), 1u);
  EXPECT_EQ(r.S().Outcome, RunOutcome::CompletedWithEraseErrors);

  UploadRig t;
  t.UseUploadFile(1);
  LoaderUnit timeout;
  timeout.afterGo = {"ERASING...\r", "ERASE BLOCK TIMEOUT: 7\r"};
  timeout.Attach(t.port);
  t.StartUpload();
  ASSERT_TRUE(
      t.TickUntil([&] { return t.S().Step == kIdleStep && !timeout.commands.empty(); }, 30));
  EXPECT_EQ(t.W().Caption(Ctl::Label2), "unexpected response: ERASE BLOCK TIMEOUT: 7\r");
  EXPECT_TRUE(t.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(t.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_TRUE(timeout.records.empty());
  EXPECT_FALSE(t.S().UploadFile.IsOpen());
}

TEST(UploadRun, UploadFailedHaltsWithTheTimeTakenAndClosesTheCapture) {
  UploadRig r;
  r.UseUploadFile(3);
  r.form.BtnCaptureFileClick();
  LoaderUnit unit;
  unit.answer = [&](int n, const std::string&) -> std::string {
    if (n < 2) return "SEND BLOCK\r";
    r.clock.AdvanceSeconds(7);
    return "UPLOAD FAILED\r";
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return r.S().Step == kHaltStep; }, 50));
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Upload failed");
  EXPECT_FALSE(r.S().CaptureEnabled);
  EXPECT_FALSE(r.form.Core.Capture.IsOpen());
  EXPECT_EQ(r.W().Caption(Ctl::BtnCaptureFile), "&Enable Capture File");
  EXPECT_EQ(r.W().Caption(Ctl::Label11), "Disabled");
  r.Tick();
  EXPECT_EQ(r.S().Step, kIdleStep);
  EXPECT_EQ(r.W().Caption(Ctl::Label4), "Upload HALTED. Time taken: 7 seconds");
  EXPECT_EQ(r.W().FontColor(Ctl::Label4), clRed);
  EXPECT_EQ(r.W().Caption(Ctl::Label15), "");
  EXPECT_EQ(r.W().Caption(Ctl::Label10), "Click on <Close> button");
  EXPECT_EQ(r.W().FontSize(Ctl::Label10), 12);
  EXPECT_EQ(r.W().FontColor(Ctl::Label10), clBlue);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_FALSE(r.S().UploadFile.IsOpen());
  // Nothing more is logged after the halt.
  const std::string logged = r.CaptureText();
  r.Tick(3);
  EXPECT_EQ(r.CaptureText(), logged);
  EXPECT_EQ(unit.records.size(), 2u);
}

TEST(UploadRun, AThousandRecordsLeadToTheChecksumCheck) {
  UploadRig small;
  small.UseUploadFile(999);
  LoaderUnit a;
  a.Attach(small.port);
  small.StartUpload();
  ASSERT_TRUE(small.TickUntil([&] { return small.S().Step == kCompletionStep; }, 3000));
  EXPECT_EQ(a.records.size(), 999u);
  EXPECT_TRUE(small.port.baudChanges.empty());

  UploadRig big;
  big.UseUploadFile(1000);
  LoaderUnit b;
  b.Attach(big.port);
  big.StartUpload();
  ASSERT_TRUE(big.TickUntil([&] { return big.S().Step == kRebootStep; }, 3000));
  EXPECT_EQ(b.records.size(), 1000u);
  EXPECT_EQ(big.port.baud, 9600);
  EXPECT_EQ(big.W().Caption(Ctl::Label4), "Unit re-booting, wait ...");
  EXPECT_EQ(big.S().RebootTicks, 0);
  EXPECT_EQ(big.W().Caption(Ctl::Label15), "Software Upload complete");
}

TEST(UploadRun, OnlyWholeLinesAskForTheNextRecord) {
  UploadRig r;
  r.UseUploadFile(3);
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) -> std::string {
    switch (n) {
      case 1:
        return " SEND BLOCK \r";  // blanks around a request: still a request
      case 2:
        return "PESEND BLOCK\r";  // a damaged resend request is no request: record 2 again
      case 3:
        return "\nXR\r";  // not a resend either: record 2 again
      default:
        return "SEND BLOCK\r";
    }
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(kBlinkFirstStep, 100));
  const auto& f = r.fileRecords;
  EXPECT_EQ(unit.records, (std::vector<std::string>{f[0], f[1], f[1], f[1], f[2]}));
  EXPECT_EQ(r.S().Outcome, RunOutcome::Completed);
}

TEST(UploadRun, ARecordRefusedTwentyTimesInARowStopsTheRun) {
  UploadRig r;
  r.UseUploadFile(3);
  LoaderUnit unit;
  unit.answer = [](int n, const std::string&) -> std::string {
    return n == 1 ? "SEND BLOCK\r" : "RESEND BLOCK\r";
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return r.S().Step == kIdleStep; }, 200));
  EXPECT_EQ(unit.records.size(), 1u + kMaxRefusalsOfOneRecord);  // record 2, twenty times
  EXPECT_EQ(r.S().Outcome, RunOutcome::RecordRefused);
  EXPECT_EQ(r.W().Caption(Ctl::Label2).rfind("Record 2 of 3 was refused 20 times in a row", 0), 0u)
      << r.W().Caption(Ctl::Label2);
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_FALSE(r.S().UploadFile.IsOpen());
}

TEST(UploadRun, APortThatGoesEndsTheRunAtOnce) {
  UploadRig r;
  r.UseUploadFile(5);
  LoaderUnit unit;
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntil([&] { return unit.records.size() == 2; }, 50));
  r.port.active = false;  // the adapter is pulled out; the port has said so and closed
  r.port.TakeWritten();
  r.Tick(3);
  EXPECT_EQ(r.port.TakeWritten(), "");
  EXPECT_EQ(r.S().Step, kIdleStep);
  EXPECT_EQ(r.S().Outcome, RunOutcome::PortFailure);
  EXPECT_EQ(r.W().Caption(Ctl::Label2),
            "The run has stopped: Com 1 (/dev/fake1) is no longer there");
  EXPECT_TRUE(r.W().Visible(Ctl::BtnBackToStart));
  EXPECT_TRUE(r.W().Visible(Ctl::BtnRepeatUpload));
  EXPECT_TRUE(r.ui.messages.empty());  // the port's own message is the only one

  // Close asks first while the unit is being written, and not at rest.
  UploadRig w;
  w.UseUploadFile(5);
  LoaderUnit writing;
  writing.Attach(w.port);
  w.StartUpload();
  ASSERT_TRUE(w.TickUntil([&] { return writing.records.size() == 1; }, 50));
  w.form.BtnCloseClick();
  EXPECT_FALSE(w.ui.closed);
  ASSERT_EQ(w.ui.questions.size(), 1u);
  EXPECT_EQ(w.ui.questions[0],
            "The unit is being written; closing now leaves it without working firmware. Close "
            "anyway?");
  w.ui.confirmAnswer = true;
  w.form.BtnCloseClick();
  EXPECT_TRUE(w.ui.closed);
  UploadRig idle;
  idle.form.BtnCloseClick();
  EXPECT_TRUE(idle.ui.closed);
  EXPECT_TRUE(idle.ui.questions.empty());
}
