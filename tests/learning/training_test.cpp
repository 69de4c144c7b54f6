#include "learning/training.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <regex>

#include "learning/learning_test_support.h"
#include "learning/text_encoding.h"
#include "state/number_format.h"

namespace ps {
namespace {

using test::ReadAll;
using test::Spit;

TEST(StepsFile, EveryKeyFormOffsetsAndNumbers) {
  const std::string text =
      "Температура = 0,3\r\nШагИнтен(1) = 0,01\r\nШагИнтен(3) = 0,03\r\nШагЭллип(2) = 0,02\r\nШагАзим(1) = 0,04\r\n"
      "ШагОС(2) = 0,05\r\nШагСм = 0,06\r\nШагНач = 0,07\r\nШагАзимОбщ = 0,08\r\n"
      "МетодИзмененияВесов(1) = 2\r\nМетодИзмененияВесов(2) = 3\r\nМетодИзмененияВесов(3) = 4\r\n"
      "МетодИзмененияВесов(4) = 5\r\nМетодИзмененияВесов(5) = 1\r\nКоэфa = 0,5\r\nКоэфb = 0,25\r\nКоэфc = 2\r\n"
      "КоэфИнерцииИнтен = 0,1\r\nКоэфИнерцииЭлл = 0,2\r\nКоэфИнерцииАз = 0,3\r\nКоэфИнерцииОС = 0,4\r\n";
  TrainingSettings s;
  s.Methods = {1, 1, 1, 1};
  const ReadOutcome r = ParseStepsText(text, s, ",");
  ASSERT_TRUE(r.ok) << r.message.text;
  // Single precision; ШагИн(2) and ШагАз(2) stay 0 (ШагАзимОбщ is not a ring step).
  TrainingSettings want;
  auto f = [](double v) { return static_cast<double>(static_cast<float>(v)); };
  want.Temperature = f(0.3), want.ШагИн[0] = f(0.01), want.ШагИн[2] = f(0.03), want.ШагЭл[1] = f(0.02);
  want.ШагАз[0] = f(0.04), want.ШагОС[1] = f(0.05), want.ШагСм = f(0.06), want.ШагНа = f(0.07);
  want.ШагАзимОбщ = f(0.08), want.Methods = {2, 3, 4, 5}, want.Ka = 0.5f, want.Kb = 0.25f, want.Kc = 2.0f;
  want.КоэфИнерцииИн = f(0.1), want.КоэфИнерцииЭл = f(0.2), want.КоэфИнерцииАз = f(0.3), want.КоэфИнерцииОС = f(0.4);
  EXPECT_EQ(s, want);
  // ШагОС's value sits right after "ШагОС(", ШагИн's index 9 characters after the key's start
  // whatever the four characters between; several keys on a line; the last wins; no equals sign.
  s.ШагСм = 9;
  const std::string more = "Температура = 1\nШагИнXXX(2) = 0,5  ШагОС(3)=0,25\n  Температура = 2\nШагИнтен(1) 0,75\n";
  ASSERT_TRUE(ParseStepsText(more, s, ",").ok);
  EXPECT_TRUE(s.Temperature == 2.0 && s.ШагИн[1] == 0.5 && s.ШагИн[0] == 0.75 && s.ШагОС[2] == 0.25 && s.ШагСм == 9.0);
  // Methods are 16-bit integers, halves to even; numbers single precision with either separator.
  ASSERT_TRUE(ParseStepsText("МетодИзмененияВесов(2) = 2,5\nШагСм = -0.1xyz\n", s, ",").ok);
  EXPECT_TRUE(s.Methods[1] == 2 && s.ШагСм == -0.1f);
}

NetworkParameters Sample() {
  std::mt19937 gen(9);
  NetworkParameters p = test::RandomParameters(gen, 2);
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
  ASSERT_TRUE(WriteWeightsFile(dir + "/w.txt", p, f, ","));
  const std::string bytes = ReadAll(dir + "/w.txt"), text = Cp1251ToUtf8(bytes);
  const std::string head =
      "Смещение = 0,000        'в начале установим веса\r\nКрутизна = 0,13000\r\nНачальнаяСуммаСинапсов = 0,000\r\n"
      "СуммаОС1 = 0,1235\r\nВесАзимутаОбщий = -0,0100\r\n"
      "ВесИнтен(1; 1) = 0,000 :ВесИнтен(1; 2) =0,000 : ВесИнтен(1; 3) = 0,000: ВесИнтен(1; 4) = 0,000 : "
      "ВесИнтен(1; 5) = 0,000 : ВесИнтен(1; 6) = 0,000 : ВесИнтен(1; 7) = 0,250\r\n";
  const std::string tail =
      "ВесОС(7; 1) = -1,500 :ВесОС(7; 2) =0,000 : ВесОС(7; 3) = 0,000: ВесОС(7; 4) = 0,000 : "
      "ВесОС(7; 5) = 0,000 : ВесОС(7; 6) = 0,000 : ВесОС(7; 7) = 0,000\r\n\r\nТемпература = 0,300\r\nЭнергияБ = 1234,568\r\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail);
  // 5 lines, four blocks of 7 lines and an empty one, 2 lines; CR LF only.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + 4 * 8 + 2);
  EXPECT_EQ(text.find('\n'), text.find('\r') + 1);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xD1);  // "С" in code page 1251
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary file left
}

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

TEST(LearningFiles, BadFilesAreRefusedWithTheirNameAndLineAndChangeNothing) {
  enum Kind { Text, Folder, Fifo, DevZero };
  const std::string w = WrittenWeights();
  const struct {
    bool weights;  // the weights reader, else the steps reader
    Kind kind;
    std::string bytes;
    const char* message;
  } cases[] = {
      {true, Text, "\x01\x02 no keys here at all\r\n", "не найдено ни одного коэффициента"},
      {true, Text, Utf16(w, false).substr(2), "нулевые байты"},  // UTF-16 without its mark
      {true, Text, w.substr(0, w.find("ВесЭллип(4; 1)")), "нет 126 из 200 коэффициентов"},  // cut at a line's end
      {true, Text, w.substr(0, w.find("\r\n\r\nТемпература") - 1), "не закончена"},  // cut inside the last number
      {true, Text, std::regex_replace(w, std::regex("Крутизна = [0-9,]+"), "Крутизна = 340000000000000000000000000000000000000"),
       "вне допустимых пределов"},
      {true, Text, "ВесОС(2; 2) = 1000,5\r\n", "вне допустимых пределов"}, {true, Text, "ВесИнтен(8; 1) = 1\r\n", "1..7"},
      {true, Text, "Крутизна = 0,2\r\nВесОС(1; 1) = x\r\n", "строка 2"},
      {true, Folder, "", "это папка"}, {true, Fifo, "", "не является обычным файлом"},
      {true, DevZero, "", "не является обычным файлом"},
      {true, Text, w + std::string(kLearningFileCap, ' '), "слишком велик"},
      {false, Folder, "", "это папка"}, {false, Fifo, "", "не является обычным файлом"},
      {false, Text, std::string(kLearningFileCap + 1, '\n'), "слишком велик"},
      {false, Text, "Температура = 0,3\r\nШагСм = 3000\r\n", "вне допустимых пределов"},
      {false, Text, "Температура = 0,3" + std::string(2, '\0'), "нулевые байты"},
      {false, Text, "Температура = 1\r\n' comment\r\nШагОС(4) = 0,1\r\n", "строка 3"},
      {false, Text, "ШагОС(4) = 0,1\r\n", "1..3"}, {false, Text, "ШагСм = abc\r\n", "не является числом"},
      {false, Text, "ШагИнтен(0) = 0,1\r\n", "строка 1"}, {false, Text, "ШагСм = 1-2\r\n", "строка 1"},
      {false, Text, "ШагОС() = 1\r\n", "строка 1"},
  };
  for (const auto& c : cases) {
    const std::string dir = test::TempDir("bad-file");
    const std::string name = c.weights ? kWeightsFileName : kStepsFileName, path = dir + "/" + name;
    switch (c.kind) {
      case Text: Spit(path, c.bytes); break;
      case Folder: std::filesystem::create_directory(path); break;
      case Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); break;  // nobody writes: a blocking read would hang
      case DevZero: std::filesystem::create_symlink("/dev/zero", path); break;
    }
    NetworkParameters p;
    TrainingSettings s, sBefore;
    s.Temperature = sBefore.Temperature = 0.7;
    const ReadOutcome r = c.weights ? ReadWeightsFile(path, p, ",") : ReadStepsFile(path, s, ",");
    SCOPED_TRACE(c.message + (": " + r.message.text.substr(0, 300)));
    EXPECT_FALSE(r.ok || r.missing || r.message.text.find(c.message) == std::string::npos ||
                 r.message.text.find(name) == std::string::npos);
    EXPECT_TRUE(p == NetworkParameters{} && s == sBefore);  // nothing stored
  }
}

