#include "learning/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>

#include <sys/stat.h>

#include "learning/text_encoding.h"
#include "support/test_support.h"

namespace ps {
namespace {

using test::ReadAll;

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

// ---- Parsers ------------------------------------------------------------------

TEST(ValueParsers, NumberIndexedAndCellValues) {
  // The number text runs from the first digit or sign; "1-2" is taken whole and refused later.
  const std::pair<std::u32string, std::u32string> texts[] = {
      {U"= 0,5", U"0,5"}, {U"  =0,5 ВесИнтен(1; 2) = 7", U"0,5"}, {U"-0.25xyz", U"-0.25"}, {U"1-2", U"1-2"}};
  for (const auto& [in, out] : texts) EXPECT_EQ(ParseNumberText(in), out);
  EXPECT_FALSE(ParseNumberText(U"= abc").has_value());
  EXPECT_FALSE(ParseNumberText(U"").has_value());
  for (const std::u32string bad : {U"1-2", U"1,2,3", U"-", U"99999999999999999999999999999999999999999"})
    EXPECT_FALSE(NumberTextToSingle(bad, ",").has_value());
  EXPECT_EQ(NumberTextToSingle(U"0,5", ","), 0.5f);
  EXPECT_EQ(NumberTextToSingle(U"0.5", ","), 0.5f);   // the other separator reads too
  EXPECT_EQ(NumberTextToSingle(U"-0,1", "."), -0.1f);  // single precision

  auto i = ParseIndexedValue(U"2) = 0,05");
  ASSERT_TRUE(i.has_value());
  EXPECT_TRUE(i->index == 2 && i->number == U"0,05");
  EXPECT_EQ(ParseIndexedValue(U"3)0,5")->number, U"0,5");
  EXPECT_FALSE(ParseIndexedValue(U"(2) = 1").has_value());
  auto c = ParseCellValue(U"3; 4) = -0,25 :ВесИнтен(3; 5) =1");
  ASSERT_TRUE(c.has_value());
  EXPECT_TRUE(c->row == 3 && c->column == 4 && c->number == U"-0,25");
  c = ParseCellValue(U"7,1)=2");
  ASSERT_TRUE(c.has_value());
  EXPECT_TRUE(c->column == 1 && c->number == U"2");
  EXPECT_FALSE(ParseCellValue(U"3; ) = 1").has_value());
}

// ---- Steps file ----------------------------------------------------------------

TEST(StepsFile, EveryKeyForm) {
  const std::string text =
      "Температура = 0,3\r\n"
      "ШагИнтен(1) = 0,01\r\nШагИнтен(3) = 0,03\r\n"
      "ШагЭллип(2) = 0,02\r\n"
      "ШагАзим(1) = 0,04\r\n"
      "ШагОС(2) = 0,05\r\n"
      "ШагСм = 0,06\r\n"
      "ШагНач = 0,07\r\n"
      "ШагАзимОбщ = 0,08\r\n"
      "МетодИзмененияВесов(1) = 2\r\nМетодИзмененияВесов(2) = 3\r\n"
      "МетодИзмененияВесов(3) = 4\r\nМетодИзмененияВесов(4) = 5\r\n"
      "МетодИзмененияВесов(5) = 1\r\n"
      "Коэфa = 0,5\r\nКоэфb = 0,25\r\nКоэфc = 2\r\n"
      "КоэфИнерцииИнтен = 0,1\r\nКоэфИнерцииЭлл = 0,2\r\nКоэфИнерцииАз = 0,3\r\nКоэфИнерцииОС = 0,4\r\n";
  TrainingSettings s;
  s.Methods = {1, 1, 1, 1};
  const ReadOutcome r = ParseStepsText(text, s, ",");
  ASSERT_TRUE(r.ok) << r.message.text;
  // Values are read in single precision; ШагИн(2) and ШагАз(2) stay 0 (ШагАзимОбщ is not a ring step).
  TrainingSettings want;
  auto f = [](double v) { return static_cast<double>(static_cast<float>(v)); };
  want.Temperature = f(0.3), want.ШагИн[0] = f(0.01), want.ШагИн[2] = f(0.03), want.ШагЭл[1] = f(0.02);
  want.ШагАз[0] = f(0.04), want.ШагОС[1] = f(0.05), want.ШагСм = f(0.06), want.ШагНа = f(0.07);
  want.ШагАзимОбщ = f(0.08), want.Methods = {2, 3, 4, 5}, want.Ka = 0.5f, want.Kb = 0.25f, want.Kc = 2.0f;
  want.КоэфИнерцииИн = f(0.1), want.КоэфИнерцииЭл = f(0.2), want.КоэфИнерцииАз = f(0.3), want.КоэфИнерцииОС = f(0.4);
  EXPECT_EQ(s, want);
}

TEST(StepsFile, OffsetsSeveralKeysOnALineLastWinsAndAbsentKeysStay) {
  TrainingSettings s;
  s.ШагСм = 9;
  // The value of ШагОС sits right after "ШагОС(", the index of ШагИн 9 characters
  // after the key's start whatever the four characters between; a second key on
  // the same line is read too; the later Температура wins.
  const std::string text =
      "Температура = 1\nШагИнXXX(2) = 0,5  ШагОС(3)=0,25\n  Температура = 2\nШагИнтен(1) 0,75\n";
  ASSERT_TRUE(ParseStepsText(text, s, ",").ok);
  EXPECT_EQ(s.Temperature, 2.0);
  EXPECT_EQ(s.ШагИн[1], 0.5);
  EXPECT_EQ(s.ШагИн[0], 0.75);  // no equals sign
  EXPECT_EQ(s.ШагОС[2], 0.25);
  EXPECT_EQ(s.ШагСм, 9.0);  // absent: unchanged
  // Methods are read as 16-bit integers, halves to even.
  ASSERT_TRUE(ParseStepsText("МетодИзмененияВесов(2) = 2,5\n", s, ",").ok);
  EXPECT_EQ(s.Methods[1], 2);
}

TEST(StepsFile, MalformedValuesNameTheLineAndStoreNothing) {
  TrainingSettings s;
  s.Temperature = 5;
  ReadOutcome r = ParseStepsText("Температура = 1\r\n' comment\r\nШагОС(4) = 0,1\r\n", s, ",", "Шаги.txt");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.text.find("строка 3"), std::string::npos) << r.message.text;
  EXPECT_NE(r.message.text.find("1..3"), std::string::npos);
  EXPECT_NE(r.message.text.find("Шаги.txt"), std::string::npos);
  EXPECT_EQ(s.Temperature, 5.0);  // nothing stored
  for (const char* bad : {"ШагИнтен(0) = 0,1\n", "ШагСм = 1-2\n", "ШагОС() = 1\n"})
    EXPECT_FALSE(ParseStepsText(bad, s, ",").ok) << bad;
  r = ParseStepsText("ШагСм = abc\n", s, ",");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.text.find("строка 1"), std::string::npos);
  EXPECT_NE(r.message.text.find("не является числом"), std::string::npos);
}

