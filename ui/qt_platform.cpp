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