TEST(LearningFiles, RoundTripUnderBothSeparatorsAndEveryEncoding) {
  auto written = [](double v, int digits) {  // rounded to its pattern, read in single precision
    return static_cast<double>(static_cast<float>(std::round(v * std::pow(10, digits)) / std::pow(10, digits)));
  };
  const NetworkParameters p = Sample();
  const std::string dir = test::TempDir("roundtrip");
  for (const std::string sep : {",", "."}) {
    ASSERT_TRUE(WriteWeightsFile(dir + "/w.txt", p, RunFigures{}, sep));
    NetworkParameters back;
    const ReadOutcome r = ReadWeightsFile(dir + "/w.txt", back, sep);
    ASSERT_TRUE(r.ok) << r.message.text;
    for (int t = 1; t <= 4; ++t)
      for (int a = 0; a < 7; ++a)
        for (int b = 0; b < 7; ++b) EXPECT_EQ(back.templ(t)[a][b], written(p.templ(t)[a][b], 3)) << t << a << b;
    // ВесАзимутаОбщий is read through "ВесАз", not "ВесАзим(".
    EXPECT_TRUE(back.Смещение == 0.5 && back.НачальнаяСуммаСинапсов == -1.25 && back.ВесАзимутаОбщий == double(-0.01f));
    EXPECT_EQ(back.Крутизна, written(0.1312345, 5));
    ASSERT_TRUE(WriteWeightsFile(dir + "/w2.txt", back, RunFigures{}, sep));  // written again: the same bytes
    EXPECT_EQ(ReadAll(dir + "/w.txt"), ReadAll(dir + "/w2.txt"));
    // The starter steps file reads back with a temperature and every step.
    TrainingSettings s;
    ASSERT_TRUE(ParseStepsText(StarterStepsText(sep), s, sep).ok);
    for (int g = 1; g <= 4; ++g)
      for (int k = 1; k <= 3; ++k) EXPECT_GT(s.step(g, k), 0) << g << k;
    EXPECT_TRUE(s.Temperature > 0 && s.ШагСм > 0 && s.ШагНа > 0 && s.ШагАзимОбщ > 0 && s.КоэфИнерцииЭл > 0 && s.Kb > 0);
  }
  // Code page 1251 (as written), UTF-8 with its mark and UTF-16 with its mark read alike.
  NetworkParameters wantP;
  TrainingSettings wantS;
  ASSERT_TRUE(ReadWeightsFile(dir + "/w.txt", wantP, ".").ok);
  ASSERT_TRUE(ParseStepsText(StarterStepsText(","), wantS, ",").ok);
  for (int form = 0; form < 3; ++form) {
    auto encode = [&](const std::string& t) { return form == 0 ? "\xEF\xBB\xBF" + t : Utf16(t, form == 2); };
    Spit(dir + "/w.txt", encode(FormatWeightsFile(p, RunFigures{}, ".")));
    Spit(dir + "/s.txt", encode(StarterStepsText(",")));
    NetworkParameters q;
    TrainingSettings s;
    ASSERT_TRUE(ReadWeightsFile(dir + "/w.txt", q, ".").ok && ReadStepsFile(dir + "/s.txt", s, ",").ok) << form;
    EXPECT_TRUE(q == wantP && s == wantS) << form;
  }
  // A blank file is an empty one: the start values stay. A missing file is named with its folder.
  Spit(dir + "/w.txt", " \r\n\r\n");
  NetworkParameters blank;
  blank.Крутизна = 0.5;
  EXPECT_TRUE(ReadWeightsFile(dir + "/w.txt", blank, ",").ok && blank.Крутизна == 0.5);
  const ReadOutcome missing = ReadStepsFile(dir + "/Шаги.txt", wantS, ",");
  EXPECT_TRUE(missing.missing && missing.message.text.find(kStepsFileName) != std::string::npos &&
              missing.message.text.find(dir) != std::string::npos);
}

