#include "palette.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <limits>

namespace core {
namespace {

// Shift-JIS bytes that start a double-byte character.
bool isLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Bytes that can follow a lead byte; any other byte is a character of its own.
bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

int hexValue(unsigned char b) {
    if (b >= '0' && b <= '9') {
        return b - '0';
    }
    if (b >= 'A' && b <= 'F') {
        return b - 'A' + 10;
    }
    return -1;
}

}  // namespace

void PaletteParser::feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (trailNext_) {
            trailNext_ = false;
            // A lead byte without a valid trail (at a line end, say) stands
            // alone, and the byte after it is read as itself.
            if (isTrailByte(b)) {
                continue;
            }
        }
        if (isLeadByte(b)) {
            trailNext_ = true;
            continue;
        }
        const int h = hexValue(b);
        if (h < 0) {
            continue;
        }
        pendingValue_ = pendingValue_ * 16 + h;
        if (++pendingDigits_ == 6) {
            if (groups_ < kColTblSize) {
                table_[static_cast<size_t>(groups_)] = pendingValue_;
            }
            if (groups_ < std::numeric_limits<int32_t>::max()) {
                ++groups_;
            }
            pendingValue_ = 0;
            pendingDigits_ = 0;
        }
    }
}

int32_t ReadColor(const std::string& path, ColTable& colTbl) {
    // Non-blocking, so a pipe of that name cannot hang start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return 0;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return 0;
    }
    PaletteParser parser(colTbl);
    std::array<char, 65536> buf;
    for (;;) {
        const ssize_t got = ::read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // end of file, or a folder or unreadable file: keep what was read
        }
        parser.feed(buf.data(), static_cast<size_t>(got));
    }
    ::close(fd);
    return parser.groups();
}

}  // namespace core
