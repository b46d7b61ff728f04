#include "components/byte_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <vector>

#include "components/file_errors.h"
#include "support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class ByteFileTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return dir_.File(name); }
  static Bytes contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EInOutError& e) {
      return e.what();
    }
    return "no error";
  }
  kvtest::ScratchFolder dir_{"kv-bytefile"};
};

}  // namespace

// Random writes and reads, with and without held bytes, against a file modelled in memory.
TEST_F(ByteFileTest, HeldBytesBehaveLikeTheFile) {
  ByteFile held, plain;
  held.Open(at("held"), ByteFile::Mode::Create);
  plain.Open(at("plain"), ByteFile::Mode::Create);
  held.HoldInMemory(4096);
  Bytes model;
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    // Mostly sequential, now and then somewhere else.
    const std::uint64_t position = rng() % 4 == 0 ? rng() % 6000 : held.Position();
    const std::size_t n = rng() % 300;
    held.Seek(position);
    plain.Seek(position);
    if (rng() % 3 != 0) {
      Bytes data(n);
      for (auto& b : data) b = static_cast<std::uint8_t>(rng());
      held.Write(data.data(), n);
      plain.Write(data.data(), n);
      if (n > 0 && model.size() < position + n) model.resize(position + n, 0);
      std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(position));
    } else {
      Bytes a(n, 0xEE), b(n, 0xEE);
      const std::size_t expected =
          position >= model.size() ? 0 : std::min<std::size_t>(n, model.size() - position);
      ASSERT_EQ(held.Read(a.data(), n), expected) << "round " << round;
      ASSERT_EQ(plain.Read(b.data(), n), expected) << "round " << round;
      const Bytes want(
          model.begin() +
              static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(position, model.size())),
          model.begin() + static_cast<std::ptrdiff_t>(
                              std::min<std::uint64_t>(position, model.size()) + expected));
      ASSERT_TRUE(std::equal(want.begin(), want.end(), a.begin())) << "round " << round;
      ASSERT_TRUE(std::equal(want.begin(), want.end(), b.begin())) << "round " << round;
      ASSERT_EQ(held.Position(), position + expected);
    }
    ASSERT_EQ(held.Size(), model.size()) << "round " << round;
    ASSERT_EQ(plain.Size(), model.size()) << "round " << round;
    if (round % 500 == 0) held.Flush();
  }
  held.Close();
  plain.Close();
  EXPECT_EQ(contents(at("held")), model);
  EXPECT_EQ(contents(at("plain")), model);

  // Holding an existing file reads it in; a hole written past the held bytes reads as zeros.
  ByteFile again;
  again.Open(at("held"), ByteFile::Mode::ReadWrite);
  again.HoldInMemory(10000);
  Bytes all(contents(at("held")).size());
  again.Seek(0);
  EXPECT_EQ(again.Read(all.data(), all.size() + 100), all.size());
  EXPECT_EQ(all, contents(at("held")));
  again.Seek(12000);
  const std::uint8_t one = 1;
  again.Write(&one, 1);
  EXPECT_EQ(again.Size(), 12001u);
  again.Close();
  EXPECT_EQ(fs::file_size(at("held")), 12001u);
}