TEST(LearningFiles, OneLongLineFullOfKeysParsesWholly) {
  // 4 MiB on one line (a parser that copies the rest of the line per key never ends); the last key wins.
  std::string line;
  int k = 0;
  while (line.size() < 4 * 1024 * 1024) line += "ШагСм = 0," + std::to_string(++k % 1000) + " Коэфb = 2 ";
  line += "ШагСм = 0,125";
  TrainingSettings s;
  const ReadOutcome r = ParseStepsText("Температура = 0,3\r\n" + line + "\r\n", s, ",");
  ASSERT_TRUE(r.ok) << r.message.text.substr(0, 300);
  EXPECT_TRUE(s.ШагСм == 0.125 && s.Kb == 2.0f);
  const ReadOutcome bad = ParseStepsText(line + " ШагСм = x\r\n", s, ",");  // named without copying the line
  EXPECT_TRUE(!bad.ok && bad.message.text.size() < 2000u);
}

TEST(Logs, ProgressAndStatisticsLines) {
  RunFigures f;
  f.Hour = 9, f.Minute = 5, f.Second = 7;
  f.EnergyA = 1.5, f.EnergyB = 12.25, f.AbsoluteSum = 3, f.Gain = -0.125;
  f.Iteration = 17, f.Selector = 3, f.Ring = 2, f.Methods = {1, 2, 3, 5}, f.MeanRelativeError = 0.01234;
  EXPECT_EQ(FormatProgressLine(f, ","),
            "9:05:07  Энер.= 1,500 + 12,250 + 3,000  Изм.Эн.= -0,125;  Итер-я= 17;  № 3(2) М=1,2,3,5  Погр.= 0,0123\r\n");

  TrainingCounters c;
  c.AcceptCount[0][1] = 12, c.DrawCount[0][1][0] = 30, c.DrawCount[0][1][1] = 70, c.AcceptCount[7][2] = 4;
  const std::string stats = FormatStatisticsFile(c, 600);
  EXPECT_EQ(stats.rfind("за 600 секунд прошли изменения\r\n"
                        "Интенсивности(1) = 0 при вероятности изменений:неизм-й = 0:0\r\n"
                        "Интенсивности(2) = 12 при вероятности изменений:неизм-й = 30:70\r\n", 0), 0u);
  EXPECT_NE(stats.find("\r\nОбщего Веса Азимута(3) = 4 при вероятности"), std::string::npos);
  EXPECT_EQ(std::count(stats.begin(), stats.end(), '\n'), 25);
}

