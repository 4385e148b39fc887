#pragma once

namespace morvane::bench {

// `window analyze|extract|wav FILE [RATE]`: runs one command in an offscreen
// Form1 with its real gauge and pump, the open dialog answered with FILE and
// RATE typed into Edit1. Prints one line: the seconds from the click to the
// handler's return, the longest gap between two looks at the queue that the
// window counted, and the longest time, seen from outside, in which no timer
// of the queue could fire (from the click to the return, both ends included).
// Exits 2 when the command failed (an error box, a notice, or no completion).
// With MORVANE_BENCH_TRACE set, every stall of more than 12 ms is printed on
// stderr with how far the decode had come, to tell where it happened.
int RunWindowCommand(int argc, char** argv);

}  // namespace morvane::bench
