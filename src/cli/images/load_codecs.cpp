// Loads the image codecs module from the folder of the running program.
#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "cli/images/image_codecs.h"

namespace ps::cli {

const ImageCodecs* LoadImageCodecs(std::string* error) {
  static std::once_flag once;
  static const ImageCodecs* codecs = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string path = (ec ? std::filesystem::path(".") : self.parent_path()) / "libpolarsphere-cli-images.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      failure = std::string("cannot load the image codecs: ") + dlerror();
      return;
    }
    using Entry = const ImageCodecs* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(module, "polarsphere_image_codecs"));
    if (!entry) {
      failure = "cannot load the image codecs: " + path + " has no entry point";
      return;
    }
    codecs = entry();
  });
  if (!codecs) *error = failure;
  return codecs;
}

}  // namespace ps::cli
