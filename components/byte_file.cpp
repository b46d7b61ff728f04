#include "components/byte_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <random>
#include <utility>

#ifdef _WIN32
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define KV_OPEN ::_open
#define KV_CLOSE ::_close
#define KV_READ ::_read
#define KV_WRITE ::_write
#define KV_BINARY _O_BINARY
#define KV_CLOEXEC 0
#define KV_NOFOLLOW 0  // _O_EXCL is CREATE_NEW: a link or file at the name is not opened
#define KV_FILE_PERMS (_S_IREAD | _S_IWRITE)
#else
#include <unistd.h>
#define KV_OPEN ::open
#define KV_CLOSE ::close
#define KV_READ ::read
#define KV_WRITE ::write
#define KV_BINARY 0
#define KV_CLOEXEC O_CLOEXEC
#define KV_NOFOLLOW O_NOFOLLOW
#define KV_FILE_PERMS 0666
#endif

#include "components/file_errors.h"
#include "components/hex_text.h"

namespace {

// One read() or write() moves at most this much, so that counts fit every platform's type.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

const char* const kTempSuffix = ".part";
constexpr int kTempNameTries = 64;

// A new file beside `path` under a name nobody can have prepared: random, created only if it
// does not exist, and never through a link planted there. Returns its descriptor.
int createTemporary(const std::string& path, int flags, std::string& name) {
  std::random_device random;
  for (int i = 0; i < kTempNameTries; ++i) {
    name = path + "." + HexDigits(random(), 8) + kTempSuffix;
    const int fd = KV_OPEN(name.c_str(), flags | O_CREAT | O_EXCL | KV_NOFOLLOW, KV_FILE_PERMS);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void seekTo(int fd, std::uint64_t at) {
#ifdef _WIN32
  if (::_lseeki64(fd, static_cast<__int64>(at), SEEK_SET) < 0) throw EInOutError::FromErrno(errno);
#else
  if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0) throw EInOutError::FromErrno(errno);
#endif
}

#ifdef _WIN32
// The runtime's numbering of file errors is the platform's own on Windows.
EInOutError fromWindowsError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return EInOutError::FromErrno(ENOENT);
    case ERROR_PATH_NOT_FOUND:
      return EInOutError::FromErrno(ENOTDIR);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EInOutError::FromErrno(EACCES);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return EInOutError::FromErrno(ENOSPC);
    default:
      return EInOutError("I/O error " + std::to_string(code), static_cast<int>(code));
  }
}
#endif

}  // namespace

ByteFile::~ByteFile() {
  try {
    Close();
  } catch (...) {
  }
}

ByteFile::ByteFile(ByteFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      flags_(other.flags_),
      path_(std::move(other.path_)),
      tempPath_(std::move(other.tempPath_)),
      position_(other.position_),
      diskPosition_(other.diskPosition_),
      held_(std::move(other.held_)),
      heldExtent_(other.heldExtent_),
      dirtyBegin_(other.dirtyBegin_),
      dirtyEnd_(other.dirtyEnd_) {
  other.reset();
}

ByteFile& ByteFile::operator=(ByteFile&& other) noexcept {
  if (this != &other) {
    try {
      Close();
    } catch (...) {
    }
    fd_ = std::exchange(other.fd_, -1);
    flags_ = other.flags_;
    path_ = std::move(other.path_);
    tempPath_ = std::move(other.tempPath_);
    position_ = other.position_;
    diskPosition_ = other.diskPosition_;
    held_ = std::move(other.held_);
    heldExtent_ = other.heldExtent_;
    dirtyBegin_ = other.dirtyBegin_;
    dirtyEnd_ = other.dirtyEnd_;
    other.reset();
  }
  return *this;
}

void ByteFile::reset() noexcept {
  fd_ = -1;
  tempPath_.clear();
  position_ = 0;
  diskPosition_ = 0;
  held_ = {};
  heldExtent_ = dirtyBegin_ = dirtyEnd_ = 0;
}

void ByteFile::requireOpen() const {
  if (fd_ < 0) throw EInOutError("File not open", 103);
}

void ByteFile::Open(const std::string& path, Mode mode) {
  Close();
  int flags = KV_BINARY | KV_CLOEXEC;
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
      flags |= O_RDWR;
      break;
  }
  const int fd = mode == Mode::CreateTemp ? createTemporary(path, flags, target)
                                          : KV_OPEN(target.c_str(), flags, KV_FILE_PERMS);
  if (fd < 0) throw EInOutError::FromErrno(errno);
#ifndef _WIN32
  // A folder opens for reading on POSIX; the runtime refuses it as a file.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    KV_CLOSE(fd);
    throw EInOutError::FromErrno(EISDIR);
  }
