// Intel HEX files made by real tools, converted by us and by the tools themselves.
#include <gtest/gtest.h>

#include <cstdlib>

#include "conversion_support.h"

using namespace kvtest;

namespace {

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
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
void expectSameAsSrecCat(const ScratchDir& dir, const std::string& hex) {
  ConvertRun S;
  S.InputFileName = hex;
  convert(S, dir.path().string(), "ours");
  // Files from real tools carry right checksums: the line check must not complain of them.
  EXPECT_EQ(S.report.badLines, 0) << hex << ": " << S.report.firstBadLineProblem;
  run("srec_cat '" + hex + "' -intel -fill 0xFF 0 0x400000 -crop 0 0x400000 -o '" +
      (dir / "oracle.bin") + "' -binary");
  const Bytes oracle = readBytes(dir / "oracle.bin");
  ASSERT_EQ(oracle.size(), 4194304u);
  Bytes ours = readBytes(dir / "ours.BIN");
  ASSERT_GE(ours.size(), oracle.size());
  ours.resize(oracle.size());
  EXPECT_TRUE(ours == oracle) << hex << ": the image differs from srec_cat's";
  expectUploadFileOf(readBytes(dir / "ours.KVU"), oracle, kSoftwareImagePages);
}

}  // namespace

TEST(ConversionOracle, LinearAddressedFilesFromSrecCat) {
  if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
  ScratchDir dir;
  // Firmware and FPGA regions, in 32-byte and 255-byte records, upper and lower case.
  writeBytes(dir / "a.bin", randomImage(300000, 1));
  writeBytes(dir / "b.bin", randomImage(70000, 2));
  run("srec_cat '" + (dir / "a.bin") + "' -binary -offset 0x1C0000 '" + (dir / "b.bin") +
      "' -binary -offset 0x60000 -o '" + (dir / "a.hex") + "' -intel -address-length=4");
  expectSameAsSrecCat(dir, dir / "a.hex");
  // Up to just below the end of the flash; nothing past it is taken.
  run("srec_cat '" + (dir / "a.bin") + "' -binary -offset 0x3B6000 -o '" + (dir / "long.hex") +
      "' -intel -address-length=4 -obs=255");
  expectSameAsSrecCat(dir, dir / "long.hex");
  run("tr A-F a-f < '" + (dir / "long.hex") + "' > '" + (dir / "lower.hex") + "'");
  expectSameAsSrecCat(dir, dir / "lower.hex");
}

TEST(ConversionOracle, SegmentAddressedFilesFromObjcopy) {
  if (!haveTool("objcopy") || !haveTool("srec_cat"))
    GTEST_SKIP() << "objcopy or srec_cat is not installed";
  ScratchDir dir;
  // Below 1 MB objcopy places data with extended segment address records.
  const Bytes data = randomImage(400000, 3);
  writeBytes(dir / "c.bin", data);
  run("objcopy -I binary -O ihex --change-addresses 0x8000 '" + (dir / "c.bin") + "' '" +
      (dir / "c.hex") + "'");
  ASSERT_NE(readText(dir / "c.hex").find(":02000002"), std::string::npos);
  expectSameAsSrecCat(dir, dir / "c.hex");

  // And objcopy reads its own file back to the same bytes as ours.
  run("objcopy -I ihex -O binary '" + (dir / "c.hex") + "' '" + (dir / "c.back") + "'");
  const Bytes ours = readBytes(dir / "ours.BIN");
  EXPECT_EQ(readBytes(dir / "c.back"), data);
  EXPECT_TRUE(Bytes(ours.begin() + 0x8000,
                    ours.begin() + 0x8000 + static_cast<std::ptrdiff_t>(data.size())) == data);
}

TEST(ConversionOracle, CompiledProgram) {
  if (!haveTool("objcopy") || !haveTool("srec_cat") || !haveTool("g++"))
    GTEST_SKIP() << "no tool chain";
  ScratchDir dir;
  writeFile(
      dir / "tiny.cpp",
      "static const char text[] = \"RQ-410 test program\";\n"
      "int counter = 42;\n"
      "static unsigned table[300] = {1, 2, 3};\n"
      "extern \"C\" int kv_start() {\n"
      "  unsigned s = 0;\n"
      "  for (unsigned i = 0; i < 300; ++i) s += table[i] * static_cast<unsigned>(text[i % 19]);\n"
      "  return static_cast<int>(s) + counter;\n"
      "}\n");
  run("g++ -O1 -fno-pie -no-pie -nostdlib -static -Wl,-e,kv_start -Wl,-Ttext-segment=0x120000 "
      "-Wl,--build-id=none '" +
      (dir / "tiny.cpp") + "' -o '" + (dir / "tiny.elf") + "'");
  run("objcopy -O ihex '" + (dir / "tiny.elf") + "' '" + (dir / "tiny.hex") + "'");
  expectSameAsSrecCat(dir, dir / "tiny.hex");
  const Bytes ours = readBytes(dir / "ours.BIN");
  EXPECT_NE(std::search(ours.begin(), ours.end(), std::begin("RQ-410 test program"),
                        std::end("RQ-410 test program") - 1),
            ours.end());
}