TEST(StepsFile, ReadsCp1251AndUtf8AlikeAndNamesAMissingFile) {
  const std::string dir = test::TempDir("steps");
  const std::string text = "Температура = 0,3\r\nКоэфИнерцииОС = 0,125\r\n";
  Spit(dir + "/a.txt", Utf8ToCp1251(text));
  Spit(dir + "/b.txt", "\xEF\xBB\xBF" + text);
  TrainingSettings a, b;
  ASSERT_TRUE(ReadStepsFile(dir + "/a.txt", a, ",").ok);
  ASSERT_TRUE(ReadStepsFile(dir + "/b.txt", b, ",").ok);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.КоэфИнерцииОС, 0.125);
  const ReadOutcome missing = ReadStepsFile(dir + "/Шаги.txt", a, ",");
  EXPECT_TRUE(missing.missing);
  EXPECT_NE(missing.message.text.find("Шаги.txt"), std::string::npos);
  EXPECT_NE(missing.message.text.find(dir), std::string::npos);
  EXPECT_NE(missing.message.text.find("init-data"), std::string::npos);
}

// ---- Weights file --------------------------------------------------------------

NetworkParameters Sample() {
  NetworkParameters p;
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> u(-2, 2);
  for (int t = 1; t <= 4; ++t)
    for (auto& row : p.templ(t))
      for (double& v : row) v = u(gen);
  p.Смещение = 0.5, p.Крутизна = 0.1312345, p.НачальнаяСуммаСинапсов = -1.25, p.ВесАзимутаОбщий = -0.01;
  return p;
}

