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
    const std::string d = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/polarsphere-fuzz-" +
                          std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    return d;
  }();
  return dir;
}

// Writes `data` to `name` in the input folder and returns the full path.
inline std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = InputFolder() + "/" + name;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

}  // namespace ps::fuzz
