#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "imageio/bmp.h"
#include "imageio/bmp_writer.h"
#include "support/test_support.h"

namespace ps {
namespace {

// Builds BMP files byte by byte, so that headers can be bent in every way.
struct BmpSpec {
  bool os2 = false;
  int width = 4;
  int height = 3;
  int bits = 24;
  int compression = 0;
  int coloursUsed = 0;
  int paletteEntries = 256;  // written entries for bits < 24
  int padding = -1;          // -1: to a 4-byte boundary
  int truncateBy = 0;        // bytes cut from the end
  bool topDown = false;      // negative height, top row stored first
  // Pixel (x, y) 0-based from the top: R, G, B (24 bits) or index (8 bits).
  std::function<std::array<uint8_t, 3>(int, int)> pixel = [](int x, int y) {
    return std::array<uint8_t, 3>{uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x + y + 3)};
  };
};

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = (v >> (8 * i)) & 0xff;
}

std::vector<uint8_t> BuildBmp(const BmpSpec& s) {
  const int header = s.os2 ? 12 : 40;
  const int entry = s.os2 ? 3 : 4;
  const int paletteBytes = s.bits < 24 ? s.paletteEntries * entry : 0;
  const int rowData = (s.width * s.bits + 7) / 8;
  const int pad = s.padding >= 0 ? s.padding : (4 - rowData % 4) % 4;
  const int row = rowData + pad;
  const int offset = 14 + header + paletteBytes;
  std::vector<uint8_t> b(offset + row * s.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put(b, 2, b.size(), 4);
  Put(b, 10, offset, 4);
  Put(b, 14, header, 4);
  if (s.os2) {
    Put(b, 18, s.width, 2);
    Put(b, 20, s.height, 2);
    Put(b, 22, 1, 2);
    Put(b, 24, s.bits, 2);
  } else {
    Put(b, 18, s.width, 4);
    Put(b, 22, s.topDown ? -s.height : s.height, 4);
    Put(b, 26, 1, 2);
    Put(b, 28, s.bits, 2);
    Put(b, 30, s.compression, 4);
    Put(b, 38, 3780, 4);
    Put(b, 42, 3781, 4);
    Put(b, 46, s.coloursUsed, 4);
    Put(b, 50, 7, 4);
  }
  for (int i = 0; i < (s.bits < 24 ? s.paletteEntries : 0); ++i) {
    b[14 + header + i * entry] = uint8_t(3 * i);          // blue
    b[14 + header + i * entry + 1] = uint8_t(2 * i);      // green
    b[14 + header + i * entry + 2] = uint8_t(255 - i);    // red
  }
  for (int r = 0; r < s.height; ++r) {
    const int y = s.topDown ? r : s.height - 1 - r;
    for (int x = 0; x < s.width; ++x) {
      const auto p = s.pixel(x, y);
      uint8_t* d = &b[offset + r * row];
      if (s.bits == 24) {
        d[3 * x] = p[2];
        d[3 * x + 1] = p[1];
        d[3 * x + 2] = p[0];
      } else if (s.bits == 8) {
        d[x] = p[0];
      }
    }
  }
  b.resize(b.size() - s.truncateBy);
  return b;
}

std::string Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

class BmpReader : public ::testing::Test {
 protected:
  std::string dir = test::TempDir("bmp");
  AppState s;
  CheckFileOutcome last;
  void SetUp() override { s.startNewSet(); }
  CheckFileOutcome Check(const std::string& name, const std::vector<uint8_t>& bytes) {
    Write(dir, name, bytes);
    return last = CheckFile(s, dir, name);
  }
  // Takes the last checked file into `slot`, as the open button does.
  SlotAssignmentOutcome Take(int slot, const Progress& p = {}) { return AssignSlot(s, slot, last.header.file, p); }
};

TEST_F(BmpReader, WindowsHeaderGivesTheInformationTextAndSummary) {
  BmpSpec spec;
  spec.width = 5;  // 15 bytes a row + 1 padding byte
  const auto c = Check("a.bmp", BuildBmp(spec));
  ASSERT_TRUE(c.headerRead);
  const HeaderOutcome& h = c.header;
  EXPECT_TRUE(h.accepted);
  EXPECT_TRUE(h.startsSet);
  EXPECT_TRUE(c.messages.empty() && h.messages.empty());
  EXPECT_EQ(h.file.header.RowPadding, 1);
  EXPECT_EQ(h.file.header.RowLength, 16);
  EXPECT_EQ(s.SetWidth, 0);  // nothing is taken before the open button
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(s.SetWidth, 5);
  EXPECT_EQ(s.SetHeight, 3);
  EXPECT_EQ(s.Header.FilePath, dir + "/a.bmp");
  EXPECT_EQ(s.Header.FileSignature, "BM");
  const std::vector<std::string> expected = {
      "BMP формат - растр Windows",
      "Размер файла 102 байт",
      "Ширина 5",
      "Высота 3",
      "24 бит на каждый пиксель ",
      "Сжатия нет",
      "Горизонтальное разрешение устройства 3780 пиксель/метр",
      "Вертикальное разрешение устройства 3781 пиксель/метр",
      "Используется все цвета палитры",
      "Число важных цветов 7",
  };
  EXPECT_EQ(h.infoLines, expected);
  EXPECT_EQ(h.summary, "5 x 3    16 млн. цветов");
  EXPECT_EQ(h.infoText().find("Ширина 5\r\nВысота 3"), h.infoText().find("Ширина 5"));
}

TEST_F(BmpReader, Os2HeaderSkipsTheInfoFieldsAndReadsThreeBytePalette) {
  BmpSpec spec;
  spec.os2 = true;
  spec.bits = 8;
  spec.width = 4;
  spec.height = 480;
  spec.pixel = [](int x, int y) { return std::array<uint8_t, 3>{uint8_t(x + y), 0, 0}; };
  const auto c = Check("os2.bmp", BuildBmp(spec));
  ASSERT_TRUE(c.header.accepted);
  EXPECT_EQ(c.header.infoLines.front(), "BMP формат - растр OS/2");
  EXPECT_EQ(c.header.infoLines.size(), 5u);  // no compression, resolution or colour lines
  EXPECT_EQ(c.header.paletteEntrySize, 3);
  EXPECT_EQ(c.header.summary, "4 x 480    256 цветов");
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(s.PaletteTable[10][0], 245.0f);  // red
  EXPECT_EQ(s.PaletteTable[10][1], 20.0f);   // green
  EXPECT_EQ(s.PaletteTable[10][2], 30.0f);   // blue
}

TEST_F(BmpReader, PaletteEntrySizeFollowsTheLayoutAndShortPalettesKeepTheirColours) {
  BmpSpec spec;
  spec.bits = 8;
  auto c = Check("full.bmp", BuildBmp(spec));
  EXPECT_EQ(c.header.paletteEntrySize, 4);
  EXPECT_EQ(c.header.file.palette[255][0], 0.0f);
  EXPECT_EQ(c.header.file.palette[255][2], float(uint8_t(3 * 255)));

  // A palette of 16 entries, as many editors write for few colours: the true
  // colours are shown, the rest of the table is black.
  s.startNewSet();
  spec.paletteEntries = 16;
  spec.coloursUsed = 16;
  c = Check("short.bmp", BuildBmp(spec));
  ASSERT_TRUE(c.header.accepted);
  const Palette& pal = c.header.file.palette;
  EXPECT_EQ(pal[15][0], 240.0f);
  EXPECT_EQ(pal[15][1], 30.0f);
  EXPECT_EQ(pal[15][2], 45.0f);
  EXPECT_EQ(pal[16][0], 0.0f);
  EXPECT_EQ(pal[200][1], 0.0f);
  EXPECT_NE(std::find(c.header.infoLines.begin(), c.header.infoLines.end(),
                      "Используется 16 цветов из 256 цветной палитры"),
            c.header.infoLines.end());
}

TEST_F(BmpReader, RefusalsComeWithTheirMessages) {
  // A text file named .bmp.
  auto c = Check("notes.bmp", {'h', 'e', 'l', 'l', 'o'});
  ASSERT_EQ(c.messages.size(), 1u);
  EXPECT_EQ(c.messages[0].text, "Файл notes.bmp не является изображением,\r\nа содержит что-то другое");
  EXPECT_EQ(c.messages[0].title, "Неизвестный формат файла");
  EXPECT_EQ(c.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_FALSE(c.headerRead);
  // Mixed case extension and another extension: no message.
  EXPECT_TRUE(Check("notes.Bmp", {'h', 'i'}).messages.empty());
  EXPECT_TRUE(Check("picture.dat", BuildBmp({})).header.accepted);

  // Compression.
  s.startNewSet();
  BmpSpec spec;
  spec.compression = 1;
  c = Check("rle.bmp", BuildBmp(spec));
  EXPECT_FALSE(c.header.accepted);
  ASSERT_EQ(c.header.messages.size(), 1u);
  EXPECT_EQ(c.header.messages[0].text, "Изображение с типом сжатия 1\r\n            не поддерживается");
  EXPECT_EQ(c.header.messages[0].title, "Не поддерживаемый формат");
  EXPECT_EQ(c.header.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(c.header.openButton.back(), OpenButtonAction::Disable);

  // A refused file cannot be taken, however large it claims to be.
  BmpSpec bigRle;
  bigRle.compression = 1;
  auto bytes = BuildBmp(bigRle);
  Put(bytes, 18, 9000, 4);
  Put(bytes, 22, 9000, 4);
  c = Check("bigrle.bmp", bytes);
  EXPECT_FALSE(c.header.accepted);
  EXPECT_FALSE(Take(1).pixels.read);
  EXPECT_EQ(s.SetStarted, 0);
  EXPECT_TRUE(s.ImageStore.empty());

  // Four bits per pixel.
  s.startNewSet();
  spec = {};
  spec.bits = 4;
  spec.paletteEntries = 16;
  c = Check("four.bmp", BuildBmp(spec));
  EXPECT_FALSE(c.header.accepted);
  EXPECT_TRUE(c.header.showUnsupportedDepth);
  EXPECT_EQ(c.header.unsupportedDepthText, "16-ти цветное изображение\r\nне поддерживается.");
  EXPECT_EQ(c.header.summary, "4 x 3    16 цветов");
}

TEST_F(BmpReader, SecondImageOfOtherSizeLeavesTheSetUnchanged) {
  Check("a.bmp", BuildBmp({}));
  Take(1);
  const uint8_t before = s.ImageStore.at(2, 2, 0, 1);
  BmpSpec other;
  other.width = 6;
  other.height = 2;
  const auto c = Check("b.bmp", BuildBmp(other));
  ASSERT_EQ(c.header.messages.size(), 1u);
  EXPECT_EQ(c.header.messages[0].text, "Это изображение другого формата:  6 x 2\r\nА нужно  4 x 3");
  EXPECT_EQ(c.header.messages[0].title, "");
  EXPECT_FALSE(c.header.dimensionsMatchSet);
  EXPECT_EQ(c.header.openButton.front(), OpenButtonAction::Disable);
  EXPECT_FALSE(c.header.accepted);
  const auto a = Take(2);
  EXPECT_FALSE(a.pixels.read);
  EXPECT_FALSE(s.SlotLoaded[1]);
  EXPECT_EQ(s.SetWidth, 4);
  EXPECT_EQ(s.ImageStore.width(), 4);
  EXPECT_EQ(s.ImageStore.at(2, 2, 0, 1), before);
}

TEST_F(BmpReader, PixelsAreReadBottomUpAndSubtractedOnTheSecondLoad) {
  BmpSpec first;
  first.pixel = [](int x, int y) {
    if (x == 0 && y == 2) return std::array<uint8_t, 3>{255, 0, 0};  // bottom-left red
    return std::array<uint8_t, 3>{100, 50, 20};
  };
  Check("first.bmp", BuildBmp(first));
  std::vector<std::pair<long long, long long>> reports;
  Progress p;
  p.report = [&](long long d, long long t) { reports.emplace_back(d, t); };
  auto a = Take(3, p);
  ASSERT_TRUE(a.pixels.read);
  EXPECT_EQ(s.SetStarted, 3);
  EXPECT_EQ(s.ImageStore.at(1, 3, 0, 3), 255);
  EXPECT_EQ(s.ImageStore.at(1, 3, 1, 3), 0);
  EXPECT_EQ(s.ImageStore.at(2, 1, 2, 3), 20);
  EXPECT_EQ(s.ColouredPixelCount[2], 12);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports.back(), std::make_pair(3LL, 3LL));
  EXPECT_TRUE(s.SubtractNext[2]);
  EXPECT_TRUE(s.SlotLoaded[2]);

  BmpSpec second;
  second.pixel = [](int, int) { return std::array<uint8_t, 3>{30, 60, 20}; };
  Check("second.bmp", BuildBmp(second));
  a = Take(3);
  ASSERT_TRUE(a.pixels.read);
  EXPECT_EQ(s.ImageStore.at(2, 1, 0, 3), 70);  // 100 - 30
  EXPECT_EQ(s.ImageStore.at(2, 1, 1, 3), 0);   // 50 - 60 < 1
  EXPECT_EQ(s.ImageStore.at(2, 1, 2, 3), 0);   // 20 - 20 < 1
  EXPECT_EQ(s.ImageStore.at(1, 3, 0, 3), 225);
  EXPECT_FALSE(s.SubtractNext[2]);

  Check("second.bmp", BuildBmp(second));
  Take(3);  // third load replaces again
  EXPECT_EQ(s.ImageStore.at(2, 1, 0, 3), 30);
  EXPECT_EQ(s.ColouredPixelCount[2], 12);
}

TEST_F(BmpReader, EightBitPixelsKeepTheIndexAndCountPaletteColours) {
  BmpSpec spec;
  spec.bits = 8;
  spec.pixel = [](int x, int y) { return std::array<uint8_t, 3>{uint8_t(x + 4 * y), 0, 0}; };
  Check("p.bmp", BuildBmp(spec));
  Take(1);
  EXPECT_EQ(s.ImageStore.at(3, 2, 0, 1), 6);
  EXPECT_EQ(s.ImageStore.at(3, 2, 1, 1), 0);
  EXPECT_EQ(s.ImageStore.at(3, 2, 2, 1), 0);
  EXPECT_FALSE(s.SubtractNext[0]);  // toggled only after 24-bit loads
  EXPECT_EQ(s.ColouredPixelCount[0], 12);
}

TEST_F(BmpReader, BrokenFilesAreRefusedAndKeepThePreviousContent) {
  Check("good.bmp", BuildBmp({}));
  Take(1);
  const AppState before = s;

  std::vector<std::vector<uint8_t>> broken;
  BmpSpec t;
  t.truncateBy = 5;  // pixel data cut short
  broken.push_back(BuildBmp(t));
  broken.push_back({'B', 'M', 1, 2, 3});  // header cut short
  BmpSpec huge;
  broken.push_back(BuildBmp(huge));
  Put(broken.back(), 18, 100000, 4);
  Put(broken.back(), 22, 100000, 4);
  broken.push_back(BuildBmp({}));
  Put(broken.back(), 18, 0xFFFFFFFF, 4);  // width -1
  broken.push_back(BuildBmp({}));
  Put(broken.back(), 2, 0x7FFFFFFF, 4);  // file size: padding far beyond 255
  BmpSpec pal;
  pal.bits = 8;
  broken.push_back(BuildBmp(pal));
  Put(broken.back(), 10, 0x7FFFFF00, 4);  // palette entry size absurd
  for (size_t i = 0; i < broken.size(); ++i) {
    SCOPED_TRACE(i);
    const auto c = Check("broken.bmp", broken[i]);
    ASSERT_TRUE(c.headerRead);
    EXPECT_FALSE(c.header.accepted);
    EXPECT_TRUE(c.header.refusedAsBroken);
    ASSERT_EQ(c.header.messages.size(), 1u);
    EXPECT_EQ(c.header.messages[0].title, "Ошибка");
    EXPECT_EQ(c.header.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(c.header.messages[0].text.rfind("Ошибка №", 0), 0u);
    EXPECT_EQ(s.ImageStore.width(), 4);
    EXPECT_EQ(s.ImageStore.at(2, 2, 1, 1), before.ImageStore.at(2, 2, 1, 1));
  }
  // The header of an accepted file can still be spoiled before its pixels are read.
  Check("later.bmp", BuildBmp({}));
  std::vector<uint8_t> shortFile = BuildBmp({});
  shortFile.resize(60);
  Write(dir, "later.bmp", shortFile);
  const auto a = Take(1);
  EXPECT_FALSE(a.pixels.read);
  ASSERT_EQ(a.pixels.messages.size(), 1u);
  EXPECT_EQ(s.ImageStore.at(2, 2, 1, 1), before.ImageStore.at(2, 2, 1, 1));
  EXPECT_EQ(s.SubtractNext, before.SubtractNext);  // toggled only by a file actually read
  EXPECT_EQ(s.Header.FilePath, before.Header.FilePath);

  const auto missing = CheckFile(s, dir, "nothing-here.bmp");
  ASSERT_EQ(missing.messages.size(), 1u);
  EXPECT_NE(missing.messages[0].text.find("nothing-here.bmp"), std::string::npos);
}

// Everything of the set that a check or a refused file could spoil.
void ExpectSameSet(const AppState& a, const AppState& b) {
  EXPECT_EQ(a.SetStarted, b.SetStarted);
  EXPECT_EQ(a.SetWidth, b.SetWidth);
  EXPECT_EQ(a.SetHeight, b.SetHeight);
  EXPECT_EQ(a.SetBitsPerPixel, b.SetBitsPerPixel);
  EXPECT_EQ(a.SlotLoaded, b.SlotLoaded);
  EXPECT_EQ(a.SubtractNext, b.SubtractNext);
  EXPECT_EQ(a.ColouredPixelCount, b.ColouredPixelCount);
  EXPECT_EQ(a.ZoomFactor, b.ZoomFactor);
  EXPECT_EQ(a.Header.FilePath, b.Header.FilePath);
  EXPECT_EQ(a.Header.FileSignature, b.Header.FileSignature);
  EXPECT_EQ(a.Header.BitsPerPixel, b.Header.BitsPerPixel);
  EXPECT_EQ(a.Header.ImageWidth, b.Header.ImageWidth);
  EXPECT_EQ(a.Header.RowPadding, b.Header.RowPadding);
  EXPECT_TRUE(a.PaletteTable == b.PaletteTable);
  ASSERT_EQ(a.ImageStore.width(), b.ImageStore.width());
  ASSERT_EQ(a.ImageStore.height(), b.ImageStore.height());
  for (int slot = 1; slot <= 4 && !a.ImageStore.empty(); ++slot)
    for (int y = 1; y <= a.ImageStore.height(); ++y)
      ASSERT_TRUE(std::equal(a.ImageStore.row(y, slot), a.ImageStore.row(y, slot) + 3 * a.ImageStore.width(),
                             b.ImageStore.row(y, slot)));
}

TEST_F(BmpReader, TopDownFileReadsLikeItsBottomUpTwin) {
  BmpSpec spec;
  spec.width = 5;
  spec.height = 4;
  const auto up = Check("up.bmp", BuildBmp(spec));
  ASSERT_TRUE(Take(1).pixels.read);
  spec.topDown = true;
  const auto down = Check("down.bmp", BuildBmp(spec));
  ASSERT_TRUE(down.header.accepted);
  EXPECT_TRUE(down.header.messages.empty());
  // The same information text as for any file: the height as a picture height.
  EXPECT_EQ(down.header.infoLines, up.header.infoLines);
  EXPECT_EQ(down.header.summary, up.header.summary);
  ASSERT_TRUE(Take(2).pixels.read);
  for (int y = 1; y <= 4; ++y)
    for (int x = 1; x <= 5; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(s.ImageStore.at(x, y, c, 2), s.ImageStore.at(x, y, c, 1)) << x << y << c;
  EXPECT_EQ(s.ImageStore.at(1, 1, 0, 2), 1);  // top-left: R = 10x + 1 with x = 0
  EXPECT_EQ(s.ImageStore.at(1, 4, 1, 2), 62);  // bottom-left: G = 20y + 2 with y = 3
  EXPECT_EQ(s.ColouredPixelCount[1], s.ColouredPixelCount[0]);
}

TEST_F(BmpReader, FileOfAnotherDepthThanTheSetIsRefused) {
  BmpSpec eight;
  eight.bits = 8;
  const BmpSpec twentyFour;
  struct Case {
    BmpSpec set, file;
    std::string text;
  };
  const Case cases[] = {
      {twentyFour, eight,
       "Это изображение другой глубины цвета:  8 бит на пиксель\r\nА нужно  24 бит на пиксель\r\n"
       "Все четыре снимка набора должны быть одной глубины цвета."},
      {eight, twentyFour,
       "Это изображение другой глубины цвета:  24 бит на пиксель\r\nА нужно  8 бит на пиксель\r\n"
       "Все четыре снимка набора должны быть одной глубины цвета."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    s = AppState();
    Check("set.bmp", BuildBmp(c.set));
    ASSERT_TRUE(Take(1).pixels.read);
    const AppState before = s;
    const auto check = Check("file.bmp", BuildBmp(c.file));
    EXPECT_FALSE(check.header.accepted);
    EXPECT_FALSE(check.header.depthMatchesSet);
    ASSERT_EQ(check.header.messages.size(), 1u);
    EXPECT_EQ(check.header.messages[0].text, c.text);
    EXPECT_EQ(check.header.openButton.back(), OpenButtonAction::Disable);
    // Taken all the same (a set changed since the check): refused, nothing changes.
    const auto a = Take(3);
    EXPECT_FALSE(a.pixels.read);
    ASSERT_EQ(a.pixels.messages.size(), 1u);
    EXPECT_EQ(a.pixels.messages[0].text, c.text);
    ExpectSameSet(before, s);
  }
}

TEST_F(BmpReader, AFirstFileChangedAfterItsCheckLeavesNoSet) {
  BmpSpec big;
  big.width = 8;
  big.height = 6;
  BmpSpec cut = big, eight = big, flipped = big;
  cut.truncateBy = 7;
  eight.bits = 8;
  flipped.topDown = true;
  // Changed between the check and the open button: cut short, another depth,
  // the same size stored the other way up.
  for (const BmpSpec& changed : {cut, eight, flipped}) {
    Check("first.bmp", BuildBmp(big));
    Write(dir, "first.bmp", BuildBmp(changed));
    const auto a = Take(1);
    EXPECT_FALSE(a.pixels.read);
    ASSERT_EQ(a.pixels.messages.size(), 1u);
    EXPECT_EQ(a.pixels.messages[0].title, "Ошибка");
    EXPECT_EQ(s.SetStarted, 0);
    EXPECT_EQ(s.SetWidth, 0);
    EXPECT_TRUE(s.ImageStore.empty());
    EXPECT_FALSE(s.SlotLoaded[0]);
    EXPECT_FALSE(s.SubtractNext[0]);
  }
  // A file of any size can still start the set.
  EXPECT_TRUE(Check("small.bmp", BuildBmp({})).header.accepted);
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(s.SetWidth, 4);
}

TEST_F(BmpReader, OnlyRegularFilesAreOpened) {
  const std::string fifo = dir + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir + "/folder.bmp");
  struct Case {
    std::string name, text;
  };
  const Case cases[] = {
      {"pipe.bmp", "Ошибка №75 Это не обычный файл (канал, устройство или сокет): " + fifo},
      {"folder.bmp", "Ошибка №75 Это папка, а не файл: " + dir + "/folder.bmp"},
      {"absent.bmp", "Ошибка №53 Файл не найден: " + dir + "/absent.bmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto check = CheckFile(s, dir, c.name);  // returns at once: a pipe is never opened
    EXPECT_FALSE(check.headerRead);
    ASSERT_EQ(check.messages.size(), 1u);
    EXPECT_EQ(check.messages[0].text, c.text);
    const auto header = ReadBitmapHeader(s, dir + "/" + c.name);
    ASSERT_EQ(header.messages.size(), 1u);
    EXPECT_EQ(header.messages[0].text, c.text);
  }
  ASSERT_EQ(InputFileProblem("").size(), 1u);
  EXPECT_EQ(InputFileProblem("")[0].text, "Ошибка №52 Не указан файл: путь пустой");
}

TEST_F(BmpReader, CalcWordReadsLittleEndianAtOneBasedPositions) {
  const std::vector<uint8_t> b = {0x34, 0x12, 0xff};
  EXPECT_EQ(CalcWord(b, 1), 0x1234);
  EXPECT_EQ(CalcWord(b, 2), 0xff12);
  EXPECT_EQ(CalcWord(b, 3), 0x00ff);
}

TEST(LoadSet, BundledSampleLoadsIntoFourSlots) {
  AppState s;
  const auto out = LoadSet(s, test::SampleFiles());
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.messages.empty());
  EXPECT_TRUE(s.setComplete());
  EXPECT_EQ(s.SetWidth, 320);
  EXPECT_EQ(s.SetHeight, 240);
  EXPECT_EQ(s.SetStarted, 1);
  EXPECT_EQ(s.ZoomFactor, 6);  // 6 x 320 = 1920
  EXPECT_GT(s.ColouredPixelCount[0], 0);

  // A set with one file of other dimensions is refused with the message.
  const std::string dir = test::TempDir("loadset");
  RgbImage small{10, 10, std::vector<uint8_t>(300, 9)};
  const std::string odd = Write(dir, "odd.bmp", EncodeBmp24(small));
  auto files = test::SampleFiles();
  files[2] = odd;
  const auto bad = LoadSet(s, files);
  EXPECT_FALSE(bad.ok);
  ASSERT_FALSE(bad.messages.empty());
  EXPECT_NE(bad.messages[0].text.find("А нужно  320 x 240"), std::string::npos);
}

TEST(LoadSet, ARefusedFileIsNamedAndTheLoadedSetStays) {
  AppState s;
  ASSERT_TRUE(LoadSet(s, test::SampleFiles()).ok);
  const AppState before = s;
  const std::string dir = test::TempDir("loadset-refused");
  std::vector<std::array<uint8_t, 3>> palette(256, {9, 9, 9});
  const std::string eight = Write(dir, "eight.bmp", EncodeBmp8(320, 240, std::vector<uint8_t>(320 * 240, 3), palette));
  const std::string fifo = dir + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ifstream in(test::SampleFiles()[0], std::ios::binary);
  std::vector<uint8_t> cut((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  cut.resize(cut.size() - 100);
  const std::string shortFile = Write(dir, "short.bmp", cut);
  struct Case {
    int slot;  // 1..4, 0: three files only
    std::string path, start, end;
  };
  const Case cases[] = {
      {3, eight, "Это изображение другой глубины цвета:  8 бит на пиксель", "\r\nСнимок 90°: " + eight},
      {2, fifo, "Ошибка №75 Это не обычный файл", "\r\nСнимок 45°: " + fifo},
      {4, shortFile, "Ошибка №62 ", "\r\nСнимок 135°: " + shortFile},
      {1, "", "Ошибка №52 Не указан файл: путь пустой", "\r\nСнимок 0°: (пустой путь)"},
      {0, "", "Ошибка №5 Нужно четыре файла: 0°, 45°, 90° и 135°", "Указано файлов: 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    auto files = test::SampleFiles();
    if (c.slot) files[c.slot - 1] = c.path;
    else files.pop_back();
    const auto out = LoadSet(s, files);
    EXPECT_FALSE(out.ok);
    ASSERT_EQ(out.messages.size(), 1u);
    const std::string& text = out.messages[0].text;
    EXPECT_EQ(text.rfind(c.start, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), c.end.size())), c.end);
    ExpectSameSet(before, s);
  }
}

}  // namespace
}  // namespace ps
