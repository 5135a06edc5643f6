#include "archive/picture_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/numfmt.h"

namespace archive {
namespace {

// Gives the next name to try: first the chosen one, then, each time that
// name turns out taken, another one or an error number.
using NameSource = std::function<core::Outcome<std::string>()>;

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

void reach(const SaveOptions& options, SaveStep step) {
    if (options.onStep) {
        options.onStep(step);
    }
}

// The errno values by which open(2) says that a folder cannot hold unnamed
// files: the file system lacks them, or the kernel predates them.
bool lacksAnonymousFiles(int posixErrno) {
    return posixErrno == EOPNOTSUPP || posixErrno == EISDIR || posixErrno == EINVAL;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The file a picture is written into before it has its name. Whatever still
// holds it when it goes is undone: an unnamed file vanishes with its
// descriptor, a named temporary is removed.
struct Unplaced {
    int fd = -1;
    std::string temporary;  // path of a named temporary; empty when unnamed or moved

    ~Unplaced() {
        if (fd >= 0) {
            ::close(fd);
        }
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
    }
};

// Creates the file in the folder; falls back from an unnamed file to a named
// temporary beside name. Returns 0 or an errno value.
int create(const std::string& folder, const std::string& name, Placement& placement,
           Unplaced& out) {
    if (placement == Placement::Anonymous) {
        // The link into place goes through the descriptor's entry in /proc.
        if (::access("/proc/self/fd", X_OK) == 0) {
            const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (fd >= 0) {
                out.fd = fd;
                return 0;
            }
            if (!lacksAnonymousFiles(errno)) {
                return errno;
            }
        }
        placement = Placement::NamedRename;
    }
    std::string pattern = name + kPartialInfix + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    out.fd = fd;
    out.temporary = buf.data();
    // mkostemp makes the file its owner's alone; a picture is readable like
    // any other file the user creates.
    ::fchmod(fd, 0666 & ~currentUmask());
    return 0;
}

// Gives the written file the name, never replacing a file of that name (that
// is EEXIST). Returns 0 or an errno value.
int giveName(Unplaced& file, Placement& placement, const std::string& name,
             const SaveOptions& options) {
    if (placement == Placement::Anonymous) {
        // linkat with AT_EMPTY_PATH would need a privilege; the /proc entry
        // of the descriptor does not.
        const std::string self = "/proc/self/fd/" + std::to_string(file.fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            return errno;
        }
        return 0;
    }
    if (placement == Placement::NamedRename) {
        if (::renameat2(AT_FDCWD, file.temporary.c_str(), AT_FDCWD, name.c_str(),
                        RENAME_NOREPLACE) == 0) {
            file.temporary.clear();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return errno;
        }
        // A file system that cannot rename without replacing.
        placement = Placement::NamedLink;
    }
    if (::link(file.temporary.c_str(), name.c_str()) != 0) {
        return errno;
    }
    reach(options, SaveStep::Linked);
    ::unlink(file.temporary.c_str());
    file.temporary.clear();
    return 0;
}

core::Outcome<std::string> place(const QImage& image, const NameSource& nextName,
                                 const SaveOptions& options) {
    core::Outcome<std::string> name = nextName();
    if (!name.ok()) {
        return name;
    }
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "BMP")) {
            return {name.value, core::kErrInvalidPicture};
        }
    }

    const std::string folder = folderOf(name.value);
    Placement placement = options.placement;
    Unplaced file;
    if (const int e = create(folder, name.value, placement, file); e != 0) {
        return {name.value, writeError(folder, e)};
    }
    reach(options, SaveStep::Created);
    if (!writeAll(file.fd, bytes.constData(), static_cast<size_t>(bytes.size()))) {
        return {name.value, writeError(folder, errno)};
    }
    reach(options, SaveStep::Written);
    // The data is on disk before the file has a name, so no crash can leave
    // a picture name on a partial file.
    if (::fsync(file.fd) != 0) {
        return {name.value, writeError(folder, errno)};
    }
    reach(options, SaveStep::Synced);
    if (placement != Placement::Anonymous) {
        // A named temporary is complete now; its descriptor is not needed.
        const int fd = file.fd;
        file.fd = -1;
        if (::close(fd) != 0) {
            return {name.value, writeError(folder, errno)};
        }
    }

    // Every retry follows a name another program took, so the names run out
    // after at most kNameCount of them.
    for (int attempt = 0;; ++attempt) {
        const int e = giveName(file, placement, name.value, options);
        if (e == 0) {
            break;
        }
        if (e != EEXIST) {
            return {name.value, writeError(folder, e)};
        }
        if (attempt == kNameCount) {
            return {name.value, core::kErrFileExists};
        }
        name = nextName();
        if (!name.ok()) {
            return name;
        }
    }
    reach(options, SaveStep::Placed);
    return name;
}

