#include "ui/qt_platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace ui {

std::string QtPlatform::programFolder() const {
    return QCoreApplication::applicationDirPath().toStdString();
}

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
