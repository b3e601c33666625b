#pragma once

#include <QString>

namespace sorvel {

/// Failure code of a file-system operation; 0 is success. The numbers are the program's own
/// (they appear in its messages), not errno values.
using Code = int;

namespace code {
inline constexpr Code kOk = 0;
inline constexpr Code kBadArgument = 5;    // text that an ID3v1 field cannot hold
inline constexpr Code kBadFileName = 52;   // a name the program refuses or the system cannot hold
inline constexpr Code kFileNotFound = 53;  // the file is not there
inline constexpr Code kDeviceIo = 57;      // the medium failed while reading or writing
inline constexpr Code kFileExists = 58;    // something of that name is already there
inline constexpr Code kDiskFull = 61;      // no space (or quota) left
inline constexpr Code kTooManyFiles = 67;  // out of file descriptors
inline constexpr Code kDeviceUnavailable = 68;  // the drive or medium cannot be reached
inline constexpr Code kCrossDevice = 74;        // a rename across file systems
inline constexpr Code kAccess = 75;             // read-only, no permission, busy or refused
inline constexpr Code kPathNotFound = 76;       // a folder on the way is missing or not a folder
inline constexpr Code kNotRegularFile = 77;     // a folder, FIFO or device where a file is expected
inline constexpr Code kLinkNotMp3 = 78;         // a link whose final target is no regular MP3 file
inline constexpr Code kReservedName = 79;       // a device name other systems reserve (CON, AUX...)
// The program's own reasons, which no system call gives; below zero, where no errno lands.
inline constexpr Code kChangedSince = -1;    // undo: the file changed after the command
inline constexpr Code kChangedOnDisk = -2;   // a write: the file changed since its row was read
inline constexpr Code kNothingToWrite = -3;  // a command had nothing for the file: counted, unnamed
inline constexpr Code kNotMp3 = -4;  // named to a command, but its folder lists no such MP3 file
/// Any errno without a code of its own is reported as this plus the errno value.
inline constexpr Code kOtherBase = 1000;
}  // namespace code

/// Turns an errno value into the program's failure code.
Code codeFromErrno(int err);

/// How a message names a failure: by its words ("disken är full"), or by its number.
enum class Naming { Words, Number };

/// The words for failure code `c`, the one place where a code becomes text: what it means, the
/// system's words for an errno without a code of its own, else "fel av typen N", which
/// Naming::Number always gives.
QString reason(Code c, Naming naming = Naming::Words);

}  // namespace sorvel