TEST(WeightsFile, WrittenBytesExactly) {
  NetworkParameters p;
  p.ВесИнтен[0][6] = 0.25;
  p.ВесОС[6][0] = -1.5;
  RunFigures f;
  f.FeedbackMean = 0.123456, f.Temperature = 0.3, f.EnergyB = 1234.5678;
  const std::string dir = test::TempDir("weights");
  const std::string path = dir + "/w.txt";
  ASSERT_TRUE(WriteWeightsFile(path, p, f, ","));
  const std::string text = Cp1251ToUtf8(ReadAll(path));
  const std::string expectedHead =
      "Смещение = 0,000        'в начале установим веса\r\n"
      "Крутизна = 0,13000\r\n"
      "НачальнаяСуммаСинапсов = 0,000\r\n"
      "СуммаОС1 = 0,1235\r\n"
      "ВесАзимутаОбщий = -0,0100\r\n"
      "ВесИнтен(1; 1) = 0,000 :ВесИнтен(1; 2) =0,000 : ВесИнтен(1; 3) = 0,000: ВесИнтен(1; 4) = 0,000 : "
      "ВесИнтен(1; 5) = 0,000 : ВесИнтен(1; 6) = 0,000 : ВесИнтен(1; 7) = 0,250\r\n";
  EXPECT_EQ(text.substr(0, expectedHead.size()), expectedHead);
  const std::string expectedTail =
      "ВесОС(7; 1) = -1,500 :ВесОС(7; 2) =0,000 : ВесОС(7; 3) = 0,000: ВесОС(7; 4) = 0,000 : "
      "ВесОС(7; 5) = 0,000 : ВесОС(7; 6) = 0,000 : ВесОС(7; 7) = 0,000\r\n"
      "\r\n"
      "Температура = 0,300\r\n"
      "ЭнергияБ = 1234,568\r\n";
  ASSERT_GE(text.size(), expectedTail.size());
  EXPECT_EQ(text.substr(text.size() - expectedTail.size()), expectedTail);
  // 5 lines, four blocks of 7 lines and an empty one, 2 lines.
  size_t lines = 0;
  for (size_t k = 0; k + 1 < text.size(); ++k) lines += text[k] == '\r' && text[k + 1] == '\n';
  EXPECT_EQ(lines, 5u + 4 * 8 + 2);
  EXPECT_EQ(text.find('\n'), text.find('\r') + 1);  // CR LF only
  // The bytes are code page 1251: "С" is 0xD1.
  EXPECT_EQ(static_cast<unsigned char>(ReadAll(path)[0]), 0xD1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary file left
}

TEST(WeightsFile, RoundTripUnderBothSeparators) {
  for (const std::string sep : {",", "."}) {
    const std::string dir = test::TempDir("roundtrip");
    const NetworkParameters p = Sample();
    RunFigures f;
    f.Temperature = 0.3;
    ASSERT_TRUE(WriteWeightsFile(dir + "/w.txt", p, f, sep));
    NetworkParameters back;
    back.Крутизна = 99;
    const ReadOutcome r = ReadWeightsFile(dir + "/w.txt", back, sep);
    ASSERT_TRUE(r.ok) << r.message.text;
    // Every value comes back as written: rounded to its pattern, read in single precision.
    auto written = [](double v, int digits) {
      return static_cast<double>(static_cast<float>(std::round(v * std::pow(10, digits)) / std::pow(10, digits)));
    };
    for (int t = 1; t <= 4; ++t)
      for (int a = 0; a < 7; ++a)
        for (int b = 0; b < 7; ++b) EXPECT_EQ(back.templ(t)[a][b], written(p.templ(t)[a][b], 3)) << t << a << b;
    EXPECT_EQ(back.Смещение, 0.5);
    EXPECT_EQ(back.Крутизна, written(0.1312345, 5));
    EXPECT_EQ(back.НачальнаяСуммаСинапсов, -1.25);
    EXPECT_EQ(back.ВесАзимутаОбщий, double(-0.01f));  // read through "ВесАз", not "ВесАзим("
    // Written again, the file is the same byte for byte.
    ASSERT_TRUE(WriteWeightsFile(dir + "/w2.txt", back, f, sep));
    EXPECT_EQ(ReadAll(dir + "/w.txt"), ReadAll(dir + "/w2.txt"));
  }
}

TEST(WeightsFile, EmptyFileKeepsStartValuesAndBadIndexIsRefused) {
  NetworkParameters p;
  ASSERT_TRUE(ParseWeightsText("", p, ",").ok);
  EXPECT_EQ(p, NetworkParameters{});
  ReadOutcome r = ParseWeightsText("ВесИнтен(8; 1) = 1\r\n", p, ",");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.text.find("1..7"), std::string::npos);
  r = ParseWeightsText("Крутизна = 0,2\r\nВесОС(1; 1) = x\r\n", p, ",");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.text.find("строка 2"), std::string::npos);
  EXPECT_EQ(p.Крутизна, 0.13);  // nothing stored
}

