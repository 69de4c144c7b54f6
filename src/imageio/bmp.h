// Reading and validating BMP files (8 bits with a palette or 24 bits,
// uncompressed, Windows or OS/2 header) into the slots of the image set. Every
// outcome, message and text line is returned as data; the windows display it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

namespace ps {

// What the selection window's open button must do while a header is read; the
// window applies the actions in order.
enum class OpenButtonAction {
  StartAnimation,     // file matches the open set: animation interval 30 ms
  Disable,            // other dimensions or refused: disable, strip to 0, animation stopped
  EnableIfDisabled,   // accepted: a disabled button is enabled, strip to 0, animation started
};

struct HeaderOutcome {
  bool accepted = false;
  std::vector<std::string> infoLines;  // the information text, one entry a line
  std::string summary;                 // the one-line caption: "640 x 480    16 млн. цветов"
  std::vector<Message> messages;       // message boxes to show, in order
  bool showUnsupportedDepth = false;
  std::string unsupportedDepthText;    // "16-ти цветное изображение\r\nне поддерживается."
  std::vector<OpenButtonAction> openButton;
  bool dimensionsMatchSet = true;      // false: the other-format message was shown
  bool createdSet = false;             // this file started the image set
  bool hasPalette = false;             // an 8-bit palette was read into PaletteTable
  int paletteEntrySize = 0;            // derived entry size (bytes)
  bool refusedAsBroken = false;        // truncated or inconsistent file: "Ошибка" message

  std::string infoText() const;        // lines joined by CR LF
};

// Reads the 16-bit little-endian word at 1-based byte position p of `bytes`
// (0 for bytes past the end).
uint16_t CalcWord(const std::vector<uint8_t>& bytes, long long p);

// The message shown when the picture decoder of the preview cannot load a file
// that passed the header checks ("Нестандартная версия формата BMP").
Message NonStandardFormatMessage();
// "Ошибка №<number> <description>", title "Ошибка", critical icon.
Message ErrorMessage(int number, const std::string& description);

// Reads and checks the header of the file at `path`, fills the header values and
// (for 8-bit files) the palette of `state`, and creates the image set when it is
// the first image. A file that is truncated or inconsistent is refused with the
// "Ошибка" message and leaves the state as it was.
HeaderOutcome ReadBitmapHeader(AppState& state, const std::string& path);

struct CheckFileOutcome {
  bool headerRead = false;  // the file started with "BM" and its header was read
  HeaderOutcome header;
  std::vector<Message> messages;  // the not-an-image message, or a cannot-open message
};

// The file check of the selection window: records FilePath and FileSignature,
// warns about a ".bmp"/".BMP" file that is not a bitmap, and reads the header of
// any file that starts with "BM".
CheckFileOutcome CheckFile(AppState& state, const std::string& folder, const std::string& name);

struct PixelReadOutcome {
  bool read = false;               // pixels were copied into the slot
  std::vector<Message> messages;   // a failure while reading
};

// Copies the pixel rows of the file at `path` into `slot` (1..4), subtracting
// from the slot's content when SubtractNext of the slot is set (24 bits), and
// counts the coloured pixels. Does nothing when the file's dimensions differ from
// the set. The slot is changed only when the whole file was read. Progress is
// reported after every row as (rows done, ImageHeight).
PixelReadOutcome ReadBitmapPixels(AppState& state, const std::string& path, int slot,
                                  const Progress& progress = {});

// Slot assignment after the selection window closed with `slot` current: starts
// the set when it is the first slot, reads the pixels of the last accepted file,
// marks the slot loaded and toggles subtraction after a 24-bit load.
struct SlotAssignmentOutcome {
  PixelReadOutcome pixels;
  bool disableGrid = false;     // ZoomFactor ended below 3
  bool processNow = false;      // all four slots are loaded: process the set
};
SlotAssignmentOutcome AssignSlot(AppState& state, int slot, const Progress& progress = {});

// Loads four files into slots 1..4 through the same checks as the windows (file
// check, header, pixels, slot assignment). Returns the messages shown on the way;
// `ok` is false when any file was refused or could not be read.
struct SetLoadOutcome {
  bool ok = true;
  std::vector<Message> messages;
};
SetLoadOutcome LoadSet(AppState& state, const std::vector<std::string>& paths, const Progress& progress = {});

}  // namespace ps
