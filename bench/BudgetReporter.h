// A console reporter that also holds each operation against its baseline from the same
// run and prints, after the usual output, Markdown tables: time, throughput and ratio per
// operation with its budget, and how the codec's cost grows with the texture's side.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// One row of the results table.
struct Comparison {
  std::string operation;  // benchmark name
  // Benchmark name of the baseline; empty for none. A name ending in ", call by call" stands
  // for the baseline an operation times itself, call by call beside it (bench::Alternate),
  // and only names it; any other is a benchmark of its own from the same run.
  std::string baseline;
  double maxRatio = 0;    // budget on time / baseline time; 0 for none
  double maxSeconds = 0;  // budget on the operation's own time; 0 for none
  std::string note;       // what the budget stands for, shown in the table
};

// A budget on a ratio of two counters of one benchmark (peak memory over file size).
struct CounterBudget {
  std::string operation;
  std::string numerator, denominator;
  double maxRatio = 0;  // 0: the ratio is shown, not budgeted
  std::string note;
};

// One codec operation at several sides, for the growth table.
struct Growth {
  std::string label;
  std::vector<std::pair<int, std::string>> bySide;  // side, benchmark name
};

class BudgetReporter : public benchmark::ConsoleReporter {
 public:
  void Add(Comparison comparison) { comparisons_.push_back(std::move(comparison)); }
  void Add(CounterBudget budget) { counterBudgets_.push_back(std::move(budget)); }
  void Add(Growth growth) { growths_.push_back(std::move(growth)); }

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // After Finalize: whether every budget that could be checked was met, and how many were.
  bool AllMet() const { return missed_ == 0; }
  int Checked() const { return checked_; }

 private:
  struct Measured {
    double seconds = 0;  // median real time per iteration when repetitions ran
    // For a benchmark that times its baseline call by call beside itself (bench::Alternate):
    // the baseline's time; `seconds` is then the operation's own.
    double alternatingBaseline = 0;
    bool fromMedian = false;
    std::map<std::string, double> counters;
  };
  const Measured* Find(const std::string& name) const;

  std::map<std::string, Measured> measured_;
  std::vector<Comparison> comparisons_;
  std::vector<CounterBudget> counterBudgets_;
  std::vector<Growth> growths_;
  int checked_ = 0;
  int missed_ = 0;
};

}  // namespace bench
