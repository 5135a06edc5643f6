#include "app/program.h"

#include "ui/activation.h"

namespace app {

Program::Program(core::Platform& platform, compute::CountSource* counts)
    : platform_(platform),
      ownCounts_(counts == nullptr ? std::make_unique<compute::ThreadedCountSource>() : nullptr),
      handlers_(platform, img_, *this, w_, counts != nullptr ? *counts : *ownCounts_) {
    disp_.img()->setSource(&img_.image());
    img_.setOnChanged([this](const QRect& area) { disp_.img()->imageChanged(area); });

    QObject::connect(&kest_, &ui::Kest::closeRequested, [this] { platform_.endProgram(); });
    QObject::connect(&kest_, &ui::Kest::startClicked, [this] { handlers_.startClicked(); });
    QObject::connect(&kest_, &ui::Kest::colourModeChanged,
                     [this] { handlers_.colourModeChanged(); });
    QObject::connect(disp_.img(), &ui::ImgView::mouseMoved,
                     [this](float x, float y) { handlers_.mouseMoved(x, y); });
    QObject::connect(disp_.img(), &ui::ImgView::clicked, [this] { handlers_.clicked(); });
}

void Program::start() {
    disp_.setVisible(false);
    kest_.move(ui::px(12000), 0);
    kest_.show();
    disp_.setFixedSize(ui::px(12015), ui::px(12315));
    disp_.img()->setFixedSize(core::kPicSide, core::kSurfaceHeight);
    // Start-up after the window is shown: a made picture folder means the
    // window is up (the install test waits on it).
    handlers_.startUp();
    kest_.tYY()->setFocus();
}

QLineEdit* Program::box(picture::Box b) const {
    switch (b) {
        case picture::Box::tXc:
            return kest_.tXc();
        case picture::Box::tYc:
            return kest_.tYc();
        case picture::Box::tSc:
            return kest_.tSc();
        case picture::Box::tRep:
            return kest_.tRep();
        case picture::Box::tCol:
            return kest_.tCol();
        case picture::Box::tXX:
            return kest_.tXX();
        case picture::Box::tYY:
            return kest_.tYY();
    }
    return kest_.tXc();
}

std::string Program::text(picture::Box b) const {
    return box(b)->text().toStdString();
}

void Program::setText(picture::Box b, const std::string& text) {
    box(b)->setText(QString::fromStdString(text));
}

bool Program::startEnabled() const {
    return kest_.cStar()->isEnabled();
}

void Program::setStartEnabled(bool enabled) {
    if (!enabled) {
        // Otherwise the focus would pass from the disabled button to the
        // next box in the tab order, and a stray key would edit it.
        kest_.parkKeyboard();
    }
    kest_.cStar()->setEnabled(enabled);
}

void Program::setRepLocked(bool locked) {
    kest_.tRep()->setReadOnly(locked);
}

void Program::focusSize() {
    // While another program is active the focus is only recorded: the size
    // box has the keyboard once the user comes back to the control window.
    if (ui::programIsActive()) {
        kest_.activateWindow();
    }
    kest_.tSc()->setFocus(Qt::OtherFocusReason);
}

bool Program::displayVisible() const {
    return disp_.isVisible();
}

void Program::showDisplay() {
    disp_.show();
    disp_.raise();
}

}  // namespace app
