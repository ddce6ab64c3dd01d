// The query host that stands in for the window wherever the queries run
// without one (tests, fuzz targets, benchmarks): it records what the window
// would be told. Header-only and free of any test framework.
#pragma once

#include <map>

#include "vessarine/query/queries.h"

class RecordingHost : public QueryHost {
 public:
  void EnableControl(int id, bool enable) override { enabled[id] = enable; }
  void Push() override { ++pushes; }
  bool IsEnabled(int id) const {
    auto it = enabled.find(id);
    return it != enabled.end() && it->second;
  }
  std::map<int, bool> enabled;
  int pushes = 0;
};
