// The factory loaders and images reach the program as their files hold them.
#include "resources/embedded_images.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> fileLines(const std::string& name) {
  std::ifstream in(std::string(KV_SOURCE_DIR) + "/resources/factory/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(EmbeddedImages, ListsArriveWholeAndInOrder) {
  const auto& loader1 = resources::Loader1Texts();
  ASSERT_EQ(loader1.size(), 1u);
  EXPECT_EQ(loader1[0].size(), 64u);
  const auto& loader2 = resources::Loader2Texts();
  ASSERT_EQ(loader2.size(), 3u);
  EXPECT_EQ(loader2[0].size(), 112u);
  EXPECT_EQ(loader2[1].size(), 112u);
  EXPECT_EQ(loader2[2].size(), 120u);

  const auto& boot = resources::BootImageLines();
  ASSERT_EQ(boot.size(), 209u);
  EXPECT_EQ(boot[0], ":020000040000FA");
  EXPECT_EQ(boot[2], ":020000040008F2");
  EXPECT_EQ(boot[208], ":00000001FF");
  const auto& flash = resources::FlashCodeLines();
  ASSERT_EQ(flash.size(), 400u);
  EXPECT_EQ(flash[0], ":020000020000FC");
  EXPECT_EQ(flash[374], ":020000021000EC");
  EXPECT_EQ(flash[399], ":00000001FF");

  // Line for line what the files hold: nothing dropped, cut, doubled or reordered.
  EXPECT_EQ(loader1, fileLines("loader1.txt"));
  EXPECT_EQ(loader2, fileLines("loader2.txt"));
  EXPECT_EQ(boot, fileLines("bootstrap.hex"));
  EXPECT_EQ(flash, fileLines("flashcode.hex"));

  // One list for the program's life: a step may keep an index into it between ticks.
  EXPECT_EQ(&resources::BootImageLines(), &boot);
  EXPECT_EQ(&resources::FlashCodeLines(), &flash);
}
