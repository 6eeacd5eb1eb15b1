#pragma once
// A run asked to stop (Ctrl-C, SIGTERM, a hang-up). The signal handler only sets a flag; every wait on a
// link looks at it and fails, so the run ends through its normal failure path: its messages,
// its temporary files removed, the link closed.

namespace tavrel {

// Sets the flag. Safe to call from a signal handler.
void RequestInterruption();
bool InterruptionRequested();
// The signal that asked, 0 when none did (RequestInterruption outside a handler included).
int InterruptionSignal();
// Lowers the flag again (a new run in the same process).
void ClearInterruption();

// SIGINT, SIGTERM and SIGHUP set the flag, without restarting the call they interrupt, so a
// blocked wait returns at once. A second signal ends the process the default way (a run that does
// not stop).
void InstallInterruptionHandlers();

// For a process another one started and watches (a board of several at once): when that parent
// ends, this process gets SIGTERM and so stops through its own failure path; a parent already
// gone sets the flag at once. Writes to a pipe nobody reads any more fail instead of killing it.
void StopWhenParentEnds(int parentPid);

// How long a blocking wait of the platform sleeps at most before it looks at the flag again.
inline constexpr int kInterruptionPollMs = 100;

}  // namespace tavrel
