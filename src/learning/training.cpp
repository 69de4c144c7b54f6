#include "learning/training.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "learning/text_encoding.h"

namespace ps {

ClockReading LocalClock() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return ClockReading{tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

UniformRandom::UniformRandom(uint64_t seed) : engine_(seed) {}

double UniformRandom::next() {
  ++draws_;
  return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

namespace {

inline double Sign(double v) { return v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0); }

using Clk = std::chrono::steady_clock;
double SecondsSince(Clk::time_point t) { return std::chrono::duration<double>(Clk::now() - t).count(); }

// Writes the weights file and the progress log off the training thread: it
// formats them (a few hundred numbers) and makes the weights file durable
// (fdatasync before the rename), which takes milliseconds, while an evaluation
// takes about one. A newer weights state replaces one not yet written; every
// log line is appended, in order. flush() waits until everything handed over is
// on disk.
class BackgroundWriter {
 public:
  BackgroundWriter(const LearningPaths& paths, std::string separator)
      : paths_(paths), sep_(std::move(separator)), thread_([this] { loop(); }) {}
  ~BackgroundWriter() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

  // Hands an accepted state over without ever waiting for the writer: when the
  // writer holds the lock, the state stays with the caller and goes with the
  // next hand-over (or the flush).
  void submit(const NetworkParameters& parameters, const RunFigures& figures) {
    localParameters_ = parameters;
    localWeightsFigures_ = figures;
    localLog_.push_back(figures);
    std::unique_lock<std::mutex> lock(mu_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const bool wake = moveLocalLocked();
    lock.unlock();
    if (wake) cv_.notify_all();
  }

  // Waits until every submitted state is written; false with the first error.
  bool flush(std::string* error) {
    std::unique_lock<std::mutex> lock(mu_);
    if (moveLocalLocked()) cv_.notify_all();
    idle_.wait(lock, [this] { return written_ == submitted_; });
    if (!error_.empty() && error) *error = error_;
    return error_.empty();
  }

  bool failed(std::string* error) {
    if (!failed_.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    if (error) *error = error_;
    return true;
  }

  double busySeconds() {
    std::lock_guard<std::mutex> lock(mu_);
    return busy_;
  }

 private:
  // Moves the caller's pending state into the shared one (lock held); returns
  // whether the writer is waiting for work.
  bool moveLocalLocked() {
    if (localLog_.empty()) return false;
    parameters_ = localParameters_;
    weightsFigures_ = localWeightsFigures_;
    haveWeights_ = true;
    logFigures_.insert(logFigures_.end(), localLog_.begin(), localLog_.end());
    localLog_.clear();
    ++submitted_;
    return waiting_;
  }

  void loop() {
    // The writer must not take the core from the evaluation: as a batch thread
    // it does not preempt the thread that wakes it, and a lower priority keeps
    // it behind the evaluation threads when the cores are busy.
    sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &none);
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    std::unique_lock<std::mutex> lock(mu_);
    std::vector<RunFigures> lines;
    for (;;) {
      waiting_ = true;
      cv_.wait(lock, [this] { return stop_ || written_ != submitted_; });
      waiting_ = false;
      if (written_ == submitted_ && stop_) return;
      const NetworkParameters parameters = parameters_;
      const RunFigures figures = weightsFigures_;
      const bool haveWeights = haveWeights_;
      lines.swap(logFigures_);
      logFigures_.clear();
      haveWeights_ = false;
      const uint64_t batch = submitted_;
      lock.unlock();
      const auto t0 = Clk::now();
      std::string error;
      bool ok = true;
      if (!lines.empty()) {
        std::string log;
        for (const RunFigures& f : lines) log += FormatProgressLine(f, sep_);
        ok = AppendBytes(paths_.progressLog, Utf8ToCp1251(log), &error);
      }
      if (ok && haveWeights)
        ok = WriteFileAtomically(paths_.weights, Utf8ToCp1251(FormatWeightsFile(parameters, figures, sep_)), &error);
      lines.clear();
      const double spent = SecondsSince(t0);
      lock.lock();
      busy_ += spent;
      if (!ok && error_.empty()) {
        error_ = error;
        failed_.store(true, std::memory_order_release);
      }
      written_ = batch;
      idle_.notify_all();
    }
  }

  static bool AppendBytes(const std::string& path, const std::string& bytes, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
      *error = "Не удаётся дописать файл " + path;
      return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) *error = "Не удаётся дописать файл " + path;
    return ok && closed;
  }

  LearningPaths paths_;
  std::string sep_;
  std::mutex mu_;
  std::condition_variable cv_, idle_;
  NetworkParameters parameters_;
  RunFigures weightsFigures_;
  std::vector<RunFigures> logFigures_;
  bool haveWeights_ = false;
  bool waiting_ = false;
  std::atomic<bool> failed_{false};
  // The caller's side: states not yet handed over.
  NetworkParameters localParameters_;
  RunFigures localWeightsFigures_;
  std::vector<RunFigures> localLog_;
  bool stop_ = false;
  uint64_t submitted_ = 0, written_ = 0;
  std::string error_;
  double busy_ = 0;
  std::thread thread_;
};

Message Refusal(const std::string& text, const std::string& title) {
  return Message{text, title, MessageIcon::Exclamation};
}

// One training per data folder: an exclusive flock on a lock file in the
// folder, held for the whole run and released by the system when the process
// ends in any way. A second run (another window, another process) is refused
// instead of racing for the same files.
class FolderLock {
 public:
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::optional<Message> acquire(const std::string& folder) {
    const std::string path = (std::filesystem::path(folder.empty() ? "." : folder) / kTrainingLockName).string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
      return Refusal("Не удаётся создать файл блокировки " + path + ":" + kCrLf + std::strerror(errno),
                     "Обучение невозможно");
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const bool busy = errno == EWOULDBLOCK;
      ::close(fd_);
      fd_ = -1;
      if (busy)
        return Refusal("С папкой данных " + folder + kCrLf +
                           "уже идёт обучение (в другом окне или другой программой)." + kCrLf +
                           "Дождитесь его окончания или остановите его, а потом запускайте снова.",
                       "Обучение уже идёт");
      return Refusal("Не удаётся заблокировать файл " + path + ":" + kCrLf + std::strerror(errno),
                     "Обучение невозможно");
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
};

}  // namespace

int RingOf(int a, int b) {
  const int d = std::max(std::abs(a - 4), std::abs(b - 4));
  return d == 0 ? 1 : d;
}

bool AcceptState(double energyBOld, double gain, long long minutesNow, long long minutesAtLastAcceptance) {
  return energyBOld == 0 || gain > 0 || (gain > -2 && minutesNow - minutesAtLastAcceptance > 7);
}

void UndoChange(NetworkParameters& p, const SavedParameters& saved, int selector) {
  const int g = GroupOfSelector(selector);
  switch (g) {
    case 1: case 2: case 3: case 4: p.templ(g) = saved.templates[g - 1]; break;
    case 5: p.Смещение = saved.Смещение; break;
    case 6: p.Крутизна = saved.Крутизна; break;
    case 7: p.НачальнаяСуммаСинапсов = saved.НачальнаяСуммаСинапсов; break;
    case 8: p.ВесАзимутаОбщий = saved.ВесАзимутаОбщий; break;
  }
}

void RecordAcceptance(const NetworkParameters& p, const SavedParameters& saved, int selector, int ring,
                      ChangeMemoryPlanes& memory, TrainingCounters& counters) {
  const int g = GroupOfSelector(selector);
  if (g >= 1 && g <= 4) {
    auto& accept = counters.AcceptCount[g - 1];
    const int c = (accept[0] + accept[1] + accept[2]) % 20;
    auto& mem = memory[g - 1];
    if (c == 0) {
      for (auto& row : mem)
        for (auto& e : row) e[2] = 0;
    } else if (c == 10) {
      for (auto& row : mem)
        for (auto& e : row) {
          e[2] = e[1];
          e[1] = 0;
        }
    }
    const Template7& now = p.templ(g);
    const Template7& before = saved.templates[g - 1];
    for (int a = 0; a < 7; ++a)
      for (int b = 0; b < 7; ++b) {
        const double change = now[a][b] - before[a][b];
        mem[a][b][0] += change;
        mem[a][b][1] += change;
      }
    ++accept[ring - 1];
  } else if (g >= 5 && g <= 8) {
    ++counters.AcceptCount[g - 1][0];
  }
}

void MoveElement(Template7& w, int group, int method, int a, int b, int ring, double step, double c, int m,
                 UniformRandom& random) {
  double& W = w[a - 1][b - 1];
  auto direction = [&] { return Sign(c * m + (random.next() - 0.5)); };
  switch (method) {
    case 1:
      if (group == 1 && a == 1 && b <= 4) {
        W = W + step;
      } else {
        W = W + direction() * step;
      }
      break;
    case 2:
      W = W * (1 + direction() * step);
      break;
    case 3: {
      double e;
      if (ring == 1 || ring == 2) {
        double sum = 0, lo = 100, hi = -100;
        for (int da : {-1, 1})
          for (int db : {-1, 1}) {
            const double v = w[a - 1 + da][b - 1 + db];
            sum += v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
          }
        e = (lo <= W && W <= hi) ? sum / 8 - W : c * m + (random.next() - 0.5);
      } else {
        e = c * m + (random.next() - 0.5);
      }
      W = W + Sign(std::nearbyint(e)) * step;  // nearest whole number, halves to even
      break;
    }
    case 4: {
      const double e = c * m + (random.next() - 0.5);
      for (int da : {-1, 1})
        for (int db : {-1, 1}) {
          const int i = a + da, j = b + db;
          if (i >= 1 && i <= 7 && j >= 1 && j <= 7) w[i - 1][j - 1] += Sign(e) * step / 2;
        }
      W = W + Sign(e) * step;
      break;
    }
    case 5:
      W = W - Sign(W) * step;
      break;
    default:
      break;  // no such method: the element stays
  }
}

void ApplyTemplateChanges(NetworkParameters& p, SavedParameters& saved, const TrainingSettings& s,
                          const ChangeMemoryPlanes& memory, int selector, int ring, UniformRandom& random,
                          TrainingCounters& counters) {
  // Every element is saved before any is changed: method 4 also moves the
  // diagonal neighbours, and an undo must restore those too.
  for (int t = 1; t <= 4; ++t) saved.templates[t - 1] = p.templ(t);
  if (selector < 1 || selector > 8) return;
  const int g = GroupOfSelector(selector);
  Template7& w = p.templ(g);
  const double T = s.Temperature;
  const int method = s.Methods[g - 1];
  const double step = s.step(g, ring);
  const double inertia = s.inertia(g);
  for (int a = 1; a <= 7; ++a) {
    for (int b = 1; b <= 7; ++b) {
      if (RingOf(a, b) != ring) continue;
      const double W = w[a - 1][b - 1];
      const double chance = std::exp(-(W * W) / (T * T));
      double threshold = chance;
      if (g == 1) threshold = 0.25;
      else if (g == 2) threshold = chance - 0.05 * (ring * ring);
      else if (g == 3) threshold = chance - 0.1 * ring;
      const double r = random.next();
      if (r < threshold) {
        ++counters.DrawCount[g - 1][ring - 1][0];
        const int m = static_cast<int>(Sign(memory[g - 1][a - 1][b - 1][2]));
        MoveElement(w, g, method, a, b, ring, step, inertia, m, random);
      } else {
        ++counters.DrawCount[g - 1][ring - 1][1];
      }
    }
  }
}

void ApplyScalarChange(NetworkParameters& p, SavedParameters& saved, const TrainingSettings& s, int selector,
                       UniformRandom& random) {
  saved.Смещение = p.Смещение;
  saved.Крутизна = p.Крутизна;
  saved.НачальнаяСуммаСинапсов = p.НачальнаяСуммаСинапсов;
  saved.ВесАзимутаОбщий = p.ВесАзимутаОбщий;
  if (selector < 9 || selector > 16) return;
  const double d = Sign(random.next() - 0.5);
  switch (GroupOfSelector(selector)) {
    case 5: p.Смещение += d * s.ШагСм; break;
    case 6: p.Крутизна *= 1 + d * 0.0005; break;
    case 7: p.НачальнаяСуммаСинапсов += d * s.ШагНа; break;
    case 8: p.ВесАзимутаОбщий += d * s.ШагАзимОбщ; break;
  }
}

std::string DefaultDoubleText(double value, const std::string& sep) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s(buf);
  const size_t dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, sep);
  return s;
}

std::string ClosingMessageText(double eaOld, double ebOld, double ea, double eb, double t, const std::string& sep) {
  return "ЭнергияСтараяА+Б=" + DefaultDoubleText(eaOld + ebOld, sep) + "     ЭнергияА+Б=" +
         DefaultDoubleText(ea + eb, sep) + "     Температура=" + DefaultDoubleText(t, sep);
}

namespace {

// With the thread count left to the run, tries one and two evaluation threads
// now and then and keeps the faster: on a machine busy with other work the
// second thread mostly waits at the barriers. The results do not depend on it.
class ThreadChooser {
 public:
  explicit ThreadChooser(CellNetwork& net) : net_(net) {}
  void record(double seconds) {
    if (net_.insideCount() < 64) return;
    const int slot = net_.threads() - 1;
    if (phase_ < kTrial) {
      spent_[slot] += seconds;
      ++count_[slot];
    }
    ++phase_;
    if (phase_ == kTrial / 2) net_.setThreads(net_.threads() == 2 ? 1 : 2);
    if (phase_ == kTrial) {
      const double one = spent_[0] / std::max(1, count_[0]), two = spent_[1] / std::max(1, count_[1]);
      net_.setThreads(two < one ? 2 : 1);
    }
    if (phase_ == kPeriod) {
      phase_ = 0;
      spent_[0] = spent_[1] = 0;
      count_[0] = count_[1] = 0;
    }
  }

