// Peak memory of work run in a forked child, for the tests that bound what a hostile file or an
// operation may allocate.
#pragma once

#include <functional>

namespace qrvtest {

struct ChildPeak {
  bool ran = false;     // the child finished and reported
  long failures = 0;    // what the work returned
  long growthMB = 0;    // its peak resident size above the resident size at the start
};

// Runs `work` in a forked child whose peak resident size is first reset to its current size,
// so that the growth counts only what the work allocates. `work` returns its failure count
// (and says on stderr what failed).
ChildPeak PeakInChild(const std::function<long()>& work);

}  // namespace qrvtest
