#include "learning/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
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

// The parsers work on views into the line: a line full of keys is scanned in
// time linear in its length, with no copy of the rest of the line per key.
using View = std::u32string_view;

bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

View TrimFront(View s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

// Drops one leading `c` and the blanks after it.
View DropMark(View s, char32_t c) {
  if (!s.empty() && s[0] == c) return TrimFront(s.substr(1));
  return s;
}

// Leading run of digits; empty when the text does not begin with a digit.
View DigitRun(View s, size_t* end) {
  size_t i = 0;
  while (i < s.size() && IsDigit(s[i])) ++i;
  *end = i;
  return s.substr(0, i);
}

// A digit run as an index; runs too long for any index give -1.
int IndexOf(View digits) {
  if (digits.size() > 6) return -1;
  int v = 0;
  for (char32_t c : digits) v = v * 10 + static_cast<int>(c - U'0');
  return v;
}

std::optional<View> NumberRun(View text) {
  View s = DropMark(TrimFront(text), U'=');
  size_t i = 0;
  while (i < s.size() && (IsDigit(s[i]) || s[i] == U',' || s[i] == U'.' || s[i] == U'-')) ++i;
  if (i == 0) return std::nullopt;
  return s.substr(0, i);
}

}  // namespace

std::optional<std::u32string> ParseNumberText(std::u32string_view text) {
  auto run = NumberRun(text);
  if (!run) return std::nullopt;
  return std::u32string(*run);
}

std::optional<IndexedText> ParseIndexedValue(std::u32string_view text) {
  size_t end;
  const View digits = DigitRun(text, &end);
  if (digits.empty()) return std::nullopt;
  View rest = TrimFront(text.substr(end));
  rest = DropMark(rest, U')');
  rest = DropMark(rest, U'=');
  auto number = NumberRun(rest);
  if (!number) return std::nullopt;
  return IndexedText{IndexOf(digits), std::u32string(*number)};
}

std::optional<CellText> ParseCellValue(std::u32string_view text) {
  size_t end;
  const View r = DigitRun(text, &end);
  if (r.empty()) return std::nullopt;
  View rest = TrimFront(text.substr(end));
  if (!rest.empty() && (rest[0] == U',' || rest[0] == U';')) rest = TrimFront(rest.substr(1));
  const View c = DigitRun(rest, &end);
  if (c.empty()) return std::nullopt;
  rest = TrimFront(rest.substr(end));
  rest = DropMark(rest, U')');
  rest = DropMark(rest, U'=');
  auto number = NumberRun(rest);
  if (!number) return std::nullopt;
  return CellText{IndexOf(r), IndexOf(c), std::u32string(*number)};
}

std::optional<float> NumberTextToSingle(std::u32string_view text, const std::string& /*decimalSeparator*/) {
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
  View line;
};

Message LineMessage(const LineContext& ctx, const std::string& what) {
  return Message{"Ошибка в файле " + ctx.fileLabel + ", строка " + std::to_string(ctx.number) + ":" + kCrLf + "\"" +
                     Utf32ToUtf8(std::u32string(ctx.line.substr(0, 200))) + (ctx.line.size() > 200 ? "…" : "") +
                     "\"" + kCrLf + what,
                 "Ошибка в файле обучения", MessageIcon::Exclamation};
}

// The value text at i + offset, leading blanks removed.
View ValueAt(View line, size_t i, size_t offset) {
  if (i + offset >= line.size()) return {};
  return TrimFront(line.substr(i + offset));
}

bool MatchAt(View line, size_t i, View key) { return line.substr(i, key.size()) == key; }

// A key handler: parses the value text and stores it, or returns an error text.
using KeyHandler = std::function<std::optional<std::string>(View line, size_t i)>;
struct KeyRule {
  std::u32string prefix;  // five characters
  KeyHandler handler;
};

// What a scan found, for the checks of a whole file.
struct ScanStats {
  int keys = 0;          // key prefixes matched
  bool lastKeyLineOpen = false;  // the last line holding a key has no line break after it
};

