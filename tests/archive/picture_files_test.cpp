#include "archive/picture_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/scripted_platform.h"
#include "support/tempdir.h"

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
        if (e.is_regular_file() && f.open(QIODevice::ReadOnly)) {
            hash = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        }
        out[e.path().filename().string()] = hash;
    }
    return out;
}

QImage testPicture() {
    QImage image(801, 821, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, (x * y) & 0xFF));
        }
    }
    return image;
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
        const auto got = archive::findFreeName(d.path());
        EXPECT_EQ(got.err, 0) << r.name;
        EXPECT_EQ(got.value, d.path() + "/Bmp/" + r.expected) << r.name;
    }
}

TEST_F(PictureFiles, UnreadableFileIsNeverOverwritten) {
    touch("M000.Bmp");
    chmod((bmp() + "/M000.Bmp").c_str(), 0);
    EXPECT_EQ(archive::findFreeName(dir.path()).value, bmp() + "/M001.Bmp");
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
        touch(archive::pictureName(dir.path(), i).substr(bmp().size() + 1));
    }
    const auto before = snapshot(bmp());
    EXPECT_THROW(archive::SaveBmp(platform, testPicture(), files), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "58: Save ファイル異常 " + bmp() + "/M999.Bmp");
    EXPECT_EQ(snapshot(bmp()), before);
}

TEST_F(PictureFiles, SaveFailuresNameTheErrorAndThePath) {
    struct Row {
        const char* name;
        std::function<void(const std::string& bmp)> prepare;
        const char* number;
    };
    const Row rows[] = {
        {"missing_folder", [](const std::string& b) { fs::remove_all(b); }, "76"},
        {"folder_is_a_file",
         [](const std::string& b) {
             fs::remove_all(b);
             std::ofstream(b) << "x";
         },
         "76"},
    };
    for (const Row& r : rows) {
        TempDir d;
        const std::string b = d.path() + "/Bmp";
        fs::create_directory(b);
        r.prepare(b);
        ScriptedPlatform p;
        p.folder = d.path();
        archive::PictureFiles pf;
        EXPECT_THROW(archive::SaveBmp(p, testPicture(), pf), ProgramEnded) << r.name;
        ASSERT_EQ(p.messages.size(), 1u) << r.name;
        EXPECT_EQ(p.messages[0], std::string(r.number) + ": Save ファイル異常 " + b + "/M000.Bmp")
            << r.name;
    }
}

TEST_F(PictureFiles, LoadFailuresNameTheErrorAndThePath) {
    files.PicName = bmp() + "/M000.Bmp";
    EXPECT_THROW(archive::LoadBmp(platform, files), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "53: Load ファイル異常 " + files.PicName);

    touch("M000.Bmp");  // not a picture
    ScriptedPlatform again;
    EXPECT_THROW(archive::LoadBmp(again, files), ProgramEnded);
    ASSERT_EQ(again.messages.size(), 1u);
    EXPECT_EQ(again.messages[0], "481: Load ファイル異常 " + files.PicName);
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

TEST_F(PictureFiles, AKilledSaveLeavesOnlyCompletePictures) {
    // A process saving pictures is killed at ever different moments; every
    // Mnnn.Bmp left behind is a whole picture.
    const QImage picture = testPicture();
    for (int attempt = 0; attempt < 12; ++attempt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                archive::PictureFiles mine;
                const auto name = archive::findFreeName(dir.path());
                if (name.err != 0 || archive::writeBmpFile(picture, name.value) != 0) {
                    std::_Exit(1);
                }
            }
        }
        usleep(static_cast<useconds_t>(3000 + attempt * 4000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    }
    int pictures = 0;
    for (const auto& e : fs::directory_iterator(bmp())) {
        const std::string name = e.path().filename().string();
        if (name.size() == 8 && name[0] == 'M' && name.substr(4) == ".Bmp") {
            QImage back;
            ASSERT_EQ(archive::readBmpFile(e.path().string(), back), 0) << name;
            EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), picture) << name;
            ++pictures;
        }
    }
    EXPECT_GT(pictures, 0);
}

}  // namespace
