#include "components/byte_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <io.h>
#define KV_OPEN ::_open
#define KV_CLOSE ::_close
#define KV_READ ::_read
#define KV_WRITE ::_write
#define KV_LSEEK ::_lseeki64
#define KV_BINARY _O_BINARY
#else
#include <unistd.h>
#define KV_OPEN ::open
#define KV_CLOSE ::close
#define KV_READ ::read
#define KV_WRITE ::write
#define KV_LSEEK ::lseek
#define KV_BINARY 0
#endif

#include "components/file_errors.h"

ByteFile::~ByteFile() {
  try {
    Close();
  } catch (...) {
  }
}

ByteFile::ByteFile(ByteFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      tempPath_(std::move(other.tempPath_)),
      position_(other.position_) {}

ByteFile& ByteFile::operator=(ByteFile&& other) noexcept {
  if (this != &other) {
    try {
      Close();
    } catch (...) {
    }
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    tempPath_ = std::move(other.tempPath_);
    position_ = other.position_;
  }
  return *this;
}

void ByteFile::Open(const std::string& path, Mode mode) {
  Close();
  int flags = KV_BINARY;
  std::string target = path;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::CreateTemp:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      target = path + ".part";
      break;
  }
  const int fd = KV_OPEN(target.c_str(), flags, 0666);
  if (fd < 0) throw EInOutError::FromErrno(errno);
  fd_ = fd;
  path_ = path;
  tempPath_ = mode == Mode::CreateTemp ? target : std::string();
  position_ = 0;
}

void ByteFile::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  const int rc = KV_CLOSE(fd);
  const int err = errno;
  if (!tempPath_.empty()) {
    std::remove(tempPath_.c_str());
    tempPath_.clear();
  }
  if (rc != 0) throw EInOutError::FromErrno(err);
}

void ByteFile::Commit() {
  if (fd_ < 0 || tempPath_.empty()) return;
#ifndef _WIN32
  if (::fsync(fd_) != 0) throw EInOutError::FromErrno(errno);
#endif
  const int fd = std::exchange(fd_, -1);
  if (KV_CLOSE(fd) != 0) {
    const int err = errno;
    std::remove(tempPath_.c_str());
    tempPath_.clear();
    throw EInOutError::FromErrno(err);
  }
#ifdef _WIN32
  std::remove(path_.c_str());
#endif
  if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    std::remove(tempPath_.c_str());
    tempPath_.clear();
    throw EInOutError::FromErrno(err);
  }
  tempPath_.clear();
}

std::size_t ByteFile::Read(void* buffer, std::size_t n) {
  if (fd_ < 0) throw EInOutError("File not open", 103);
  auto* p = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const auto got = KV_READ(fd_, p + done, static_cast<unsigned>(n - done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EInOutError::FromErrno(errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  position_ += done;
  return done;
}

void ByteFile::Write(const void* buffer, std::size_t n) {
  if (fd_ < 0) throw EInOutError("File not open", 103);
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const auto put = KV_WRITE(fd_, p + done, static_cast<unsigned>(n - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw EInOutError::FromErrno(errno);
    }
    if (put == 0) throw EInOutError::FromErrno(ENOSPC);
    done += static_cast<std::size_t>(put);
  }
  position_ += done;
}

void ByteFile::Seek(std::uint64_t position) {
  if (fd_ < 0) throw EInOutError("File not open", 103);
  if (KV_LSEEK(fd_, static_cast<off_t>(position), SEEK_SET) < 0) throw EInOutError::FromErrno(errno);
  position_ = position;
}

std::uint64_t ByteFile::Position() const { return position_; }

std::uint64_t ByteFile::Size() const {
  if (fd_ < 0) throw EInOutError("File not open", 103);
#ifdef _WIN32
  struct _stat64 st {};
  if (::_fstat64(fd_, &st) != 0) throw EInOutError::FromErrno(errno);
#else
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EInOutError::FromErrno(errno);
#endif
  return static_cast<std::uint64_t>(st.st_size);
}
