// Inside of CellNetwork: the records on a grid covering the circle's bounding
// square plus the 3 cells the templates reach, and the flat arrays the fast
// evaluation runs on. Only the learning's own sources include this.
#pragma once

#include <atomic>
#include <thread>
#include <memory>
#include <utility>
#include <vector>

#include "learning/network.h"

namespace ps {

struct PhaseTeam;

// Barrier of the two evaluation threads. A phase lasts about a hundred
// microseconds, so a waiting thread spins (yielding to others after a while)
// rather than sleeping in the kernel, whose wake-up would cost as much.
class TwoThreadBarrier {
 public:
  // `sense` is the caller's own flag, flipped at every wait.
  void wait(int& sense) {
    sense ^= 1;
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) == 1) {
      arrived_.store(0, std::memory_order_relaxed);
      release_.store(sense, std::memory_order_release);
      return;
    }
    for (int spins = 0; release_.load(std::memory_order_acquire) != sense; ++spins) {
      if (spins < 2000) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
      } else {
        std::this_thread::yield();
      }
    }
  }

 private:
  std::atomic<int> arrived_{0};
  std::atomic<int> release_{0};
};

struct CellNetwork::Impl {
  ~Impl();

  int W = 0, H = 0;
  SphereCircle circle;
  SampleTable samples;

  // Grid: columns gx0 .. gx0 + gw - 1, rows gy0 .. gy0 + gh - 1, column-major
  // (index = (x - gx0) x gh + (y - gy0)), so a column's cells are contiguous.
  int gx0 = 1, gy0 = 1, gw = 0, gh = 0;
  mutable std::vector<CellRecord> records;
  std::vector<uint8_t> insideFlag;

  int gridIndex(int x, int y) const {
    if (x < gx0 || y < gy0 || x >= gx0 + gw || y >= gy0 + gh) return -1;
    return (x - gx0) * gh + (y - gy0);
  }
  int gridIndex(std::pair<int, int> p) const { return gridIndex(p.first, p.second); }
  bool inside(int x, int y) const {
    const int g = gridIndex(x, y);
    return g >= 0 && insideFlag[g];
  }

  // Per-grid inputs (0 outside the circle) and the two output buffers of the
  // synchronous feedback iterations.
  static constexpr size_t kPad = 64;
  std::vector<double> I, E, cosA, sinA, y0buf, y1buf;
  bool outputIsY1 = false;
  const double* outputs() const { return outputIsY1 ? y1buf.data() : y0buf.data(); }

  // Inside cells in x-then-y order (grid indices) and their per-cell values.
  std::vector<int32_t> cells;
  std::vector<int32_t> compactOf;  // grid -> compact index, -1 outside
  std::vector<double> target, staticSum, totalSum, firstShare, absError, relError;
  std::vector<uint8_t> energyNeighbours;  // 1: the four direct neighbours are inside

  // Grid offset of template element d = (a - 1) x 7 + (b - 1).
  int offset[49] = {};

  // Work in compact order: a run of regular cells (all 49 neighbours inside,
  // consecutive rows of one column) or a single rim cell.
  struct Segment {
    int32_t grid = 0;
    int32_t cell = 0;
    int32_t len = 1;
    bool rim = false;
    int32_t rimIndex = 0;
  };
  std::vector<Segment> segments;
  // 49 grid indices per rim cell: the (substitute) source of every (a, b) in
  // the first evaluation; and the neighbours the feedback adds (grid index, or
  // -1 for a neighbour outside the circle).
  std::vector<int32_t> rimSources;
  std::vector<int32_t> rimNeighbours;

  // Rim cells are evaluated eight at a time, lanes side by side, so that their
  // 49-term sums run as independent chains. Unused lanes repeat lane 0.
  static constexpr int kLanes = 8;
  struct RimGroup {
    int count = 0;
    int32_t cell[kLanes] = {};
    int32_t grid[kLanes] = {};
    int32_t src[49][kLanes] = {};
    int32_t nb[49][kLanes] = {};      // a valid grid index to read
    int64_t mask[49][kLanes] = {};    // all bits set: the feedback adds neighbour d
  };

  mutable bool recordsDirty = false;
  void syncRecords() const;

  void buildArrays();
  std::pair<int, int> SourceOf(int x, int y, int i, int j) const;

  int threadCount = 1;
  std::vector<Segment> parts[2];        // regular runs of each thread
  std::vector<RimGroup> rimGroups[2];   // rim cells of each thread
  void partition();
  std::unique_ptr<PhaseTeam> team;  // last: stopped before the arrays go
};

// Runs the five phases of one evaluation on part 0 or 1 of the segments; with a
// barrier, waits for the other thread between phases.
void RunPhases(CellNetwork::Impl& m, const NetworkParameters& p, int part, TwoThreadBarrier* barrier, int* sense);

}  // namespace ps
