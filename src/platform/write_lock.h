#pragma once

namespace sorvel::platform {

/// Locks the whole open file for writing, for as long as this descriptor (and any copy of it)
/// stays open: an open-file-description lock, else flock() where the file system refuses those,
/// else none where it refuses both. Another Sorvel that opens the file to write it meanwhile waits
/// and then reads the end this one left. Answers false only when `wait` is false and another
/// holder has the file; then this descriptor holds no lock.
bool lockForWriting(int fd, bool wait);

}  // namespace sorvel::platform
