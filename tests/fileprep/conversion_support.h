// Helpers for the conversion tests: whole files, a conversion run the way the
// sequencer's steps run it, an independent reader of upload files, and running a piece of a
// test as an ordinary user (permissions do not bite root).
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fileprep/binary_image.h"
#include "fileprep/hex_image.h"
#include "fileprep/upload_file_writer.h"
#include "support/scratch_folder.h"
#include "support/upload_records.h"

namespace kvtest {

// A conversion as the intake's steps run it, with what they keep of it.
struct ConvertRun {
  bool MainUploadMode = true;
  int ImagePages = kSoftwareImagePages;
  bool CaptureEnabled = false;
  std::string InputFileName;
  std::string BinFileName;
  std::string UploadFileName;
  HexReadReport report;
  int BlockCount = 0;
  std::string LastReply;
};

inline void makeUploadFile(ConvertRun& S, const ImageBytes& image) {
  S.BlockCount = 0;
  const UploadFileContent content = MakeUploadFile(image, S.ImagePages);
  WriteWholeFile(S.UploadFileName, content.bytes);
  S.BlockCount = content.blockCount;
  S.LastReply = ChecksumText(content, S.MainUploadMode);
}

// An Intel HEX conversion (steps 104 to 124 of a Software Upload, whose image is the limit of
// its addresses, or 573 to 576 of a Factory upload, whose lines are `embedded` and are shown to
// `log` while capture is on).
inline void convert(ConvertRun& S, const std::string& dir, const std::string& base,
                    const std::vector<std::string>& embedded = {},
                    const std::function<void(const std::string&)>& log = {}) {
  S.BinFileName = dir + "/" + base + ".BIN";
  S.UploadFileName = dir + "/" + base + ".KVU";
  ImageBytes image = EmptyImage(S.ImagePages);
  S.report = S.MainUploadMode
                 ? ReadIntelHexFile(S.InputFileName, image,
                                    static_cast<std::uint32_t>(S.ImagePages) * kPageSize)
                 : ReadIntelHexLines(embedded, image, S.CaptureEnabled ? log : nullptr);
  WriteWholeFile(S.BinFileName, image);
  makeUploadFile(S, image);
}

// A chosen binary image converted beside it.
inline void convertBinary(ConvertRun& S, const std::string& bin, const std::string& kvu) {
  S.BinFileName = bin;
  S.UploadFileName = kvu;
  makeUploadFile(S, ReadBinaryImage(bin, S.ImagePages));
}

inline void convertHexText(ConvertRun& S, const ScratchFolder& dir, const std::string& hex) {
  S.MainUploadMode = true;
  S.ImagePages = kSoftwareImagePages;
  S.InputFileName = dir.File("in.hex");
  WriteText(S.InputFileName, hex);
  convert(S, dir.Path().string(), "in");
}

// An upload file read back without the writer's code: page number to page data, and the trailer.
struct UploadFileContents {
  std::map<int, Bytes> pages;
  std::string trailer;
};

inline UploadFileContents parseUploadFile(const Bytes& file) {
  UploadFileContents out;
  EXPECT_GE(file.size(), 8u);
  EXPECT_EQ((file.size() - 8) % 135, 0u) << "size " << file.size();
  if (file.size() < 8 || (file.size() - 8) % 135 != 0) return out;
  const std::size_t records = (file.size() - 8) / 135;
  int lastPage = -1;
  for (std::size_t r = 0; r < records; ++r) {
    const std::uint8_t* rec = file.data() + r * 135;
    const std::string addressText(rec, rec + 6);
    EXPECT_EQ(addressText.find_first_not_of("0123456789ABCDEF"), std::string::npos) << addressText;
    const unsigned long address = std::stoul(addressText, nullptr, 16);
    EXPECT_EQ(address % 128, 0u) << addressText;
    const int page = static_cast<int>(address / 128);
    EXPECT_GT(page, lastPage) << "records not in ascending page order";
    lastPage = page;
    unsigned sum = 0;
    for (int i = 0; i < 134; ++i) sum += rec[i];
    EXPECT_EQ(sum & 0xFF, rec[134]) << "checksum of record " << r;
    Bytes data(rec + 6, rec + 134);
    bool erased = true;
    for (auto b : data) erased = erased && b == 0xFF;
    EXPECT_FALSE(erased) << "record for an erased page " << addressText;
    out.pages[page] = std::move(data);
  }
  out.trailer.assign(file.end() - 8, file.end());
  return out;
}

using kvtest::ImageSums;
inline ImageSums sumImage(const Bytes& image, int pages) {
  return kvtest::SumImage(image, pages);
}

// Checks that an upload file holds exactly the non-erased pages of `image` and its sums.
inline void expectUploadFileOf(const Bytes& kvu, const Bytes& image, int pages) {
  const UploadFileContents got = parseUploadFile(kvu);
  std::size_t expectedRecords = 0;
  for (int p = 0; p < pages; ++p) {
    const auto begin = image.begin() + static_cast<std::ptrdiff_t>(p) * 128;
    const Bytes page(begin, begin + 128);
    bool erased = true;
    for (auto b : page) erased = erased && b == 0xFF;
    if (erased) continue;
    ++expectedRecords;
    auto it = got.pages.find(p);
    if (it == got.pages.end()) {
      ADD_FAILURE() << "no record for page " << p;
      continue;
    }
    EXPECT_EQ(it->second, page) << "data of page " << p;
  }
  EXPECT_EQ(got.pages.size(), expectedRecords);
  EXPECT_EQ(got.trailer, sumImage(image, pages).trailer);
}

#ifndef _WIN32
// Runs `body` in a child process, as the user nobody when we are root so that file
// permissions apply; returns "" on success, else the message of what `body` threw.
inline std::string runUnprivileged(const std::function<void()>& body,
                                   rlim_t fileSizeLimit = RLIM_INFINITY) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string message;
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      message = "cannot drop privileges";
    if (fileSizeLimit != RLIM_INFINITY) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (message.empty()) {
      try {
        body();
      } catch (const std::exception& e) {
        message = e.what();
        if (message.empty()) message = "(empty message)";
      }
    }
    if (!message.empty()) (void)!::write(pipeFds[1], message.data(), message.size());
    ::close(pipeFds[1]);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string message;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
    message.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "child ended abnormally";
  return message;
}
#else
// Windows spares no user from a read-only file: `body` runs in this process.
inline std::string runUnprivileged(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    return e.what()[0] != '\0' ? e.what() : "(empty message)";
  }
  return "";
}
#endif

}  // namespace kvtest
