// Files of bytes as the steps use them: every failure raises EInOutError with the runtime's
// message. A file being made can live under a temporary name until it is whole, so that a
// failed conversion never leaves a file that looks complete. The first bytes of a file can be
// held in memory (HoldInMemory), so that a 4 MB image is built and read without thousands of
// small system calls; the file on disk ends up byte for byte the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ByteFile {
 public:
  enum class Mode {
    Read,       // an existing file, read only (works on read-only media)
    ReadWrite,  // an existing file, read and write
    Create,     // create, or empty an existing file; read and write
    CreateTemp  // as Create, but written under a temporary name beside `path` until Commit()
  };

  ByteFile() = default;
  ~ByteFile();  // closes (writing held bytes out); an uncommitted temporary file is removed
  ByteFile(ByteFile&& other) noexcept;
  ByteFile& operator=(ByteFile&& other) noexcept;
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;

  void Open(const std::string& path, Mode mode);
  // Writes held bytes out and closes; an uncommitted temporary file is removed.
  void Close();
  // Closes without writing held bytes out and without raising; an uncommitted temporary file
  // is removed. For the error paths of a conversion that is being abandoned.
  void Discard() noexcept;
  // Writes held bytes out, forces the file to the disk and, for CreateTemp, renames it to its
  // final name (replacing a file of that name). Closes the file unless `keepOpen`, in which
  // case it stays open for reading and writing under its final name.
  void Commit(bool keepOpen = false);
  bool IsOpen() const { return fd_ >= 0; }
  bool IsTemporary() const { return !tempPath_.empty(); }
  // The final name; a CreateTemp file is written under TempPath() until committed.
  const std::string& Path() const { return path_; }
  const std::string& TempPath() const { return tempPath_; }

  // Keeps the file's bytes 0 .. bytes-1 in memory from now on: reads and writes there touch
  // only memory until Flush(), Commit() or Close(). What the file already holds there is read
  // in once. Bytes past `bytes` still go straight to the file.
  void HoldInMemory(std::uint64_t bytes);
  std::uint64_t HeldBytes() const { return held_.size(); }
  // Writes the changed held bytes to the file.
  void Flush();

  // Reads up to n bytes at the current position; a short read at the end is not an error.
  std::size_t Read(void* buffer, std::size_t n);
  void Write(const void* buffer, std::size_t n);
  void Seek(std::uint64_t position);
  std::uint64_t Position() const { return position_; }
  std::uint64_t Size() const;

 private:
  std::size_t readFromDisk(std::uint64_t at, void* buffer, std::size_t n);
  void writeToDisk(std::uint64_t at, const void* buffer, std::size_t n);
  void moveTo(std::uint64_t at);
  void requireOpen() const;
  void reset() noexcept;

  int fd_ = -1;
  int flags_ = 0;
  std::string path_;
  std::string tempPath_;
  std::uint64_t position_ = 0;
  // Where the system's file offset stands, so that sequential transfers skip the seek.
  static constexpr std::uint64_t kUnknownPosition = ~std::uint64_t{0};
  std::uint64_t diskPosition_ = 0;
  // Held bytes: held_[i] is the file's byte i. heldExtent_ is how much of it the file holds
  // (bytes read in or written since); dirtyBegin_..dirtyEnd_ still has to reach the disk.
  std::vector<std::uint8_t> held_;
  std::uint64_t heldExtent_ = 0;
  std::uint64_t dirtyBegin_ = 0;
  std::uint64_t dirtyEnd_ = 0;
};
