#include "ui/qt_platform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <ctime>

namespace {

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
    EXPECT_EQ(p.programFolder(), QCoreApplication::applicationDirPath().toStdString());
}

// The clock works the local time out once a second; in zones whose offset
// is not whole hours it still agrees with Qt's own local time.
TEST(QtPlatform, ClockAgreesWithTheLocalTimeInEveryZone) {
    const QByteArray before = qgetenv("TZ");
    for (const char* zone : {"UTC", "Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham"}) {
        qputenv("TZ", zone);
        tzset();
        ui::QtPlatform p;
        for (int i = 0; i < 3; ++i) {
            const int qt = QTime::currentTime().msecsSinceStartOfDay();
            const float ours = p.secondsSinceMidnight();
            const float diff = std::abs(ours - static_cast<float>(qt) / 1000.0f);
            // Readings a moment apart, unless midnight fell between them.
            EXPECT_TRUE(diff < 0.5f || diff > 86399.0f) << zone << ": " << ours << " vs " << qt;
            EXPECT_EQ(p.dateText(),
                      QDate::currentDate().toString("yyyy/MM/dd").toStdString()) << zone;
            QTest::qWait(400);
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
