#include "archive/picture_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "support/mode_override.h"
#include "support/scripted_platform.h"
#include "support/tempdir.h"
#include "test_picture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramEnded;
using testsupport::ScriptedPlatform;
using testsupport::TempDir;

// Hashes of every entry of a folder, to prove nothing was changed or removed.
std::map<std::string, QByteArray> snapshot(const std::string& folder) {
    std::map<std::string, QByteArray> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        QFile f(QString::fromStdString(e.path().string()));
        QByteArray hash = "not a readable file";
        std::error_code kindError;  // a link loop has no kind
        if (e.is_regular_file(kindError) && f.open(QIODevice::ReadOnly)) {
            hash = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        }
        out[e.path().filename().string()] = hash;
    }
    return out;
}

QImage testPicture() {
    return testsupport::seededPicture(0);
}

// The bytes a save writes for the picture of a seed. The header's
// resolution follows the screen, so only a file written by this process
// matches them byte for byte; others are compared by wholePicture.
QByteArray bmpBytes(int seed) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    testsupport::seededPicture(seed).save(&buffer, "BMP");
    return bytes;
}

QByteArray fileBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file is the whole picture of the seed: all of its bytes are there and
// they show exactly its pixels.
testing::AssertionResult wholePicture(const std::string& path, int seed) {
    static const qsizetype kSize = bmpBytes(0).size();
    const QByteArray bytes = fileBytes(path);
    if (bytes.size() != kSize) {
        return testing::AssertionFailure()
               << path << " holds " << bytes.size() << " of " << kSize << " bytes";
    }
    const QImage back = QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32);
    if (back != testsupport::seededPicture(seed)) {
        return testing::AssertionFailure() << path << " is not the picture of seed " << seed;
    }
    return testing::AssertionSuccess();
}

bool isPictureName(const std::string& name) {
    return name.size() == 8 && name[0] == 'M' &&
           std::isdigit(static_cast<unsigned char>(name[1])) &&
           std::isdigit(static_cast<unsigned char>(name[2])) &&
           std::isdigit(static_cast<unsigned char>(name[3])) && name.substr(4) == ".Bmp";
}

bool isTemporaryName(const std::string& name) {
    return name.size() == 8 + 9 + 6 && isPictureName(name.substr(0, 8)) &&
           name.substr(8, 9) == ".partial-";
}

