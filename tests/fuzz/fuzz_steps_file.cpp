// Fuzzes the steps-file reader: any bytes, in either encoding, give settings or
// a message naming the file; a refused file leaves the settings untouched.
#include <cstdlib>

#include "fuzz_common.h"
#include "learning/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ps::fuzz::WriteInput("steps.txt", data, size);
  for (const char* sep : {",", "."}) {
    ps::TrainingSettings settings;
    settings.Temperature = 123;
    const ps::TrainingSettings before = settings;
    const ps::ReadOutcome r = ps::ReadStepsFile(path, settings, sep);
    if (!r.ok && !(settings == before)) std::abort();
    if (!r.ok && r.message.text.empty()) std::abort();
  }
  return 0;
}
