#pragma once

// The other side of the churn test: a process that forks and reaps short-lived children at a
// steady rate. Some rename themselves, some rewrite their argv, some stay zombies until the
// end, some exec another program under the same pid.

namespace corvel::testing {

inline constexpr const char* churnFlag = "--churn-helper";
inline constexpr const char* execTargetFlag = "--exec-target";

// Runs as the helper: `argv` is the whole argument vector (its memory is what children
// rewrite), `seconds` how long to fork, and each child that is about to exec writes
// "<pid> <kind> <steady-clock ns>\n" to `reportFd` first (kind 's': /bin/sleep; 'e': this
// program again with execTargetFlag, under another process name; 'n': the same under the
// same process name). Prints a one-line summary; returns the exit status.
int runChurnHelper(int argc, char** argv, double seconds, int reportFd);

// How long an exec'ed child lives on under its new command.
inline constexpr double execLifeSeconds = 1.0;

} // namespace corvel::testing
