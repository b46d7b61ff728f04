// The upload file from "Start &Upload" to its last record: read whole and checked then, sent
// from memory, and refused before "GO" when its trailer is no pair of checksums or is not the
// sums of its own records.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "upload_rig.h"

using namespace upload_test;

namespace {

bool Says(UploadRig& r, const std::string& words) {
  return r.W().Caption(Ctl::Label12).find(words) != std::string::npos;
}

}  // namespace

TEST(UploadFileAtStart, AFileOverwrittenOrCutShortWhileRecordsGoIsSentAsItWasAtStart) {
  UploadRig r;
  r.UseUploadFile(6);
  const std::vector<std::string> sent = r.fileRecords;
  LoaderUnit unit;
  unit.answer = [&](int n, const std::string&) {
    // The same file, new content, then cut short, while its records go.
    if (n == 2) WriteUploadFile(r.S().UploadFileName, 6, "FFFF0000");
    if (n == 4) std::filesystem::resize_file(r.S().UploadFileName, 3 * 135);
    return std::string("SEND BLOCK\r");
  };
  unit.Attach(r.port);
  r.StartUpload();
  ASSERT_TRUE(r.TickUntilStep(183, 60));
  EXPECT_EQ(unit.records, sent);
  EXPECT_EQ(r.S().FileFirmwareChecksum + r.S().FileFpgaChecksum, r.fileTrailer);
}

TEST(UploadFileAtStart, ATrailerFieldThatIsNoChecksumIsRefusedNamingIt) {
  for (const char* trailer : {"12AB34cd", "12A?34CD"}) {
    UploadRig r;
    r.UseUploadFile(3, trailer);
    LoaderUnit unit;
    unit.Attach(r.port);
    r.StartUpload();
    r.Tick(5);
    EXPECT_EQ(r.S().Outcome, RunOutcome::RefusedBeforeSending) << trailer;
    EXPECT_TRUE(unit.commands.empty());
    const std::string field = std::string(trailer)[3] == '?' ? "the Firmware checksum '12A?'"
                                                             : "the FPGA checksum '34cd'";
    EXPECT_TRUE(Says(r, field + " is not four upper-case hexadecimal digits"))
        << r.W().Caption(Ctl::Label12);
  }
}

TEST(UploadFileAtStart, ATrailerThatIsNotTheSumOfItsRecordsIsSentOnlyWhenTheUserSaysSo) {
  UploadRig no;
  no.UseUploadFile(3, "12AB34CD");
  LoaderUnit a;
  a.Attach(no.port);
  no.StartUpload();
  no.Tick(5);
  ASSERT_EQ(no.ui.questions.size(), 1u);
  EXPECT_NE(no.ui.questions[0].find("its trailer holds the checksums 12AB, 34CD where its "
                                    "records give " +
                                    kvtest::TrueTrailer(no.fileRecords).substr(0, 4)),
            std::string::npos)
      << no.ui.questions[0];
  EXPECT_EQ(no.S().Outcome, RunOutcome::RefusedBeforeSending);
  EXPECT_TRUE(a.commands.empty());
  EXPECT_TRUE(Says(no, "Nothing was sent"));

  UploadRig yes;
  yes.UseUploadFile(3, "12AB34CD");
  yes.ui.confirmAnswer = true;
  LoaderUnit b;
  b.Attach(yes.port);
  yes.StartUpload();
  ASSERT_TRUE(yes.TickUntilStep(183, 60));
  EXPECT_EQ(b.records, yes.fileRecords);
  EXPECT_EQ(yes.S().FileFpgaChecksum, "34CD");
}
