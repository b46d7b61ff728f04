// Intel HEX files made by real tools, converted by us and by the tools themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "conversion_support.h"

using namespace kvtest;

namespace {

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A tool that failed left nothing to compare with: callers stop the test (ASSERT_TRUE).
::testing::AssertionResult run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << command << "\nfailed with status " << status;
}

// Random data with erased pages and erased runs inside pages among them.
Bytes randomImage(std::size_t bytes, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes image(bytes);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  for (std::size_t p = 0; p + 128 <= bytes; p += 128) {
    if (rng() % 5 == 0)
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(p),
                image.begin() + static_cast<std::ptrdiff_t>(p + 128), 0xFF);
    if (rng() % 7 == 0)
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(p + 16),
                image.begin() + static_cast<std::ptrdiff_t>(p + 40), 0xFF);
  }
  return image;
}

// Converts `hex` and checks the image against srec_cat's reading of the same file, filled
// with 0xFF over the 4 MB, and the upload file against that image.
void expectSameAsSrecCat(const ScratchFolder& dir, const std::string& hex) {
  ConvertRun S;
  S.InputFileName = hex;
  convert(S, dir.Path().string(), "ours");
  // Files from real tools carry right checksums: the line check must not complain of them.
  EXPECT_EQ(S.report.badLines, 0) << hex << ": " << S.report.firstBadLineProblem;
  ASSERT_TRUE(run("srec_cat '" + hex + "' -intel -fill 0xFF 0 0x400000 -crop 0 0x400000 -o '" +
                  dir.File("oracle.bin") + "' -binary"));
  const Bytes oracle = ReadBytes(dir.File("oracle.bin"));
  ASSERT_EQ(oracle.size(), 4194304u);
  Bytes ours = ReadBytes(dir.File("ours.BIN"));
  ASSERT_GE(ours.size(), oracle.size());
  ours.resize(oracle.size());
  EXPECT_TRUE(ours == oracle) << hex << ": the image differs from srec_cat's";
  expectUploadFileOf(ReadBytes(dir.File("ours.KVU")), oracle, kSoftwareImagePages);
}

}  // namespace

TEST(ConversionOracle, LinearAddressedFilesFromSrecCat) {
  if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
  ScratchFolder dir;
  // Firmware and FPGA regions, in 32-byte and 255-byte records, upper and lower case.
  WriteBytes(dir.File("a.bin"), randomImage(300000, 1));
  WriteBytes(dir.File("b.bin"), randomImage(70000, 2));
  ASSERT_TRUE(run("srec_cat '" + dir.File("a.bin") + "' -binary -offset 0x1C0000 '" +
                  dir.File("b.bin") + "' -binary -offset 0x60000 -o '" + dir.File("a.hex") +
                  "' -intel -address-length=4"));
  ASSERT_NO_FATAL_FAILURE(expectSameAsSrecCat(dir, dir.File("a.hex")));
  // Up to just below the end of the flash; nothing past it is taken.
  ASSERT_TRUE(run("srec_cat '" + dir.File("a.bin") + "' -binary -offset 0x3B6000 -o '" +
                  dir.File("long.hex") + "' -intel -address-length=4 -obs=255"));
  ASSERT_NO_FATAL_FAILURE(expectSameAsSrecCat(dir, dir.File("long.hex")));
  ASSERT_TRUE(run("tr A-F a-f < '" + dir.File("long.hex") + "' > '" + dir.File("lower.hex") + "'"));
  ASSERT_NO_FATAL_FAILURE(expectSameAsSrecCat(dir, dir.File("lower.hex")));
}

TEST(ConversionOracle, SegmentAddressedFilesFromObjcopy) {
  if (!haveTool("objcopy") || !haveTool("srec_cat"))
    GTEST_SKIP() << "objcopy or srec_cat is not installed";
  ScratchFolder dir;
  // Below 1 MB objcopy places data with extended segment address records.
  const Bytes data = randomImage(400000, 3);
  WriteBytes(dir.File("c.bin"), data);
  ASSERT_TRUE(run("objcopy -I binary -O ihex --change-addresses 0x8000 '" + dir.File("c.bin") +
                  "' '" + dir.File("c.hex") + "'"));
  ASSERT_NE(ReadText(dir.File("c.hex")).find(":02000002"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(expectSameAsSrecCat(dir, dir.File("c.hex")));

  // And objcopy reads its own file back to the same bytes as ours.
  ASSERT_TRUE(
      run("objcopy -I ihex -O binary '" + dir.File("c.hex") + "' '" + dir.File("c.back") + "'"));
  const Bytes ours = ReadBytes(dir.File("ours.BIN"));
  EXPECT_EQ(ReadBytes(dir.File("c.back")), data);
  EXPECT_TRUE(Bytes(ours.begin() + 0x8000,
                    ours.begin() + 0x8000 + static_cast<std::ptrdiff_t>(data.size())) == data);
}

TEST(ConversionOracle, CompiledProgram) {
  if (!haveTool("objcopy") || !haveTool("srec_cat") || !haveTool("g++"))
    GTEST_SKIP() << "no tool chain";
  ScratchFolder dir;
  WriteText(
      dir.File("tiny.cpp"),
      "static const char text[] = \"RQ-410 test program\";\n"
      "int counter = 42;\n"
      "static unsigned table[300] = {1, 2, 3};\n"
      "extern \"C\" int kv_start() {\n"
      "  unsigned s = 0;\n"
      "  for (unsigned i = 0; i < 300; ++i) s += table[i] * static_cast<unsigned>(text[i % 19]);\n"
      "  return static_cast<int>(s) + counter;\n"
      "}\n");
  ASSERT_TRUE(
      run("g++ -O1 -fno-pie -no-pie -nostdlib -static -Wl,-e,kv_start -Wl,-Ttext-segment=0x120000 "
          "-Wl,--build-id=none '" +
          dir.File("tiny.cpp") + "' -o '" + dir.File("tiny.elf") + "'"));
  ASSERT_TRUE(run("objcopy -O ihex '" + dir.File("tiny.elf") + "' '" + dir.File("tiny.hex") + "'"));
  ASSERT_NO_FATAL_FAILURE(expectSameAsSrecCat(dir, dir.File("tiny.hex")));
  const Bytes ours = ReadBytes(dir.File("ours.BIN"));
  EXPECT_NE(std::search(ours.begin(), ours.end(), std::begin("RQ-410 test program"),
                        std::end("RQ-410 test program") - 1),
            ours.end());
}