// ---- Refusals of whole files ---------------------------------------------------

// A complete weights file as the training writes it, in UTF-8.
std::string WrittenWeights() { return FormatWeightsFile(Sample(), RunFigures{}, ","); }

std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char32_t c : Utf8ToUtf32(utf8)) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(LearningFiles, BadFilesAreRefusedWithTheirNameAndChangeNothing) {
  enum Kind { Text, Folder, Fifo, DevZero };
  const std::string cut = WrittenWeights().substr(0, WrittenWeights().find("ВесЭллип(4; 1)"));  // at a line's end
  const std::string lastNumberCut = [] {
    const std::string w = WrittenWeights();
    return w.substr(0, w.find("\r\n\r\nТемпература") - 1);  // the last digit of ВесОС(7; 7) and the rest gone
  }();
  const struct {
    const char* name;
    bool weights;  // the weights reader, else the steps reader
    Kind kind;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"junk weights", true, Text, "\x01\x02 no keys here at all\r\n", "не найдено ни одного коэффициента"},
      {"UTF-16 weights without a mark", true, Text, Utf16(WrittenWeights(), false).substr(2), "нулевые байты"},
      {"weights cut after a complete line", true, Text, cut, "нет 126 из 200 коэффициентов"},
      {"weights cut inside the last number", true, Text, lastNumberCut, "не закончена"},
      {"steepness 3.4e38", true, Text,
       std::regex_replace(WrittenWeights(), std::regex("Крутизна = [0-9,]+"),
                          "Крутизна = 340000000000000000000000000000000000000"),
       "вне допустимых пределов"},
      {"weight beyond the limit", true, Text, "ВесОС(2; 2) = 1000,5\r\n", "вне допустимых пределов"},
      {"weights folder", true, Folder, "", "это папка"},
      {"weights FIFO", true, Fifo, "", "не является обычным файлом"},
      {"weights linked to /dev/zero", true, DevZero, "", "не является обычным файлом"},
      {"weights over the size cap", true, Text, WrittenWeights() + std::string(kLearningFileCap, ' '), "слишком велик"},
      {"steps folder", false, Folder, "", "это папка"},
      {"steps FIFO", false, Fifo, "", "не является обычным файлом"},
      {"steps over the size cap", false, Text, std::string(kLearningFileCap + 1, '\n'), "слишком велик"},
      {"step beyond the limit", false, Text, "Температура = 0,3\r\nШагСм = 3000\r\n", "вне допустимых пределов"},
      {"steps binary", false, Text, "Температура = 0,3" + std::string(2, '\0'), "нулевые байты"},
  };
  for (const auto& c : cases) {
    const std::string dir = test::TempDir("bad-file");
    const std::string path = dir + (c.weights ? "/Весовые коэффициенты.txt" : "/Шаги.txt");
    switch (c.kind) {
      case Text: Spit(path, c.bytes); break;
      case Folder: std::filesystem::create_directory(path); break;
      case Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); break;  // nobody writes: a blocking read would hang
      case DevZero: std::filesystem::create_symlink("/dev/zero", path); break;
    }
    NetworkParameters p, pBefore;
    TrainingSettings s, sBefore;
    s.Temperature = sBefore.Temperature = 0.7;
    const ReadOutcome r = c.weights ? ReadWeightsFile(path, p, ",") : ReadStepsFile(path, s, ",");
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_FALSE(r.missing) << c.name;
    EXPECT_NE(r.message.text.find(c.message), std::string::npos) << c.name << ": " << r.message.text;
    EXPECT_NE(r.message.text.find(c.weights ? "Весовые коэффициенты.txt" : "Шаги.txt"), std::string::npos) << c.name;
    EXPECT_EQ(p, pBefore) << c.name;
    EXPECT_EQ(s, sBefore) << c.name;
  }
}

