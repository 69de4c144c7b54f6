// Shared by the fuzz targets: the readers take file paths, so every input is
// written to one file in memory-backed storage first.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace ps::fuzz {

inline std::string InputFolder() {
  static const std::string dir = [] {
    const char* shm = "/dev/shm";
    std::string base = access(shm, W_OK) == 0 ? shm : "/tmp";
    return base + "/polarsphere-fuzz-" + std::to_string(getpid());
  }();
  return dir;
}

// Writes `data` to `name` in the input folder and returns the full path.
inline std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  static bool made = false;
  if (!made) {
    std::string cmd = InputFolder();
    mkdir(cmd.c_str(), 0700);
    made = true;
  }
  const std::string path = InputFolder() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

}  // namespace ps::fuzz
