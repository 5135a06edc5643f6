#include <cerrno>

#include "outcome.h"

namespace core {

int errorNumberFromErrno(int posixErrno) {
    switch (posixErrno) {
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EEXIST:
            return kErrFileExists;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kErrDiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrPermission;
        default:
            return kErrPathAccess;
    }
}

}  // namespace core