#endif
  reset();
  fd_ = fd;
  flags_ = flags & ~(O_CREAT | O_TRUNC);
  path_ = path;
  tempPath_ = mode == Mode::CreateTemp ? target : std::string();
}

void ByteFile::Close() {
  if (fd_ < 0) return;
  std::exception_ptr failure;
  try {
    Flush();
  } catch (...) {
    failure = std::current_exception();
  }
  const int rc = KV_CLOSE(fd_);
  const int err = errno;
  if (!tempPath_.empty()) std::remove(tempPath_.c_str());
  reset();
  if (failure) std::rethrow_exception(failure);
  if (rc != 0) throw EInOutError::FromErrno(err);
}

void ByteFile::Discard() noexcept {
  if (fd_ < 0) return;
  KV_CLOSE(fd_);
  if (!tempPath_.empty()) std::remove(tempPath_.c_str());
  reset();
}

void ByteFile::Commit(bool keepOpen) {
  requireOpen();
  try {
    Flush();
#ifdef _WIN32
    if (::_commit(fd_) != 0) throw EInOutError::FromErrno(errno);
#else
    if (::fsync(fd_) != 0) throw EInOutError::FromErrno(errno);
#endif
  } catch (...) {
    Discard();
    throw;
  }
  if (tempPath_.empty()) {
    if (!keepOpen) Close();
    return;
  }
#ifdef _WIN32
  // An open file cannot be renamed here: close, move over the old file, and reopen.
  const std::uint64_t position = position_;
  std::vector<std::uint8_t> held = std::move(held_);
  const std::uint64_t heldExtent = heldExtent_;
  const int closeRc = KV_CLOSE(fd_);
  fd_ = -1;
  if (closeRc != 0) {
    const int err = errno;
    std::remove(tempPath_.c_str());
    reset();
    throw EInOutError::FromErrno(err);
  }
  if (!::MoveFileExA(tempPath_.c_str(), path_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = ::GetLastError();
    std::remove(tempPath_.c_str());
    reset();
    throw fromWindowsError(code);
  }
  tempPath_.clear();
  if (!keepOpen) {
    reset();
    return;
  }
  const int fd = KV_OPEN(path_.c_str(), flags_, KV_FILE_PERMS);
  if (fd < 0) {
    const int err = errno;
    reset();
    throw EInOutError::FromErrno(err);
  }
  fd_ = fd;
  diskPosition_ = 0;
  position_ = position;
  held_ = std::move(held);
  heldExtent_ = heldExtent;
#else
  if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    Discard();
    throw EInOutError::FromErrno(err);
  }
  tempPath_.clear();
  if (!keepOpen) Close();
#endif
}

void ByteFile::HoldInMemory(std::uint64_t bytes) {
  requireOpen();
  if (bytes == held_.size()) return;
  Flush();
  held_ = {};
  heldExtent_ = 0;
  std::vector<std::uint8_t> held(static_cast<std::size_t>(bytes), 0);
  const std::uint64_t onDisk = std::min<std::uint64_t>(bytes, Size());
  const std::size_t got = readFromDisk(0, held.data(), static_cast<std::size_t>(onDisk));
  held_ = std::move(held);
  heldExtent_ = got;
}

