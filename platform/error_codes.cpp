#include "platform/error_codes.h"

#include <cerrno>
#include <cstring>

namespace kestrel {

int ErrorFromErrno(int errnoValue, IoDirection direction) {
  switch (errnoValue) {
    case 0: return kSuccess;
    case ENOENT:
    case ENOTDIR: return kErrFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrAccessDenied;
    case ENOMEM: return kErrNotEnoughMemory;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case EEXIST: return kErrAlreadyExists;
    case EINVAL: return kErrInvalidParameter;
    case EIO: return direction == IoDirection::kWrite ? kErrWriteFault : kErrReadFault;
    default: return kErrGeneralFailure;
  }
}

int LastError(IoDirection direction) { return ErrorFromErrno(errno, direction); }

std::string ErrorText(int code) {
  switch (code) {
    case kSuccess: return "The operation completed successfully.";
    case kErrFileNotFound: return "The system cannot find the file specified.";
    case kErrAccessDenied: return "Access is denied.";
    case kErrNotEnoughMemory: return "Not enough memory resources are available to process this command.";
    case kErrWriteFault: return "The system cannot write to the specified device.";
    case kErrReadFault: return "The system cannot read from the specified device.";
    case kErrGeneralFailure: return "A device attached to the system is not functioning.";
    case kErrHandleEof: return "Reached the end of the file.";
    case kErrNotSupported: return "The request is not supported.";
    case kErrFileExists: return "The file exists.";
    case kErrInvalidParameter: return "The parameter is incorrect.";
    case kErrDiskFull: return "There is not enough space on the disk.";
    case kErrAlreadyExists: return "Cannot create a file when that file already exists.";
    case kCancelled: return "The operation was cancelled.";
    default: return "Unknown error " + std::to_string(code) + ".";
  }
}

std::string ErrnoProblem(int errnoValue) {
  switch (errnoValue) {
    case EROFS: return "read-only file system";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOSPC:
    case EDQUOT: return "no space left on the device";
    case ENOTDIR: return "a part of the path is a file, not a folder";
    case EEXIST: return "a file of that name exists";
    default: return std::strerror(errnoValue);
  }
}

}  // namespace kestrel