TEST(LearningFiles, Utf16WithItsMarkReadsLikeCp1251) {
  const std::string dir = test::TempDir("utf16");
  NetworkParameters fromCp1251;
  Spit(dir + "/w.txt", Utf8ToCp1251(WrittenWeights()));
  ASSERT_TRUE(ReadWeightsFile(dir + "/w.txt", fromCp1251, ",").ok);
  const std::string steps = StarterStepsText(",");
  TrainingSettings stepsCp1251;
  Spit(dir + "/s.txt", Utf8ToCp1251(steps));
  ASSERT_TRUE(ReadStepsFile(dir + "/s.txt", stepsCp1251, ",").ok);
  for (bool bigEndian : {false, true}) {
    Spit(dir + "/w.txt", Utf16(WrittenWeights(), bigEndian));
    NetworkParameters p;
    const ReadOutcome r = ReadWeightsFile(dir + "/w.txt", p, ",");
    ASSERT_TRUE(r.ok) << bigEndian << r.message.text;
    EXPECT_EQ(p, fromCp1251) << bigEndian;
    Spit(dir + "/s.txt", Utf16(steps, bigEndian));
    TrainingSettings s;
    ASSERT_TRUE(ReadStepsFile(dir + "/s.txt", s, ",").ok) << bigEndian;
    EXPECT_EQ(s, stepsCp1251) << bigEndian;
  }
  // A blank file is an empty one: the start values stay.
  Spit(dir + "/w.txt", " \r\n\r\n");
  NetworkParameters p;
  p.Крутизна = 0.5;
  EXPECT_TRUE(ReadWeightsFile(dir + "/w.txt", p, ",").ok);
  EXPECT_EQ(p.Крутизна, 0.5);
}

TEST(LearningFiles, OneLongLineFullOfKeysParsesWholly) {
  // 4 MiB on one line: a parser linear in the line's length reads it in well
  // under a second; one that copies the rest of the line per key (27 s for
  // 326 KB) would run past the test timeout. The last occurrence of each key wins.
  std::string line;
  int k = 0;
  while (line.size() < 4 * 1024 * 1024) line += "ШагСм = 0," + std::to_string(++k % 1000) + " Коэфb = 2 ";
  line += "ШагСм = 0,125";
  TrainingSettings s;
  const ReadOutcome r = ParseStepsText("Температура = 0,3\r\n" + line + "\r\n", s, ",");
  ASSERT_TRUE(r.ok) << r.message.text.substr(0, 300);
  EXPECT_EQ(s.ШагСм, 0.125);
  EXPECT_EQ(s.Kb, 2.0f);
  // An error far into such a line names it without copying all of it into the message.
  const ReadOutcome bad = ParseStepsText(line + " ШагСм = x\r\n", s, ",");
  EXPECT_FALSE(bad.ok);
  EXPECT_LT(bad.message.text.size(), 2000u);
}

// ---- Logs ----------------------------------------------------------------------

