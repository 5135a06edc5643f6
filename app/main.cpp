#include <QApplication>
#include <clocale>

#include "app/program.h"
#include "ui/qt_platform.h"

int main(int argc, char** argv) {
    // The surface is a pixel-exact picture: never scale it for the screen.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    // The program takes no command line: Qt's own options (-reverse,
    // -qwindowtitle, -style, ...) would change the windows.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    // Qt adopts the environment's locale for the C library; every number
    // text the program makes uses the full stop whatever the desktop uses.
    std::setlocale(LC_NUMERIC, "C");
    ui::QtPlatform platform;
    app::Program program(platform);
    program.start();
    return application.exec();
}
