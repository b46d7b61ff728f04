// Records on the wire, their capture lines, the file's checksum trailer, and the texts of the
// duration estimate and the time taken.
#include "sequencer/record_sender.h"

#include <gtest/gtest.h>

#include <string>

#include "support/line_end.h"
#include "upload_rig.h"

using namespace upload_test;

namespace {

constexpr double kSecond = 1.0 / 86400;

}  // namespace

TEST(RecordSender, SendsCountsAndShowsProgressButResendsOnlyRepeat) {
  UploadRig r;
  r.UseUploadFile(2);
  SequencerState& s = r.S();
  s.UploadFile.Load(s.UploadFileName);
  r.W().Gauge().SetMaxValue(2);
  r.W().HistAdd("Sending FlashCode...");
  r.W().HistAdd("Sending Lines...");
  s.ReplyText = "SEND BLOCK\r";
  r.form.Sender.SendRecord();
  EXPECT_EQ(r.port.TakeWritten(), r.fileRecords[0]);
  EXPECT_EQ(s.ReplyText, "");
  EXPECT_EQ(s.BlocksSent, 1);
  EXPECT_EQ(r.W().FUpHist().back(), "Sending block 1 of 2...");
  EXPECT_EQ(r.W().FUpHist().size(), 2u);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "Sending block 1 of 2...");
  EXPECT_EQ(r.W().Gauge().Progress(), 1);

  r.W().SetCaption(Ctl::Label2, "unchanged");
  r.form.Sender.ResendRecord();
  EXPECT_EQ(r.port.TakeWritten(), r.fileRecords[0]);
  EXPECT_EQ(s.BlocksSent, 1);
  EXPECT_EQ(r.W().Gauge().Progress(), 1);
  EXPECT_EQ(r.W().Caption(Ctl::Label2), "unchanged");

  r.form.Sender.SendRecord();
  EXPECT_EQ(r.port.TakeWritten(), r.fileRecords[1]);
  EXPECT_EQ(r.W().FUpHist().back(), "Sending block 2 of 2...");
  // The file now stands at its trailer.
  r.form.Sender.ReadFileChecksums();
  EXPECT_EQ(s.FileFirmwareChecksum + s.FileFpgaChecksum, r.fileTrailer);
  s.UploadFile.Close();
}

TEST(RecordSender, TrailerFieldsAreTakenAsTheyStandNeverAsZeros) {
  UploadRig r;
  SequencerState& s = r.S();
  r.UseUploadFile(0, "zz!934cd");
  s.UploadFile.Load(s.UploadFileName);
  r.form.Sender.ReadFileChecksums();
  EXPECT_EQ(s.FileFirmwareChecksum, "zz!9");
  EXPECT_EQ(s.FileFpgaChecksum, "34cd");
  s.UploadFile.Close();

  EXPECT_TRUE(IsHexDigit('0'));
  EXPECT_TRUE(IsHexDigit('9'));
  EXPECT_TRUE(IsHexDigit('A'));
  EXPECT_TRUE(IsHexDigit('F'));
  EXPECT_FALSE(IsHexDigit('a'));
  EXPECT_FALSE(IsHexDigit('G'));
  EXPECT_FALSE(IsHexDigit('/'));
  EXPECT_FALSE(IsHexDigit(':'));
}

TEST(RecordSender, CaptureDescribesEachRecordSent) {
  UploadRig r;
  SequencerState& s = r.S();
  r.form.BtnCaptureFileClick();
  ASSERT_TRUE(s.CaptureEnabled);
  const std::string record = MakeRecord(1);
  for (int i = 0; i < kRecordSize; ++i) s.RecordBuffer[i] = static_cast<std::uint8_t>(record[i]);
  s.RecordBuffer[134] = 0x5A;
  r.form.Sender.ResendRecord();
  r.form.BtnCaptureFileClick();  // closes the file
  const std::string capture = r.CaptureText();
  EXPECT_NE(capture.find(std::string("[info  ]  addr 000080  cksm 5A") + kLineEnd),
            std::string::npos)
      << capture;
  const std::string first = HexText(s.RecordBuffer.data() + 6, 64);
  const std::string second = HexText(s.RecordBuffer.data() + 70, 64);
  EXPECT_EQ(first.size(), 128u);
  EXPECT_NE(capture.find("[B0-128]" + first + kLineEnd), std::string::npos);
  EXPECT_NE(capture.find("[B128+ ]" + second + kLineEnd), std::string::npos);
  EXPECT_LT(capture.find("[info  ]"), capture.find("[B0-128]"));
  EXPECT_LT(capture.find("[B0-128]"), capture.find("[B128+ ]"));
}