TEST(ProgressLog, LineBytesAndAppending) {
  RunFigures f;
  f.Hour = 9, f.Minute = 5, f.Second = 7;
  f.EnergyA = 1.5, f.EnergyB = 12.25, f.AbsoluteSum = 3, f.Gain = -0.125;
  f.Iteration = 17, f.Selector = 3, f.Ring = 2, f.Methods = {1, 2, 3, 5}, f.MeanRelativeError = 0.01234;
  EXPECT_EQ(FormatProgressLine(f, ","),
            "9:05:07  Энер.= 1,500 + 12,250 + 3,000  Изм.Эн.= -0,125;  Итер-я= 17;  № 3(2) М=1,2,3,5  Погр.= 0,0123\r\n");
  const std::string dir = test::TempDir("log");
  ASSERT_TRUE(AppendProgressLine(dir + "/log.txt", f, ","));
  f.Hour = 23;
  ASSERT_TRUE(AppendProgressLine(dir + "/log.txt", f, "."));
  const std::string text = Cp1251ToUtf8(ReadAll(dir + "/log.txt"));
  EXPECT_EQ(text.rfind("9:05:07", 0), 0u);
  EXPECT_NE(text.find("\r\n23:05:07  Энер.= 1.500"), std::string::npos);
}

TEST(StatisticsLog, Lines) {
  TrainingCounters c;
  c.AcceptCount[0][1] = 12, c.DrawCount[0][1][0] = 30, c.DrawCount[0][1][1] = 70, c.AcceptCount[7][2] = 4;
  const std::string text = FormatStatisticsFile(c, 600);
  EXPECT_EQ(text.rfind("за 600 секунд прошли изменения\r\n"
                       "Интенсивности(1) = 0 при вероятности изменений:неизм-й = 0:0\r\n"
                       "Интенсивности(2) = 12 при вероятности изменений:неизм-й = 30:70\r\n",
                       0),
            0u);
  EXPECT_NE(text.find("\r\nОбщего Веса Азимута(3) = 4 при вероятности"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 25);
}

// ---- Encoding and files --------------------------------------------------------

TEST(TextEncoding, Cp1251BothWays) {
  const std::string all = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё№ 0,5";
  const std::string bytes = Utf8ToCp1251(all);
  EXPECT_EQ(bytes.size(), 71u);  // one byte a character
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xC0);
  EXPECT_EQ(static_cast<unsigned char>(bytes[63]), 0xFF);
  EXPECT_EQ(Cp1251ToUtf8(bytes), all);
  EXPECT_EQ(DecodeLearningText(bytes), all);
  EXPECT_EQ(DecodeLearningText(all), all);
  EXPECT_EQ(Utf8ToCp1251("漢"), "?");
}

TEST(DataFolderTest, EnvironmentThenHome) {
  const char* saved = std::getenv("POLARSPHERE_DATA_DIR");
  const std::string keep = saved ? saved : "";
  setenv("POLARSPHERE_DATA_DIR", "/tmp/somewhere", 1);
  EXPECT_EQ(DataFolder(), "/tmp/somewhere");
  setenv("POLARSPHERE_DATA_DIR", "", 1);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(DataFolder(), std::string(home && *home ? home : ".") + "/polarsphere");
  if (saved) setenv("POLARSPHERE_DATA_DIR", keep.c_str(), 1); else unsetenv("POLARSPHERE_DATA_DIR");
  const LearningPaths p = LearningFiles("/d");
  EXPECT_EQ(p.weights, "/d/Весовые коэффициенты.txt");
  EXPECT_EQ(p.statisticsLog, "/d/Временное изменение2.txt");
}

TEST(StarterSteps, ReadsBackWithPositiveTemperatureAndEveryStep) {
  for (const std::string sep : {",", "."}) {
    TrainingSettings s;
    const ReadOutcome r = ParseStepsText(StarterStepsText(sep), s, sep);
    ASSERT_TRUE(r.ok) << r.message.text;
    EXPECT_GT(s.Temperature, 0);
    for (int g = 1; g <= 4; ++g)
      for (int k = 1; k <= 3; ++k) EXPECT_GT(s.step(g, k), 0) << g << k;
    EXPECT_TRUE(s.ШагСм > 0 && s.ШагНа > 0 && s.ШагАзимОбщ > 0 && s.КоэфИнерцииЭл > 0 && s.Kb > 0);
  }
}

}  // namespace
}  // namespace ps
