#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "components/file_errors.h"
#include "conversion_support.h"

using namespace kvtest;

namespace {

constexpr std::size_t kSoftwareBytes = 4194304;

Bytes erasedImage(std::size_t bytes = kSoftwareBytes) {
  return Bytes(bytes, 0xFF);
}

// Where 01 02 03 04 at offset 0x0010 land after the given lines.
Bytes placeFourBytes(const std::string& before) {
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, before + ":0400100001020304E2\n:00000001FF\n");
  return ReadBytes(dir.File("in.BIN"));
}

std::size_t findNonErased(const Bytes& image) {
  for (std::size_t i = 0; i < image.size(); ++i)
    if (image[i] != 0xFF) return i;
  return image.size();
}

std::string conversionError(const std::string& hex) {
  ScratchFolder dir;
  ConvertRun S;
  try {
    convertHexText(S, dir, hex);
  } catch (const EConvertError& e) {
    EXPECT_FALSE(fs::exists(dir.File("in.BIN"))) << "a failed conversion left an image";
    EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(HexImage, EndRecordAloneGivesErasedImageAndTrailerOnly) {
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, ":00000001FF\r\n");
  EXPECT_TRUE(S.report.endRecordSeen);
  EXPECT_EQ(ReadBytes(dir.File("in.BIN")), erasedImage());
  EXPECT_EQ(ReadText(dir.File("in.KVU")), "00000000");
  EXPECT_EQ(S.BlockCount, 0);
  EXPECT_EQ(S.LastReply, "0000, 0000");
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));

  // The same as a Factory conversion: 64 KB, and the boot sum of 480 erased pages.
  ConvertRun F;
  F.MainUploadMode = false;
  F.ImagePages = kFactoryImagePages;
  convert(F, dir.Path().string(), "Reserved", {":00000001FF"});
  EXPECT_EQ(ReadBytes(dir.File("Reserved.BIN")), erasedImage(65536));
  EXPECT_EQ(ReadText(dir.File("Reserved.KVU")), "00000000");
  EXPECT_EQ(F.LastReply, "1000");
}

TEST(HexImage, AddsBothAddressBases) {
  Bytes expected = erasedImage();
  for (int i = 0; i < 4; ++i) expected[0x10 + i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(placeFourBytes(""), expected);
  std::swap_ranges(expected.begin() + 0x10, expected.begin() + 0x14, expected.begin() + 0x10010);
  EXPECT_EQ(placeFourBytes(":020000040001F9\n"), expected);  // linear base 0x10000
  EXPECT_EQ(placeFourBytes(":020000021000EC\n"), expected);  // segment base 0x10000

  // Both bases at once add up; a later record of one kind replaces only that base.
  EXPECT_EQ(findNonErased(placeFourBytes(":020000040001F9\n:020000021000EC\n")), 0x20010u);
  EXPECT_EQ(findNonErased(placeFourBytes(":020000040001F9\n:020000040002F8\n")), 0x20010u);
  // A segment base plus offset passes 0xFFFF without wrapping.
  EXPECT_EQ(findNonErased(placeFourBytes(":02000002F000EC\n:02000004002FCB\n")),
            0x2F0000u + 0xF0010u);
  // The sum of both bases and the offset is taken modulo 4 GB.
  EXPECT_EQ(findNonErased(placeFourBytes(":02000004FFFFFC\n:02000002FFFFFE\n")), 0xF0000u);
  // Lower-case hexadecimal throughout.
  const Bytes lower = placeFourBytes(":020000040001f9\n:04001a000a0b0c0dff\n");
  EXPECT_EQ(findNonErased(lower), 0x10010u);
  EXPECT_EQ(lower[0x1001A], 0x0A);
  EXPECT_EQ(lower[0x1001D], 0x0D);
}

TEST(HexImage, TakesLinesAsTheReaderDefines) {
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir,
                 "\n"                     // empty line
                 "junk\r\n"               // too short to hold a record type
                 ":0200000300001234\r\n"  // start segment address: nothing
                 ":0400000512345678FF\r"  // start linear address: nothing
                 ":0200000011220000\n"    // wrong checksum: written all the same
                 ":02000600AABB00\r\n"
                 ":0200040099E0\n"  // later record overlaps, and wins
                 ":00000001FF\n"
                 ":0400000055555555AA\n"  // after the end record: never read
                 "this is not hex at all, but never read\n");
  Bytes expected = erasedImage();
  expected[0] = 0x11;
  expected[1] = 0x22;
  expected[4] = 0x99;
  expected[5] = 0xE0;
  expected[6] = 0xAA;
  expected[7] = 0xBB;
  EXPECT_EQ(ReadBytes(dir.File("in.BIN")), expected);
  EXPECT_EQ(S.report.lines, 8);
  EXPECT_EQ(S.report.dataRecords, 3);
  EXPECT_EQ(S.report.dataBytes, 6u);
  EXPECT_EQ(S.report.linesSkipped, 4);
  // Every line but the blank one and the end record is not as the format has it.
  EXPECT_EQ(S.report.records, 6);
  EXPECT_EQ(S.report.badLines, 6);
  EXPECT_EQ(S.report.firstBadLine, 2);
  EXPECT_EQ(S.report.firstBadLineProblem, "the line does not begin with ':'");
  const UploadFileContents kvu = parseUploadFile(ReadBytes(dir.File("in.KVU")));
  ASSERT_EQ(kvu.pages.size(), 1u);
  EXPECT_EQ(kvu.pages.begin()->first, 0);

  // Without an end record the file is read to its last line, which needs no line end.
  ConvertRun T;
  convertHexText(T, dir, ":0100000042BD\r\n:01000100434B");
  EXPECT_FALSE(T.report.endRecordSeen);
  const Bytes image = ReadBytes(dir.File("in.BIN"));
  EXPECT_EQ(image[0], 0x42);
  EXPECT_EQ(image[1], 0x43);
  EXPECT_EQ(image[2], 0xFF);
}