 private:
  static constexpr int kTrial = 32;    // evaluations measured, half on each setting
  static constexpr int kPeriod = 1024; // evaluations between trials
  CellNetwork& net_;
  int phase_ = 0;
  double spent_[2] = {0, 0};
  int count_[2] = {0, 0};
};

std::optional<Message> CheckTemperature(const TrainingSettings& s, const std::string& stepsPath) {
  if (s.Temperature == 0 || !std::isfinite(s.Temperature)) {
    return Refusal("В файле шагов " + stepsPath + kCrLf + "не задана температура (или она равна нулю)." + kCrLf +
                       "Впишите строку вида  Температура = 0,3  (число больше нуля).",
                   "Нулевая температура");
  }
  return std::nullopt;
}

}  // namespace

TrainingResult RunTraining(const AppState& state, TrainingSession& session, const TrainingOptions& opt) {
  TrainingResult res;
  const std::string& sep = opt.decimalSeparator;
  if (state.ResultMap.empty()) {
    res.message = Refusal(std::string("Набор изображений не обработан.") + kCrLf +
                              "Откройте все четыре изображения, а потом запускайте обучение.",
                          "Обучение невозможно");
    return res;
  }
  if (auto m = CheckTrainingCircle(state.Circle, state.ResultMap.width(), state.ResultMap.height())) {
    res.message = *m;
    return res;
  }

  // Start values, methods 1 and Ka = Kb = 1, then the weights file and the steps
  // file over them. Nothing is kept unless both read well.
  NetworkParameters params;
  TrainingSettings settings;
  auto readFiles = [&]() -> std::optional<Message> {
    params = NetworkParameters{};
    settings = session.Settings;
    settings.Methods = {1, 1, 1, 1};
    settings.Ka = 1;
    settings.Kb = 1;
    const ReadOutcome weights = ReadWeightsFile(opt.files.weights, params, sep);
    if (!weights.ok && !weights.missing) return weights.message;
    const ReadOutcome steps = ReadStepsFile(opt.files.steps, settings, sep);
    if (!steps.ok) return steps.message;
    return CheckTemperature(settings, opt.files.steps);
  };
  // The files are read before the folder is locked, so that a refused run
  // leaves nothing behind, and again once it is locked: another run may have
  // written the weights file in between.
  FolderLock lock;
  std::optional<Message> refusal = readFiles();
  if (!refusal)
    refusal = lock.acquire(opt.files.folder.empty() ? std::filesystem::path(opt.files.weights).parent_path().string()
                                                    : opt.files.folder);
  if (!refusal) refusal = readFiles();
  if (refusal) {
    res.message = *refusal;
    return res;
  }

  CellNetwork net = PrepareCells(state, opt.convention);
  if (net.insideCount() == 0) {
    res.message = Refusal("Внутри окружности шара нет ни одной точки.", "Обучение невозможно");
    return res;
  }
  net.setThreads(opt.threads);
  ThreadChooser chooser(net);
  session.Parameters = params;
  session.Settings = settings;
  session.Samples = net.samples();
  res.started = true;
  res.insideCells = net.insideCount();
  const double n = net.insideCount();
  // Energy A is identically 0 when no inside cell has its four neighbours inside;
  // the run then ends at the accepted limit instead of waiting for it to change.
  bool energyAPossible = false;
  for (int x = 1; x <= net.width() && !energyAPossible; ++x)
    for (int y = 1; y <= net.height() && !energyAPossible; ++y)
      energyAPossible = net.cell(x, y).Inside && net.cell(x - 1, y).Inside && net.cell(x + 1, y).Inside &&
                        net.cell(x, y - 1).Inside && net.cell(x, y + 1).Inside;

  NetworkParameters& p = session.Parameters;
  SavedParameters saved;
  for (int t = 1; t <= 4; ++t) saved.templates[t - 1] = p.templ(t);
  saved.Смещение = p.Смещение;
  saved.Крутизна = p.Крутизна;
  saved.НачальнаяСуммаСинапсов = p.НачальнаяСуммаСинапсов;
  saved.ВесАзимутаОбщий = p.ВесАзимутаОбщий;

  const Clock clock = opt.clock ? opt.clock : Clock(LocalClock);
  const long long startSeconds = clock().seconds();
  long long iteration = 1;
  int selector = 1, ring = 1;
  double EA = 0, EB = 0, EAold = 0, EBold = 0;
  long long minuteOfLastAcceptance = 0;
  TrainingCounters& counters = res.counters;
  counters = TrainingCounters{};
  BackgroundWriter writer(opt.files, sep);
  const auto loopStart = Clk::now();
  double writeSeconds = 0, evalSeconds = 0;
  bool firstAccepted = true;
  std::string writeError;

  // Past the accepted limit the run goes on while energy A of the last accepted
  // state is exactly 0, but not forever: outputs that are all equal (every
  // exponent overflowing, say) keep energy A at 0 whatever changes.
  const long long overtimeLimit = std::max<long long>(opt.acceptedLimit, 100);
  long long overtime = 0;
  while ((EAold == 0 && energyAPossible && overtime < overtimeLimit) || iteration <= opt.acceptedLimit) {
    if (iteration > opt.acceptedLimit) ++overtime;
    if ((opt.cancel && opt.cancel->load(std::memory_order_relaxed)) || opt.progress.cancelled()) {
      res.cancelled = true;
      break;
    }
    auto t0 = Clk::now();
    EvaluateNetwork(net, p);
    const Energies e = ComputeEnergies(net);
    const double spent = SecondsSince(t0);
    evalSeconds += spent;
    if (opt.threads == 0) chooser.record(spent);
    ++res.evaluations;
    EA = e.EnergyA;
    EB = e.EnergyB;
    const double gain = EnergyGain(EAold, EBold, EA, EB, settings.Ka, settings.Kb);
    const ClockReading now = clock();
    // A state whose energies overflowed is never kept.
    const bool finite = std::isfinite(EA) && std::isfinite(EB) && std::isfinite(e.AbsoluteSum);
    if (!finite || !AcceptState(EBold, gain, now.minutes(), minuteOfLastAcceptance)) {
      UndoChange(p, saved, selector);
    } else {
      t0 = Clk::now();
      RunFigures f;
      f.EnergyA = EA;
      f.EnergyB = EB;
      f.AbsoluteSum = e.AbsoluteSum;
      f.Gain = gain;
      f.FeedbackMean = e.FeedbackSum / n;
      f.MeanRelativeError = EB / n;
      f.Temperature = settings.Temperature;
      f.Iteration = iteration;
      f.Selector = selector;
      f.Ring = ring;
      f.Methods = settings.Methods;
      f.Hour = now.Hour;
      f.Minute = now.Minute;
      f.Second = now.Second;
      writer.submit(p, f);
      writeSeconds += SecondsSince(t0);
      if (firstAccepted) {
        res.firstEnergyB = EB;
        firstAccepted = false;
      }
      ++iteration;
      ++res.accepted;
      EAold = EA;
      EBold = EB;
      minuteOfLastAcceptance = now.minutes();
      RecordAcceptance(p, saved, selector, ring, session.ChangeMemory, counters);
    }
    if (writer.failed(&writeError)) break;

    // Ten-minute mark: the steps file again and the statistics log.
    if (now.Minute % 10 == 0 && now.Second < 15) {
      t0 = Clk::now();
      TrainingSettings reread = settings;
      const ReadOutcome r = ReadStepsFile(opt.files.steps, reread, sep);
      std::optional<Message> problem = r.ok ? CheckTemperature(reread, opt.files.steps) : r.message;
      if (problem) {
        if (opt.onWarning) opt.onWarning(*problem);  // the run goes on with the settings it has
      } else {
        settings = reread;
        session.Settings = settings;
      }
      std::string error;
      if (!WriteStatisticsFile(opt.files.statisticsLog, counters, now.seconds() - startSeconds, &error) &&
          opt.onWarning)
        opt.onWarning(Message{error, "Ошибка записи", MessageIcon::Exclamation});
      writeSeconds += SecondsSince(t0);
    }

    // Advance, then change the parameters of the new selector value.
    if (++selector > 16) {
      selector = 1;
      ring = ring % 3 + 1;
    }
    ApplyTemplateChanges(p, saved, settings, session.ChangeMemory, selector, ring, session.Random, counters);
    ApplyScalarChange(p, saved, settings, selector, session.Random);

    opt.progress(res.accepted, opt.acceptedLimit);
    if (opt.onProgress) {
      TrainingSnapshot snap;
      snap.accepted = res.accepted;
      snap.acceptedLimit = opt.acceptedLimit;
      snap.evaluations = res.evaluations;
      snap.energyA = EAold;
      snap.energyB = EBold;
      snap.firstEnergyB = res.firstEnergyB;
      opt.onProgress(snap);
    }
  }
  const auto t0 = Clk::now();
  writer.flush(&writeError);
  writeSeconds += SecondsSince(t0);
  res.seconds = SecondsSince(loopStart);
  res.writeSeconds = writeSeconds;
  res.writerSeconds = writer.busySeconds();
  res.evaluateSeconds = evalSeconds;
  res.energyAOld = EAold;
  res.energyBOld = EBold;
  res.energyA = EA;
  res.energyB = EB;
  if (!writeError.empty()) {
    res.message = Message{writeError + kCrLf + "Обучение остановлено; в файле весов последнее записанное состояние.",
                          "Ошибка записи", MessageIcon::Critical};
  } else {
    res.message = Message{ClosingMessageText(EAold, EBold, EA, EB, settings.Temperature, sep), "", MessageIcon::None};
  }
  return res;
}

}  // namespace ps
