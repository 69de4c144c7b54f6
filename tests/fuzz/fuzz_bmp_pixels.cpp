// Fuzzes the whole reading of a slot: file check, header, pixel rows (read twice,
// so the second 24-bit read subtracts) and the processing of the set. A file
// that is refused must leave the slot as it was, and the same file with the
// other bit depth (8 and 24 swapped) never joins the set.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "imageio/bmp.h"
#include "polarization/polarization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ps::fuzz::WriteInput("pixels.bmp", data, size);
  ps::AppState state;
  state.startNewSet();
  ps::CheckFileOutcome out = ps::CheckFile(state, ps::fuzz::InputFolder(), "pixels.bmp");
  if (!out.header.accepted) return 0;
  const bool taken = ps::AssignSlot(state, 1, out.header.file).pixels.read;
  if (taken && size > 29) {
    std::vector<uint8_t> twin(data, data + size);
    const size_t at = (twin[20] | twin[21]) == 0 ? 28 : 24;  // Windows or OS/2 layout
    twin[at] = twin[at] == 8 ? 24 : 8;
    twin[at + 1] = 0;
    ps::fuzz::WriteInput("twin.bmp", twin.data(), twin.size());
    const ps::CheckFileOutcome other = ps::CheckFile(state, ps::fuzz::InputFolder(), "twin.bmp");
    if (other.header.accepted) std::abort();
    if (ps::AssignSlot(state, 2, other.header.file).pixels.read) std::abort();
    if (state.SlotLoaded[1]) std::abort();
  }
  const ps::ImageBuffer before = state.ImageStore;
  const ps::SlotAssignmentOutcome again = ps::AssignSlot(state, 1, out.header.file);
  if (!again.pixels.read) {
    for (int y = 1; y <= state.SetHeight; ++y)
      if (std::memcmp(before.row(y, 1), state.ImageStore.row(y, 1), 3 * static_cast<size_t>(state.SetWidth)) != 0)
        std::abort();
  }
  state.SlotLoaded = {true, true, true, true};
  if (static_cast<long long>(state.SetWidth) * state.SetHeight <= 4096) ps::ЗаполнениеМассива(state, {}, 1);
  return 0;
}
