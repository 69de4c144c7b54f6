#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "imageio/bmp.h"
#include "imageio/bmp_writer.h"
#include "support/test_support.h"

namespace ps {
namespace {

// Builds BMP files byte by byte, so that headers can be bent in every way.
struct BmpSpec {
  bool os2 = false, topDown = false;  // topDown: negative height, top row stored first
  int width = 4, height = 3, bits = 24, compression = 0, coloursUsed = 0;
  int paletteEntries = 256;  // written for bits < 24
  int truncateBy = 0;        // bytes cut from the end
  // Pixel (x, y), 0-based from the top: R, G, B (24 bits) or the index in [0] (8 bits).
  std::function<std::array<uint8_t, 3>(int, int)> pixel = [](int x, int y) {
    return std::array<uint8_t, 3>{uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x + y + 3)};
  };
};

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int n = 4) {
  for (int i = 0; i < n; ++i) b[at + i] = (v >> (8 * i)) & 0xff;
}

std::vector<uint8_t> BuildBmp(const BmpSpec& s) {
  const int header = s.os2 ? 12 : 40, entry = s.os2 ? 3 : 4, entries = s.bits < 24 ? s.paletteEntries : 0;
  const int rowData = (s.width * s.bits + 7) / 8, row = rowData + (4 - rowData % 4) % 4;
  const int offset = 14 + header + entries * entry;
  std::vector<uint8_t> b(offset + row * s.height, 0);
  b[0] = 'B', b[1] = 'M';
  Put(b, 2, b.size()), Put(b, 10, offset), Put(b, 14, header);
  if (s.os2) {
    Put(b, 18, s.width, 2), Put(b, 20, s.height, 2), Put(b, 22, 1, 2), Put(b, 24, s.bits, 2);
  } else {
    Put(b, 18, s.width), Put(b, 22, s.topDown ? -s.height : s.height), Put(b, 26, 1, 2), Put(b, 28, s.bits, 2);
    Put(b, 30, s.compression), Put(b, 38, 3780), Put(b, 42, 3781), Put(b, 46, s.coloursUsed), Put(b, 50, 7);
  }
  for (int i = 0; i < entries; ++i) {  // blue, green, red
    uint8_t* e = &b[14 + header + i * entry];
    e[0] = uint8_t(3 * i), e[1] = uint8_t(2 * i), e[2] = uint8_t(255 - i);
  }
  for (int r = 0; r < s.height; ++r)
    for (int x = 0; x < s.width; ++x) {
      const auto p = s.pixel(x, s.topDown ? r : s.height - 1 - r);
      uint8_t* d = &b[offset + r * row];
      if (s.bits == 24) d[3 * x] = p[2], d[3 * x + 1] = p[1], d[3 * x + 2] = p[0];
      if (s.bits == 8) d[x] = p[0];
    }
  b.resize(b.size() - s.truncateBy);
  return b;
}

std::string Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

void ExpectMessage(const std::vector<Message>& m, const std::string& text, const std::string& title,
                   MessageIcon icon) {
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(std::tie(m[0].text, m[0].title, m[0].icon), std::tie(text, title, icon));
}

// Everything of the set that a check or a refused file could spoil.
auto SetFields(const AppState& a) {
  return std::tie(a.SetStarted, a.SetWidth, a.SetHeight, a.SetBitsPerPixel, a.ZoomFactor, a.SlotLoaded, a.SubtractNext,
                  a.ColouredPixelCount, a.Header.FilePath, a.Header.FileSignature, a.Header.BitsPerPixel,
                  a.Header.ImageWidth, a.Header.RowPadding, a.PaletteTable);
}

