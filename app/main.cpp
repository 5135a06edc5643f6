#include <QApplication>

#include "app/program.h"
#include "ui/qt_platform.h"

int main(int argc, char** argv) {
    // The surface is a pixel-exact picture: never scale it for the screen.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication application(argc, argv);
    ui::QtPlatform platform;
    app::Program program(platform);
    program.start();
    return application.exec();
}
