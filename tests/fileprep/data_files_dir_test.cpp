// The remembered folder of the file chooser: where it is kept, what is trusted when it is
// read back, and what is written.
#include "fileprep/data_files_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "components/file_errors.h"
#include "support/env_scope.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace kvtest;

#ifndef _WIN32
// Windows keeps it in C:\KVUflash.set: data_files_dir_win_test.cpp.
TEST(DataFilesDir, LivesInTheUsersConfigFolderAndFallsBackToHome) {
  ScratchFolder dir("kv-datadir", ScratchFolder::Current::Enter);
  const std::string home = (dir.Path() / "home").string();
  fs::create_directories(home);
  EnvScope homeEnv("HOME", home);
  {
    EnvScope config("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(DataFilesDirFile(), home + "/.config/kvuflash/KVUflash.set");
  }
  {
    EnvScope config("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(DataFilesDirFile(), home + "/.config/kvuflash/KVUflash.set");
  }
  const std::string config = (dir.Path() / "cfg").string();
  EnvScope configEnv("XDG_CONFIG_HOME", config);
  EXPECT_EQ(DataFilesDirFile(), config + "/kvuflash/KVUflash.set");
  EXPECT_EQ(DefaultDataFilesDir(), home);

  // No file yet: the home folder, and nothing is created by reading.
  EXPECT_EQ(ReadDataFilesDir(), home);
  EXPECT_FALSE(fs::exists(config));

  // Saved and read back, spelling kept (names are case-sensitive here).
  const std::string firmware = (dir.Path() / "Firmware New").string();
  fs::create_directories(firmware);
  SaveDataFilesDir(firmware);
  EXPECT_EQ(ReadBytes(DataFilesDirFile()).size(), firmware.size() + 1);
  EXPECT_EQ(ReadDataFilesDir(), firmware);
  SaveDataFilesDir(firmware);  // written again at every OK
  EXPECT_EQ(ReadDataFilesDir(), firmware);
  EXPECT_EQ(dir.Names("cfg/kvuflash"), std::vector<std::string>{"KVUflash.set"});

  // A folder that is gone, a relative line, an empty line, a Windows line: home.
  for (const std::string& line : {(dir.Path() / "gone").string(), std::string("Firmware New"),
                                  std::string(""), std::string("C:\\FIRMWARE")}) {
    WriteText(DataFilesDirFile(), line + "\n");
    EXPECT_EQ(ReadDataFilesDir(), home) << line;
  }
  // Only the first line counts; a CRLF line end is no part of the name.
  WriteText(DataFilesDirFile(), firmware + "\r\n/tmp\n");
  EXPECT_EQ(ReadDataFilesDir(), firmware);
}

TEST(DataFilesDir, FailureToWriteIsReportedAndKeepsTheOldFile) {
  ScratchFolder dir("kv-datadir", ScratchFolder::Current::Enter);
  EnvScope configEnv("XDG_CONFIG_HOME", (dir.Path() / "cfg").string());
  SaveDataFilesDir(dir.Path().string());
  // The config folder is a file: nothing can be written there.
  EnvScope blocked("XDG_CONFIG_HOME", (dir.Path() / "cfg" / "kvuflash" / "KVUflash.set").string());
  EXPECT_THROW(SaveDataFilesDir("/tmp"), EInOutError);
  EnvScope back("XDG_CONFIG_HOME", (dir.Path() / "cfg").string());
  EXPECT_EQ(ReadDataFilesDir(), dir.Path().string());
  EXPECT_EQ(dir.Names("cfg/kvuflash"), std::vector<std::string>{"KVUflash.set"});
}
#endif

TEST(DataFilesDir, WindowsRulesKeepOnlyFoldersOnDriveC) {
  const auto exists = [](const std::string& folder) {
    return folder == "C:\\FIRMWARE\\NEW" || folder == "c:\\data";
  };
  EXPECT_EQ(WindowsFolderFromLine("C:\\FIRMWARE\\NEW", exists), "C:\\FIRMWARE\\NEW");
  EXPECT_EQ(WindowsFolderFromLine("c:\\data", exists), "c:\\data");  // as read
  EXPECT_EQ(WindowsFolderFromLine("D:\\DATA", exists), "C:\\");
  EXPECT_EQ(WindowsFolderFromLine("C:\\OLD", exists), "C:\\");  // no longer exists
  EXPECT_EQ(WindowsFolderFromLine("", exists), "C:\\");
  EXPECT_EQ(WindowsFolderFromLine("c:\\", exists), "C:\\");
  EXPECT_EQ(WindowsLineForFolder("C:\\Firmware\\New"), "C:\\FIRMWARE\\NEW");
  EXPECT_EQ(WindowsLineForFolder("c:\\x"), "C:\\X");
  EXPECT_EQ(WindowsLineForFolder("D:\\Data"), "C:\\");
  EXPECT_EQ(WindowsLineForFolder("\\\\server\\share"), "C:\\");
}

}  // namespace

TEST(DataFilesDir, TheRememberedFolderGoesToTheUsersPlaceWhereTheSpecsCannotBeWritten) {
  ScratchFolder dir;
  // A file where the folder should be: nothing can be made under it, even by root.
  WriteText(dir.Path() / "C", "");
  const std::string spec = (dir.Path() / "C" / "KVUflash.set").string();
  const std::string user = (dir.Path() / "local" / "kvuflash" / "KVUflash.set").string();
  EXPECT_EQ(NewerSetFile(spec, user), spec) << "neither exists: the spec's place";
  WriteSetFile(spec, user, "C:\\FW\r\n");
  EXPECT_EQ(ReadText(user), "C:\\FW\r\n");
  EXPECT_EQ(NewerSetFile(spec, user), user);

  // Where both exist, the newer holds: a folder remembered in C:\ is not lost to an old copy.
  const std::string writable = dir.File("KVUflash.set");
  WriteSetFile(writable, user, "C:\\NEW\r\n");
  fs::last_write_time(user, fs::last_write_time(writable) - std::chrono::hours(1));
  EXPECT_EQ(NewerSetFile(writable, user), writable);
}
