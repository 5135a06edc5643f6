#include <gtest/gtest.h>

#include <cerrno>

#include "core/outcome.h"

namespace {

TEST(ErrorNumbers, EveryFileErrnoMapsOntoItsDesktopNumber) {
    const struct {
        const char* name;
        int posixErrno;
        int expected;
    } rows[] = {
        {"no_such_file", ENOENT, 53},
        {"part_of_the_path_is_a_file", ENOTDIR, 76},
        {"name_taken", EEXIST, 58},
        {"disk_full", ENOSPC, 61},
        {"quota_exhausted", EDQUOT, 61},
        {"file_size_limit", EFBIG, 61},
        {"mode_forbids", EACCES, 70},
        {"immutable_or_not_permitted", EPERM, 70},
        {"read_only_file_system", EROFS, 70},
        {"link_loop", ELOOP, 75},
        {"name_too_long", ENAMETOOLONG, 75},
        {"device_error", EIO, 75},
        {"busy", EBUSY, 75},
        {"unknown_value", 99999, 75},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(core::errorNumberFromErrno(r.posixErrno), r.expected) << r.name;
    }
}

}  // namespace
