#include "learning/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "learning/text_encoding.h"
#include "state/number_format.h"

namespace ps {

namespace fs = std::filesystem;

// ---- Data folder ------------------------------------------------------------

std::string DataFolder() {
  const char* env = std::getenv("POLARSPHERE_DATA_DIR");
  if (env && *env) return env;
  const char* home = std::getenv("HOME");
  return (fs::path(home && *home ? home : ".") / "polarsphere").string();
}

LearningPaths LearningFiles(const std::string& folder) {
  const fs::path f(folder);
  LearningPaths p;
  p.folder = folder;
  p.steps = (f / kStepsFileName).string();
  p.weights = (f / kWeightsFileName).string();
  p.progressLog = (f / kProgressLogName).string();
  p.statisticsLog = (f / kStatisticsLogName).string();
  return p;
}

double TrainingSettings::step(int group, int ring) const {
  switch (group) {
    case 1: return ШагИн[ring - 1];
    case 2: return ШагЭл[ring - 1];
    case 3: return ШагАз[ring - 1];
    case 4: return ШагОС[ring - 1];
  }
  return 0;
}

double TrainingSettings::inertia(int group) const {
  switch (group) {
    case 1: return КоэфИнерцииИн;
    case 2: return КоэфИнерцииЭл;
    case 3: return КоэфИнерцииАз;
    case 4: return КоэфИнерцииОС;
  }
  return 0;
}

// ---- Parsers ------------------------------------------------------------------

namespace {

bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

std::u32string TrimFront(const std::u32string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

// Drops one leading `c` and the blanks after it.
std::u32string DropMark(const std::u32string& s, char32_t c) {
  if (!s.empty() && s[0] == c) return TrimFront(s.substr(1));
  return s;
}

// Leading run of digits; empty when the text does not begin with a digit.
std::u32string DigitRun(const std::u32string& s, size_t* end) {
  size_t i = 0;
  while (i < s.size() && IsDigit(s[i])) ++i;
  *end = i;
  return s.substr(0, i);
}

// A digit run as an index; runs too long for any index give -1.
int IndexOf(const std::u32string& digits) {
  if (digits.size() > 6) return -1;
  int v = 0;
  for (char32_t c : digits) v = v * 10 + static_cast<int>(c - U'0');
  return v;
}

}  // namespace

std::optional<std::u32string> ParseNumberText(const std::u32string& text) {
  std::u32string s = DropMark(TrimFront(text), U'=');
  size_t i = 0;
  while (i < s.size() && (IsDigit(s[i]) || s[i] == U',' || s[i] == U'.' || s[i] == U'-')) ++i;
  if (i == 0) return std::nullopt;
  return s.substr(0, i);
}

std::optional<IndexedText> ParseIndexedValue(const std::u32string& text) {
  size_t end;
  const std::u32string digits = DigitRun(text, &end);
  if (digits.empty()) return std::nullopt;
  std::u32string rest = TrimFront(text.substr(end));
  rest = DropMark(rest, U')');
  rest = DropMark(rest, U'=');
  auto number = ParseNumberText(rest);
  if (!number) return std::nullopt;
  return IndexedText{IndexOf(digits), *number};
}

std::optional<CellText> ParseCellValue(const std::u32string& text) {
  size_t end;
  const std::u32string r = DigitRun(text, &end);
  if (r.empty()) return std::nullopt;
  std::u32string rest = TrimFront(text.substr(end));
  if (!rest.empty() && (rest[0] == U',' || rest[0] == U';')) rest = TrimFront(rest.substr(1));
  const std::u32string c = DigitRun(rest, &end);
  if (c.empty()) return std::nullopt;
  rest = TrimFront(rest.substr(end));
  rest = DropMark(rest, U')');
  rest = DropMark(rest, U'=');
  auto number = ParseNumberText(rest);
  if (!number) return std::nullopt;
  return CellText{IndexOf(r), IndexOf(c), *number};
}

std::optional<float> NumberTextToSingle(const std::u32string& text, const std::string& /*decimalSeparator*/) {
  // Either separator is taken as the decimal point: a file written with the
  // other setting still reads to the same values. At most one separator, a
  // minus sign only in front, at least one digit.
  std::string ascii;
  int separators = 0, digits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (IsDigit(c)) {
      ascii += static_cast<char>(c);
      ++digits;
    } else if (c == U',' || c == U'.') {
      ascii += '.';
      ++separators;
    } else if (c == U'-' && i == 0) {
      ascii += '-';
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || separators > 1) return std::nullopt;
  errno = 0;
  char* endp = nullptr;
  const float v = std::strtof(ascii.c_str(), &endp);
  if (endp != ascii.c_str() + ascii.size() || errno == ERANGE || !std::isfinite(v)) {
    // Underflow to a tiny value is still a number; overflow is not.
    if (!(errno == ERANGE && std::isfinite(v) && std::fabs(v) < 1)) return std::nullopt;
  }
  return v;
}

// ---- Key scanning ---------------------------------------------------------

namespace {

// One text line being scanned, for messages.
struct LineContext {
  const std::string& fileLabel;
  int number;
  const std::u32string& line;
};

Message LineMessage(const LineContext& ctx, const std::string& what) {
  return Message{"Ошибка в файле " + ctx.fileLabel + ", строка " + std::to_string(ctx.number) + ":" + kCrLf + "\"" +
                     Utf32ToUtf8(ctx.line) + "\"" + kCrLf + what,
                 "Ошибка в файле обучения", MessageIcon::Exclamation};
}

// The value text at i + offset, leading blanks removed.
std::u32string ValueAt(const std::u32string& line, size_t i, size_t offset) {
  if (i + offset >= line.size()) return {};
  return TrimFront(line.substr(i + offset));
}

bool MatchAt(const std::u32string& line, size_t i, const std::u32string& key) {
  return line.compare(i, key.size(), key) == 0 && i + key.size() <= line.size();
}

// A key handler: parses the value text and stores it, or returns an error text.
using KeyHandler = std::function<std::optional<std::string>(const std::u32string& line, size_t i)>;
struct KeyRule {
  std::u32string prefix;  // five characters
  KeyHandler handler;
};

// Splits UTF-8 text into lines (CR LF, LF or CR), scans each for the keys and
// calls their handlers in order of position.
std::optional<Message> ScanText(const std::string& utf8, const std::string& fileLabel,
                                const std::vector<KeyRule>& rules) {
  const std::u32string text = Utf8ToUtf32(utf8);
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != U'\n' && text[end] != U'\r') ++end;
    std::u32string line = TrimFront(text.substr(pos, end - pos));
    ++number;
    if (end < text.size() && text[end] == U'\r' && end + 1 < text.size() && text[end + 1] == U'\n') ++end;
    pos = end + 1;
    const LineContext ctx{fileLabel, number, line};
    // Positions 1 .. length - 1 (1-based), as the five characters are compared.
    for (size_t i = 0; i + 1 < line.size(); ++i) {
      for (const KeyRule& rule : rules) {
        if (!MatchAt(line, i, rule.prefix)) continue;
        if (auto error = rule.handler(line, i)) return LineMessage(ctx, *error);
      }
    }
  }
  return std::nullopt;
}

const std::string kNotANumber = "значение не является числом";

// Handlers common to both files.
KeyHandler NumberInto(size_t offset, const std::string& sep, std::function<void(float)> store) {
  return [=](const std::u32string& line, size_t i) -> std::optional<std::string> {
    auto text = ParseNumberText(ValueAt(line, i, offset));
    if (!text) return kNotANumber;
    auto v = NumberTextToSingle(*text, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(*text) + "\")";
    store(*v);
    return std::nullopt;
  };
}

KeyHandler IndexedInto(size_t offset, const std::string& sep, std::array<double, 3>& target) {
  return [=, &target](const std::u32string& line, size_t i) -> std::optional<std::string> {
    const std::u32string value = ValueAt(line, i, offset);
    if (value.empty() || !IsDigit(value[0])) return "нет номера кольца (1..3) в скобках";
    auto parsed = ParseIndexedValue(value);
    if (!parsed) return kNotANumber;
    if (parsed->index < 1 || parsed->index > 3)
      return "номер кольца " + Utf32ToUtf8(value.substr(0, value.find_first_not_of(U"0123456789"))) +
             " вне пределов 1..3";
    auto v = NumberTextToSingle(parsed->number, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(parsed->number) + "\")";
    target[parsed->index - 1] = *v;
    return std::nullopt;
  };
}

KeyHandler CellInto(size_t offset, const std::string& sep, Template7& target) {
  return [=, &target](const std::u32string& line, size_t i) -> std::optional<std::string> {
    const std::u32string value = ValueAt(line, i, offset);
    if (value.empty() || !IsDigit(value[0])) return "нет номера элемента (1..7; 1..7) в скобках";
    auto parsed = ParseCellValue(value);
    if (!parsed) return "нет второго номера элемента или значение не является числом";
    if (parsed->row < 1 || parsed->row > 7 || parsed->column < 1 || parsed->column > 7)
      return "номер элемента (" + std::to_string(parsed->row) + "; " + std::to_string(parsed->column) +
             ") вне пределов 1..7";
    auto v = NumberTextToSingle(parsed->number, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(parsed->number) + "\")";
    target[parsed->row - 1][parsed->column - 1] = *v;
    return std::nullopt;
  };
}

ReadOutcome FromMessage(std::optional<Message> m) {
  ReadOutcome r;
  if (m) {
    r.ok = false;
    r.message = std::move(*m);
  }
  return r;
}

std::string FileLabel(const std::string& path) { return fs::path(path).filename().string(); }

// Reads a whole file; returns false when it does not exist or cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes, bool* missing) {
  std::error_code ec;
  *missing = !fs::exists(path, ec);
  if (*missing) return false;
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  *bytes = ss.str();
  return !f.bad();
}

}  // namespace

ReadOutcome ParseStepsText(const std::string& utf8, TrainingSettings& settings, const std::string& sep,
                           const std::string& fileLabel) {
  TrainingSettings s = settings;  // stored only when the whole file reads
  std::vector<KeyRule> rules;
  rules.push_back({U"ШагИн", IndexedInto(9, sep, s.ШагИн)});
  rules.push_back({U"ШагЭл", IndexedInto(9, sep, s.ШагЭл)});
  {
    const KeyHandler overall = NumberInto(10, sep, [&s](float v) { s.ШагАзимОбщ = v; });
    const KeyHandler perRing = IndexedInto(8, sep, s.ШагАз);
    rules.push_back({U"ШагАз", [=](const std::u32string& line, size_t i) {
                       return MatchAt(line, i, U"ШагАзимОбщ") ? overall(line, i) : perRing(line, i);
                     }});
  }
  rules.push_back({U"ШагОС", IndexedInto(6, sep, s.ШагОС)});
  rules.push_back({U"ШагСм", NumberInto(6, sep, [&s](float v) { s.ШагСм = v; })});
  rules.push_back({U"ШагНа", NumberInto(7, sep, [&s](float v) { s.ШагНа = v; })});
  rules.push_back({U"Темпе", NumberInto(12, sep, [&s](float v) { s.Temperature = v; })});
  rules.push_back({U"Метод", [&s, sep](const std::u32string& line, size_t i) -> std::optional<std::string> {
                     for (int k = 1; k <= 4; ++k) {
                       const std::u32string key = U"МетодИзмененияВесов(" + std::u32string(1, U'0' + k);
                       if (!MatchAt(line, i, key)) continue;
                       std::optional<std::string> error;
                       auto store = NumberInto(23, sep, [&](float v) {
                         const double r = std::nearbyint(static_cast<double>(v));  // halves to even
                         if (r < -32768 || r > 32767) {
                           error = "номер метода вне пределов целого числа";
                         } else {
                           s.Methods[k - 1] = static_cast<int16_t>(r);
                         }
                       });
                       if (auto e = store(line, i)) return e;
                       return error;
                     }
                     return std::nullopt;
                   }});
  rules.push_back({U"Коэфa", NumberInto(6, sep, [&s](float v) { s.Ka = v; })});
  rules.push_back({U"Коэфb", NumberInto(6, sep, [&s](float v) { s.Kb = v; })});
  rules.push_back({U"Коэфc", NumberInto(6, sep, [&s](float v) { s.Kc = v; })});
  {
    const KeyHandler in = NumberInto(17, sep, [&s](float v) { s.КоэфИнерцииИн = v; });
    const KeyHandler el = NumberInto(17, sep, [&s](float v) { s.КоэфИнерцииЭл = v; });
    const KeyHandler az = NumberInto(16, sep, [&s](float v) { s.КоэфИнерцииАз = v; });
    const KeyHandler os = NumberInto(14, sep, [&s](float v) { s.КоэфИнерцииОС = v; });
    rules.push_back({U"КоэфИ", [=](const std::u32string& line, size_t i) -> std::optional<std::string> {
                       if (MatchAt(line, i, U"КоэфИнерцииИн")) return in(line, i);
                       if (MatchAt(line, i, U"КоэфИнерцииЭл")) return el(line, i);
                       if (MatchAt(line, i, U"КоэфИнерцииАз")) return az(line, i);
                       if (MatchAt(line, i, U"КоэфИнерцииОС")) return os(line, i);
                       return std::nullopt;
                     }});
  }
  ReadOutcome r = FromMessage(ScanText(utf8, fileLabel, rules));
  if (r.ok) settings = s;
  return r;
}

ReadOutcome ParseWeightsText(const std::string& utf8, NetworkParameters& parameters, const std::string& sep,
                             const std::string& fileLabel) {
  NetworkParameters p = parameters;
  std::vector<KeyRule> rules;
  rules.push_back({U"Смеще", NumberInto(8, sep, [&p](float v) { p.Смещение = v; })});
  rules.push_back({U"Крути", NumberInto(8, sep, [&p](float v) { p.Крутизна = v; })});
  rules.push_back({U"Начал", NumberInto(22, sep, [&p](float v) { p.НачальнаяСуммаСинапсов = v; })});
  rules.push_back({U"ВесИн", CellInto(9, sep, p.ВесИнтен)});
  rules.push_back({U"ВесЭл", CellInto(9, sep, p.ВесЭллип)});
  {
    const KeyHandler cell = CellInto(8, sep, p.ВесАзим);
    const KeyHandler overall = NumberInto(15, sep, [&p](float v) { p.ВесАзимутаОбщий = v; });
    rules.push_back({U"ВесАз", [=](const std::u32string& line, size_t i) {
                       return MatchAt(line, i, U"ВесАзим(") ? cell(line, i) : overall(line, i);
                     }});
  }
  rules.push_back({U"ВесОС", CellInto(6, sep, p.ВесОС)});
  ReadOutcome r = FromMessage(ScanText(utf8, fileLabel, rules));
  if (r.ok) parameters = p;
  return r;
}

ReadOutcome ReadStepsFile(const std::string& path, TrainingSettings& settings, const std::string& sep) {
  std::string bytes;
  bool missing = false;
  if (!ReadBytes(path, &bytes, &missing)) {
    ReadOutcome r;
    r.ok = false;
    r.missing = missing;
    const std::string folder = fs::path(path).parent_path().string();
    if (missing) {
      r.message = Message{"Не найден файл шагов обучения " + FileLabel(path) + kCrLf + "в папке " + folder + "." +
                              kCrLf + "Создайте его командой  polarsphere-cli init-data \"" + folder + "\"" + kCrLf +
                              "или любым текстовым редактором: в нём задаются Температура, шаги," + kCrLf +
                              "методы изменения весов и коэффициенты обучения.",
                          "Нет файла шагов", MessageIcon::Exclamation};
    } else {
      r.message = Message{"Не удаётся прочитать файл " + path, "Ошибка чтения", MessageIcon::Exclamation};
    }
    return r;
  }
  return ParseStepsText(DecodeLearningText(bytes), settings, sep, FileLabel(path));
}

ReadOutcome ReadWeightsFile(const std::string& path, NetworkParameters& parameters, const std::string& sep) {
  std::string bytes;
  bool missing = false;
  if (!ReadBytes(path, &bytes, &missing)) {
    ReadOutcome r;
    r.ok = false;
    r.missing = missing;
    r.message = missing ? Message{"Не найден файл весовых коэффициентов " + FileLabel(path) + kCrLf + "в папке " +
                                      fs::path(path).parent_path().string() + ".",
                                  "Нет файла весов", MessageIcon::Exclamation}
                        : Message{"Не удаётся прочитать файл " + path, "Ошибка чтения", MessageIcon::Exclamation};
    return r;
  }
  return ParseWeightsText(DecodeLearningText(bytes), parameters, sep, FileLabel(path));
}

// ---- Formats ------------------------------------------------------------------

namespace {

std::string F(double v, const char* pattern, const std::string& sep) { return FormatNumber(v, pattern, sep); }

std::string Two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

std::string FormatWeightsFile(const NetworkParameters& p, const RunFigures& f, const std::string& sep) {
  std::string out;
  const std::string nl = kCrLf;
  out += "Смещение = " + F(p.Смещение, "###0.000", sep) + "        'в начале установим веса" + nl;
  out += "Крутизна = " + F(p.Крутизна, "###0.00000", sep) + nl;
  out += "НачальнаяСуммаСинапсов = " + F(p.НачальнаяСуммаСинапсов, "###0.000", sep) + nl;
  out += "СуммаОС1 = " + F(f.FeedbackMean, "####0.0000", sep) + nl;
  out += "ВесАзимутаОбщий = " + F(p.ВесАзимутаОбщий, "###0.0000", sep) + nl;
  const std::pair<const char*, const Template7*> blocks[4] = {
      {"ВесИнтен", &p.ВесИнтен}, {"ВесЭллип", &p.ВесЭллип}, {"ВесАзим", &p.ВесАзим}, {"ВесОС", &p.ВесОС}};
  // Separators before the labels of columns 2..7, blanks exactly as the files carry them.
  static const char* kBefore[7] = {"", " :", " : ", ": ", " : ", " : ", " : "};
  static const char* kAfter[7] = {" = ", " =", " = ", " = ", " = ", " = ", " = "};
  for (const auto& [name, t] : blocks) {
    for (int r = 1; r <= 7; ++r) {
      for (int c = 1; c <= 7; ++c) {
        out += std::string(kBefore[c - 1]) + name + "(" + std::to_string(r) + "; " + std::to_string(c) + ")" +
               kAfter[c - 1] + F((*t)[r - 1][c - 1], c == 1 ? "###0.000" : "####0.000", sep);
      }
      out += nl;
    }
    out += nl;
  }
  out += "Температура = " + F(f.Temperature, "##0.000", sep) + nl;
  out += "ЭнергияБ = " + F(f.EnergyB, "#####0.000", sep) + nl;
  return out;
}

std::string FormatProgressLine(const RunFigures& f, const std::string& sep) {
  std::string out = std::to_string(f.Hour) + ":" + Two(f.Minute) + ":" + Two(f.Second);
  out += "  Энер.= " + F(f.EnergyA, "####0.000", sep) + " + " + F(f.EnergyB, "####0.000", sep) + " + " +
         F(f.AbsoluteSum, "####0.000", sep);
  out += "  Изм.Эн.= " + F(f.Gain, "####0.000", sep);
  out += ";  Итер-я= " + std::to_string(f.Iteration);
  out += ";  № " + std::to_string(f.Selector) + "(" + std::to_string(f.Ring) + ") М=";
  for (int k = 0; k < 4; ++k) out += (k ? "," : "") + std::to_string(f.Methods[k]);
  out += "  Погр.= " + F(f.MeanRelativeError, "####0.0000", sep);
  return out + kCrLf;
}

const char* GroupName(int group) {
  static const char* kNames[8] = {"Интенсивности", "Эллипстичности", "Азимута", "Обр.Связи",
                                  "Смещения", "Крутизны", "Начального смещения", "Общего Веса Азимута"};
  return group >= 1 && group <= 8 ? kNames[group - 1] : "";
}

std::string FormatStatisticsFile(const TrainingCounters& c, long long seconds) {
  std::string out = "за " + std::to_string(seconds) + " секунд прошли изменения" + kCrLf;
  for (int g = 1; g <= 8; ++g) {
    for (int k = 1; k <= 3; ++k) {
      out += std::string(GroupName(g)) + "(" + std::to_string(k) + ") = " +
             std::to_string(c.AcceptCount[g - 1][k - 1]) + " при вероятности изменений:неизм-й = " +
             std::to_string(c.DrawCount[g - 1][k - 1][0]) + ":" + std::to_string(c.DrawCount[g - 1][k - 1][1]) +
             kCrLf;
    }
  }
  return out;
}

// ---- Writers ------------------------------------------------------------------

namespace {

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error, bool durable) {
  const fs::path target(path);
  const std::string temp = (target.parent_path() / ("." + target.filename().string() + ".tmp")).string();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(error, "Не удаётся записать файл " + path + ": " + std::strerror(errno));
    return false;
  }
  // The data reach the disk before the rename makes them the file's content, so
  // a power loss leaves either the old or the new file, never a truncated one.
  bool ok = WriteAll(fd, bytes) && (!durable || ::fdatasync(fd) == 0);
  const int savedErrno = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    SetError(error, "Не удаётся записать файл " + path + ": " + std::strerror(ok ? errno : savedErrno));
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool WriteWeightsFile(const std::string& path, const NetworkParameters& parameters, const RunFigures& figures,
                      const std::string& sep, std::string* error) {
  return WriteFileAtomically(path, Utf8ToCp1251(FormatWeightsFile(parameters, figures, sep)), error);
}

bool AppendProgressLine(const std::string& path, const RunFigures& figures, const std::string& sep,
                        std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(error, "Не удаётся дописать файл " + path + ": " + std::strerror(errno));
    return false;
  }
  const bool ok = WriteAll(fd, Utf8ToCp1251(FormatProgressLine(figures, sep)));
  const bool closed = ::close(fd) == 0;
  if (!ok || !closed) SetError(error, "Не удаётся дописать файл " + path + ": " + std::strerror(errno));
  return ok && closed;
}

bool WriteStatisticsFile(const std::string& path, const TrainingCounters& counters, long long seconds,
                         std::string* error) {
  // Rewritten after every iteration of a ten-minute mark's 15 seconds: no flush to the disk.
  return WriteFileAtomically(path, Utf8ToCp1251(FormatStatisticsFile(counters, seconds)), error, false);
}

// ---- Starter files ---------------------------------------------------------

std::string StarterStepsText(const std::string& sep) {
  auto n = [&](const char* v) {
    std::string s(v);
    for (char& c : s)
      if (c == '.') c = sep.empty() ? '.' : sep[0];
    return s;
  };
  const std::string nl = kCrLf;
  std::string t;
  t += "' Настройки обучения нейросети. Строки с апострофом - пояснения, их программа не читает," + nl;
  t += "' пока в них нет ключевых слов. Файл перечитывается каждые десять минут обучения." + nl;
  t += nl;
  t += "' Вероятность изменения веса W равна exp(-W^2 / T^2): чем выше T, тем смелее поиск." + nl;
  t += "Температура = " + n("0.3") + nl;
  t += nl;
  t += "' Шаги изменения весов для колец шаблона 7 x 7: (1) центр 3 x 3, (2) кольцо 5 x 5, (3) край." + nl;
  t += "ШагИнтен(1) = " + n("0.02") + nl + "ШагИнтен(2) = " + n("0.01") + nl + "ШагИнтен(3) = " + n("0.005") + nl;
  t += "ШагЭллип(1) = " + n("0.02") + nl + "ШагЭллип(2) = " + n("0.01") + nl + "ШагЭллип(3) = " + n("0.005") + nl;
  t += "ШагАзим(1) = " + n("0.02") + nl + "ШагАзим(2) = " + n("0.01") + nl + "ШагАзим(3) = " + n("0.005") + nl;
  t += "ШагОС(1) = " + n("0.01") + nl + "ШагОС(2) = " + n("0.005") + nl + "ШагОС(3) = " + n("0.0025") + nl;
  t += "ШагСм = " + n("0.01") + nl;
  t += "ШагНач = " + n("0.01") + nl;
  t += "ШагАзимОбщ = " + n("0.001") + nl;
  t += nl;
  t += "' Способ изменения весов каждого шаблона (1 - шаг в случайную сторону, 2 - умножение," + nl;
  t += "' 3 - сглаживание по диагональным соседям, 4 - шаг с соседями, 5 - шаг к нулю)." + nl;
  t += "' Шаблоны: 1 интенсивность, 2 эллиптичность, 3 азимут, 4 обратная связь." + nl;
  t += "МетодИзмененияВесов(1) = 1" + nl + "МетодИзмененияВесов(2) = 1" + nl + "МетодИзмененияВесов(3) = 1" + nl +
       "МетодИзмененияВесов(4) = 1" + nl;
  t += nl;
  t += "' Инерция: доля, с которой повторяется направление удачных изменений (0 .. 0,5)." + nl;
  t += "КоэфИнерцииИнтен = " + n("0.1") + nl;
  t += "КоэфИнерцииЭлл = " + n("0.1") + nl;
  t += "КоэфИнерцииАз = " + n("0.1") + nl;
  t += "КоэфИнерцииОС = " + n("0.1") + nl;
  t += nl;
  t += "' Веса энергии А (гладкость выхода) и энергии Б (отличие от высоты шара)." + nl;
  t += "Коэфa = " + n("0.1") + nl;
  t += "Коэфb = 1" + nl;
  return t;
}

}  // namespace ps
