// Multipath MP1 and MP2 made the plain way, for the tests that check the
// quality check's figures: the classic combinations of one observation,
// whole arcs kept in memory, and each arc of ten values or more taken
// against its own mean.
#ifndef RAWCONV_TESTS_QC_MP_REFERENCE_H_
#define RAWCONV_TESTS_QC_MP_REFERENCE_H_

#include <cstdint>
#include <vector>

namespace rawconv {
namespace qctest {

// Where the types multipath needs stand in a file's list of types.
struct MpTypeIndex {
  int L1, L2, P1, C1, P2;
};

// One satellite's arcs: the values of the open arc, the time of its last
// observation, and the squared deviations and counts of the closed arcs.
struct MpArcs {
  std::vector<double> mp1, mp2;
  double last = -1e30;
  double dev1 = 0, dev2 = 0;
  int64_t n1 = 0, n2 = 0;

  // MP1 and MP2 (metres) of one observation: code on L1 and P2 in metres,
  // phases in cycles.
  void Add(double code1, double p2, double l1_cycles, double l2_cycles) {
    const double c = 299792458.0, f1 = 1575.42e6, f2 = 1227.60e6, a = (f1 / f2) * (f1 / f2);
    const double L1 = c / f1 * l1_cycles, L2 = c / f2 * l2_cycles;
    mp1.push_back(code1 - (1 + 2 / (a - 1)) * L1 + (2 / (a - 1)) * L2);
    mp2.push_back(p2 - (2 * a / (a - 1)) * L1 + (2 * a / (a - 1) - 1) * L2);
  }

  // One record of the satellite at time t (seconds): the open arc ends
  // after five minutes without the satellite, where a phase reports lost
  // lock, or at a slip (`slip`); then the record's MP1 and MP2 join it when
  // L1, L2, P2 and P1 or C1 are there. has(value) tells whether a value is.
  template <typename Values, typename Has>
  void Feed(double t, const Values& values, const MpTypeIndex& i, bool slip, Has has) {
    const bool gap = t - last > 300.0;
    last = t;
    auto v = [&values](int k) -> const auto& { return values[static_cast<size_t>(k)]; };
    if (!has(v(i.L1))) return;
    const bool lost = (v(i.L1).Lli > 0 && (v(i.L1).Lli & 1)) ||
                      (has(v(i.L2)) && v(i.L2).Lli > 0 && (v(i.L2).Lli & 1));
    if (gap || lost || slip) Close();
    if (!has(v(i.L2)) || !has(v(i.P2)) || !(has(v(i.P1)) || has(v(i.C1)))) return;
    Add(has(v(i.P1)) ? v(i.P1).Value : v(i.C1).Value, v(i.P2).Value, v(i.L1).Value, v(i.L2).Value);
  }

  // Ends the open arc; an arc of ten values or more counts.
  void Close() {
    if (mp1.size() >= 10) {
      Sum(mp1, &dev1, &n1);
      Sum(mp2, &dev2, &n2);
    }
    mp1.clear();
    mp2.clear();
  }

 private:
  static void Sum(const std::vector<double>& values, double* dev, int64_t* n) {
    double mean = 0;
    for (double v : values) mean += v;
    mean /= static_cast<double>(values.size());
    for (double v : values) *dev += (v - mean) * (v - mean);
    *n += static_cast<int64_t>(values.size());
  }
};

// Squared deviations and counts of every satellite's arcs.
struct MpTotals {
  double dev1 = 0, dev2 = 0;
  int64_t n1 = 0, n2 = 0;
};

// Closes the open arc of every satellite (a map of MpArcs) and sums all.
template <typename Map>
MpTotals CloseAll(Map& arcs) {
  MpTotals total;
  for (auto& entry : arcs) {
    MpArcs& x = entry.second;
    x.Close();
    total.dev1 += x.dev1;
    total.dev2 += x.dev2;
    total.n1 += x.n1;
    total.n2 += x.n2;
  }
  return total;
}

}  // namespace qctest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_QC_MP_REFERENCE_H_