// Splits UTF-8 text into lines (CR LF, LF or CR), scans each for the keys and
// calls their handlers in order of position.
std::optional<Message> ScanText(const std::string& utf8, const std::string& fileLabel,
                                const std::vector<KeyRule>& rules, ScanStats* stats = nullptr) {
  const std::u32string text = Utf8ToUtf32(utf8);
  const View all(text);
  size_t pos = 0;
  int number = 0;
  ScanStats found;
  while (pos < all.size()) {
    size_t end = pos;
    while (end < all.size() && all[end] != U'\n' && all[end] != U'\r') ++end;
    const View line = TrimFront(all.substr(pos, end - pos));
    const bool open = end == all.size();
    ++number;
    if (end < all.size() && all[end] == U'\r' && end + 1 < all.size() && all[end + 1] == U'\n') ++end;
    pos = end + 1;
    const LineContext ctx{fileLabel, number, line};
    // Positions 1 .. length - 1 (1-based), as the five characters are compared.
    for (size_t i = 0; i + 1 < line.size(); ++i) {
      for (const KeyRule& rule : rules) {
        if (!MatchAt(line, i, rule.prefix)) continue;
        ++found.keys;
        found.lastKeyLineOpen = open;
        if (auto error = rule.handler(line, i)) return LineMessage(ctx, *error);
      }
    }
  }
  if (stats) *stats = found;
  return std::nullopt;
}

const std::string kNotANumber = "значение не является числом";

std::string FormatLimit(double limit) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", limit);
  return buf;
}

// A read value must lie within -limit..limit: larger ones are no state a
// training produces and make the network's sums overflow.
std::optional<std::string> OutOfRange(float v, double limit, View text) {
  if (std::fabs(v) <= limit) return std::nullopt;
  return "значение " + Utf32ToUtf8(std::u32string(text.substr(0, 60))) + " вне допустимых пределов -" +
         FormatLimit(limit) + " .. " + FormatLimit(limit);
}