void ExpectSameSet(const AppState& a, const AppState& b) {
  EXPECT_TRUE(SetFields(a) == SetFields(b));
  ASSERT_EQ(std::make_pair(a.ImageStore.width(), a.ImageStore.height()),
            std::make_pair(b.ImageStore.width(), b.ImageStore.height()));
  const size_t bytes = 12 * static_cast<size_t>(a.ImageStore.width()) * a.ImageStore.height();  // four slots in a row
  if (bytes) EXPECT_TRUE(std::equal(a.ImageStore.row(1, 1), a.ImageStore.row(1, 1) + bytes, b.ImageStore.row(1, 1)));
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
  const auto c = Check("a.bmp", BuildBmp({.width = 5}));  // 15 bytes a row + 1 padding byte
  ASSERT_TRUE(c.headerRead);
  const HeaderOutcome& h = c.header;
  EXPECT_TRUE(h.accepted && h.startsSet && c.messages.empty() && h.messages.empty());
  EXPECT_EQ(std::tie(h.file.header.RowPadding, h.file.header.RowLength), std::make_tuple(uint8_t{1}, 16));
  EXPECT_EQ(s.SetWidth, 0);  // nothing is taken before the open button
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(std::tie(s.SetWidth, s.SetHeight, s.Header.FileSignature, s.Header.FilePath),
            std::make_tuple(5, 3, std::string("BM"), dir + "/a.bmp"));
  const std::vector<std::string> expected = {
      "BMP формат - растр Windows", "Размер файла 102 байт", "Ширина 5", "Высота 3", "24 бит на каждый пиксель ",
      "Сжатия нет", "Горизонтальное разрешение устройства 3780 пиксель/метр",
      "Вертикальное разрешение устройства 3781 пиксель/метр", "Используется все цвета палитры",
      "Число важных цветов 7"};
  EXPECT_EQ(h.infoLines, expected);
  EXPECT_EQ(h.summary, "5 x 3    16 млн. цветов");
  EXPECT_NE(h.infoText().find("Ширина 5\r\nВысота 3"), std::string::npos);
}

