// The remembered folder on Windows: C:\KVUflash.set, folders on drive C only, kept in upper
// case, one CR LF line.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>

#include "components/file_errors.h"
#include "fileprep/data_files_dir.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace kvtest;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A user's own C:\KVUflash.set is put back as it was.
class KeptFile {
 public:
  explicit KeptFile(std::string path) : path_(std::move(path)) {
    if (fs::exists(path_)) old_ = ReadText(path_);
  }
  ~KeptFile() {
    std::error_code ec;
    if (old_) {
      WriteText(path_, *old_);
    } else {
      fs::remove(path_, ec);
    }
  }

 private:
  std::string path_;
  std::optional<std::string> old_;
};

TEST(DataFilesDirOnWindows, RemembersFoldersOfDriveCInUpperCaseOnACrLfLine) {
  EXPECT_EQ(DataFilesDirFile(), "C:\\KVUflash.set");
  EXPECT_EQ(DefaultDataFilesDir(), "C:\\");
  KeptFile kept(DataFilesDirFile());
  std::error_code ec;
  fs::remove(DataFilesDirFile(), ec);
  EXPECT_EQ(ReadDataFilesDir(), "C:\\");

  ScratchFolder dir;  // in the user's temporary folder, on drive C
  const std::string folder = (dir.Path() / "Firmware New").string();
  ASSERT_EQ(Upper(folder.substr(0, 2)), "C:") << folder;
  fs::create_directories(folder);
  try {
    SaveDataFilesDir(folder);
  } catch (const EInOutError& e) {
    GTEST_SKIP() << "C:\\ cannot be written here (" << e.what() << "): run as administrator";
  }
  EXPECT_EQ(ReadText(DataFilesDirFile()), Upper(folder) + "\r\n");
  // Read back as written: the folder of other case is the same folder.
  EXPECT_EQ(ReadDataFilesDir(), Upper(folder));

  // Only the first line counts.
  WriteText(DataFilesDirFile(), folder + "\r\nC:\\WINDOWS\r\n");
  EXPECT_EQ(ReadDataFilesDir(), folder);

  // A folder off drive C is remembered as C:\, and such a line, a folder that has gone and an
  // empty line all open the chooser there.
  SaveDataFilesDir("D:\\Data");
  EXPECT_EQ(ReadText(DataFilesDirFile()), "C:\\\r\n");
  for (const std::string& line :
       {std::string("D:\\DATA"), Upper(folder) + "\\GONE", std::string()}) {
    WriteText(DataFilesDirFile(), line + "\r\n");
    EXPECT_EQ(ReadDataFilesDir(), "C:\\") << line;
  }
}

}  // namespace
