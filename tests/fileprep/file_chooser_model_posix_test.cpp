// The file chooser's rules without a window: what the lists show, the name box and OK, and
// what an answer remembers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fileprep/file_chooser_model.h"
#include "fileprep/folder_listing.h"
#include "support/env_scope.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr const char* kTypes = "Upload (.kvu)|*.kvu|Intel HEX (.hex)|*.hex|Both|*.kvu;*.hex|";

// Home and config folders inside a scratch folder, and a folder of firmware files beside a
// hidden one, a folder named like a file and links to a file, a folder and a device.
class ChooserFolders : public ::testing::Test {
 protected:
  ChooserFolders() {
    fs::create_directories(Path("home"));
    fs::create_directories(Path("fw/sub"));
    fs::create_directories(Path("fw/.git"));
    fs::create_directories(Path("fw/x.kvu"));
    for (const char* name : {"b.hex", "A.KVU", "c.kvu", ".hidden.kvu", "note.txt"}) {
      std::ofstream(Path("fw") + "/" + name) << "x";
    }
    fs::create_symlink(Path("fw/c.kvu"), Path("fw/link.kvu"));
    fs::create_symlink(Path("fw/sub"), Path("fw/linked"));
    fs::create_symlink("/dev/null", Path("fw/tty.kvu"));
    fs::create_symlink("/dev/null", Path("fw/ttyfolder"));
  }
  std::string Path(const std::string& sub) const { return (scratch_.Path() / sub).string(); }
  std::string SetFile() const { return Path("config/kvuflash/KVUflash.set"); }

  kvtest::ScratchFolder scratch_{"kv-chooser-model", kvtest::ScratchFolder::Current::Enter};
  kvtest::EnvScope home_{"HOME", Path("home")};
  kvtest::EnvScope config_{"XDG_CONFIG_HOME", Path("config")};
};

Names Captions(const FileChooserModel& model) {
  Names captions;
  for (const ChooserFolder& folder : model.Folders()) captions.push_back(folder.caption);
  return captions;
}

TEST_F(ChooserFolders, ListsShowOnlyVisibleFilesAndFoldersInNameOrder) {
  FileChooserModel model;
  EXPECT_EQ(model.CurrentFolder(), Path("home"));
  model.ChangeFolder(Path("fw/sub/.."));
  EXPECT_EQ(model.CurrentFolder(), Path("fw"));
  EXPECT_EQ(fs::current_path().string(), Path("fw"));
  EXPECT_EQ(model.Files(), (Names{"A.KVU", "b.hex", "c.kvu", "link.kvu", "note.txt"}));
  EXPECT_EQ(model.NameText(), "*.*");

  model.SetFilter(kTypes);
  EXPECT_EQ(model.FileTypes().size(), 3u);
  EXPECT_EQ(model.FileTypes()[2].masks, (Names{"*.kvu", "*.hex"}));
  EXPECT_EQ(model.Files(), (Names{"A.KVU", "c.kvu", "link.kvu"}));
  model.SelectFileType(2);
  EXPECT_EQ(model.Files(), (Names{"A.KVU", "b.hex", "c.kvu", "link.kvu"}));
  EXPECT_EQ(model.NameText(), "*.kvu;*.hex");

  // The folder's parents, the folder marked current, then its subfolders.
  const Names captions = Captions(model);
  ASSERT_GE(captions.size(), 5u);
  EXPECT_EQ(captions.front(), "/");
  EXPECT_EQ(Names(captions.end() - 4, captions.end()), (Names{"fw", "linked", "sub", "x.kvu"}));
  EXPECT_EQ(model.CurrentFolderRow(), static_cast<int>(captions.size()) - 4);
  model.OpenFolderRow(static_cast<int>(captions.size()) - 2);
  EXPECT_EQ(model.CurrentFolder(), Path("fw/sub"));
  EXPECT_EQ(model.Folders().back().level, model.Folders()[model.CurrentFolderRow()].level);

  // The drive box holds the folder's own mount point, marked current.
  ASSERT_GE(model.CurrentDrive(), 0);
  EXPECT_EQ(model.Drives()[model.CurrentDrive()], DriveOf(Path("fw")));
  EXPECT_TRUE(NameMatchesMask("README", {"*.*"}));
  EXPECT_FALSE(NameMatchesMask("a.kvux", {"*.kvu", "?.hex"}));
}

TEST_F(ChooserFolders, OkIsOfferedForANameAndAnswersOkOnlyForAnExistingFile) {
  FileChooserModel model;
  model.ChangeFolder(Path("fw"));
  model.SetFilter(kTypes);
  EXPECT_FALSE(model.OkOffered());
  model.SelectFile(1);
  EXPECT_EQ(model.NameText(), "c.kvu");
  EXPECT_TRUE(model.OkOffered());
  model.SelectFileType(1);  // the mask in the box leaves OK offered
  EXPECT_EQ(model.NameText(), "*.hex");
  EXPECT_TRUE(model.OkOffered());
  model.SetNameText("");
  EXPECT_FALSE(model.OkOffered());

  for (const char* typed : {"*.hex", "nothere.hex", "x.kvu", "tty.kvu"}) {
    model.SetNameText(typed);
    EXPECT_EQ(model.PressOk().answer, FileChooserModel::Answer::Cancel) << typed;
    EXPECT_FALSE(fs::exists(SetFile())) << typed;
  }

  // A name typed while the list's selection was elsewhere is the name that goes.
  model.SetNameText("b.hex");
  EXPECT_EQ(model.SelectedFile(), 0);
  const FileChooserModel::Outcome ok = model.PressOk();
  EXPECT_EQ(ok.answer, FileChooserModel::Answer::Ok);
  EXPECT_EQ(ok.problem, "");
  EXPECT_EQ(model.ChosenPath(), "b.hex");
  EXPECT_EQ(kvtest::ReadText(SetFile()), Path("fw") + "\n");

  // The next showing lists a file written since, and the name box keeps its name.
  std::ofstream(Path("fw/new.hex")) << "x";
  model.Showing();
  EXPECT_EQ(model.Files(), (Names{"b.hex", "new.hex"}));
  EXPECT_EQ(model.NameText(), "b.hex");
  EXPECT_EQ(model.SelectedFile(), 0);
  EXPECT_EQ(FileChooserModel().CurrentFolder(), Path("fw"));  // the next program start
}

}  // namespace