TEST(HexImage, LongRecordsAreTakenWhole) {
  std::string line = ":FF010000";
  Bytes expected = erasedImage();
  for (int i = 0; i < 255; ++i) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", i);
    line += b;
    expected[0x100 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  }
  line += "00";
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, line + "\n:0100000077\n:00000001FF\n");
  expected[0] = 0x77;
  EXPECT_EQ(ReadBytes(dir.File("in.BIN")), expected);
  EXPECT_EQ(S.BlockCount, 3);  // pages 0, 2 and 3 (0x100 .. 0x1FE)
}

TEST(HexImage, BasesStartAtZeroInEveryConversion) {
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, ":02000004001FDB\n:020000021000EC\n:0100000011EE\n:00000001FF\n");
  EXPECT_EQ(findNonErased(ReadBytes(dir.File("in.BIN"))), 0x1F0000u + 0x10000u);
  convertHexText(S, dir, ":0100000022DD\n:00000001FF\n");
  EXPECT_EQ(findNonErased(ReadBytes(dir.File("in.BIN"))), 0u);

  // A Factory conversion after it starts from zero too, and from the memo's first line.
  S.MainUploadMode = false;
  S.ImagePages = kFactoryImagePages;
  convert(S, dir.Path().string(), "Reserved", {":0100000033CC", ":00000001FF", ":0100010044BA"});
  EXPECT_EQ(S.report.lines, 2);
  const Bytes image = ReadBytes(dir.File("Reserved.BIN"));
  EXPECT_EQ(image[0], 0x33);
  EXPECT_EQ(image[1], 0xFF);
}

