// Interruptions: SIGINT, SIGTERM and SIGHUP end a program at once, leaving no temporary file:
// the temporaries that outputs are being written to register here while they exist (as
// ReplacingFile does), and the handler removes them, writes one line on standard error and
// ends the process with status 128 + the signal's number.
//
// Threads: registering is safe from any thread; `stop_on_signals` is called once by a program's
// main before its work starts (libraries never install handlers: an embedding host such as the
// Python interpreter has its own).
#pragma once

#include <string>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// Installs the handlers; the line written is "PROGRAM: interrupted by SIGTERM" (or SIGINT,
// SIGHUP).
void stop_on_signals(const char* program);

// For the end of a run whose outcome has been reported: a signal from now on still removes
// the temporaries but ends the process with `status` and writes nothing (an MPI launcher ends
// the other ranks of a job that one rank's failure has already explained).
void end_quietly_on_signals(int status);

// Remembers `path` as a file to remove if a signal ends the program. Returns the slot to pass
// to `forget_temporary` once the file is gone or renamed, or -1 when every slot is taken.
int remember_temporary(const std::string& path);
void forget_temporary(int slot);
// Removes the remembered temporaries: for ends that do not unwind (a signal, `die`'s default
// exit).
void remove_temporaries();

}  // namespace kvtraj

#pragma GCC visibility pop