TEST_F(ByteFileTest, TemporaryFileTakesItsNameOnlyWhenCommitted) {
  put(at("up.KVU"), "older");
  ByteFile f;
  f.Open(at("up.KVU"), ByteFile::Mode::CreateTemp);
  EXPECT_TRUE(f.IsTemporary());
  f.Write("new", 3);
  EXPECT_EQ(contents(at("up.KVU")), Bytes({'o', 'l', 'd', 'e', 'r'}));
  EXPECT_TRUE(fs::exists(f.TempPath()));
  f.Close();  // not committed: thrown away
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir_.Path()));
  EXPECT_EQ(contents(at("up.KVU")).size(), 5u);

  f.Open(at("up.KVU"), ByteFile::Mode::CreateTemp);
  f.HoldInMemory(100);
  f.Write("new", 3);
  f.Commit(true);  // stays open under its name, held bytes written out
  EXPECT_TRUE(f.IsOpen());
  EXPECT_FALSE(f.IsTemporary());
  EXPECT_EQ(contents(at("up.KVU")), Bytes({'n', 'e', 'w'}));
  f.Write("!", 1);
  f.Close();
  EXPECT_EQ(contents(at("up.KVU")), Bytes({'n', 'e', 'w', '!'}));
  EXPECT_EQ(f.Path(), at("up.KVU"));

  // Discard drops what is held and removes the temporary file.
  f.Open(at("up.KVU"), ByteFile::Mode::CreateTemp);
  f.Write("x", 1);
  f.Discard();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir_.Path()));
  EXPECT_EQ(contents(at("up.KVU")).size(), 4u);

  // A destroyed, uncommitted file leaves nothing either.
  {
    ByteFile g;
    g.Open(at("gone.KVU"), ByteFile::Mode::CreateTemp);
    g.Write("x", 1);
  }
  EXPECT_FALSE(fs::exists(at("gone.KVU")));
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir_.Path()));
}

#ifndef _WIN32  // links need rights there that tests do not have
TEST_F(ByteFileTest, TemporaryFileIsNewAndNeverOpenedThroughALink) {
  put(at("victim"), "keep");
  // Links planted at the names a temporary file might have had.
  fs::create_symlink(at("victim"), at("up.KVU.part"));
  ByteFile f;
  f.Open(at("up.KVU"), ByteFile::Mode::CreateTemp);
  EXPECT_NE(f.TempPath(), at("up.KVU.part"));
  EXPECT_FALSE(fs::is_symlink(f.TempPath()));
  f.Write("new", 3);
  f.Commit();
  EXPECT_EQ(contents(at("victim")), Bytes({'k', 'e', 'e', 'p'}));
  EXPECT_EQ(contents(at("up.KVU")), Bytes({'n', 'e', 'w'}));
}
#endif

TEST_F(ByteFileTest, ErrorsCarryTheRuntimesMessages) {
  ByteFile f;
  EXPECT_EQ(errorOf([&] { f.Open(at("missing"), ByteFile::Mode::Read); }), "File not found");
  EXPECT_EQ(errorOf([&] { f.Open(at("no/such/folder/x"), ByteFile::Mode::Create); }),
            "File not found");
  EXPECT_EQ(errorOf([&] { f.Open(dir_.Path().string(), ByteFile::Mode::Read); }),
            "File access denied");
  EXPECT_EQ(errorOf([&] { f.Open(dir_.Path().string(), ByteFile::Mode::ReadWrite); }),
            "File access denied");
  EXPECT_EQ(errorOf([&] { f.Read(nullptr, 1); }), "File not open");
  EXPECT_EQ(errorOf([&] { f.Size(); }), "File not open");

  put(at("r"), "abc");
  f.Open(at("r"), ByteFile::Mode::Read);
  EXPECT_EQ(errorOf([&] { f.Write("x", 1); }), "File not open for output");
  f.HoldInMemory(16);
  EXPECT_EQ(errorOf([&] { f.Write("x", 1); }), "File not open for output");
  char buffer[8] = {};
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  f.Close();

  // A full device: the write fails, and so does the commit of a file that could not be whole.
  if (fs::exists("/dev/full")) {
    ByteFile full;
    full.Open("/dev/full", ByteFile::Mode::ReadWrite);
    EXPECT_EQ(errorOf([&] { full.Write("x", 1); }), "Disk full");
    full.HoldInMemory(4);
    full.Write("abcd", 4);
    EXPECT_EQ(errorOf([&] { full.Close(); }), "Disk full");
    EXPECT_FALSE(full.IsOpen());
  }
  // A committed name taken by a folder.
  fs::create_directory(at("taken"));
  f.Open(at("taken"), ByteFile::Mode::CreateTemp);
  f.Write("x", 1);
  EXPECT_EQ(errorOf([&] { f.Commit(); }), "File access denied");
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(kvtest::HoldsTemporaryFile(dir_.Path()));
}
