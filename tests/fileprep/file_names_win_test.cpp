// Windows file names ignore case: a derived name of other case means the existing file, with no
// help from the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/byte_file.h"
#include "fileprep/file_names.h"
#include "support/scratch_folder.h"

using namespace kvtest;

TEST(FileNamesOnWindows, DerivedNamesOfOtherCaseOpenAndReplaceTheExistingFiles) {
  ScratchFolder dir("kv-names", ScratchFolder::Current::Enter);
  WriteText("fw.bin", "image");
  EXPECT_EQ(ResolveExistingName("fw.BIN"), "fw.BIN");
  EXPECT_TRUE(FileExists("FW.BIN"));

  ByteFile in;
  in.Open("fw.BIN", ByteFile::Mode::Read);
  char buffer[8] = {};
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "image");
  in.Close();

  ByteFile out;
  out.Open("FW.BIN", ByteFile::Mode::CreateTemp);
  out.Write("new", 3);
  out.Commit();
  EXPECT_EQ(dir.Names().size(), 1u);
  const auto bytes = ReadBytes("fw.bin");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
}