TEST(TextEncoding, Cp1251BothWaysAndUtf8Recognised) {
  const std::string all = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё№ 0,5";
  const std::string bytes = Utf8ToCp1251(all);
  EXPECT_TRUE(bytes.size() == 71u && static_cast<unsigned char>(bytes[0]) == 0xC0 && static_cast<unsigned char>(bytes[63]) == 0xFF);
  EXPECT_TRUE(Cp1251ToUtf8(bytes) == all && DecodeLearningText(bytes) == all && DecodeLearningText(all) == all);
  EXPECT_EQ(Utf8ToCp1251("漢"), "?");
}

TEST(DataFolder, EnvironmentThenHome) {
  const char* saved = std::getenv("POLARSPHERE_DATA_DIR");
  const std::string keep = saved ? saved : "", home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("POLARSPHERE_DATA_DIR", "/tmp/somewhere", 1);
  EXPECT_EQ(DataFolder(), "/tmp/somewhere");
  setenv("POLARSPHERE_DATA_DIR", "", 1);
  EXPECT_EQ(DataFolder(), (home.empty() ? "." : home) + "/polarsphere");
  if (saved) setenv("POLARSPHERE_DATA_DIR", keep.c_str(), 1); else unsetenv("POLARSPHERE_DATA_DIR");
  EXPECT_TRUE(LearningFiles("/d").weights == "/d/Весовые коэффициенты.txt" &&
              LearningFiles("/d").statisticsLog == "/d/Временное изменение2.txt");
}

// ---- The training ----