// Handlers common to both files.
KeyHandler NumberInto(size_t offset, const std::string& sep, double limit, std::function<void(float)> store) {
  return [=](View line, size_t i) -> std::optional<std::string> {
    auto text = NumberRun(ValueAt(line, i, offset));
    if (!text) return kNotANumber;
    auto v = NumberTextToSingle(*text, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(std::u32string(text->substr(0, 60))) + "\")";
    if (auto e = OutOfRange(*v, limit, *text)) return e;
    store(*v);
    return std::nullopt;
  };
}

KeyHandler IndexedInto(size_t offset, const std::string& sep, double limit, std::array<double, 3>& target) {
  return [=, &target](View line, size_t i) -> std::optional<std::string> {
    const View value = ValueAt(line, i, offset);
    if (value.empty() || !IsDigit(value[0])) return "нет номера кольца (1..3) в скобках";
    auto parsed = ParseIndexedValue(value);
    if (!parsed) return kNotANumber;
    if (parsed->index < 1 || parsed->index > 3) {
      size_t end;
      return "номер кольца " + Utf32ToUtf8(std::u32string(DigitRun(value, &end).substr(0, 20))) +
             " вне пределов 1..3";
    }
    auto v = NumberTextToSingle(parsed->number, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(parsed->number.substr(0, 60)) + "\")";
    if (auto e = OutOfRange(*v, limit, parsed->number)) return e;
    target[parsed->index - 1] = *v;
    return std::nullopt;
  };
}

KeyHandler CellInto(size_t offset, const std::string& sep, double limit, Template7& target,
                    std::bitset<49>* seen) {
  return [=, &target](View line, size_t i) -> std::optional<std::string> {
    const View value = ValueAt(line, i, offset);
    if (value.empty() || !IsDigit(value[0])) return "нет номера элемента (1..7; 1..7) в скобках";
    auto parsed = ParseCellValue(value);
    if (!parsed) return "нет второго номера элемента или значение не является числом";
    if (parsed->row < 1 || parsed->row > 7 || parsed->column < 1 || parsed->column > 7)
      return "номер элемента (" + std::to_string(parsed->row) + "; " + std::to_string(parsed->column) +
             ") вне пределов 1..7";
    auto v = NumberTextToSingle(parsed->number, sep);
    if (!v) return kNotANumber + " (\"" + Utf32ToUtf8(parsed->number.substr(0, 60)) + "\")";
    if (auto e = OutOfRange(*v, limit, parsed->number)) return e;
    target[parsed->row - 1][parsed->column - 1] = *v;
    if (seen) seen->set(static_cast<size_t>((parsed->row - 1) * 7 + parsed->column - 1));
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

ReadOutcome Refused(Message m) { return FromMessage(std::move(m)); }

std::string FileLabel(const std::string& path) { return fs::path(path).filename().string(); }

Message ReadMessage(const std::string& text) { return Message{text, "Ошибка чтения", MessageIcon::Exclamation}; }

// Reads a whole learning file. Only a regular file of at most
// kLearningFileCap bytes is read: a folder, a device such as /dev/zero or a
// pipe that nobody writes to is refused at once instead of hanging or filling
// the memory. The open does not wait for a pipe's writer.
enum class ReadProblem { None, Missing, Refused };
ReadProblem ReadLearningBytes(const std::string& path, std::string* bytes, Message* message) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ReadProblem::Missing;
    *message = ReadMessage("Не удаётся прочитать файл " + path + ": " + std::strerror(errno));
    return ReadProblem::Refused;
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *message = ReadMessage("Не удаётся прочитать файл " + path + ": " + std::strerror(errno));
    return ReadProblem::Refused;
  }
  if (S_ISDIR(st.st_mode)) {
    *message = ReadMessage(path + kCrLf + "это папка, а не файл обучения.");
    return ReadProblem::Refused;
  }
  if (!S_ISREG(st.st_mode)) {
    *message = ReadMessage(path + kCrLf + "не является обычным файлом (это устройство, канал или сокет);" + kCrLf +
                           "файлы обучения читаются только из обычных текстовых файлов.");
    return ReadProblem::Refused;
  }
  if (static_cast<unsigned long long>(st.st_size) > kLearningFileCap) {
    *message = ReadMessage("Файл " + path + " слишком велик: " + std::to_string(st.st_size) + " байт." + kCrLf +
                           "Файл обучения не может быть больше " + std::to_string(kLearningFileCap) + " байт (1 МиБ).");
    return ReadProblem::Refused;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  bytes->clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *message = ReadMessage("Не удаётся прочитать файл " + path + ": " + std::strerror(errno));
      return ReadProblem::Refused;
    }
    if (n == 0) break;
    bytes->append(buf, static_cast<size_t>(n));
    if (bytes->size() > kLearningFileCap) {  // the file grew while it was read
      *message = ReadMessage("Файл " + path + " слишком велик: больше " + std::to_string(kLearningFileCap) + " байт.");
      return ReadProblem::Refused;
    }
  }
  return ReadProblem::None;
}

// Decoded text of a learning file, or a refusal when it is not text: NUL
// characters remain in a UTF-16 file without its byte-order mark and in
// binary files.
std::optional<Message> DecodeOrRefuse(const std::string& path, const std::string& bytes, std::string* utf8) {
  *utf8 = DecodeLearningText(bytes);
  if (utf8->find('\0') == std::string::npos) return std::nullopt;
  return Message{"Файл " + path + " не является текстом:" + kCrLf +
                     "в нём есть нулевые байты (двоичный файл или UTF-16 без метки порядка байтов)." + kCrLf +
                     "Сохраните его как текст в кодировке Windows-1251, UTF-8 или UTF-16 с меткой.",
                 "Ошибка в файле обучения", MessageIcon::Exclamation};
}

// The first line of a weights file written by the training ends in this comment.
constexpr const char* kWeightsFileMark = "'в начале установим веса";

bool WrittenByTraining(const std::string& utf8) {
  const size_t start = utf8.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  const size_t end = utf8.find_first_of("\r\n", start);
  return utf8.substr(start, end == std::string::npos ? std::string::npos : end - start).find(kWeightsFileMark) !=
         std::string::npos;
}

bool IsBlankText(const std::string& utf8) {
  return utf8.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

}  // namespace

ReadOutcome ParseStepsText(const std::string& utf8, TrainingSettings& settings, const std::string& sep,
                           const std::string& fileLabel) {
  TrainingSettings s = settings;  // stored only when the whole file reads
  const double lim = kLearningValueLimit;
  std::vector<KeyRule> rules;
  rules.push_back({U"ШагИн", IndexedInto(9, sep, lim, s.ШагИн)});
  rules.push_back({U"ШагЭл", IndexedInto(9, sep, lim, s.ШагЭл)});
  {
    const KeyHandler overall = NumberInto(10, sep, lim, [&s](float v) { s.ШагАзимОбщ = v; });
    const KeyHandler perRing = IndexedInto(8, sep, lim, s.ШагАз);
    rules.push_back({U"ШагАз", [=](View line, size_t i) {
                       return MatchAt(line, i, U"ШагАзимОбщ") ? overall(line, i) : perRing(line, i);
                     }});
  }
  rules.push_back({U"ШагОС", IndexedInto(6, sep, lim, s.ШагОС)});
  rules.push_back({U"ШагСм", NumberInto(6, sep, lim, [&s](float v) { s.ШагСм = v; })});
  rules.push_back({U"ШагНа", NumberInto(7, sep, lim, [&s](float v) { s.ШагНа = v; })});
  rules.push_back({U"Темпе", NumberInto(12, sep, lim, [&s](float v) { s.Temperature = v; })});
  rules.push_back({U"Метод", [&s, sep](View line, size_t i) -> std::optional<std::string> {
                     for (int k = 1; k <= 4; ++k) {
                       const std::u32string key = U"МетодИзмененияВесов(" + std::u32string(1, U'0' + k);
                       if (!MatchAt(line, i, key)) continue;
                       std::optional<std::string> error;
                       auto store = NumberInto(23, sep, 32768, [&](float v) {
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
  rules.push_back({U"Коэфa", NumberInto(6, sep, lim, [&s](float v) { s.Ka = v; })});
  rules.push_back({U"Коэфb", NumberInto(6, sep, lim, [&s](float v) { s.Kb = v; })});
  rules.push_back({U"Коэфc", NumberInto(6, sep, lim, [&s](float v) { s.Kc = v; })});
  {
    const KeyHandler in = NumberInto(17, sep, lim, [&s](float v) { s.КоэфИнерцииИн = v; });
    const KeyHandler el = NumberInto(17, sep, lim, [&s](float v) { s.КоэфИнерцииЭл = v; });
    const KeyHandler az = NumberInto(16, sep, lim, [&s](float v) { s.КоэфИнерцииАз = v; });
    const KeyHandler os = NumberInto(14, sep, lim, [&s](float v) { s.КоэфИнерцииОС = v; });
    rules.push_back({U"КоэфИ", [=](View line, size_t i) -> std::optional<std::string> {
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

namespace {

// Which parameters a weights text set: the four scalars and the 4 x 49 elements.
struct WeightsCoverage {
  bool Смещение = false, Крутизна = false, НачальнаяСуммаСинапсов = false, ВесАзимутаОбщий = false;
  std::array<std::bitset<49>, 4> cells;
  ScanStats scan;

  // Names of the parameters not set, at most `limit` of them, and their count.
  std::vector<std::string> missing(int* count) const {
    std::vector<std::string> names;
    *count = 0;
    auto add = [&](const std::string& name) {
      if (++*count <= 6) names.push_back(name);
    };
    if (!Смещение) add("Смещение");
    if (!Крутизна) add("Крутизна");
    if (!НачальнаяСуммаСинапсов) add("НачальнаяСуммаСинапсов");
    if (!ВесАзимутаОбщий) add("ВесАзимутаОбщий");
    static const char* kNames[4] = {"ВесИнтен", "ВесЭллип", "ВесАзим", "ВесОС"};
    for (int t = 0; t < 4; ++t)
      for (size_t k = 0; k < 49; ++k)
        if (!cells[t].test(k))
          add(std::string(kNames[t]) + "(" + std::to_string(k / 7 + 1) + "; " + std::to_string(k % 7 + 1) + ")");
    return names;
  }
};

ReadOutcome ParseWeights(const std::string& utf8, NetworkParameters& parameters, const std::string& sep,
                         const std::string& fileLabel, WeightsCoverage* cover) {
  NetworkParameters p = parameters;
  WeightsCoverage c;
  const double lim = kLearningValueLimit;
  std::vector<KeyRule> rules;
  rules.push_back({U"Смеще", NumberInto(8, sep, lim, [&](float v) { p.Смещение = v, c.Смещение = true; })});
  rules.push_back({U"Крути", NumberInto(8, sep, kSteepnessLimit, [&](float v) { p.Крутизна = v, c.Крутизна = true; })});
  rules.push_back({U"Начал", NumberInto(22, sep, lim, [&](float v) {
                     p.НачальнаяСуммаСинапсов = v, c.НачальнаяСуммаСинапсов = true;
                   })});
  rules.push_back({U"ВесИн", CellInto(9, sep, lim, p.ВесИнтен, &c.cells[0])});
  rules.push_back({U"ВесЭл", CellInto(9, sep, lim, p.ВесЭллип, &c.cells[1])});
  {
    const KeyHandler cell = CellInto(8, sep, lim, p.ВесАзим, &c.cells[2]);
    const KeyHandler overall =
        NumberInto(15, sep, lim, [&](float v) { p.ВесАзимутаОбщий = v, c.ВесАзимутаОбщий = true; });
    rules.push_back({U"ВесАз", [=](View line, size_t i) {
                       return MatchAt(line, i, U"ВесАзим(") ? cell(line, i) : overall(line, i);
                     }});
  }
  rules.push_back({U"ВесОС", CellInto(6, sep, lim, p.ВесОС, &c.cells[3])});
  ReadOutcome r = FromMessage(ScanText(utf8, fileLabel, rules, &c.scan));
  if (r.ok) parameters = p;
  if (cover) *cover = c;
  return r;
}

}  // namespace

ReadOutcome ParseWeightsText(const std::string& utf8, NetworkParameters& parameters, const std::string& sep,
                             const std::string& fileLabel) {
  return ParseWeights(utf8, parameters, sep, fileLabel, nullptr);
}

ReadOutcome ReadStepsFile(const std::string& path, TrainingSettings& settings, const std::string& sep) {
  std::string bytes;
  Message message;
  switch (ReadLearningBytes(path, &bytes, &message)) {
    case ReadProblem::Missing: {
      ReadOutcome r = Refused({});
      r.missing = true;
      const std::string folder = fs::path(path).parent_path().string();
      r.message = Message{"Не найден файл шагов обучения " + FileLabel(path) + kCrLf + "в папке " + folder + "." +
                              kCrLf + "Создайте его командой  polarsphere-cli init-data \"" + folder + "\"" + kCrLf +
                              "или любым текстовым редактором: в нём задаются Температура, шаги," + kCrLf +
                              "методы изменения весов и коэффициенты обучения.",
                          "Нет файла шагов", MessageIcon::Exclamation};
      return r;
    }
    case ReadProblem::Refused:
      return Refused(message);
    case ReadProblem::None:
      break;
  }
  std::string text;
  if (auto m = DecodeOrRefuse(path, bytes, &text)) return Refused(*m);
  return ParseStepsText(text, settings, sep, FileLabel(path));
}

ReadOutcome ReadWeightsFile(const std::string& path, NetworkParameters& parameters, const std::string& sep) {
  std::string bytes;
  Message message;
  switch (ReadLearningBytes(path, &bytes, &message)) {
    case ReadProblem::Missing: {
      ReadOutcome r = Refused(Message{"Не найден файл весовых коэффициентов " + FileLabel(path) + kCrLf + "в папке " +
                                          fs::path(path).parent_path().string() + ".",
                                      "Нет файла весов", MessageIcon::Exclamation});
      r.missing = true;
      return r;
    }
    case ReadProblem::Refused:
      return Refused(message);
    case ReadProblem::None:
      break;
  }
  std::string text;
  if (auto m = DecodeOrRefuse(path, bytes, &text)) return Refused(*m);
  // An empty file (or one of blanks only) leaves the start values. Any other
  // file must hold the whole state a training writes: a file that an editor
  // saved in another encoding, junk, or a file cut short would otherwise start
  // the next training from the start values and be overwritten by it.
  if (IsBlankText(text)) return ReadOutcome{};
  NetworkParameters p = parameters;
  WeightsCoverage cover;
  ReadOutcome r = ParseWeights(text, p, sep, FileLabel(path), &cover);
  if (!r.ok) return r;
  const std::string keep = std::string(kCrLf) + "Файл оставлен как есть. Исправьте его, замените сохранённой копией" +
                           kCrLf + "или очистите, чтобы начать с начальных значений.";
  if (cover.scan.keys == 0)
    return Refused(Message{"В файле весовых коэффициентов " + path + kCrLf +
                               "не найдено ни одного коэффициента: файл не пуст, но в нём нет ни одного ключа" + kCrLf +
                               "(Смещение, Крутизна, ВесИнтен(1; 1) = ...). Возможно, он испорчен." + keep,
                           "Ошибка в файле весов", MessageIcon::Exclamation});
  if (cover.scan.lastKeyLineOpen)
    return Refused(Message{"В файле весовых коэффициентов " + path + kCrLf +
                               "последняя строка с коэффициентом не закончена (нет перевода строки):" + kCrLf +
                               "похоже, файл обрезан." + keep,
                           "Ошибка в файле весов", MessageIcon::Exclamation});
  // A file in the layout the training writes (its first line carries the
  // comment the training puts there) must hold every value: cut at the end of
  // a line, it would otherwise read as a valid file with start values for the
  // rest. Files written by hand may set only some values.
  int count = 0;
  const std::vector<std::string> missing = cover.missing(&count);
  if (count > 0 && WrittenByTraining(text)) {
    std::string list;
    for (const std::string& n : missing) list += (list.empty() ? "" : ", ") + n;
    if (count > static_cast<int>(missing.size())) list += " и ещё " + std::to_string(count - missing.size());
    return Refused(Message{"В файле весовых коэффициентов " + path + kCrLf + "нет " + std::to_string(count) +
                               " из 200 коэффициентов: " + list + "." + kCrLf + "Похоже, файл обрезан." + keep,
                           "Ошибка в файле весов", MessageIcon::Exclamation});
  }
  parameters = p;
  return r;
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
  out += "Смещение = " + F(p.Смещение, "###0.000", sep) + "        " + kWeightsFileMark + nl;
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
