#include "ui/qt_platform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <filesystem>
#include <map>
#include <optional>

#include "support/tempdir.h"

namespace ui {
void PrintTo(const Places& p, std::ostream* os) {
    *os << "{" << p.pictureFolder << ", " << p.palettePath << "}";
}
}  // namespace ui

namespace {

namespace fs = std::filesystem;
using ui::Layout;
using ui::Places;

// Sets environment variables (nullopt: unset) until it goes, then puts the
// old values back.
class EnvScope {
public:
    explicit EnvScope(const std::map<const char*, std::optional<std::string>>& values) {
        for (const auto& [name, value] : values) {
            saved_[name] =
                qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
            value ? qputenv(name, QByteArray::fromStdString(*value)) : qunsetenv(name);
        }
    }
    ~EnvScope() {
        for (const auto& [name, value] : saved_) {
            value ? qputenv(name, *value) : qunsetenv(name);
        }
    }

private:
    std::map<const char*, std::optional<QByteArray>> saved_;
};

TEST(QtPlatform, ClockAndTexts) {
    ui::QtPlatform p;
    const float s = p.secondsSinceMidnight();
    EXPECT_GE(s, 0.0f);
    EXPECT_LT(s, 86400.0f);
    EXPECT_TRUE(QRegularExpression("^\\d{4}/\\d{2}/\\d{2}$")
                    .match(QString::fromStdString(p.dateText()))
                    .hasMatch())
        << p.dateText();
    EXPECT_TRUE(QRegularExpression("^\\d{1,2}:\\d{2}:\\d{2}$")
                    .match(QString::fromStdString(p.timeText()))
                    .hasMatch())
        << p.timeText();
    EXPECT_EQ((Places{p.pictureFolder(), p.palettePath()}), ui::placesFor(ui::builtLayout()));
}

TEST(QtPlatform, PlacesOfEachLayout) {
    // Paths below the scratch home H; E is the executable's folder.
    struct Row {
        const char* name;
        Layout layout;
        bool configHome;                 // XDG_CONFIG_HOME=H/cfg, else unset
        std::vector<std::string> files;  // made below H before asking
        std::string pictures, palette;   // expected; "E/" and "H/" are replaced
    };
    const std::string dirs = "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    const Row rows[] = {
        {"portable_ignores_the_user",
         Layout::Portable,
         false,
         {".config/quarlo/Color.Ini", "Pictures/x"},
         "E/Bmp",
         "E/Color.Ini"},
        {"system_defaults",
         Layout::System,
         false,
         {},
         "H/Pictures/Quarlo/Bmp",
         "E/../share/quarlo/Color.Ini"},
        {"system_user_palette",
         Layout::System,
         false,
         {".config/quarlo/Color.Ini"},
         "H/Pictures/Quarlo/Bmp",
         "H/.config/quarlo/Color.Ini"},
        {"system_config_home",
         Layout::System,
         true,
         {"cfg/quarlo/Color.Ini", "cfg/user-dirs.dirs", ".config/quarlo/Color.Ini"},
         "H/Bilder/Quarlo/Bmp",
         "H/cfg/quarlo/Color.Ini"},
        {"system_palette_follows_config_home",
         Layout::System,
         true,
         {".config/quarlo/Color.Ini"},
         "H/Pictures/Quarlo/Bmp",
         "E/../share/quarlo/Color.Ini"},
    };
    const QString exe = QCoreApplication::applicationDirPath();
    for (const Row& r : rows) {
        testsupport::TempDir home;
        for (const std::string& f : r.files) {
            fs::create_directories(fs::path(home.path() + "/" + f).parent_path());
            home.write(f, f.ends_with("user-dirs.dirs") ? dirs : "0000FF");
        }
        const EnvScope env({{"HOME", home.path()},
                            {"XDG_CONFIG_HOME",
                             r.configHome ? std::optional(home.path() + "/cfg") : std::nullopt}});
        const auto expand = [&](const std::string& p) {
            const QString base = p[0] == 'E' ? exe : QString::fromStdString(home.path());
            return QDir::cleanPath(base + QString::fromStdString(p.substr(1))).toStdString();
        };
        EXPECT_EQ(ui::placesFor(r.layout), (Places{expand(r.pictures), expand(r.palette)}))
            << r.name;
    }
}

TEST(QtPlatform, MessageBoxIsModalWithCaptionAndOk) {
    ui::QtPlatform p;
    QString caption, text;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        box->button(QMessageBox::Ok)->click();
    });
    p.messageBox("6 XX-YY 演算異常");
    EXPECT_EQ(caption, QStringLiteral("Quarlo"));
    EXPECT_EQ(text, QStringLiteral("6 XX-YY 演算異常"));
    EXPECT_EQ(buttons, 1);
}

TEST(QtPlatform, ProcessEventsRunsPendingHandlers) {
    ui::QtPlatform p;
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    p.processEvents();
    EXPECT_TRUE(ran);
}

TEST(QtPlatformDeathTest, EndProgramEndsAtOnce) {
    ui::QtPlatform p;
    EXPECT_EXIT(
        {
            std::fputs("before end\n", stderr);
            p.endProgram();
        },
        testing::ExitedWithCode(0), "before end");
}

}  // namespace
