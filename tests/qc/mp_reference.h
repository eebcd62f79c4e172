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

}  // namespace qctest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_QC_MP_REFERENCE_H_
