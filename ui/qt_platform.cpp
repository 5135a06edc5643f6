#include "ui/qt_platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>

namespace ui {

// Both are set for this file alone by ui/CMakeLists.txt.
#ifndef QUARLO_SYSTEM_INSTALL
#error "QUARLO_SYSTEM_INSTALL must be 0 or 1"
#endif
#ifndef QUARLO_SHIPPED_PALETTE
#error "QUARLO_SHIPPED_PALETTE must name the installed palette relative to the executable's folder"
#endif

Layout builtLayout() {
    return QUARLO_SYSTEM_INSTALL ? Layout::System : Layout::Portable;
}

Places placesFor(Layout layout) {
    const QDir program(QCoreApplication::applicationDirPath());
    if (layout == Layout::Portable) {
        return {program.filePath(QStringLiteral("Bmp")).toStdString(),
                program.filePath(QStringLiteral("Color.Ini")).toStdString()};
    }
    // Qt falls back on ~/Pictures; the home folder is the last resort.
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) {
        pictures = QDir::homePath();
    }
    const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                        QStringLiteral("/quarlo/Color.Ini");
    // The user's palette wins whenever it is there, even one that reads as
    // nothing: it is what the user chose to edit.
    const QString palette = QFileInfo::exists(own)
                                ? own
                                : program.absoluteFilePath(QStringLiteral(QUARLO_SHIPPED_PALETTE));
    return {QDir::cleanPath(pictures + QStringLiteral("/Quarlo/Bmp")).toStdString(),
            QDir::cleanPath(palette).toStdString()};
}

QtPlatform::QtPlatform() : places_(placesFor(builtLayout())) {}

float QtPlatform::secondsSinceMidnight() const {
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

std::string QtPlatform::dateText() const {
    return QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")).toStdString();
}

std::string QtPlatform::timeText() const {
    return QTime::currentTime().toString(QStringLiteral("H:mm:ss")).toStdString();
}

void QtPlatform::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtPlatform::messageBox(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quarlo"), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

void QtPlatform::endProgram() {
    // At once: no handler of a nested event loop may run after this.
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace ui
