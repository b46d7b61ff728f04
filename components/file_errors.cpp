#include "components/file_errors.h"

#include <cerrno>

EInOutError EInOutError::FromErrno(int err) {
  switch (err) {
    case ENOENT:
      return EInOutError("File not found", 2);
    case ENOTDIR:
      return EInOutError("Path not found", 3);
    case EMFILE:
    case ENFILE:
      return EInOutError("Too many open files", 4);
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case EISDIR:
      return EInOutError("File access denied", 5);
    case ENOSPC:
    case EFBIG:  // the file-size limit of the process or the file system
#ifdef EDQUOT
    case EDQUOT:
#endif
      return EInOutError("Disk full", 101);
    default:
      return EInOutError("I/O error " + std::to_string(err), err);
  }
}

EConvertError EConvertError::NotAnInteger(const std::string& text) {
  return EConvertError("'" + text + "' is not a valid integer value");
}
