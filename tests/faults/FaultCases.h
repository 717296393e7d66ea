// The faults of the update road as a table that the tests of the road's core and of the work
// page both run: how each is set up and what the player is told.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "FaultFixture.h"
#include "support/UpdateRunner.h"

namespace zarn::test {

struct FaultCase {
  const char* name;
  // Sets the fault up on the fixture's server (and may point the road elsewhere).
  std::function<void(FaultFixture&, std::string& base)> arrange;
  RoadOutcome::Kind kind;
  int code;                // download report code or extraction result
  const char* failedPath;  // relative to the game folder; the path the prompt names
  long localBytes;         // bytes of that file afterwards; -1: it does not exist; -2: it exists
};

void PrintTo(const FaultCase& c, std::ostream* os);

const std::vector<FaultCase>& FaultCases();

// A path no archive may create.
std::string AbsoluteProbe();

}  // namespace zarn::test