TEST_F(BmpReader, EightBitFilesKeepTheIndexAndTheirPalette) {
  BmpSpec spec{.bits = 8, .pixel = [](int x, int y) { return std::array<uint8_t, 3>{uint8_t(x + 4 * y), 0, 0}; }};
  auto c = Check("full.bmp", BuildBmp(spec));
  EXPECT_EQ(c.header.paletteEntrySize, 4);
  EXPECT_EQ(c.header.file.palette[255], (std::array<float, 3>{0, 254, float(uint8_t(3 * 255))}));
  Take(1);
  EXPECT_EQ(s.ImageStore.at(3, 2, 0, 1), 6);
  EXPECT_EQ(s.ImageStore.at(3, 2, 1, 1) + s.ImageStore.at(3, 2, 2, 1), 0);
  EXPECT_FALSE(s.SubtractNext[0]);  // toggled only after 24-bit loads
  EXPECT_EQ(s.ColouredPixelCount[0], 12);

  // A palette of 16 entries, as many editors write for few colours: the true
  // colours are shown, the rest of the table is black.
  s.startNewSet();
  spec.paletteEntries = spec.coloursUsed = 16;
  c = Check("short.bmp", BuildBmp(spec));
  ASSERT_TRUE(c.header.accepted);
  const Palette& pal = c.header.file.palette;
  EXPECT_EQ(pal[15], (std::array<float, 3>{240, 30, 45}));
  EXPECT_EQ(pal[16], (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(pal[200][1], 0.0f);
  EXPECT_EQ(c.header.infoLines[8], "Используется 16 цветов из 256 цветной палитры");

  // OS/2 layout: no compression, resolution or colour lines; 3-byte palette entries.
  s.startNewSet();
  c = Check("os2.bmp", BuildBmp({.os2 = true, .height = 480, .bits = 8}));
  ASSERT_TRUE(c.header.accepted);
  EXPECT_EQ(c.header.infoLines.front(), "BMP формат - растр OS/2");
  EXPECT_EQ(c.header.infoLines.size(), 5u);
  EXPECT_EQ(c.header.paletteEntrySize, 3);
  EXPECT_EQ(c.header.summary, "4 x 480    256 цветов");
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(s.PaletteTable[10], (std::array<float, 3>{245, 20, 30}));  // red, green, blue
}

TEST_F(BmpReader, RefusalsComeWithTheirMessages) {
  // A text file named .bmp or .BMP; any other name is not warned about.
  for (const char* name : {"notes.bmp", "NOTES.BMP"}) {
    const auto c = Check(name, {'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(c.headerRead);
    ExpectMessage(c.messages, "Файл " + std::string(name) + " не является изображением,\r\nа содержит что-то другое",
                  "Неизвестный формат файла", MessageIcon::Exclamation);
  }
  EXPECT_TRUE(Check("notes.Bmp", {'h', 'i'}).messages.empty());
  EXPECT_TRUE(Check("picture.dat", BuildBmp({})).header.accepted);

  const BmpSpec rle{.compression = 1};
  auto c = Check("rle.bmp", BuildBmp(rle));
  EXPECT_FALSE(c.header.accepted);
  ExpectMessage(c.header.messages, "Изображение с типом сжатия 1\r\n            не поддерживается",
                "Не поддерживаемый формат", MessageIcon::None);
  EXPECT_EQ(c.header.openButton.back(), OpenButtonAction::Disable);

  EXPECT_FALSE(Take(1).pixels.read);  // a refused file starts no set
  EXPECT_TRUE(s.SetStarted == 0 && s.ImageStore.empty());

  c = Check("four.bmp", BuildBmp({.bits = 4, .paletteEntries = 16}));
  EXPECT_FALSE(c.header.accepted);
  EXPECT_TRUE(c.header.showUnsupportedDepth);
  EXPECT_EQ(c.header.unsupportedDepthText, "16-ти цветное изображение\r\nне поддерживается.");
  EXPECT_EQ(c.header.summary, "4 x 3    16 цветов");
}

TEST_F(BmpReader, PixelsAreReadBottomUpAndSubtractedOnTheSecondLoad) {
  Check("first.bmp", BuildBmp({.pixel = [](int x, int y) {
          return x == 0 && y == 2 ? std::array<uint8_t, 3>{255, 0, 0} : std::array<uint8_t, 3>{100, 50, 20};
        }}));
  std::vector<std::pair<long long, long long>> reports;
  Progress p;
  p.report = [&](long long d, long long t) { reports.emplace_back(d, t); };
  ASSERT_TRUE(Take(3, p).pixels.read);
  EXPECT_EQ(s.SetStarted, 3);
  EXPECT_EQ(std::make_tuple(+s.ImageStore.at(1, 3, 0, 3), +s.ImageStore.at(1, 3, 1, 3)), std::make_tuple(255, 0));
  EXPECT_EQ(s.ImageStore.at(2, 1, 2, 3), 20);
  EXPECT_EQ(s.ColouredPixelCount[2], 12);
  EXPECT_EQ(reports, (std::vector<std::pair<long long, long long>>{{1, 3}, {2, 3}, {3, 3}}));
  EXPECT_TRUE(s.SubtractNext[2] && s.SlotLoaded[2]);

  Check("second.bmp", BuildBmp({.pixel = [](int, int) { return std::array<uint8_t, 3>{30, 60, 20}; }}));
  ASSERT_TRUE(Take(3).pixels.read);
  // 100 - 30; 50 - 60 and 20 - 20 are below 1.
  EXPECT_EQ(std::make_tuple(+s.ImageStore.at(2, 1, 0, 3), +s.ImageStore.at(2, 1, 1, 3), +s.ImageStore.at(2, 1, 2, 3)),
            std::make_tuple(70, 0, 0));
  EXPECT_EQ(s.ImageStore.at(1, 3, 0, 3), 225);
  EXPECT_FALSE(s.SubtractNext[2]);
  Take(3);  // the third load replaces again
  EXPECT_EQ(s.ImageStore.at(2, 1, 0, 3), 30);
  EXPECT_EQ(s.ColouredPixelCount[2], 12);
}

TEST_F(BmpReader, BrokenFilesAreRefusedAndKeepThePreviousContent) {
  Check("good.bmp", BuildBmp({}));
  Take(1);
  const AppState before = s;
  // Header fields bent in a sound file: {position, value}.
  const std::vector<std::pair<size_t, uint32_t>> patches[] = {
      {{18, 100000}, {22, 100000}},  // far too large
      {{18, 0xFFFFFFFF}},            // width -1
      {{18, 0}},                     // width 0
      {{2, 0x7FFFFFFF}},             // file size: padding far beyond 255
  };
  std::vector<std::vector<uint8_t>> broken = {BuildBmp({.truncateBy = 5}), {'B', 'M', 1, 2, 3}};
  for (const auto& patch : patches) {
    broken.push_back(BuildBmp({}));
    for (auto [at, v] : patch) Put(broken.back(), at, v);
  }
  broken.push_back(BuildBmp({.bits = 8}));
  Put(broken.back(), 10, 0x7FFFFF00);  // palette entry size absurd
  for (size_t i = 0; i < broken.size(); ++i) {
    SCOPED_TRACE(i);
    const auto c = Check("broken.bmp", broken[i]);
    ASSERT_TRUE(c.headerRead);
    EXPECT_FALSE(c.header.accepted);
    EXPECT_TRUE(c.header.refusedAsBroken);
    ASSERT_EQ(c.header.messages.size(), 1u);
    EXPECT_EQ(c.header.messages[0].text.rfind("Ошибка №", 0), 0u);
    ExpectMessage(c.header.messages, c.header.messages[0].text, "Ошибка", MessageIcon::Critical);
    EXPECT_FALSE(Take(2).pixels.read);
    ExpectSameSet(before, s);
  }
  // The header of an accepted file can still be spoiled before its pixels are read.
  Check("later.bmp", BuildBmp({}));
  Write(dir, "later.bmp", BuildBmp({.truncateBy = 30}));  // 90 bytes cut to 60
  const auto a = Take(1);
  EXPECT_FALSE(a.pixels.read);
  ASSERT_EQ(a.pixels.messages.size(), 1u);
  ExpectSameSet(before, s);  // SubtractNext is toggled only by a file actually read
}

TEST_F(BmpReader, TopDownFileReadsLikeItsBottomUpTwin) {
  BmpSpec spec{.width = 5, .height = 4};
  const auto up = Check("up.bmp", BuildBmp(spec));
  ASSERT_TRUE(Take(1).pixels.read);
  spec.topDown = true;
  const auto down = Check("down.bmp", BuildBmp(spec));
  ASSERT_TRUE(down.header.accepted && down.header.messages.empty());
  EXPECT_EQ(down.header.infoLines, up.header.infoLines);  // the height as a picture height
  EXPECT_EQ(down.header.summary, up.header.summary);
  ASSERT_TRUE(Take(2).pixels.read);
  EXPECT_TRUE(std::equal(s.ImageStore.row(1, 1), s.ImageStore.row(1, 1) + 3 * 5 * 4, s.ImageStore.row(1, 2)));
  EXPECT_EQ(s.ImageStore.at(1, 1, 0, 2), 1);   // top-left: R = 10x + 1 with x = 0
  EXPECT_EQ(s.ImageStore.at(1, 4, 1, 2), 62);  // bottom-left: G = 20y + 2 with y = 3
  EXPECT_EQ(s.ColouredPixelCount[1], s.ColouredPixelCount[0]);
}

TEST_F(BmpReader, FileOfAnotherSizeOrDepthThanTheSetIsRefused) {
  const BmpSpec eight{.bits = 8}, other{.width = 6, .height = 2};
  const std::string depth = "Это изображение другой глубины цвета:  ";
  const std::string tail = " бит на пиксель\r\nВсе четыре снимка набора должны быть одной глубины цвета.";
  const std::tuple<BmpSpec, BmpSpec, std::string> cases[] = {
      {{}, other, "Это изображение другого формата:  6 x 2\r\nА нужно  4 x 3"},
      {{}, eight, depth + "8 бит на пиксель\r\nА нужно  24" + tail},
      {eight, {}, depth + "24 бит на пиксель\r\nА нужно  8" + tail},
  };
  for (const auto& [set, file, text] : cases) {
    SCOPED_TRACE(text);
    s = AppState();
    Check("set.bmp", BuildBmp(set));
    ASSERT_TRUE(Take(1).pixels.read);
    const AppState before = s;
    const auto check = Check("file.bmp", BuildBmp(file));
    EXPECT_FALSE(check.header.accepted);
    EXPECT_NE(check.header.depthMatchesSet, check.header.dimensionsMatchSet);
    ASSERT_EQ(check.header.messages.size(), 1u);
    EXPECT_EQ(check.header.messages[0].text, text);
    EXPECT_EQ(check.header.openButton.back(), OpenButtonAction::Disable);
    // Taken all the same (a set changed since the check): refused, nothing changes.
    const auto a = Take(3);
    EXPECT_FALSE(a.pixels.read);
    ASSERT_EQ(a.pixels.messages.size(), 1u);
    EXPECT_EQ(a.pixels.messages[0].text, text);
    ExpectSameSet(before, s);
  }
}

TEST_F(BmpReader, AFirstFileChangedAfterItsCheckLeavesNoSet) {
  const AppState empty = s;
  // Changed between the check and the open button: cut short, another depth,
  // the same size stored the other way up.
  for (const BmpSpec& changed : {BmpSpec{.width = 8, .height = 6, .truncateBy = 7},
                                 BmpSpec{.width = 8, .height = 6, .bits = 8},
                                 BmpSpec{.topDown = true, .width = 8, .height = 6}}) {
    Check("first.bmp", BuildBmp({.width = 8, .height = 6}));
    Write(dir, "first.bmp", BuildBmp(changed));
    const auto a = Take(1);
    EXPECT_FALSE(a.pixels.read);
    ASSERT_EQ(a.pixels.messages.size(), 1u);
    EXPECT_EQ(a.pixels.messages[0].title, "Ошибка");
    ExpectSameSet(empty, s);
  }
  // A file of any size can still start the set.
  EXPECT_TRUE(Check("small.bmp", BuildBmp({})).header.accepted);
  ASSERT_TRUE(Take(1).pixels.read);
  EXPECT_EQ(s.SetWidth, 4);
}

TEST(LoadSet, BundledSampleLoadsAndARefusedFileIsNamedWithTheSetKept) {
  AppState s;
  const auto out = LoadSet(s, test::SampleFiles());
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.messages.empty() && s.setComplete());
  EXPECT_EQ(std::tie(s.SetWidth, s.SetHeight, s.SetStarted, s.ZoomFactor), std::make_tuple(320, 240, 1, 6));
  EXPECT_GT(s.ColouredPixelCount[0], 0);

  const AppState before = s;
  const std::string dir = test::TempDir("loadset");
  const std::string odd = Write(dir, "odd.bmp", BuildBmp({.width = 10, .height = 10}));
  const std::string eight = Write(dir, "eight.bmp", BuildBmp({.width = 320, .height = 240, .bits = 8}));
  const std::string fifo = dir + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string shortFile = Write(dir, "short.bmp", BuildBmp({.width = 320, .height = 240, .truncateBy = 100}));
  const std::tuple<int, std::string, std::string, std::string> cases[] = {  // slot (0: three files only), path
      {3, odd, "Это изображение другого формата:  10 x 10\r\nА нужно  320 x 240", "\r\nСнимок 90°: " + odd},
      {3, eight, "Это изображение другой глубины цвета:  8 бит на пиксель", "\r\nСнимок 90°: " + eight},
      {2, fifo, "Ошибка №75 Это не обычный файл (канал, устройство или сокет): " + fifo, "\r\nСнимок 45°: " + fifo},
      {2, dir, "Ошибка №75 Это папка, а не файл: " + dir, "\r\nСнимок 45°: " + dir},
      {4, dir + "/absent.bmp", "Ошибка №53 Файл не найден: " + dir + "/absent.bmp", "°: " + dir + "/absent.bmp"},
      {4, shortFile, "Ошибка №62 ", "\r\nСнимок 135°: " + shortFile},
      {1, "", "Ошибка №52 Не указан файл: путь пустой", "\r\nСнимок 0°: (пустой путь)"},
      {0, "", "Ошибка №5 Нужно четыре файла: 0°, 45°, 90° и 135°", "Указано файлов: 3"},
  };
  for (const auto& [slot, path, start, end] : cases) {
    SCOPED_TRACE(start);
    auto files = test::SampleFiles();
    if (slot) files[slot - 1] = path;
    else files.pop_back();
    const auto refused = LoadSet(s, files);
    EXPECT_FALSE(refused.ok);
    ASSERT_EQ(refused.messages.size(), 1u);
    const std::string& text = refused.messages[0].text;
    EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), end.size())), end);
    ExpectSameSet(before, s);
  }
}

}  // namespace
}  // namespace ps