TEST(Acceptance, RulesSevenMinutesAndRings) {
  // Energy B of the last accepted state (0: none yet), gain, minute now, minute of the last acceptance.
  const struct { double ebOld, gain; int now, last; bool accepted; } cases[] = {
      {0, -100, 10, 10, true},  {5, 0.001, 10, 10, true}, {5, 0, 12, 10, false},  // equal energies not at once...
      {5, 0, 18, 10, true},                                                         // ...but after more than 7 minutes
      {5, -1, 17, 10, false},   {5, -1.99, 18, 10, true}, {5, -2, 18, 10, false},
      {5, -1, ClockReading{1, 0, 5, 0}.minutes(), ClockReading{31, 23, 58, 0}.minutes(), false},  // a new month
  };
  for (const auto& c : cases) EXPECT_EQ(AcceptState(c.ebOld, c.gain, c.now, c.last), c.accepted) << c.gain << " " << c.now;
  EXPECT_TRUE(EnergyGain(10, 20, 8, 25, 1, 1) == -3.0 && EnergyGain(10, 20, 8, 25, 0.5, 0) == 1.0);
  int count[4] = {};
  for (int a = 1; a <= 7; ++a)
    for (int b = 1; b <= 7; ++b) ++count[RingOf(a, b)];
  EXPECT_TRUE(count[1] == 9 && count[2] == 16 && count[3] == 24);
  EXPECT_TRUE(RingOf(4, 4) == 1 && RingOf(2, 5) == 2 && RingOf(7, 3) == 3);
}

TEST(ChangeMethods, EachMethodMovesTheElementAsSetOut) {
  // Element (a; b) from `before` to `after`, and the draws it takes. Diagonal
  // neighbours of (4; 4) are 1, 1, 1, 5: sum/8 = 1, min 1, max 5.
  const struct { int group, method, a, b, ring; double step, inertia; int m; double before, after; unsigned draws; } cases[] = {
      {1, 1, 1, 3, 3, 0.25, 0, 0, 0, 0.25, 0},     // intensity, a = 1, b = 1..4: always up, no draw
      {1, 1, 1, 5, 3, 0.25, 0, 0, 0, -0.25, 1},    // b = 5 draws
      {3, 1, 4, 4, 1, 0.1, 0.5, -1, 0, -0.1, 1},   // full inertia beats the draw
      {1, 2, 4, 4, 1, 0.5, 0, 0, 0, 0, 1},         // zero cannot be scaled
      {1, 2, 4, 4, 1, 0.5, 0.5, 1, 2, 3, 1},       // +1 with full inertia
      {1, 3, 4, 4, 1, 0.1, 0, 0, 1.2, 1.2, 0},     // within min..max, |1 - 1.2| <= 1/2: unchanged, no draw
      {1, 3, 4, 4, 1, 0.1, 0, 0, 4, 3.9, 0},       // e = 1 - 4: one step down
      {1, 3, 4, 4, 1, 0.1, 0, 0, 7, 7, 1},         // outside min..max: e = r2 - 0.5 rounds to 0
      {1, 5, 1, 1, 3, 0.1, 0, 0, 0.25, 0.15, 0},   // towards zero
      {1, 5, 1, 2, 3, 0.1, 0, 0, -0.25, -0.15, 0},
      {1, 5, 1, 3, 3, 0.1, 0, 0, 0, 0, 0},
      {1, 9, 1, 1, 3, 0.1, 0, 0, 0.15, 0.15, 0},   // an unknown method does nothing
  };
  for (const auto& c : cases) {
    Template7 w{};
    w[2][2] = 1, w[2][4] = 1, w[4][2] = 1, w[4][4] = 5;
    w[c.a - 1][c.b - 1] = c.before;
    UniformRandom r(1);  // its first draw is below one half: down
    MoveElement(w, c.group, c.method, c.a, c.b, c.ring, c.step, c.inertia, c.m, r);
    EXPECT_NEAR(w[c.a - 1][c.b - 1], c.after, 1e-15) << c.method << " " << c.before;
    EXPECT_EQ(r.draws(), c.draws) << c.method << " " << c.before;
  }
  // Ring 3 with full inertia: e = 0.5 + (r2 - 0.5) = r2, rounds to 1 above one half.
  Template7 z{};
  UniformRandom q(4), qc(4);
  MoveElement(z, 1, 3, 1, 1, 3, 0.1, 0.5, 1, q);
  EXPECT_EQ(z[0][0], qc.next() > 0.5 ? 0.1 : 0.0);
  // Method 4 moves the diagonal neighbours by half a step; a corner has one.
  Template7 w{}, c{};
  MoveElement(w, 4, 4, 4, 4, 1, 0.2, 0.5, 1, q);
  EXPECT_TRUE(w[3][3] == 0.2 && w[2][2] == 0.1 && w[4][4] == 0.1 && w[2][4] == 0.1 && w[4][2] == 0.1 && w[3][2] == 0.0);
  MoveElement(c, 4, 4, 1, 7, 3, 0.2, 0.5, -1, q);
  double total = 0;
  for (auto& row : c) total = std::accumulate(row.begin(), row.end(), total);
  EXPECT_TRUE(c[0][6] == -0.2 && c[1][5] == -0.1 && total == -0.2 - 0.1);
}

