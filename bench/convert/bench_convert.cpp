// Conversion of a full 4 MB image given as Intel HEX into an upload file, timed beside
// `objcopy -I ihex -O binary` on the same file. Each run is a separate process, so that its
// time includes starting up and its peak memory (ru_maxrss) is its own.
//
//   bench_convert [runs]              (default 5 runs of each)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fileprep/conversion_road.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kImageBytes = std::size_t{kSoftwareImagePages} * kPageSize;

// Intel HEX of `image` in 16-byte records with an extended linear address record every 64 KB,
// as compilers' tool chains write it.
std::string toIntelHex(const std::vector<std::uint8_t>& image) {
  std::string out;
  out.reserve(image.size() / 16 * 45 + 64);
  char line[64];
  for (std::size_t a = 0; a < image.size(); a += 16) {
    if (a % 0x10000 == 0) {
      const unsigned base = static_cast<unsigned>(a >> 16);
      const unsigned sum = (0x100 - ((2 + 4 + (base >> 8) + (base & 0xFF)) & 0xFF)) & 0xFF;
      std::snprintf(line, sizeof line, ":02000004%04X%02X\n", base, sum);
      out += line;
    }
    unsigned sum = 16 + ((a >> 8) & 0xFF) + (a & 0xFF);
    std::snprintf(line, sizeof line, ":10%04X00", static_cast<unsigned>(a & 0xFFFF));
    out += line;
    for (std::size_t i = 0; i < 16; ++i) {
      std::snprintf(line, sizeof line, "%02X", image[a + i]);
      out += line;
      sum += image[a + i];
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out += line;
  }
  out += ":00000001FF\n";
  return out;
}

struct RunResult {
  double wallMs = 0;
  long maxRssKb = 0;
  bool ok = false;
  std::string output;  // what the child printed
};

// Runs argv as a child process; wall time from fork to exit, and the child's peak memory.
RunResult runChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return {};
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::execvp(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
  }
  ::close(out[1]);
  RunResult r;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
    r.output.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

// The child: one whole conversion, as the intake's steps run it.
int convertOnce(const std::string& hex, const std::string& dir) {
  try {
    const auto start = Clock::now();
    const HexImage read = HexFileToImage(hex, kSoftwareImagePages);
    // Every line is checked; a sound file must come through without a complaint.
    if (read.report.badLines != 0) throw std::runtime_error(read.report.firstBadLineProblem);
    WriteDerivedFile(dir + "/bench.BIN", read.image);
    const UploadFileContent content = MakeUploadFile(read.image, kSoftwareImagePages);
    WriteDerivedFile(dir + "/bench.KVU", content.bytes);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("%.2f %d %s\n", ms, content.blockCount, ChecksumText(content, true).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "conversion failed: %s\n", e.what());
    return 1;
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::vector<std::uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--convert") == 0) return convertOnce(argv[2], argv[3]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  std::string pattern = (fs::temp_directory_path() / "kv-bench-convert-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  const std::string hex = dir + "/bench.hex";
  std::vector<std::uint8_t> image(kImageBytes);
  std::mt19937 rng(2026);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  {
    const std::string text = toIntelHex(image);
    std::ofstream(hex, std::ios::binary) << text;
    std::printf("input: 4 MB random image as Intel HEX, %zu bytes, %zu lines\n", text.size(),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const bool haveObjcopy = std::system("command -v objcopy >/dev/null 2>&1") == 0;

  std::vector<double> ours, oursInside, theirs;
  long oursRss = 0, theirsRss = 0;
  for (int i = 0; i < runs; ++i) {
    const RunResult a = runChild({self, "--convert", hex, dir});
    if (!a.ok) {
      std::fprintf(stderr, "our conversion failed\n");
      return 1;
    }
    ours.push_back(a.wallMs);
    oursInside.push_back(std::atof(a.output.c_str()));
    oursRss = std::max(oursRss, a.maxRssKb);
    if (haveObjcopy) {
      const RunResult b =
          runChild({"objcopy", "-I", "ihex", "-O", "binary", hex, dir + "/objcopy.bin"});
      if (!b.ok) {
        std::fprintf(stderr, "objcopy failed\n");
        return 1;
      }
      theirs.push_back(b.wallMs);
      theirsRss = std::max(theirsRss, b.maxRssKb);
    }
  }

  const bool imageAgrees = readAll(dir + "/bench.BIN") == image;
  std::printf("runs: %d of each (median wall time of the whole process)\n", runs);
  std::printf("ours    HEX -> .BIN -> .KVU : %8.1f ms   peak memory %6.1f MB   image %s\n",
              median(ours), static_cast<double>(oursRss) / 1024.0,
              imageAgrees ? "matches the input" : "DIFFERS");
  std::printf(
      "        of which the conversion : %8.1f ms (HexFileToImage, WriteDerivedFile, "
      "MakeUploadFile, "
      "both "
      "files\n"
      "                                            forced to disk)\n",
      median(oursInside));
  if (haveObjcopy) {
    const bool objcopyAgrees = readAll(dir + "/objcopy.bin") == image;
    std::printf("objcopy -I ihex -O binary   : %8.1f ms   peak memory %6.1f MB   image %s\n",
                median(theirs), static_cast<double>(theirsRss) / 1024.0,
                objcopyAgrees ? "matches the input" : "DIFFERS");
    std::printf("ratio ours / objcopy        : %8.2f\n", median(ours) / median(theirs));
  } else {
    std::printf("objcopy not installed: no comparison\n");
  }
  std::printf("upload file: %ju bytes\n",
              static_cast<std::uintmax_t>(fs::file_size(dir + "/bench.KVU")));
  fs::remove_all(dir);
  return imageAgrees ? 0 : 1;
}
