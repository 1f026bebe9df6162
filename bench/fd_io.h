// Blocking-with-deadline transfers on a non-blocking descriptor, as both ends
// of the benchmark line use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// Reads exactly n bytes, waiting at most timeoutMs for each chunk; false on
// time-out, end of file or error. `quickAck`: a TCP socket acknowledges what
// it read at once (set again after every read, as Linux drops it by itself).
bool ReadExact(int fd, void* buffer, size_t n, int timeoutMs = 5000, bool quickAck = false);
// Writes all n bytes (waiting while the line is full); false on error.
bool WriteAll(int fd, const void* buffer, size_t n);
// Discards whatever has arrived within quietMs of quiet.
void Drain(int fd, int quietMs);
// Puts a descriptor into raw, non-blocking mode (a terminal also gets cfmakeraw).
void MakeRawNonBlocking(int fd);

}  // namespace bench