TEST(HexImage, FactoryImageGrowsPastItsPagesAndLogsEveryLine) {
  // A flash-code image with the layout of the one the program carries: segment base 0, 373
  // records up to 0x1883, segment base 0x1000, 24 records from 0x10008 to 0x1029D, end record.
  std::vector<std::string> memo;
  Bytes image = erasedImage(0x1029E);
  std::fill(image.begin() + 65536, image.end(),
            std::uint8_t{0});  // past the image: a hole in the file
  std::mt19937 rng(7);
  auto addRange = [&](std::uint32_t from, std::uint32_t to, std::uint32_t segmentBase) {
    for (std::uint32_t a = from; a <= to; a += 16) {
      const std::uint32_t n = std::min<std::uint32_t>(16, to - a + 1);
      char head[16];
      std::snprintf(head, sizeof head, ":%02X%04X00", n, a - segmentBase);
      std::string line = head;
      for (std::uint32_t i = 0; i < n; ++i) {
        const auto b = static_cast<std::uint8_t>(rng());
        image[a + i] = b;
        char t[3];
        std::snprintf(t, sizeof t, "%02X", b);
        line += t;
      }
      memo.push_back(line + "00");
    }
  };
  memo.push_back(":020000020000FC");
  addRange(0x0, 0xBF, 0);
  addRange(0x110, 0x30F, 0);
  addRange(0x400, 0x1883, 0);
  memo.push_back(":020000021000EC");
  addRange(0x10008, 0x100C7, 0x10000);
  addRange(0x10118, 0x10127, 0x10000);
  addRange(0x101F8, 0x1029D, 0x10000);
  memo.push_back(":00000001FF");
  memo.push_back(":0100000000FF");  // never read
  ASSERT_EQ(memo.size(), 401u);

  ScratchFolder dir;
  ConvertRun S;
  S.MainUploadMode = false;
  S.ImagePages = kFactoryImagePages;
  S.CaptureEnabled = true;
  std::vector<std::string> logged;
  convert(S, dir.Path().string(), "Reserved", memo,
          [&](const std::string& l) { logged.push_back(l); });
  ASSERT_EQ(logged.size(), 400u);
  EXPECT_EQ(logged.front(), memo.front());
  EXPECT_EQ(logged.back(), ":00000001FF");
  EXPECT_EQ(S.report.lines, 400);
  EXPECT_EQ(ReadBytes(dir.File("Reserved.BIN")), image);  // 66,206 bytes
  const Bytes kvu = ReadBytes(dir.File("Reserved.KVU"));
  EXPECT_EQ(kvu.size(), 6623u);
  EXPECT_EQ(S.BlockCount, 49);
  const UploadFileContents got = parseUploadFile(kvu);
  EXPECT_EQ(got.pages.count(7), 0u);
  EXPECT_EQ(got.pages.begin()->first, 0);
  EXPECT_EQ(got.pages.rbegin()->first, 49);
  EXPECT_EQ(got.trailer, "00000000");
  EXPECT_EQ(S.LastReply, sumImage(image, kFactoryImagePages).boot);
  expectUploadFileOf(kvu, Bytes(image.begin(), image.begin() + 65536), kFactoryImagePages);

  // Without capture nothing is logged; a memo without end record stops at its last line.
  S.CaptureEnabled = false;
  logged.clear();
  convert(S, dir.Path().string(), "Reserved", {":0100000033CC"},
          [&](const std::string& l) { logged.push_back(l); });
  EXPECT_TRUE(logged.empty());
  EXPECT_FALSE(S.report.endRecordSeen);
  EXPECT_EQ(S.BlockCount, 1);
}

TEST(HexImage, BadFieldsNameTheTextThatIsNoNumber) {
  EXPECT_EQ(conversionError(":zz00000000\n"),
            "Intel HEX line 1: 'zz' is not a valid integer value");
  EXPECT_EQ(conversionError(":0100G00000\n"),
            "Intel HEX line 1: '00G0' is not a valid integer value");
  EXPECT_EQ(conversionError(":0200000011Q200\n"),
            "Intel HEX line 1: 'Q2' is not a valid integer value");
  // A bad base is found by the data record that uses it; an empty one counts as 0.
  EXPECT_EQ(conversionError(":0200000412G4D6\n:0100000011EE\n"),
            "Intel HEX line 2: '12G4' is not a valid integer value");
  EXPECT_EQ(conversionError(":020000041\n:00000001FF\n"), "no error");
  // One too short to give a base is named as such where data would use it, not taken for an
  // address past the flash.
  EXPECT_EQ(conversionError(":0200000400FC\n:0100000011EE\n:00000001FF\n"),
            "Intel HEX line 1: the extended linear address record (type 04) is too short to give "
            "an address: it must hold two bytes and its checksum (':0200000400FC')");
  // A NUL byte neither cuts the message short nor reaches the terminal as it is.
  std::string nul = ":01";
  nul += '\0';
  EXPECT_EQ(conversionError(nul + "00000011EE\n"),
            "Intel HEX line 1: '\\x00000' is not a valid integer value");
}

