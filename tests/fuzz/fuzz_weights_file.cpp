// Fuzzes the weights-file reader, and the round trip of what it accepted: a
// weights file written from the read parameters reads back to the same values.
#include <cmath>
#include <cstdlib>

#include "fuzz_common.h"
#include "learning/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ps::fuzz::WriteInput("weights.txt", data, size);
  ps::NetworkParameters p;
  const ps::NetworkParameters before = p;
  const ps::ReadOutcome r = ps::ReadWeightsFile(path, p, ",");
  if (!r.ok) {
    if (!(p == before) || r.message.text.empty()) std::abort();
    return 0;
  }
  // Whatever was read must survive being written and read again (values are
  // written with fixed decimals, so compare what the writer produces twice).
  const std::string once = ps::FormatWeightsFile(p, {}, ",");
  ps::NetworkParameters q;
  if (!ps::ParseWeightsText(once, q, ",").ok) std::abort();
  if (ps::FormatWeightsFile(q, {}, ",") != once) std::abort();
  return 0;
}
