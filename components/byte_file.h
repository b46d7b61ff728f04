// Files of bytes as the steps use them: every failure raises EInOutError with the runtime's
// message. A file being made can live under a temporary name until it is whole, so that a
// failed conversion never leaves a file that looks complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ByteFile {
 public:
  enum class Mode {
    Read,       // an existing file, read only
    ReadWrite,  // an existing file, read and write
    Create,     // create, or empty an existing file; read and write
    CreateTemp  // as Create, but written under a temporary name beside `path` until Commit()
  };

  ByteFile() = default;
  ~ByteFile();  // closes; an uncommitted temporary file is removed
  ByteFile(ByteFile&& other) noexcept;
  ByteFile& operator=(ByteFile&& other) noexcept;
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;

  void Open(const std::string& path, Mode mode);
  void Close();  // an uncommitted temporary file is removed
  // CreateTemp: flushes, closes and renames the temporary file to its name.
  void Commit();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Reads up to n bytes at the current position; a short read at the end is not an error.
  std::size_t Read(void* buffer, std::size_t n);
  void Write(const void* buffer, std::size_t n);
  void Seek(std::uint64_t position);
  std::uint64_t Position() const;
  std::uint64_t Size() const;

 private:
  int fd_ = -1;
  std::string path_;
  std::string tempPath_;
  std::uint64_t position_ = 0;
};