TEST(HexImage, RefusesDataAtOrPastSixteenMegabytes) {
  // A Software Upload's image is the unit's 4 MB of flash: its last byte is taken...
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, ":02000004003FBB\n:01FFFF0042BF\n:00000001FF\n");
  const Bytes image = ReadBytes(dir.File("in.BIN"));
  ASSERT_EQ(image.size(), 0x400000u);
  EXPECT_EQ(image[0x3FFFFF], 0x42);
  // ...and nothing past it, which its upload file would leave out without a word.
  EXPECT_EQ(conversionError(":02000004003FBB\n:02FFFF004243BF\n"),
            "Intel HEX line 2 puts data at address 0x3FFFFF, at or beyond the 4 MB limit "
            "(0x400000) of a binary image");
  EXPECT_EQ(conversionError(":020000040050AA\n:0200100011220000\n:00000001FF\n"),
            "Intel HEX line 2 puts data at address 0x500010, at or beyond the 4 MB limit "
            "(0x400000) of a binary image");
  EXPECT_EQ(conversionError(":02000004FFFFFC\n:0100100011EE\n"),
            "Intel HEX line 2 puts data at address 0xFFFF0010, at or beyond the 4 MB limit "
            "(0x400000) of a binary image");

  // The factory's flash code may lie past its 64 KB image, in a file that grows to hold it,
  // but not at or beyond 16 MB.
  const auto factory = [&](const std::vector<std::string>& lines) -> std::string {
    ConvertRun F;
    F.MainUploadMode = false;
    F.ImagePages = kFactoryImagePages;
    try {
      convert(F, dir.Path().string(), "Reserved", lines);
    } catch (const EConvertError& e) {
      return e.what();
    }
    return std::to_string(fs::file_size(dir.File("Reserved.BIN"))) + " bytes";
  };
  EXPECT_EQ(factory({":020000040050AA", ":0200100011220000", ":00000001FF"}),
            std::to_string(0x500012) + " bytes");
  EXPECT_EQ(factory({":0200000400FFFB", ":01FFFF0042BF", ":00000001FF"}),
            std::to_string(0x1000000) + " bytes");
  EXPECT_EQ(factory({":0200000400FFFB", ":02FFFF004243BF"}),
            "Intel HEX line 2 puts data at address 0xFFFFFF, at or beyond the 16 MB limit "
            "(0x1000000) of a binary image");
  EXPECT_EQ(factory({"", ":020000040100F9", ":0100000011EE"}),
            "Intel HEX line 3 puts data at address 0x1000000, at or beyond the 16 MB limit "
            "(0x1000000) of a binary image");
}

TEST(HexImage, LineChecksumsAndLengthsAreCheckedAndBadLinesReportedNotDropped) {
  ScratchFolder dir;
  struct Case {
    const char* line;
    const char* problem;
  };
  for (const Case& c : {
           Case{":01000000BF3F", "the checksum is 3F where the line's bytes call for 40"},
           // A data line that lost a character, and one that lost its checksum and more.
           Case{":100100000011223344556677889AABBCCDDEEFFF7",
                "the line has 42 characters where its byte count (10) calls for 43"},
           Case{":10020000000102030405060708090A0B0C0D0E",
                "the line has 39 characters where its byte count (10) calls for 43"},
           Case{":01000000BFX0", "the line holds 'X', which is not a hexadecimal digit"},
           Case{"01000000BF40", "the line does not begin with ':'"},
           Case{":0", "the line has 2 characters, too few for a record"},
       }) {
    ConvertRun S;
    convertHexText(S, dir, ":0100000011EE\n" + std::string(c.line) + "\r\n:00000001FF\n");
    EXPECT_EQ(S.report.badLines, 1) << c.line;
    EXPECT_EQ(S.report.firstBadLine, 2) << c.line;
    EXPECT_EQ(S.report.firstBadLineProblem, c.problem) << c.line;
  }
  // The image is built all the same: the caller decides whether to use it.
  ConvertRun S;
  convertHexText(S, dir, ":01000000BF3F\n:0100010011ED\n:00000001FE\n");
  EXPECT_EQ(S.report.badLines, 2);
  EXPECT_EQ(S.report.firstBadLine, 1);
  EXPECT_EQ(ReadBytes(dir.File("in.BIN"))[0], 0xBF);
  // A line cut short gives the whole bytes it still holds.
  convertHexText(S, dir, ":0400000011223\n:00000001FF\n");
  EXPECT_EQ(S.report.badLines, 1);
  const Bytes cut = ReadBytes(dir.File("in.BIN"));
  EXPECT_EQ(Bytes(cut.begin(), cut.begin() + 3), (Bytes{0x11, 0x22, 0xFF}));

  // Sound lines in every dress: lower case, blanks an editor left at either end, blank lines,
  // CR LF, and a UTF-8 byte-order mark before the first record, which is passed over.
  convertHexText(S, dir,
                 "\xEF\xBB\xBF:0100000011EE\r\n \t:01000100bf3f  \r\n\r\n:00000001FF\t\r\n");
  EXPECT_EQ(S.report.badLines, 0) << S.report.firstBadLineProblem;
  const Bytes image = ReadBytes(dir.File("in.BIN"));
  EXPECT_EQ(image[0], 0x11);
  EXPECT_EQ(image[1], 0xBF);
}

