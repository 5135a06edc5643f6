// The icon file that goes into the program folder is, pixel for pixel, the
// icon the control window shows.
#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <functional>
#include <ostream>
#include <string>

#include "ui/control_window.h"
#include "ui/icons.h"

namespace {

QImage at32(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct Row {
    std::string name;
    std::function<QImage()> shown;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class IconFile : public testing::TestWithParam<Row> {};

TEST_P(IconFile, EqualsTheIconShown) {
    QImage file;
    ASSERT_TRUE(file.load(QStringLiteral(QUARLO_ICON_PNG), "PNG")) << QUARLO_ICON_PNG;
    file = file.convertToFormat(QImage::Format_ARGB32);
    const QImage shown = GetParam().shown();
    ASSERT_EQ(file.size(), QSize(32, 32));
    ASSERT_EQ(shown.size(), QSize(32, 32));
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            ASSERT_EQ(file.pixel(x, y), shown.pixel(x, y)) << "pixel (" << x << ", " << y << ")";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packaging, IconFile,
                         testing::Values(Row{"ControlWindow",
                                             [] { return at32(ui::Kest().windowIcon()); }},
                                         Row{"AppIcon", [] { return at32(ui::appIcon()); }}),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
