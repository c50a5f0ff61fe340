#pragma once
// What both programs do before anything else, so that how they were started cannot end capture
// or send its messages astray.

// Ignores SIGPIPE: a write to a pipe or socket whose reader is gone (standard error piped to a
// pager that was closed, a broker's connection) fails with EPIPE instead of ending the program.
// Opens /dev/null on any of descriptors 0, 1 and 2 that a launcher left closed: otherwise the
// first pipe, port or report file opened would take its number, and standard error would be
// written into it. Both hold across exec.
void PrepareProcessStart();