TEST(HexImage, FailedConversionKeepsTheFilesOfTheLastGoodOne) {
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, ":0100000011EE\n:00000001FF\n");
  const Bytes goodBin = ReadBytes(dir.File("in.BIN"));
  const Bytes goodKvu = ReadBytes(dir.File("in.KVU"));
  EXPECT_THROW(convertHexText(S, dir, ":0100000022DD\n:01000100ZZ00\n"), EConvertError);
  EXPECT_EQ(ReadBytes(dir.File("in.BIN")), goodBin);
  EXPECT_EQ(ReadBytes(dir.File("in.KVU")), goodKvu);
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));

  // A missing input file: the runtime's message, and no image left behind.
  S.InputFileName = dir.File("missing.hex");
  try {
    convert(S, dir.Path().string(), "missing");
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_FALSE(fs::exists(dir.File("missing.BIN")));
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));
}

TEST(HexImage, ReadOnlyInputConvertsAndUnwritableFolderFails) {
  ScratchFolder dir;
  fs::permissions(dir.Path(), fs::perms::all);
  const std::string input = dir.File("ro.hex");
  WriteText(input, ":0100000011EE\n:00000001FF\n");
  fs::permissions(input, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string outcome = runUnprivileged([&] {
    ConvertRun S;
    S.InputFileName = input;
    convert(S, dir.Path().string(), "ro");
    if (S.BlockCount != 1) throw std::runtime_error("wrong BlockCount");
  });
  EXPECT_EQ(outcome, "");
  EXPECT_EQ(ReadBytes(dir.File("ro.KVU")).size(), 135u + 8u);

  // Nothing can be created where the image is to go.
  ConvertRun S;
  S.InputFileName = input;
  try {
    convert(S, "/proc/kvflash-test", "ro");
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

TEST(HexImage, DamagedLinesGiveAnErrorOrAnImageButNeverMore) {
  const std::vector<std::string> good = {":020000021000EC",
                                         ":10000000000102030405060708090A0B0C0D0E0F78",
                                         ":0400F000DEADBEEFC4", ":020000040000FA", ":00000001FF"};
  std::mt19937 rng(5);
  ScratchFolder dir;
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> memo = good;
    for (int cut = 0; cut < 3; ++cut) {
      std::string& line = memo[rng() % memo.size()];
      const std::size_t at = line.empty() ? 0 : rng() % line.size();
      switch (rng() % 4) {
        case 0:
          line.resize(at);
          break;
        case 1:
          if (!line.empty()) line[at] = "0123456789ABCDEFXx:\r "[rng() % 21];
          break;
        case 2:
          line.insert(at, 1, "0F1"[rng() % 3]);
          break;
        default:
          line = ":" + std::string(rng() % 20, 'F');
          break;
      }
    }
    ConvertRun S;
    S.MainUploadMode = false;
    S.ImagePages = kFactoryImagePages;
    try {
      convert(S, dir.Path().string(), "fuzz", memo);
      EXPECT_EQ(fs::file_size(dir.File("fuzz.KVU")),
                static_cast<std::uintmax_t>(S.BlockCount) * 135 + 8);
      EXPECT_LE(fs::file_size(dir.File("fuzz.BIN")), kHexAddressLimit);
    } catch (const EConvertError&) {
      ++failures;
      EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir.Path()));
    }
    std::error_code ec;
    fs::remove(dir.File("fuzz.BIN"), ec);
    fs::remove(dir.File("fuzz.KVU"), ec);
  }
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 200);
}

TEST(HexImage, LinesSpanningReadsAndEndlessLines) {
  // Line ends of every kind falling on the 64 KB boundaries of the reader.
  std::string hex;
  Bytes expected = erasedImage();
  std::mt19937 rng(3);
  const char* ends[] = {"\n", "\r\n", "\r"};
  for (unsigned a = 0; a < 0x30000; a += 4) {
    if (a % 0x10000 == 0) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ":02000004%04X00%s", a >> 16, ends[rng() % 3]);
      hex += ext;
    }
    char line[40];
    const unsigned v = rng();
    std::snprintf(line, sizeof line, ":04%04X00%08X00%s", a & 0xFFFF, v, ends[rng() % 3]);
    hex += line;
    for (int i = 0; i < 4; ++i)
      expected[a + static_cast<unsigned>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  }
  ScratchFolder dir;
  ConvertRun S;
  convertHexText(S, dir, hex + ":00000001FF");
  EXPECT_TRUE(ReadBytes(dir.File("in.BIN")) == expected);

  // A file without line ends is one line, of which only what a record can use is kept.
  convertHexText(S, dir, ":01000000AB" + std::string(3 * 1024 * 1024, 'Z'));
  EXPECT_EQ(ReadBytes(dir.File("in.BIN"))[0], 0xAB);
  EXPECT_EQ(S.report.firstBadLineProblem,
            "the line has 3145739 characters where its byte count (01) calls for 13");
}
