#include "BudgetReporter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace bench {
namespace {

std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

std::string FormatTime(double seconds) {
  if (seconds < 1e-6) return Format("%.0f ns", seconds * 1e9);
  if (seconds < 1e-3) return Format("%.1f µs", seconds * 1e6);
  if (seconds < 1) return Format("%.2f ms", seconds * 1e3);
  return Format("%.2f s", seconds);
}

std::string FormatRate(double perSecond, const char* unit) {
  if (perSecond >= 1e9) return Format("%.2f G", perSecond / 1e9) + unit;
  if (perSecond >= 1e6) return Format("%.1f M", perSecond / 1e6) + unit;
  return Format("%.1f k", perSecond / 1e3) + unit;
}

bool IsCallByCall(const std::string& baseline) {
  static const std::string kSuffix = ", call by call";
  return baseline.size() >= kSuffix.size() &&
         baseline.compare(baseline.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

double SecondsPerIteration(const benchmark::BenchmarkReporter::Run& run) {
  return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

}  // namespace

void BudgetReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    Measured& m = measured_[run.run_name.function_name];
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.run_type == Run::RT_Aggregate && !median) continue;
    if (m.fromMedian && !median) continue;
    const auto own = run.counters.find("seconds");
    const auto baseline = run.counters.find("baseline_seconds");
    const bool alternating = own != run.counters.end() && baseline != run.counters.end();
    m.seconds = alternating ? own->second.value : SecondsPerIteration(run);
    m.alternatingBaseline = alternating ? baseline->second.value : 0;
    m.fromMedian = median;
    m.counters.clear();
    for (const auto& [name, counter] : run.counters) m.counters[name] = counter.value;
  }
}

const BudgetReporter::Measured* BudgetReporter::Find(const std::string& name) const {
  const auto it = measured_.find(name);
  return it == measured_.end() ? nullptr : &it->second;
}

void BudgetReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::ostream& out = GetOutputStream();
  checked_ = missed_ = 0;

  out << "\n## Results (median real time per call)\n\n"
      << "| Operation | Time | Texels/s | Bytes/s | Baseline | Baseline time | Ratio | Budget "
         "| Met |\n"
      << "|---|---|---|---|---|---|---|---|---|\n";
  for (const Comparison& c : comparisons_) {
    const Measured* op = Find(c.operation);
    if (op == nullptr) continue;  // filtered out of this run
    const Measured* found = c.baseline.empty() ? nullptr : Find(c.baseline);
    const double baseSeconds = IsCallByCall(c.baseline) ? op->alternatingBaseline
                               : found != nullptr       ? found->seconds
                                                        : 0;
    const auto counter = [&](const char* name, const char* unit) {
      const auto it = op->counters.find(name);
      return it == op->counters.end() ? std::string("–") : FormatRate(it->second, unit);
    };
    std::string ratio = "–", baseTime = "–", budget = "–", met = "–";
    bool ok = true, judged = false;
    if (baseSeconds > 0) {
      const double r = op->seconds / baseSeconds;
      ratio = Format("%.2f", r);
      baseTime = FormatTime(baseSeconds);
      if (c.maxRatio > 0) {
        budget = "≤ " + Format("%g", c.maxRatio) + " ×";
        ok = r <= c.maxRatio;
        judged = true;
      }
    } else if (!c.baseline.empty() && c.maxRatio > 0) {
      budget = "≤ " + Format("%g", c.maxRatio) + " × (baseline not run)";
    }
    if (c.maxSeconds > 0) {
      budget = "≤ " + FormatTime(c.maxSeconds);
      ok = ok && op->seconds <= c.maxSeconds;
      judged = true;
    }
    if (judged) {
      ++checked_;
      if (!ok) ++missed_;
      met = ok ? "yes" : "**MISSED**";
    }
    if (!c.note.empty() && budget != "–") budget += " (" + c.note + ")";
    out << "| " << c.operation << " | " << FormatTime(op->seconds) << " | "
        << counter("items_per_second", "/s") << " | " << counter("bytes_per_second", "B/s")
        << " | " << (c.baseline.empty() ? "–" : c.baseline) << " | " << baseTime << " | "
        << ratio << " | " << budget << " | " << met << " |\n";
  }

  for (const CounterBudget& b : counterBudgets_) {
    const Measured* op = Find(b.operation);
    if (op == nullptr) continue;
    const auto num = op->counters.find(b.numerator), den = op->counters.find(b.denominator);
    if (num == op->counters.end() || den == op->counters.end() || den->second <= 0) continue;
    const double r = num->second / den->second;
    out << "\n" << b.operation << ": " << b.numerator << " " << Format("%.1f", num->second / 1e6)
        << " MB / " << b.denominator << " " << Format("%.1f", den->second / 1e6)
        << " MB = " << Format("%.3f", r);
    if (b.maxRatio <= 0) {  // shown for comparison only
      out << " (" << b.note << ")\n";
      continue;
    }
    const bool ok = r <= b.maxRatio;
    ++checked_;
    if (!ok) ++missed_;
    out << " (budget ≤ " << Format("%g", b.maxRatio) << ", " << b.note
        << "): " << (ok ? "met" : "**MISSED**") << "\n";
  }

  const bool anyGrowth = std::any_of(growths_.begin(), growths_.end(), [&](const Growth& g) {
    return Find(g.bySide.front().second) != nullptr;
  });
  if (anyGrowth) {
    out << "\n## Growth with the texture's side (ns per texel; linear cost keeps it flat)\n\n"
        << "| Operation |";
    for (const auto& [side, name] : growths_.front().bySide) out << " " << side << "² |";
    out << " time " << growths_.front().bySide.back().first << "² / time "
        << growths_.front().bySide.front().first << "² (texels × "
        << Format("%.0f", std::pow(double(growths_.front().bySide.back().first) /
                                       growths_.front().bySide.front().first,
                                   2))
        << ") |\n|---|";
    for (size_t i = 0; i <= growths_.front().bySide.size(); ++i) out << "---|";
    out << "\n";
    for (const Growth& g : growths_) {
      if (Find(g.bySide.front().second) == nullptr) continue;
      out << "| " << g.label << " |";
      for (const auto& [side, name] : g.bySide) {
        const Measured* m = Find(name);
        out << " " << (m ? Format("%.2f", m->seconds * 1e9 / (double(side) * side)) : "–")
            << " |";
      }
      const Measured* first = Find(g.bySide.front().second);
      const Measured* last = Find(g.bySide.back().second);
      out << " " << (first && last ? Format("%.0f", last->seconds / first->seconds) : "–")
          << " |\n";
    }
  }

  out << "\nBudgets checked: " << checked_ << ", missed: " << missed_ << "\n";
  out.flush();
}

}  // namespace bench
