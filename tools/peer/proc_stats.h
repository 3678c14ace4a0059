// What /proc tells about a running process: its open descriptors, its
// threads, its resident memory and its CPU time. Used to check that a server given bad or
// vanishing peers ends up holding no more than it started with.
#pragma once

#include <sys/types.h>

// Entries of /proc/<pid>/fd; -1 when the process cannot be read.
int openDescriptors(pid_t pid);
// Entries of /proc/<pid>/task; -1 when the process cannot be read.
int threadCount(pid_t pid);
// VmRSS of /proc/<pid>/status in KiB; -1 when the process cannot be read.
long residentKib(pid_t pid);
// User plus system time of the process, in clock ticks; -1 when it cannot
// be read.
long cpuTicks(pid_t pid);

struct ProcessCounts {
  int descriptors;
  int threads;
};

ProcessCounts processCounts(pid_t pid);
// Waits at most timeoutMs for the process to hold no more descriptors and
// threads than `limit`; true when it does. The counts seen last go to `seen`.
bool settlesTo(pid_t pid, ProcessCounts limit, int timeoutMs, ProcessCounts* seen);