TEST(UploadEstimate, MovesInQuarterMinutesWithTwoDigits) {
  EXPECT_EQ(UploadEstimate(100, 38400), " less than 1 minute");
  EXPECT_EQ(UploadEstimate(1000, 38400), " about 1 minute");
  EXPECT_EQ(UploadEstimate(3000, 38400), " about 3.5 minutes");
  EXPECT_EQ(UploadEstimate(12000, 38400), " about 14 minutes");
  EXPECT_EQ(UploadEstimate(9000, 57600), " about 9.5 minutes");
  EXPECT_EQ(UploadEstimate(720, 57600), " less than 1 minute");  // n = 3
  EXPECT_EQ(UploadEstimate(1198, 57600), " about 1 minute");     // n = 5
  EXPECT_EQ(UploadEstimate(1437, 57600), " about 1.5 minutes");  // n = 6
  EXPECT_EQ(UploadEstimate(1916, 57600), " about 2 minutes");    // n = 8
  EXPECT_EQ(UploadEstimate(0, 38400), " less than 1 minute");
  // Unknown rates take the factor 3; slow rates reach three digits without an exponent.
  EXPECT_EQ(UploadEstimate(958, 12345), " about 3 minutes");     // n = 12
  EXPECT_EQ(UploadEstimate(32768, 1200), " about 340 minutes");  // n = 1368, m = 342
}

TEST(TimeTakenText, MinutesAndSecondsOfTheRun) {
  const double start = 0.5;
  EXPECT_EQ(TimeTakenText(start, start + 25 * kSecond), "25 seconds");
  EXPECT_EQ(TimeTakenText(start, start + 7 * kSecond), "7 seconds");
  EXPECT_EQ(TimeTakenText(start, start + 205 * kSecond), "03:25 minutes");
  EXPECT_EQ(TimeTakenText(start, start + 3900 * kSecond), "05:00 minutes");  // hours dropped
  EXPECT_EQ(TimeTakenText(start, start), "unavailable");
  EXPECT_EQ(TimeTakenText(0.99, 0.01), "unavailable");  // across midnight
}

TEST(TimeTakenText, ReadsTwentyFourHourAndDayHalfRenderings) {
  const double d = 205 * kSecond;
  EXPECT_EQ(TimeTakenFromLongTime("00:03:25", d), "03:25 minutes");
  EXPECT_EQ(TimeTakenFromLongTime("0:03:25", d), "03:25 minutes");
  EXPECT_EQ(TimeTakenFromLongTime("12:03:25 AM", d), "03:25 minutes");
  EXPECT_EQ(TimeTakenFromLongTime("12:00:25 AM", 25 * kSecond), "25 seconds");
  EXPECT_EQ(TimeTakenFromLongTime("12:00:07 AM", 7 * kSecond), "7 seconds");
  // A run of more than twelve hours renders in the afternoon half of the day.
  EXPECT_EQ(TimeTakenFromLongTime("01:03:25 PM", 0.5 + d), "03:25 minutes");
  EXPECT_EQ(TimeTakenFromLongTime("12:00:07 p.m.", 0.5 + 7 * kSecond), "7 seconds");
  // A locale whose fields are not separated by colons falls back on the difference itself.
  EXPECT_EQ(TimeTakenFromLongTime("0 h 03 min 25 s", d), "03:25 minutes");
  EXPECT_EQ(TimeTakenFromLongTime("0.00.07", 7 * kSecond), "7 seconds");
}
