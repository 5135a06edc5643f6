#pragma once

namespace core {

// The error numbers the messages show. They are fixed numbers, not the
// system's errno values, so a message reads the same on every platform:
// 6 overflow, 53 file not found, 58 file already exists, 61 disk full,
// 70 permission denied, 75 path or file access error, 76 path not found,
// 481 invalid picture.
inline constexpr int kErrOverflow = 6;
inline constexpr int kErrFileNotFound = 53;
inline constexpr int kErrFileExists = 58;
inline constexpr int kErrDiskFull = 61;
inline constexpr int kErrPermission = 70;
inline constexpr int kErrPathAccess = 75;
inline constexpr int kErrPathNotFound = 76;
inline constexpr int kErrInvalidPicture = 481;

// A value, or the error number of the step that failed to produce it.
template <class T>
struct Outcome {
    T value{};
    int err = 0;  // 0 when value is valid

    bool ok() const { return err == 0; }
};

// Maps a POSIX errno value onto the error numbers above. Every file error
// of the program goes through here, so the numbers stay consistent.
int errorNumberFromErrno(int posixErrno);

}  // namespace core
