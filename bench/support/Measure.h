// What every benchmark measures with: the clock, job and reference timed in
// alternated pairs and summed up by medians (on a shared machine a burst of
// load moves one pair, not the figure), the load average to print beside
// the figures, and the peak memory of this process and of the programs it
// runs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pendra::bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since);

// The wall-clock seconds one call of run takes.
template <typename Run>
double TimeOf(Run&& run) {
  const auto start = Clock::now();
  run();
  return Seconds(start);
}

// The middle value (the mean of the two middle ones for an even count).
double Median(std::vector<double> values);

// Times of A and of its reference B taken in pairs, one right after the
// other, so that both see the same load.
class Pairs {
 public:
  // Which of a pair runs first: A in every pair, or B in the first pair and
  // in every other one after it, so that neither always meets the caches
  // and the file system as the other left them.
  enum class Order { AFirst, Alternating };

  void Add(double a, double b);
  // Takes count pairs: a and b each run once a pair and return their
  // seconds.
  void Take(int count, const std::function<double()>& a, const std::function<double()>& b, Order order = Order::AFirst);
  size_t Count() const { return a_.size(); }
  double MedianA() const { return Median(a_); }
  double MedianB() const { return Median(b_); }
  // The ratio of the medians, and the median of the pairs' own ratios.
  double Ratio() const { return MedianA() / MedianB(); }
  double MedianOfRatios() const { return Median(ratios_); }
  // "ratio 1.23 (pairs 1.21)"
  std::string RatioText() const;

 private:
  std::vector<double> a_, b_, ratios_;
};

// The 1, 5 and 15 minute load averages.
std::string LoadAverage();

// Peak resident memory in MiB: of this process, and of the largest of the
// child processes it has waited for.
double PeakSelfMiB();
double PeakChildrenMiB();

// Processor time (user + system) in seconds so far: of this process (all its
// threads), and of the child processes it has waited for (an office the job
// started and ended, a reference command). Differences of two readings say
// where a run spent its processor.
struct CpuTimes {
  double self = 0, children = 0;
  CpuTimes operator-(const CpuTimes& earlier) const { return {self - earlier.self, children - earlier.children}; }
};
CpuTimes CpuNow();

struct ChildRun {
  double seconds = 0;
  double peakMiB = 0;  // the program's peak (or that of the largest program it waited for)
  std::string output;  // its standard output, when captured
};

// Runs a program (no shell) and waits for it: its standard output goes to
// /dev/null or is captured. Throws when it cannot start or does not exit 0.
// The program is started by this one run afresh (see ServeMeasuredRun), so
// that its peak is its own, whatever this process holds.
ChildRun RunChild(const std::vector<std::string>& argv, bool captureOutput = false);

// That start: when this program was run to start a measured program, it
// does so and exits; otherwise returns. CommandLine::Parse calls it first.
void ServeMeasuredRun(int argc, char** argv);

// Runs a shell command; throws when it does not exit 0. Timed returns its
// wall-clock seconds.
void Run(const std::string& command);
double Timed(const std::string& command);

// path in single quotes, for a shell command (the benchmarks' own
// temporary paths, which hold no quote).
std::string Quote(const std::string& path);

// This program's own file, to run parts of a benchmark in a child of their
// own whose memory can be measured alone.
std::string SelfPath();

}  // namespace pendra::bench
