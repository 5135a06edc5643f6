#include "ui/qt_platform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "support/tempdir.h"

namespace ui {
void PrintTo(const Places& p, std::ostream* os) {
    *os << "{" << p.pictureFolder << ", " << p.palettePath << "}";
}
}  // namespace ui

namespace {

namespace fs = std::filesystem;
using ui::Layout;

// Sets HOME and XDG_CONFIG_HOME (empty: unset) until it goes, then puts
// back what was there.
class UserFolders {
public:
    UserFolders(const std::string& home, const std::string& config)
        : home_(qgetenv("HOME")), config_(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("HOME", QByteArray::fromStdString(home));
        config.empty() ? qunsetenv("XDG_CONFIG_HOME")
                       : qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    }
    ~UserFolders() {
        qputenv("HOME", home_);
        config_.isEmpty() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", config_);
    }

private:
    QByteArray home_, config_;
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
    EXPECT_EQ((ui::Places{p.pictureFolder(), p.palettePath()}), ui::placesFor(ui::builtLayout()));
}

TEST(QtPlatform, PlacesOfEachLayout) {
    // H is a scratch home, E the executable's folder. With cfg the
    // configuration folder is H/cfg, whose user-dirs.dirs names H/Bilder as
    // the pictures folder; else it is H/.config, which has none.
    const struct {
        Layout layout;
        bool cfg;
        const char* userPalette;  // the folder below H that holds quarlo/Color.Ini
        const char* pictures;
        const char* palette;
    } rows[] = {
        {Layout::Portable, false, ".config", "E/Bmp", "E/Color.Ini"},
        {Layout::System, false, "", "H/Pictures/Quarlo/Bmp", "E/../share/quarlo/Color.Ini"},
        {Layout::System, false, ".config", "H/Pictures/Quarlo/Bmp", "H/.config/quarlo/Color.Ini"},
        {Layout::System, true, "cfg", "H/Bilder/Quarlo/Bmp", "H/cfg/quarlo/Color.Ini"},
        {Layout::System, true, ".config", "H/Bilder/Quarlo/Bmp", "E/../share/quarlo/Color.Ini"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.pictures) + " " + r.palette);
        testsupport::TempDir home;
        const std::string h = home.path();
        fs::create_directories(h + "/cfg");
        home.write("cfg/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
        if (*r.userPalette != '\0') {
            fs::create_directories(h + "/" + r.userPalette + "/quarlo");
            home.write(std::string(r.userPalette) + "/quarlo/Color.Ini", "0000FF");
        }
        const UserFolders env(h, r.cfg ? h + "/cfg" : "");
        const auto expand = [&](const char* p) {
            const QString base =
                p[0] == 'E' ? QCoreApplication::applicationDirPath() : QString::fromStdString(h);
            return QDir::cleanPath(base + QString::fromUtf8(p + 1)).toStdString();
        };
        EXPECT_EQ(ui::placesFor(r.layout), (ui::Places{expand(r.pictures), expand(r.palette)}));
    }
}

// The clock works the local time out once a second; in zones whose offset
// is not whole hours it still agrees with Qt's own local time.
TEST(QtPlatform, ClockAgreesWithTheLocalTimeInEveryZone) {
    const QByteArray before = qgetenv("TZ");
    for (const char* zone : {"Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham"}) {
        qputenv("TZ", zone);
        tzset();
        ui::QtPlatform p;
        for (int i = 0; i < 2; ++i) {
            const int qt = QTime::currentTime().msecsSinceStartOfDay();
            const float ours = p.secondsSinceMidnight();
            const float diff = std::abs(ours - static_cast<float>(qt) / 1000.0f);
            // Readings a moment apart, unless midnight fell between them.
            EXPECT_TRUE(diff < 0.5f || diff > 86399.0f) << zone << ": " << ours << " vs " << qt;
            EXPECT_EQ(p.dateText(),
                      QDate::currentDate().toString("yyyy/MM/dd").toStdString()) << zone;
            // The second reading lies in another second, past the one the
            // clock worked out.
            const int second = QTime::currentTime().second();
            EXPECT_TRUE(
                i > 0 ||
                QTest::qWaitFor([&] { return QTime::currentTime().second() != second; }, 2000));
        }
    }
    qputenv("TZ", before);
    tzset();
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