void ByteFile::Flush() {
  if (fd_ < 0 || dirtyEnd_ <= dirtyBegin_) return;
  writeToDisk(dirtyBegin_, held_.data() + dirtyBegin_,
              static_cast<std::size_t>(dirtyEnd_ - dirtyBegin_));
  dirtyBegin_ = dirtyEnd_ = 0;
}

// Sequential reads and writes need no seek of their own.
void ByteFile::moveTo(std::uint64_t at) {
  if (at == diskPosition_) return;
  diskPosition_ = kUnknownPosition;
  seekTo(fd_, at);
  diskPosition_ = at;
}

std::size_t ByteFile::readFromDisk(std::uint64_t at, void* buffer, std::size_t n) {
  if (n == 0) return 0;
  moveTo(at);
  auto* p = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const auto got =
        KV_READ(fd_, p + done, static_cast<unsigned>(std::min(n - done, kMaxTransfer)));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EInOutError::FromErrno(errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    diskPosition_ += static_cast<std::uint64_t>(got);
  }
  return done;
}

void ByteFile::writeToDisk(std::uint64_t at, const void* buffer, std::size_t n) {
  if (n == 0) return;
  moveTo(at);
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const auto put =
        KV_WRITE(fd_, p + done, static_cast<unsigned>(std::min(n - done, kMaxTransfer)));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw EInOutError::FromErrno(errno);
    }
    if (put == 0) throw EInOutError::FromErrno(ENOSPC);
    done += static_cast<std::size_t>(put);
    diskPosition_ += static_cast<std::uint64_t>(put);
  }
}

std::size_t ByteFile::Read(void* buffer, std::size_t n) {
  requireOpen();
  auto* p = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  const std::uint64_t held = held_.size();
  if (position_ < held && n > 0) {
    // Held bytes exist in the file up to its end, which may lie past what was written here.
    std::uint64_t limit = heldExtent_;
    if (position_ + n > limit) limit = std::min(held, Size());
    if (position_ < limit) {
      done = static_cast<std::size_t>(std::min<std::uint64_t>(n, limit - position_));
      std::memcpy(p, held_.data() + position_, done);
    }
    if (position_ + done < held) {  // the file ends inside the held bytes, or n is satisfied
      position_ += done;
      return done;
    }
  }
  if (done < n) done += readFromDisk(position_ + done, p + done, n - done);
  position_ += done;
  return done;
}

void ByteFile::Write(const void* buffer, std::size_t n) {
  requireOpen();
  if (n == 0) return;
  if ((flags_ & (O_RDWR | O_WRONLY)) == 0) throw EInOutError("File not open for output", 105);
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  const std::uint64_t held = held_.size();
  if (position_ < held) {
    done = static_cast<std::size_t>(std::min<std::uint64_t>(n, held - position_));
    std::memcpy(held_.data() + position_, p, done);
    const std::uint64_t end = position_ + done;
    if (dirtyEnd_ <= dirtyBegin_) {
      dirtyBegin_ = position_;
      dirtyEnd_ = end;
    } else {
      dirtyBegin_ = std::min(dirtyBegin_, position_);
      dirtyEnd_ = std::max(dirtyEnd_, end);
    }
    heldExtent_ = std::max(heldExtent_, end);
  }
  if (done < n) writeToDisk(position_ + done, p + done, n - done);
  position_ += n;
}

void ByteFile::Seek(std::uint64_t position) {
  requireOpen();
  position_ = position;
}

std::uint64_t ByteFile::Size() const {
  requireOpen();
#ifdef _WIN32
  struct _stat64 st {};
  if (::_fstat64(fd_, &st) != 0) throw EInOutError::FromErrno(errno);
#else
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EInOutError::FromErrno(errno);
#endif
  return std::max(static_cast<std::uint64_t>(st.st_size), heldExtent_);
}
