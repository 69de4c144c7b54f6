#include "support/test_support.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace ps::test {

namespace {
struct Cleanup {
  std::mutex m;
  std::vector<std::string> dirs;
  ~Cleanup() {
    std::error_code ec;
    for (const auto& d : dirs) std::filesystem::remove_all(d, ec);
  }
};
Cleanup& Dirs() {
  static Cleanup c;
  return c;
}
}  // namespace

std::string TempDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  const auto base = std::filesystem::temp_directory_path() /
                    ("polarsphere-test-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  std::lock_guard<std::mutex> lock(Dirs().m);
  Dirs().dirs.push_back(base.string());
  return base.string();
}

void FillSet24(AppState& s, int width, int height, const std::vector<std::vector<uint8_t>>& slots) {
  s.startNewSet();
  s.createImageSet(width, height);
  for (int k = 1; k <= 4; ++k)
    for (int y = 1; y <= height; ++y) {
      const uint8_t* src = &slots[k - 1][static_cast<size_t>(y - 1) * width * 3];
      std::copy(src, src + static_cast<size_t>(width) * 3, s.ImageStore.row(y, k));
    }
  s.SetStarted = 1;
  s.Header.FileSignature = "BM";
  s.Header.BitsPerPixel = 24;
  s.Header.ImageWidth = width;
  s.Header.ImageHeight = height;
  s.SlotLoaded = {true, true, true, true};
}

CliRun RunCli(const std::string& args, const std::string& errFile) {
  CliRun r;
#ifdef PS_CLI_PATH
  const std::string cmd = std::string(PS_CLI_PATH) + " " + args + " 2>" + errFile;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
  return r;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> SampleFiles() {
  const std::string d = PS_SAMPLE_DIR;
  return {d + "/0.bmp", d + "/45.bmp", d + "/90.bmp", d + "/135.bmp"};
}

}  // namespace ps::test
