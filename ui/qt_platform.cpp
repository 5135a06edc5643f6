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

const QtPlatform::Second& QtPlatform::localSecond(qint64 msecsSinceEpoch) const {
    const qint64 sinceEpoch = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000
                                                   : -((-msecsSinceEpoch + 999) / 1000);
    if (sinceEpoch != second_.sinceEpoch) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(sinceEpoch, Qt::LocalTime);
        second_.sinceEpoch = sinceEpoch;
        second_.msecsSinceMidnight = local.time().msecsSinceStartOfDay();
        second_.date = local.date().toString(QStringLiteral("yyyy/MM/dd")).toStdString();
        second_.time = local.time().toString(QStringLiteral("H:mm:ss")).toStdString();
    }
    return second_;
}

float QtPlatform::secondsSinceMidnight() const {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const Second& s = localSecond(now);
    const qint64 intoSecond = now - s.sinceEpoch * 1000;
    return static_cast<float>(s.msecsSinceMidnight + static_cast<int>(intoSecond)) / 1000.0f;
}

std::string QtPlatform::dateText() const {
    return localSecond(QDateTime::currentMSecsSinceEpoch()).date;
}

std::string QtPlatform::timeText() const {
    return localSecond(QDateTime::currentMSecsSinceEpoch()).time;
}

void QtPlatform::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtPlatform::processEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
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
