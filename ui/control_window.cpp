#include "ui/control_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPalette>
#include <limits>

#include "core/face.h"
#include "ui/icons.h"

namespace ui {
namespace {

// Pale green behind the whole window, pale blue behind the captions.
const QColor kWindowGreen(192, 255, 192);
const QColor kLabelBlue(192, 192, 255);

}  // namespace

QFont controlFont(bool bold) {
    QFont::insertSubstitution(QString::fromUtf8(core::kFaceName),
                              QString::fromUtf8(core::kStandInFace));
    QFont f(QString::fromUtf8(core::kFaceName));
    f.setPixelSize(core::kFacePixels);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

Kest::Kest(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("QUARLOVINE SET   V4610A"));
    setWindowIcon(appIcon());
    setFixedSize(px(4065), px(2175));
    setFont(controlFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowGreen);
    setPalette(pal);
    setAutoFillBackground(true);

    // Labels first: each Label2 reaches under its text box, which covers it.
    label1_ = makeLabel(360, 60, 2055, 375, "CENTER / SIZE", Qt::AlignHCenter);
    const int label2Tops[] = {360, 660, 960, 1500, 1800};
    const char* label2Captions[] = {"X", "Y", "S", "X", "Y"};
    for (size_t i = 0; i < label2_.size(); ++i) {
        label2_[i] = makeLabel(120, label2Tops[i], 615, 375, label2Captions[i], Qt::AlignLeft);
    }
    label4_ = makeLabel(360, 1260, 2055, 255, "POSITION", Qt::AlignHCenter);
    label7_ = makeLabel(2640, 60, 1335, 375, "REPEAT", Qt::AlignHCenter);
    label5_ = makeLabel(2640, 1260, 1335, 375, "COLOR", Qt::AlignHCenter);

    shape1_ = new QFrame(this);
    shape1_->setGeometry(px(2520), 0, px(45), px(2175));
    QPalette white = shape1_->palette();
    white.setColor(QPalette::Window, Qt::white);
    shape1_->setPalette(white);
    shape1_->setAutoFillBackground(true);

    tXc_ = makeBox(360, 300, 2055, Qt::AlignRight);
    tYc_ = makeBox(360, 600, 2055, Qt::AlignRight);
    tSc_ = makeBox(360, 900, 2055, Qt::AlignRight);
    tXX_ = makeBox(360, 1500, 2055, Qt::AlignRight);
    tYY_ = makeBox(360, 1800, 2055, Qt::AlignRight);
    tRep_ = makeBox(3000, 300, 615, Qt::AlignRight);
    tCol_ = makeBox(3120, 1500, 375, Qt::AlignHCenter);

    cStar_ = new QPushButton(QStringLiteral("START"), this);
    cStar_->setGeometry(px(2640), px(660), px(1335), px(375));
    cStar_->setFont(controlFont(true));
    cStar_->setAutoDefault(false);  // Enter and Escape in a box do not press it
    cStar_->setDefault(false);
    cStar_->installEventFilter(this);  // Enter on START itself does

    // Focus order: tYY, tXX, tSc, tYc, cStar, tCol, tRep, tXc, then tYY again.
    QWidget* order[] = {tYY_, tXX_, tSc_, tYc_, cStar_, tCol_, tRep_, tXc_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    connect(cStar_, &QPushButton::clicked, this, &Kest::startClicked);
    connect(tCol_, &QLineEdit::textChanged, this, &Kest::colourModeChanged);
}

QLabel* Kest::makeLabel(int left, int top, int width, int height, const char* caption,
                        Qt::Alignment align) {
    auto* label = new QLabel(QString::fromUtf8(caption), this);
    label->setGeometry(px(left), px(top), px(width), px(height));
    label->setAlignment(align | Qt::AlignTop);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, kLabelBlue);
    label->setPalette(pal);
    label->setAutoFillBackground(true);
    return label;
}

QLineEdit* Kest::makeBox(int left, int top, int width, Qt::Alignment align) {
    auto* box = new QLineEdit(this);
    box->setGeometry(px(left), px(top), px(width), px(285));
    box->setAlignment(align | Qt::AlignVCenter);
    box->setMaxLength(std::numeric_limits<int>::max());  // no limit on the text's length
    box->setTextMargins(0, 0, 0, 0);
    box->setStyleSheet(QStringLiteral(
        "QLineEdit { background: white; border: 1px solid #7a7a7a; padding: 0px; margin: 0px; }"));
    return box;
}

void Kest::parkKeyboard() {
    setFocus(Qt::OtherFocusReason);
}

bool Kest::event(QEvent* event) {
    // With no control focused the keys come to the window itself; Tab would
    // move the focus into a box, and the next key would land there.
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease ||
         type == QEvent::ShortcutOverride) &&
        (focusWidget() == nullptr || focusWidget() == this)) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

bool Kest::eventFilter(QObject* watched, QEvent* event) {
    // A focused push button is pressed by Space (Qt does that) and by Enter.
    if (watched == cStar_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat() && cStar_->isEnabled()) {
                cStar_->click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Kest::closeEvent(QCloseEvent* event) {
    emit closeRequested();
    event->accept();
}

}  // namespace ui
