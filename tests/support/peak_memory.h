// Peak memory and time of a piece of work, measured in a forked child so that nothing the test
// program allocated before counts.
#pragma once

#include <functional>

namespace qrvtest {

struct ChildRun {
  bool exited = false;  // the child ran to its end (no crash)
  int result = -1;      // what the body returned (0 to 254)
  long peakMB = -1;     // growth of the child's peak resident size over its size at the start
  double seconds = 0;   // the body's wall-clock time
};

// Runs `body` in a child process whose peak resident size is reset first.
ChildRun RunInChild(const std::function<int()>& body);

}  // namespace qrvtest
