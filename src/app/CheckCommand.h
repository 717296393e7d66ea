// "zarn --verify" and "zarn --repair": the game folder checked (and repaired) from the command
// line, for support staff and scripts. No window, no toolkit; the report on standard output,
// progress on standard error.
#pragma once

namespace zarn {

// Exit codes of the two commands.
enum : int {
  kCheckWhole = 0,       // every listed file is as listed (after the repair, for --repair)
  kCheckNotWhole = 1,    // files are missing or damaged (still, for --repair)
  kCheckCouldNotRun = 2  // no installed manifest, a list refused or not fetched, a bad argument
};

// True when argv[1] is "--verify" or "--repair".
bool IsCheckCommand(int argc, char** argv);
// Runs it: "zarn --verify [game folder]", "zarn --repair [game folder]"; the folder defaults to
// the launcher's own.
int RunCheckCommand(int argc, char** argv);

}  // namespace zarn
