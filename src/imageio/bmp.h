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

// A file that passed the check, held apart from the shared state until the
// user takes it into a slot (the selection window's open button, or a set
// loaded in one step). Checking never changes the state.
struct CheckedFile {
  std::string path;
  FileHeaderValues header;  // the header values, FilePath and FileSignature included
  Palette palette{};        // the palette of an 8-bit file
  bool hasPalette = false;
};

struct HeaderOutcome {
  // The file can be taken into the set: a sound 8- or 24-bit uncompressed
  // bitmap of the set's dimensions and depth (any, while no set is open).
  bool accepted = false;
  std::vector<std::string> infoLines;  // the information text, one entry a line
  std::string summary;                 // the one-line caption: "640 x 480    16 млн. цветов"
  std::vector<Message> messages;       // message boxes to show, in order
  bool showUnsupportedDepth = false;
  std::string unsupportedDepthText;    // "16-ти цветное изображение\r\nне поддерживается."
  std::vector<OpenButtonAction> openButton;
  bool dimensionsMatchSet = true;      // false: the other-format message was given
  bool depthMatchesSet = true;         // false: the other-depth message was given
  bool startsSet = false;              // no set is open: taking this file fixes its size and depth
  bool hasPalette = false;             // an 8-bit palette was read (in `file`)
  int paletteEntrySize = 0;            // derived entry size (bytes)
  bool refusedAsBroken = false;        // missing, truncated or inconsistent file: "Ошибка" message
  CheckedFile file;                    // what the header says; to be taken only when accepted

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

// Why `path` cannot be opened as an input file, checked before it is opened:
// an empty path, a missing file, a folder, something other than a regular
// file (a pipe would block the reader forever) or no permission. Empty when
// it is a readable regular file.
std::vector<Message> InputFileProblem(const std::string& path);

// Reads and checks the header of the file at `path` against the open set of
// `state` (dimensions and bit depth). Returns the information text, messages
// and the header values in `file`; changes nothing in the state.
HeaderOutcome ReadBitmapHeader(const AppState& state, const std::string& path);

struct CheckFileOutcome {
  bool headerRead = false;  // the file started with "BM" and its header was read
  HeaderOutcome header;
  std::vector<Message> messages;  // the not-an-image message, or a cannot-open message
  std::string path;               // folder + "/" + name
  std::string signature;          // the file's first two bytes
};

// The file check of the selection window: warns about a ".bmp"/".BMP" file that
// is not a bitmap and reads the header of any file that starts with "BM".
// Changes nothing in the state: the result is taken by AssignSlot.
CheckFileOutcome CheckFile(const AppState& state, const std::string& folder, const std::string& name);

// Makes `file` the most recently opened file: its header values and, for an
// 8-bit file, its palette; creates the image set with its dimensions when no
// set is open. Used where pixels are read outside AssignSlot.
void UseCheckedFile(AppState& state, const CheckedFile& file);

struct PixelReadOutcome {
  bool read = false;               // pixels were copied into the slot
  std::vector<Message> messages;   // a failure while reading
};

// Copies the pixel rows of the file at `path` (described by the header values
// of `state`) into `slot` (1..4), subtracting from the slot's content when
// SubtractNext of the slot is set (24 bits), and counts the coloured pixels.
// Does nothing when the file's dimensions differ from the set. The slot and
// its count change only when the whole file was read. Progress is reported
// after every row as (rows done, ImageHeight).
PixelReadOutcome ReadBitmapPixels(AppState& state, const std::string& path, int slot,
                                  const Progress& progress = {});

// Takes a checked file into `slot`: the file becomes the most recently opened
// one, starts the set when none is open (SetStarted, size, depth, zoom), its
// pixels are read, the slot is marked loaded and, after a 24-bit file, the
// subtraction toggled. When the file does not fit the set or its pixels cannot
// be read, nothing in the state changes and the messages say why.
struct SlotAssignmentOutcome {
  PixelReadOutcome pixels;
  bool disableGrid = false;     // ZoomFactor ended below 3
  bool processNow = false;      // all four slots are loaded: process the set
};
SlotAssignmentOutcome AssignSlot(AppState& state, int slot, const CheckedFile& file, const Progress& progress = {});

// Loads four files into slots 1..4 through the same checks as the windows (file
// check, header, pixels, slot assignment) as a new set that replaces the set of
// `state` only when all four were read; otherwise `state` is left as it was.
// Every refusal names the file it concerns. `ok` is false when any file was
// refused or could not be read.
struct SetLoadOutcome {
  bool ok = true;
  std::vector<Message> messages;
};
SetLoadOutcome LoadSet(AppState& state, const std::vector<std::string>& paths, const Progress& progress = {});

}  // namespace ps