TrainingSettings Settings(double temperature) {
  TrainingSettings s;
  s.Temperature = temperature;
  for (int k = 0; k < 3; ++k) s.ШагИн[k] = s.ШагЭл[k] = s.ШагАз[k] = s.ШагОС[k] = s.ШагСм = s.ШагНа = s.ШагАзимОбщ = 0.1;
  s.Methods = {1, 1, 1, 1}, s.Ka = s.Kb = 1;
  return s;
}

TEST(IterationSteps, DrawsUndoScalarsAndChangeMemory) {
  NetworkParameters p;
  SavedParameters saved;
  ChangeMemoryPlanes memory{};
  TrainingCounters c;
  UniformRandom r(7);
  // Feedback template, weights 0, high temperature: every element of ring 3 changes.
  ApplyTemplateChanges(p, saved, Settings(100), memory, 7, 3, r, c);
  EXPECT_TRUE(c.DrawCount[3][2][0] == 24 && c.DrawCount[3][2][1] == 0);
  int moved = 0;
  for (auto& row : p.ВесОС) moved += static_cast<int>(std::count_if(row.begin(), row.end(), [](double v) { return v != 0; }));
  EXPECT_EQ(moved, 24);
  // Ellipticity template, ring 2: a tiny temperature with weights away from 0 refuses every element.
  for (auto& row : p.ВесЭллип) row.fill(1);
  ApplyTemplateChanges(p, saved, Settings(1e-3), memory, 3, 2, r, c);
  EXPECT_TRUE(c.DrawCount[1][1][0] == 0 && c.DrawCount[1][1][1] == 16);
  const TrainingCounters before = c;
  ApplyTemplateChanges(p, saved, Settings(1), memory, 12, 1, r, c);  // a scalar selector
  EXPECT_EQ(c, before);

  // Undo restores everything a method 4 change moved, neighbours too.
  TrainingSettings s = Settings(100);
  s.Methods = {4, 4, 4, 4};
  const NetworkParameters original = p;
  ApplyTemplateChanges(p, saved, s, memory, 1, 2, r, c);
  ASSERT_NE(p.ВесИнтен, original.ВесИнтен);
  UndoChange(p, saved, 1);
  EXPECT_EQ(p, original);
  // Scalars: the steepness moves by a factor, the overall azimuth weight by its step.
  UniformRandom q(9), copy(9);
  ApplyScalarChange(p, saved, s, 11, q);
  EXPECT_EQ(p.Крутизна, 0.13 * (1 + (copy.next() > 0.5 ? 1 : -1) * 0.0005));
  UndoChange(p, saved, 12);  // the steepness's scalar group
  EXPECT_EQ(p.Крутизна, 0.13);
  ApplyScalarChange(p, saved, s, 15, q);
  EXPECT_NEAR(std::fabs(p.ВесАзимутаОбщий + 0.01), 0.1, 1e-12);
  ApplyScalarChange(p, saved, s, 3, q);  // a template selector: no scalar draw
  EXPECT_EQ(q.draws(), 2u);

  // Change memory: acceptance 1 (count 0) clears plane 3, then adds the change to planes 1, 2.
  p = NetworkParameters{}, saved = SavedParameters{}, c = TrainingCounters{}, memory = {};
  memory[0][0][0][2] = 5;  // left over from an earlier run
  p.ВесИнтен[0][0] = 0.5;
  RecordAcceptance(p, saved, 1, 3, memory, c);
  EXPECT_TRUE(memory[0][0][0] == (std::array<double, 3>{0.5, 0.5, 0.0}) && c.AcceptCount[0][2] == 1);
  saved.templates[0] = p.ВесИнтен;  // nine with no change, then the eleventh shifts plane 2 into plane 3
  for (int k = 0; k < 9; ++k) RecordAcceptance(p, saved, 2, 1, memory, c);
  EXPECT_EQ(memory[0][0][0][2], 0.0);
  p.ВесИнтен[0][0] = 0.25;
  RecordAcceptance(p, saved, 1, 1, memory, c);
  RecordAcceptance(p, saved, 10, 3, memory, c);  // scalar groups count under ring 1
  EXPECT_TRUE(memory[0][0][0] == (std::array<double, 3>{0.25, -0.25, 0.5}) && c.AcceptCount[4][0] == 1);
}

