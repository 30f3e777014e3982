// How a run ends early: a stage prints its message and throws RunStop with
// the exit status; the driver catches it and returns the status, so a whole
// run can be driven and inspected in-process.
#pragma once

namespace kelvo {

struct RunStop {
  int exit_status;
};

// Exit statuses of the tool.
inline constexpr int exit_complete = 0;  // the summary was written
inline constexpr int exit_usage = 1;     // too few arguments: usage text
inline constexpr int exit_failure = 2;   // every failure, with its message

}  // namespace kelvo