// M, three digits, .Bmp, the infix and the six characters mkostemp chose.
bool isNamedTemporary(const std::string& entry) {
    const size_t infix = std::strlen(kPartialInfix);
    if (entry.size() != 8 + infix + 6 || entry[0] != 'M' || entry.compare(4, 4, ".Bmp") != 0 ||
        entry.compare(8, infix, kPartialInfix) != 0) {
        return false;
    }
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto alnum = [&](char c) {
        return digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    for (size_t i = 1; i < 4; ++i) {
        if (!digit(entry[i])) {
            return false;
        }
    }
    for (size_t i = 8 + infix; i < entry.size(); ++i) {
        if (!alnum(entry[i])) {
            return false;
        }
    }
    return true;
}

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::string pictureName(const std::string& folder, int index) {
    return folder + "/M" + core::formatThreeDigits(index) + ".Bmp";
}

core::Outcome<std::string> findFreeName(const std::string& folder) {
    for (int i = 0; i < kNameCount; ++i) {
        std::string name = pictureName(folder, i);
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0) {
            // Nothing of that name can be seen; if the folder itself is the
            // trouble, the write reports it.
            return {std::move(name), 0};
        }
    }
    return {pictureName(folder, kNameCount - 1), core::kErrFileExists};
}

core::Outcome<std::string> writeToFreeName(const QImage& image, const std::string& folder,
                                           const SaveOptions& options) {
    return place(
        image, [&] { return findFreeName(folder); }, options);
}

int writeBmpFile(const QImage& image, const std::string& path, const SaveOptions& options) {
    bool first = true;
    const NameSource onlyPath = [&]() -> core::Outcome<std::string> {
        const int err = first ? 0 : core::kErrFileExists;
        first = false;
        return {path, err};
    };
    return place(image, onlyPath, options).err;
}

int readBmpFile(const std::string& path, QImage& out) {
    // Not blocking, so a pipe of that name cannot hang the load.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return core::errorNumberFromErrno(errno);
    }
    struct stat st {};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return core::kErrInvalidPicture;
    }
    // The reader takes a file cut short for a picture with rows missing; the
    // size its header gives tells them apart.
    const QByteArray head = file.peek(6);
    if (head.size() == 6 && head.startsWith("BM")) {
        const auto byte = [&](int i) {
            return static_cast<uint32_t>(static_cast<uint8_t>(head[i]));
        };
        const uint32_t declared = byte(2) | byte(3) << 8 | byte(4) << 16 | byte(5) << 24;
        if (static_cast<off_t>(declared) > st.st_size) {
            return core::kErrInvalidPicture;
        }
    }
    QImageReader reader(&file, "BMP");
    QImage image;
    if (!reader.read(&image)) {
        return core::kErrInvalidPicture;
    }
    out = std::move(image);
    return 0;
}

bool ensurePictureFolder(const std::string& folder) {
    // Parent first, one level at a time: a folder some other program makes
    // meanwhile is as good as one made here.
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        struct stat parent {};
        const std::string up = folder.substr(0, slash);
        if (::stat(up.c_str(), &parent) != 0 && !ensurePictureFolder(up)) {
            return false;
        }
    }
    if (::mkdir(folder.c_str(), 0777) == 0) {
        return true;
    }
    struct stat st {};
    return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int removeStaleTemporaries(const std::string& folder, std::time_t now) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    struct Stale {
        std::string path;
        struct stat seen;
    };
    std::vector<Stale> stale;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isNamedTemporary(entry->d_name)) {
            continue;
        }
        Stale s{folder + "/" + entry->d_name, {}};
        if (::lstat(s.path.c_str(), &s.seen) == 0 && S_ISREG(s.seen.st_mode) &&
            s.seen.st_mtim.tv_sec <= now - kStaleSeconds) {
            stale.push_back(std::move(s));
        }
    }
    ::closedir(dir);

    // A save still writing changes its file's size and time; such a file is
    // left alone, as is one that another save renamed away meanwhile.
    int removed = 0;
    for (const Stale& s : stale) {
        struct stat again {};
        if (::lstat(s.path.c_str(), &again) == 0 && sameState(s.seen, again) &&
            ::unlink(s.path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

void SaveBmp(core::Platform& platform, const QImage& surface, PictureFiles& files) {
    const core::Outcome<std::string> saved = writeToFreeName(surface, platform.pictureFolder());
    files.PicName = saved.value;
    if (!saved.ok()) {
        core::reportAndEnd(platform, saved.err, kSaveFaultText + files.PicName);
    }
}

void LoadBmp(core::Platform& platform, PictureFiles& files) {
    const int err = readBmpFile(files.PicName, files.PicSaved);
    if (err != 0) {
        core::reportAndEnd(platform, err, kLoadFaultText + files.PicName);
    }
}

}  // namespace archive