mode_t umaskNow() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Sets a file's modification time that many seconds into the past.
void age(const std::string& path, int seconds) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// The saver program (tests/archive/saver_main.cpp) as a child process whose
// output the test reads line by line. Killed, if still running, when it goes.
class Saver {
public:
    explicit Saver(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> all = {QUARLO_SAVER};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, QUARLO_SAVER, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Saver() {
        if (pid_ > 0) {
            kill();
        }
        if (out_ >= 0) {
            close(out_);
        }
    }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    bool running() const { return pid_ > 0; }

    // The next line of output; false at its end. The timeout only keeps a
    // broken saver from hanging the test; no result depends on it.
    bool readLine(std::string& line) {
        for (;;) {
            const size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) {
                return false;
            }
            char chunk[4096];
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) {
                return false;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Ends the saver at once and waits for it.
    void kill() {
        ::kill(pid_, SIGKILL);
        wait();
    }

    // Waits for the saver to end; its exit status, or -1 when killed.
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

const archive::Placement kPlacements[] = {
    archive::Placement::Anonymous, archive::Placement::NamedRename, archive::Placement::NamedLink};

const char* placementArg(archive::Placement p) {
    switch (p) {
        case archive::Placement::Anonymous:
            return "anonymous";
        case archive::Placement::NamedRename:
            return "rename";
        case archive::Placement::NamedLink:
            return "link";
    }
    return "";
}

class PictureFiles : public testing::Test {
protected:
    void SetUp() override {
        platform.folder = dir.path();
        fs::create_directory(bmp());
    }
    std::string bmp() const { return dir.path() + "/Bmp"; }
    void touch(const std::string& name) const { std::ofstream(bmp() + "/" + name) << "x"; }

    TempDir dir;
    ScriptedPlatform platform;
    archive::PictureFiles files;
};

TEST_F(PictureFiles, NameSearchTakesTheLowestFreeExactName) {
    struct Row {
        const char* name;
        std::vector<std::string> present;
        std::vector<std::string> folders;
        const char* expected;
    };
    const Row rows[] = {
        {"empty", {}, {}, "M000.Bmp"},
        {"gap", {"M000.Bmp", "M001.Bmp", "M003.Bmp"}, {}, "M002.Bmp"},
        {"odd_names_do_not_block",
         {"M05.Bmp", "M1000.Bmp", "m000.bmp", "M000.bmp"},
         {},
         "M000.Bmp"},
        {"folder_takes_the_name", {}, {"M000.Bmp"}, "M001.Bmp"},
    };
    for (const Row& r : rows) {
        TempDir d;
        fs::create_directory(d.path() + "/Bmp");
        for (const auto& f : r.present) {
            std::ofstream(d.path() + "/Bmp/" + f) << "x";
        }
        for (const auto& f : r.folders) {
            fs::create_directory(d.path() + "/Bmp/" + f);
        }
        const auto got = archive::findFreeName(d.path() + "/Bmp");
        EXPECT_EQ(got.err, 0) << r.name;
        EXPECT_EQ(got.value, d.path() + "/Bmp/" + r.expected) << r.name;
    }
}

TEST(PictureFolder, IsMadeWithItsParentsOrLeftForTheSaveToReport) {
    // A system install's folder is Quarlo/Bmp under a pictures folder that
    // may not exist yet; a plain file in the way is the first save's error.
    struct Row {
        const char* name;
        const char* folder;  // below the scratch folder, which holds a file "plain"
        bool made;
    };
    const Row rows[] = {
        {"there_already", "Bmp", true},
        {"one_level", "new", true},
        {"with_parents", "Pictures/Quarlo/Bmp", true},
        {"file_at_the_name", "plain", false},
        {"file_in_the_path", "plain/Quarlo/Bmp", false},
    };
    for (const Row& r : rows) {
        TempDir d;
        fs::create_directory(d.path() + "/Bmp");
        std::ofstream(d.path() + "/plain") << "x";
        const std::string folder = d.path() + "/" + r.folder;
        EXPECT_EQ(archive::ensurePictureFolder(folder), r.made) << r.name;
        EXPECT_EQ(fs::is_directory(folder), r.made) << r.name;
        EXPECT_TRUE(fs::is_regular_file(d.path() + "/plain")) << r.name;
    }
}

TEST_F(PictureFiles, UnreadableFileIsNeverOverwritten) {
    touch("M000.Bmp");
    chmod((bmp() + "/M000.Bmp").c_str(), 0);
    EXPECT_EQ(archive::findFreeName(bmp()).value, bmp() + "/M001.Bmp");
}

TEST_F(PictureFiles, SaveThenLoadGivesTheSamePixels) {
    const QImage picture = testPicture();
    archive::SaveBmp(platform, picture, files);
    EXPECT_EQ(files.PicName, bmp() + "/M000.Bmp");
    archive::LoadBmp(platform, files);
    ASSERT_EQ(files.PicSaved.size(), QSize(801, 821));
    EXPECT_EQ(files.PicSaved.convertToFormat(QImage::Format_RGB32), picture);

    // A plain 24-bit bitmap: 801 pixels pad each row to 2404 bytes.
    QFile f(QString::fromStdString(files.PicName));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(bytes.size(), 54 + 2404 * 821);

    archive::SaveBmp(platform, picture, files);
    EXPECT_EQ(files.PicName, bmp() + "/M001.Bmp");
    EXPECT_TRUE(platform.messages.empty());
    // Only the two pictures: no temporary file is left behind.
    EXPECT_EQ(snapshot(bmp()).size(), 2u);
}

TEST_F(PictureFiles, AllNamesTakenIsASaveFailureThatOverwritesNothing) {
    for (int i = 0; i < 1000; ++i) {
        touch(archive::pictureName(bmp(), i).substr(bmp().size() + 1));
    }
    const auto before = snapshot(bmp());
    EXPECT_THROW(archive::SaveBmp(platform, testPicture(), files), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "58: Save ファイル異常 " + bmp() + "/M999.Bmp");
    EXPECT_EQ(snapshot(bmp()), before);
}

TEST_F(PictureFiles, SaveFailuresNameTheErrorAndThePath) {
    // Each row sets up a failure and returns how to undo it, or an empty
    // function with skip set when this machine cannot set it up.
    struct Row {
        const char* name;
        std::function<std::function<void()>(const std::string& bmp, std::string& skip)> prepare;
        const char* number;
    };
    const auto nothingToUndo = [] {};
    const Row rows[] = {
        {"missing_folder",
         [&](const std::string& b, std::string&) {
             fs::remove_all(b);
             return nothingToUndo;
         },
         "76"},
        {"folder_is_a_file",
         [&](const std::string& b, std::string&) {
             fs::remove_all(b);
             std::ofstream(b) << "x";
             return nothingToUndo;
         },
         "76"},
        {"file_size_limit",
         // EFBIG: the process may not write a file of 2.4 MiB.
         [](const std::string&, std::string&) -> std::function<void()> {
             rlimit before{};
             getrlimit(RLIMIT_FSIZE, &before);
             const rlimit small{1 << 20, before.rlim_max};
             setrlimit(RLIMIT_FSIZE, &small);
             const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
             return [before, oldHandler] {
                 setrlimit(RLIMIT_FSIZE, &before);
                 signal(SIGXFSZ, oldHandler);
             };
         },
         "61"},
        {"immutable_folder",
         // EPERM: not even root may add a name to an immutable folder.
         [](const std::string& b, std::string& skip) -> std::function<void()> {
             const int fd = open(b.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
             int flags = 0;
             if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
                 skip = "no file attributes here";
                 close(fd);
                 return {};
             }
             const int immutable = flags | FS_IMMUTABLE_FL;
             if (ioctl(fd, FS_IOC_SETFLAGS, &immutable) != 0) {
                 skip = std::string("cannot make a folder immutable: ") + std::strerror(errno);
                 close(fd);
                 return {};
             }
             return [fd, flags] {
                 ioctl(fd, FS_IOC_SETFLAGS, &flags);
                 close(fd);
             };
         },
         "70"},
    };
    for (const Row& r : rows) {
        TempDir d;
        const std::string b = d.path() + "/Bmp";
        fs::create_directory(b);
        std::string skip;
        const std::function<void()> undo = r.prepare(b, skip);
        if (!undo) {
            std::cout << "row " << r.name << " skipped: " << skip << "\n";
            continue;
        }
        const auto before = snapshot(b);
        ScriptedPlatform p;
        p.folder = d.path();
        archive::PictureFiles pf;
        EXPECT_THROW(archive::SaveBmp(p, testPicture(), pf), ProgramEnded) << r.name;
        undo();
        ASSERT_EQ(p.messages.size(), 1u) << r.name;
        EXPECT_EQ(p.messages[0], std::string(r.number) + ": Save ファイル異常 " + b + "/M000.Bmp")
            << r.name;
        EXPECT_EQ(snapshot(b), before) << r.name;
    }
}

TEST_F(PictureFiles, LoadFailuresNameTheErrorAndThePath) {
    struct Row {
        const char* name;
        std::function<void(const std::string& path)> prepare;  // PicName is bmp/M000.Bmp
        const char* number;
        bool longName = false;
    };
    const Row rows[] = {
        {"missing_file", [](const std::string&) {}, "53"},
        {"not_a_picture", [](const std::string& n) { std::ofstream(n) << "x"; }, "481"},
        {"torn_picture",
         [](const std::string& n) {
             const QByteArray whole = bmpBytes(0);
             std::ofstream(n, std::ios::binary).write(whole.constData(), whole.size() / 2);
         },
         "481"},
        {"unreadable_file",
         [](const std::string& n) {
             std::ofstream(n) << "x";
             chmod(n.c_str(), 0);
         },
         "70"},
        {"link_loop", [](const std::string& n) { symlink(n.c_str(), n.c_str()); }, "75"},
        {"name_too_long", [](const std::string&) {}, "75", true},
        {"a_folder", [](const std::string& n) { fs::create_directory(n); }, "481"},
        {"a_pipe", [](const std::string& n) { mkfifo(n.c_str(), 0666); }, "481"},
    };
    const QImage kept = testsupport::seededPicture(5);
    for (const Row& r : rows) {
        TempDir d;
        const std::string b = d.path() + "/Bmp";
        fs::create_directory(b);
        archive::PictureFiles pf;
        pf.PicName = r.longName ? b + "/" + std::string(300, 'M') : b + "/M000.Bmp";
        pf.PicSaved = kept;
        r.prepare(pf.PicName);
        const auto before = snapshot(b);
        ScriptedPlatform p;
        {
            testsupport::WithoutModeOverride asAUser;
            EXPECT_THROW(archive::LoadBmp(p, pf), ProgramEnded) << r.name;
        }
        ASSERT_EQ(p.messages.size(), 1u) << r.name;
        EXPECT_EQ(p.messages[0], std::string(r.number) + ": Load ファイル異常 " + pf.PicName)
            << r.name;
        EXPECT_EQ(pf.PicSaved, kept) << r.name;
        EXPECT_EQ(snapshot(b), before) << r.name;
    }
}

TEST_F(PictureFiles, EveryPlacementNeverReplacesAndTakesTheNextFreeName) {
    const struct {
        const char* name;
        archive::Placement placement;
        bool takenMeanwhile;  // another program writes M000.Bmp after the search
    } rows[] = {
        {"anonymous", archive::Placement::Anonymous, false},
        {"anonymous_taken", archive::Placement::Anonymous, true},
        {"rename", archive::Placement::NamedRename, false},
        {"rename_taken", archive::Placement::NamedRename, true},
        {"hard_link", archive::Placement::NamedLink, false},
        {"hard_link_taken", archive::Placement::NamedLink, true},
    };
    const QByteArray expected = bmpBytes(3);
    for (const auto& r : rows) {
        TempDir d;
        const std::string b = d.path() + "/Bmp";
        fs::create_directory(b);
        std::vector<archive::SaveStep> steps;
        archive::SaveOptions options;
        options.placement = r.placement;
        options.onStep = [&](archive::SaveStep step) {
            steps.push_back(step);
            if (r.takenMeanwhile && step == archive::SaveStep::Synced) {
                std::ofstream(b + "/M000.Bmp") << "theirs";
            }
        };
        const auto saved = archive::writeToFreeName(testsupport::seededPicture(3), b, options);
        ASSERT_EQ(saved.err, 0) << r.name;
        const std::string mine = r.takenMeanwhile ? "M001.Bmp" : "M000.Bmp";
        EXPECT_EQ(saved.value, b + "/" + mine) << r.name;
        EXPECT_EQ(fileBytes(saved.value), expected) << r.name;
        struct stat st {};
        stat(saved.value.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~umaskNow()) << r.name;
        EXPECT_EQ(st.st_nlink, 1u) << r.name;  // the temporary name is gone
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(b)) {
            names.insert(e.path().filename().string());
        }
        if (r.takenMeanwhile) {
            EXPECT_EQ(fileBytes(b + "/M000.Bmp"), QByteArray("theirs")) << r.name;
            EXPECT_EQ(names, (std::set<std::string>{"M000.Bmp", "M001.Bmp"})) << r.name;
        } else {
            EXPECT_EQ(names, std::set<std::string>{"M000.Bmp"}) << r.name;
        }
        const bool linked = r.placement == archive::Placement::NamedLink;
        EXPECT_EQ(std::count(steps.begin(), steps.end(), archive::SaveStep::Linked), linked ? 1 : 0)
            << r.name;
        EXPECT_EQ(steps.back(), archive::SaveStep::Placed) << r.name;
    }
}

TEST(StaleTemporaries, OnlyOldUnchangedLeftoversOfASaveGo) {
    const struct {
        const char* name;
        int ageSeconds;
        char kind;  // f file, d folder, l symbolic link
        bool removed;
    } rows[] = {
        {"M003.Bmp.partial-a1B2c3", 120, 'f', true},
        {"M999.Bmp.partial-ZZZZZZ", 61, 'f', true},
        {"M004.Bmp.partial-a1B2c3", 10, 'f', false},   // a save may still be writing it
        {"M005.Bmp.partial-a1B2c3", -30, 'f', false},  // from the future: a skewed clock
        {"M003.Bmp", 120, 'f', false},
        {"M006.Bmp.partial-abc", 120, 'f', false},
        {"M007.Bmp.partial-a1B2c3x", 120, 'f', false},
        {"M07.Bmp.partial-a1B2c3", 120, 'f', false},
        {"notes.partial-a1B2c3", 120, 'f', false},
        {"M008.Bmp.partial-a1B2-3", 120, 'f', false},
        {"M009.Bmp.partial-a1B2c3", 120, 'd', false},
        {"M010.Bmp.partial-a1B2c3", 120, 'l', false},
    };
    TempDir d;
    const std::string b = d.path() + "/Bmp";
    fs::create_directory(b);
    for (const auto& r : rows) {
        const std::string path = b + "/" + r.name;
        if (r.kind == 'd') {
            fs::create_directory(path);
        } else if (r.kind == 'l') {
            symlink("M003.Bmp", path.c_str());
        } else {
            std::ofstream(path) << "part of a picture";
        }
        age(path, r.ageSeconds);
    }
    int expectedRemoved = 0;
    for (const auto& r : rows) {
        expectedRemoved += r.removed;
    }
    EXPECT_EQ(archive::removeStaleTemporaries(b), expectedRemoved);
    for (const auto& r : rows) {
        struct stat st {};
        EXPECT_EQ(lstat((b + "/" + r.name).c_str(), &st) != 0, r.removed) << r.name;
    }
    // No Bmp folder at all is nothing to do.
    TempDir empty;
    EXPECT_EQ(archive::removeStaleTemporaries(empty.path() + "/Bmp"), 0);
}
TEST_F(PictureFiles, AFileAppearingDuringTheSaveIsNotReplaced) {
    // The name was free when searched; another program takes it before the
    // file is moved into place.
    const std::string name = bmp() + "/M000.Bmp";
    std::ofstream(name) << "theirs";
    EXPECT_EQ(archive::writeBmpFile(testPicture(), name), 58);
    std::ifstream in(name);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "theirs");
    EXPECT_EQ(snapshot(bmp()).size(), 1u);
}

TEST_F(PictureFiles, DiskFullIsASaveFailureThatLeavesNothingBehind) {
    // A 2 MiB file system holds one picture but not a second.
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    if (::mount("tmpfs", bmp().c_str(), "tmpfs", 0, "size=2m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{bmp()};

    archive::SaveBmp(platform, testPicture(), files);
    ASSERT_TRUE(platform.messages.empty());
    const auto before = snapshot(bmp());
    EXPECT_THROW(archive::SaveBmp(platform, testPicture(), files), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "61: Save ファイル異常 " + bmp() + "/M001.Bmp");
    EXPECT_EQ(snapshot(bmp()), before);
}

TEST_F(PictureFiles, ReadOnlyFolderIsASaveFailure) {
    // As root a folder's mode does not stop a write, so a read-only mount
    // stands in for it; as another user, the mode does.
    archive::SaveBmp(platform, testPicture(), files);
    const auto before = snapshot(bmp());
    struct Restore {
        std::string path;
        bool mounted = false;
        ~Restore() {
            if (mounted) {
                ::umount2(path.c_str(), MNT_DETACH);
            }
            chmod(path.c_str(), 0755);
        }
    } restore{bmp()};
    if (geteuid() == 0) {
        if (::mount(bmp().c_str(), bmp().c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, bmp().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
                0) {
            GTEST_SKIP() << "cannot make a read-only mount here: " << std::strerror(errno);
        }
        restore.mounted = true;
    } else {
        chmod(bmp().c_str(), 0555);
    }
    EXPECT_THROW(archive::SaveBmp(platform, testPicture(), files), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "70: Save ファイル異常 " + bmp() + "/M001.Bmp");
    EXPECT_EQ(snapshot(bmp()), before);
}

// What a folder holds after savers of one seed were killed: the pictures,
// each checked to be whole, and the names of the named temporaries. Anything
// else fails the test.
struct Leftovers {
    int pictures = 0;
    std::vector<std::string> temporaries;
};

Leftovers leftoversOf(const std::string& bmp, int seed) {
    Leftovers out;
    for (const auto& e : fs::directory_iterator(bmp)) {
        const std::string name = e.path().filename().string();
        if (isPictureName(name)) {
            EXPECT_TRUE(wholePicture(e.path().string(), seed));
            ++out.pictures;
        } else if (isTemporaryName(name)) {
            out.temporaries.push_back(e.path().string());
        } else {
            ADD_FAILURE() << "stray file " << name;
        }
    }
    return out;
}

TEST(KilledSave, AtEveryStepLeavesWholePicturesAndOnlyTemporariesThatStartUpRemoves) {
    // A saver saves one picture, stops the next save at a step and is
    // killed there. Named temporaries are what the fall-backs may leave; an
    // unnamed file leaves nothing.
    const std::pair<const char*, archive::SaveStep> steps[] = {
        {"created", archive::SaveStep::Created},
        {"written", archive::SaveStep::Written},
        {"synced", archive::SaveStep::Synced},
        {"linked", archive::SaveStep::Linked},
        {"placed", archive::SaveStep::Placed}};
    for (const archive::Placement placement : kPlacements) {
        SCOPED_TRACE(placementArg(placement));
        TempDir d;
        const std::string b = d.path() + "/Bmp";
        fs::create_directory(b);
        size_t expectedPictures = 0;
        size_t expectedTemporaries = 0;
        for (const auto& [stepName, step] : steps) {
            if (step == archive::SaveStep::Linked && placement != archive::Placement::NamedLink) {
                continue;  // only a hard link gives a picture two names
            }
            Saver saver({d.path(), "2", placementArg(placement), "4", stepName});
            ASSERT_TRUE(saver.running());
            std::string first, stopped;
            ASSERT_TRUE(saver.readLine(first)) << stepName;
            ASSERT_TRUE(saver.readLine(stopped)) << stepName;
            ASSERT_EQ(stopped, "stopped") << stepName;
            saver.kill();
            // A name is given at Linked or Placed; a named temporary lives
            // from Created until the picture has its name.
            expectedPictures += 1 + (step >= archive::SaveStep::Linked);
            expectedTemporaries +=
                placement != archive::Placement::Anonymous && step < archive::SaveStep::Placed;
        }
        const Leftovers left = leftoversOf(b, 4);
        EXPECT_EQ(static_cast<size_t>(left.pictures), expectedPictures);
        ASSERT_EQ(left.temporaries.size(), expectedTemporaries);

        // The next start-up leaves them while they might still grow, and
        // removes them once they are a minute old.
        EXPECT_EQ(archive::removeStaleTemporaries(b), 0);
        for (const std::string& t : left.temporaries) {
            age(t, archive::kStaleSeconds + 1);
        }
        EXPECT_EQ(archive::removeStaleTemporaries(b), static_cast<int>(expectedTemporaries));
        const Leftovers after = leftoversOf(b, 4);
        EXPECT_EQ(static_cast<size_t>(after.pictures), expectedPictures);
        EXPECT_TRUE(after.temporaries.empty());
    }
}

TEST(KilledSave, AtAnyMomentLeavesOnlyWholePictures) {
    // A saver saving without end is killed after ever more of its saves and
    // at ever different moments inside one; the folder never holds anything
    // but whole Mnnn.Bmp files. No check depends on when the kill lands.
    TempDir d;
    const std::string b = d.path() + "/Bmp";
    fs::create_directory(b);
    int saved = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        Saver saver({d.path(), "0", "anonymous", "6"});
        ASSERT_TRUE(saver.running());
        std::string line;
        for (int i = 0; i <= attempt % 3; ++i) {
            ASSERT_TRUE(saver.readLine(line));
            ++saved;
        }
        usleep(static_cast<useconds_t>(attempt * 1700));
        saver.kill();
    }
    const Leftovers left = leftoversOf(b, 6);
    EXPECT_GE(left.pictures, saved);
    EXPECT_TRUE(left.temporaries.empty());
}

class TwoPrograms : public testing::TestWithParam<archive::Placement> {};

TEST_P(TwoPrograms, OneFolderGetsEveryPictureOnceAndNoneReplaced) {
    // Two savers with different pictures race for the same names.
    const int kEach = 50;
    TempDir d;
    const std::string b = d.path() + "/Bmp";
    fs::create_directory(b);
    Saver one({d.path(), std::to_string(kEach), placementArg(GetParam()), "1"});
    Saver two({d.path(), std::to_string(kEach), placementArg(GetParam()), "2"});
    ASSERT_TRUE(one.running() && two.running());
    std::map<std::string, int> claimedBy;  // path -> seed of the saver that named it
    int claims = 0;
    for (auto [saver, seed] : {std::pair{&one, 1}, std::pair{&two, 2}}) {
        std::string line;
        while (saver->readLine(line)) {
            ++claims;
            EXPECT_TRUE(claimedBy.emplace(line, seed).second) << line << " named twice";
        }
        EXPECT_EQ(saver->wait(), 0) << "saver " << seed << ": " << line;
    }
    EXPECT_EQ(claims, 2 * kEach);
    for (int i = 0; i < 2 * kEach; ++i) {
        const std::string name = archive::pictureName(b, i);
        ASSERT_EQ(claimedBy.count(name), 1u) << name << " missing";
        EXPECT_TRUE(wholePicture(name, claimedBy[name])) << "replaced or torn";
    }
    EXPECT_EQ(snapshot(b).size(), static_cast<size_t>(2 * kEach));
}

INSTANTIATE_TEST_SUITE_P(EveryPlacement, TwoPrograms, testing::ValuesIn(kPlacements),
                         [](const testing::TestParamInfo<archive::Placement>& info) {
                             return std::string(placementArg(info.param));
                         });

}  // namespace