// ---- Whole runs ----

// A fake clock: every reading advances by `step` seconds from the start.
struct FakeClock {
  long long t, step;
  ClockReading operator()() {
    t += step;
    const int now = static_cast<int>(t - step);
    return ClockReading{1 + now / 86400, now / 3600 % 24, now / 60 % 60, now % 60};
  }
};

// A data folder with the starter steps file (plus `extraSteps`), and a run of `limit` acceptances.
struct Folder {
  LearningPaths files = LearningFiles(test::TempDir("run"));
  AppState state = test::RandomProcessedState(40, 40, 20, 20, 12, 3);
  TrainingOptions options;
  TrainingSession session{42};
  explicit Folder(long long limit, const std::string& extraSteps = "") {
    steps(StarterStepsText(",") + extraSteps);
    options.files = files;
    options.acceptedLimit = limit;
    options.clock = FakeClock{3600, 1};  // 01:00:00 onwards, a second per reading
  }
  void steps(const std::string& utf8) const { test::Spit(files.steps, Utf8ToCp1251(utf8)); }
  TrainingResult run() { return RunTraining(state, session, options); }
  std::string weights() const { return Cp1251ToUtf8(ReadAll(files.weights)); }
  std::string log() const { return Cp1251ToUtf8(ReadAll(files.progressLog)); }
  bool holdsLastState(const TrainingResult& r) const {
    return weights().find("ЭнергияБ = " + FormatNumber(r.energyBOld, "#####0.000", ",")) != std::string::npos;
  }
};

TEST(TrainingRun, RunsToTheLimitThroughEveryRingAndIsReproducible) {
  Folder f(60);
  const TrainingResult r = f.run();
  ASSERT_TRUE(r.started) << r.message.text;
  const std::string log = f.log();
  EXPECT_TRUE(r.accepted == 60 && std::count(log.begin(), log.end(), '\n') == 60);  // the limit, met exactly
  EXPECT_EQ(log.rfind("1:00:01  Энер.= 0,000 + ", 0), 0u) << log.substr(0, 80);  // first: start values, EA = 0
  EXPECT_NE(log.find(";  Итер-я= 1;  № 1(1) М=1,1,1,1"), std::string::npos);
  // The ring moves on after selector 16: 1, 2, 3, then 1 again.
  std::string rings;
  const std::regex ring("№ \\d+\\((\\d)\\)");
  for (auto m = std::sregex_iterator(log.begin(), log.end(), ring); m != std::sregex_iterator(); ++m)
    if (rings.empty() || rings.back() != (*m)[1].str()[0]) rings += (*m)[1].str();
  EXPECT_EQ(rings.substr(0, 4), "1231") << rings;
  EXPECT_EQ(r.message.text.rfind("ЭнергияСтараяА+Б=", 0), 0u);
  EXPECT_EQ(ClosingMessageText(1.5, 2, 0.25, 3, 0.3, ","), "ЭнергияСтараяА+Б=3,5     ЭнергияА+Б=3,25     Температура=0,3");
  EXPECT_EQ(DefaultDoubleText(1.0 / 3, "."), "0.333333333333333");
  EXPECT_TRUE(f.holdsLastState(r));

  // Same seed, same files: the same result, whatever the threads (0 switches between one and two).
  for (int threads = 0; threads <= 2; ++threads) {
    Folder g(60);
    g.options.threads = threads;
    ASSERT_TRUE(g.run().started);
    EXPECT_EQ(g.weights(), f.weights()) << threads;
  }
  // The next run starts from the weights file the last one wrote.
  NetworkParameters last, first;
  ASSERT_TRUE(ReadWeightsFile(f.files.weights, last, ",").ok);
  f.options.acceptedLimit = 1;
  f.session = TrainingSession(43);
  f.run();
  ASSERT_TRUE(ReadWeightsFile(f.files.weights, first, ",").ok);
  EXPECT_EQ(first, last);
}

