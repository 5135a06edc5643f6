#pragma once

namespace core {

// Error numbers keep the desktop convention, so the messages read as users
// of the original platform expect them.
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
