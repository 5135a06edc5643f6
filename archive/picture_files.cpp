#include "archive/picture_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <cerrno>
#include <vector>

#include "core/numfmt.h"

namespace archive {
namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Error number of a failed write into a folder: a folder that is missing or
// is not a folder is "path not found", whatever errno the write gave.
int writeError(const std::string& folder, int posixErrno) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return core::kErrPathNotFound;
    }
    return core::errorNumberFromErrno(posixErrno);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Moves from to to unless to exists. Falls back to a hard link on file
// systems that cannot rename without replacing.
int moveIntoPlace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

std::string pictureName(const std::string& programFolder, int index) {
    return programFolder + "/Bmp/M" + core::formatThreeDigits(index) + ".Bmp";
}

core::Outcome<std::string> findFreeName(const std::string& programFolder) {
    for (int i = 0; i < kNameCount; ++i) {
        std::string name = pictureName(programFolder, i);
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0) {
            // Nothing of that name can be seen; if the folder itself is the
            // trouble, the write reports it.
            return {std::move(name), 0};
        }
    }
    return {pictureName(programFolder, kNameCount - 1), core::kErrFileExists};
}

int writeBmpFile(const QImage& image, const std::string& path) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "BMP")) {
            return core::kErrInvalidPicture;
        }
    }

    const std::string folder = folderOf(path);
    std::string tmp = path + ".partial-XXXXXX";
    std::vector<char> tmpName(tmp.begin(), tmp.end());
    tmpName.push_back('\0');
    const int fd = ::mkostemp(tmpName.data(), O_CLOEXEC);
    if (fd < 0) {
        return writeError(folder, errno);
    }
    tmp = tmpName.data();

    int err = 0;
    if (!writeAll(fd, bytes.constData(), static_cast<size_t>(bytes.size())) || ::fsync(fd) != 0) {
        err = writeError(folder, errno);
    }
    if (::close(fd) != 0 && err == 0) {
        err = writeError(folder, errno);
    }
    // Readable like any file the user creates, not just by its owner.
    if (err == 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(tmp.c_str(), 0666 & ~mask);
    }
    if (err == 0) {
        const int moveErrno = moveIntoPlace(tmp, path);
        if (moveErrno != 0) {
            err = writeError(folder, moveErrno);
        }
    }
    if (err != 0) {
        ::unlink(tmp.c_str());
    }
    return err;
}

int readBmpFile(const std::string& path, QImage& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0) {
        return core::errorNumberFromErrno(errno);
    }
    QImageReader reader(QString::fromStdString(path), "BMP");
    QImage image;
    if (!reader.read(&image)) {
        return core::kErrInvalidPicture;
    }
    out = std::move(image);
    return 0;
}

void SaveBmp(core::Platform& platform, const QImage& surface, PictureFiles& files) {
    const core::Outcome<std::string> name = findFreeName(platform.programFolder());
    files.PicName = name.value;
    int err = name.err;
    if (err == 0) {
        err = writeBmpFile(surface, files.PicName);
    }
    if (err != 0) {
        core::reportAndEnd(platform, err, kSaveFaultText + files.PicName);
    }
}

void LoadBmp(core::Platform& platform, PictureFiles& files) {
    const int err = readBmpFile(files.PicName, files.PicSaved);
    if (err != 0) {
        core::reportAndEnd(platform, err, kLoadFaultText + files.PicName);
    }
}

}  // namespace archive