TEST(TrainingRun, SevenMinuteRuleAcceptsSmallLossesAfterAQuietSpell) {
  Folder f(3, "Коэфa = 0\r\nКоэфb = 0\r\n");  // every gain is exactly 0
  f.options.clock = FakeClock{3600, 120};       // two minutes per reading
  const TrainingResult r = f.run();  // after the first, each acceptance needs 4 readings (8 minutes)
  EXPECT_TRUE(r.accepted == 3 && r.evaluations == 1 + 4 + 4) << r.accepted << " " << r.evaluations;
}

TEST(TrainingRun, TenMinuteMarkRereadsStepsAndWritesStatistics) {
  Folder f(30);
  f.options.clock = FakeClock{3600 + 9 * 60 + 50, 1};  // 01:09:50: the mark comes after ten readings
  int calls = 0;
  f.options.onProgress = [&](const TrainingSnapshot&) {
    if (++calls == 3) f.steps("Температура = 0,125\r\n");  // the user edits the file
  };
  ASSERT_TRUE(f.run().started);
  EXPECT_EQ(f.session.Settings.Temperature, 0.125);
  EXPECT_NE(f.weights().find("Температура = 0,125"), std::string::npos);
  EXPECT_EQ(Cp1251ToUtf8(ReadAll(f.files.statisticsLog)).rfind("за ", 0), 0u);
}

TEST(TrainingRun, CancelKeepsTheLastAcceptedState) {
  Folder f(1000);
  std::atomic<bool> cancel{false};
  f.options.progress.cancel = &cancel;
  long long reportedTotal = 0;
  f.options.progress.report = [&](long long done, long long total) {
    reportedTotal = total;
    if (done == 5) cancel = true;
  };
  const TrainingResult r = f.run();
  const std::string log = f.log();
  EXPECT_TRUE(r.cancelled && r.accepted == 5 && reportedTotal == 1000 && std::count(log.begin(), log.end(), '\n') == 5);
  EXPECT_TRUE(f.holdsLastState(r));
}

TEST(TrainingRun, BadInputStartsNothingAndWritesNothing) {
  // The steps file (the fixture's when null, none when empty), the weights file, the circle, the refusal.
  const struct { const char* steps; const char* weights; SphereCircle circle; const char* message; } cases[] = {
      {"", nullptr, {20, 20, 12}, "Шаги.txt"},
      {"ШагСм = 0,1\r\n", nullptr, {20, 20, 12}, "температура"},
      {nullptr, nullptr, {20, 20, 0}, ""},
      {nullptr, nullptr, {15, 20, 12}, ""},  // 15 - 12 - 4 < 1
      {nullptr, "Крутизна = x\r\n", {20, 20, 12}, "строка 1"},
  };
  for (const auto& c : cases) {
    Folder f(40);
    if (c.steps && *c.steps) f.steps(c.steps);
    else if (c.steps) std::filesystem::remove(f.files.steps);
    if (c.weights) test::Spit(f.files.weights, c.weights);
    f.state.Circle = c.circle;
    const TrainingResult r = f.run();
    EXPECT_FALSE(r.started || std::filesystem::exists(f.files.progressLog)) << c.message;
    EXPECT_NE(r.message.text.find(c.message), std::string::npos) << r.message.text;
    EXPECT_EQ(ReadAll(f.files.weights), c.weights ? c.weights : "") << c.message;
  }
}

TEST(TrainingRun, ALogThatCannotBeWrittenStopsTheRun) {
  Folder f(40);
  std::filesystem::create_directories(f.files.progressLog);  // a folder where the log should be
  const TrainingResult r = f.run();
  EXPECT_TRUE(r.started && r.accepted < 40 && r.message.icon == MessageIcon::Critical);
  EXPECT_NE(r.message.text.find("Не удаётся дописать файл"), std::string::npos) << r.message.text;
}

TEST(TrainingRun, OverflowingSteepnessNeverWritesNaN) {
  Folder f(10);
  NetworkParameters steep;
  steep.Крутизна = kSteepnessLimit;  // the steepest a weights file may hold
  steep.Смещение = -5;
  test::Spit(f.files.weights, Utf8ToCp1251(FormatWeightsFile(steep, RunFigures{}, ",")));
  ASSERT_TRUE(f.run().started);
  EXPECT_TRUE(f.weights().find("NaN") == std::string::npos && f.weights().find("Inf") == std::string::npos);
}

}  // namespace
}  // namespace ps
