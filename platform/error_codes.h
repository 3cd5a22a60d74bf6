// Error vocabulary at the engine boundary: Win32-numbered codes, because the
// stored formats, the jobs and the user-facing texts all speak in them.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

inline constexpr int kSuccess = 0;
inline constexpr int kErrFileNotFound = 2;
inline constexpr int kErrAccessDenied = 5;
inline constexpr int kErrNotEnoughMemory = 8;
inline constexpr int kErrWriteFault = 29;
inline constexpr int kErrReadFault = 30;
inline constexpr int kErrGeneralFailure = 31;
inline constexpr int kErrHandleEof = 38;
inline constexpr int kErrNotSupported = 50;
inline constexpr int kErrFileExists = 80;
inline constexpr int kErrInvalidParameter = 87;
inline constexpr int kErrDiskFull = 112;
inline constexpr int kErrAlreadyExists = 183;
// A callback asked the running operation to stop; engines hand it back unchanged.
inline constexpr int kCancelled = -9527;

enum class IoDirection { kRead, kWrite };

// Maps an errno value onto the code the rest of the system reports.
int ErrorFromErrno(int errnoValue, IoDirection direction = IoDirection::kRead);

// The same, for the errno of the call that just failed.
int LastError(IoDirection direction = IoDirection::kRead);

// One English sentence per code ("The system cannot find the file specified.").
std::string ErrorText(int code);

// An errno value in the words a user knows it by: "read-only file system",
// "permission denied", "no space left on the device", or strerror's text.
std::string ErrnoProblem(int errnoValue);

}  // namespace kestrel
