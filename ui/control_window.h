#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>

namespace ui {

// Converts the layout's twips into pixels (15 twips to a pixel).
constexpr int px(int twips) {
    return twips / 15;
}

// The control window: the centre, size, repeat-count and colour-mode boxes,
// START, and the read-out of the plane point under the mouse. It shows and
// reports; the handlers that decide live elsewhere.
class Kest : public QWidget {
    Q_OBJECT
public:
    explicit Kest(QWidget* parent = nullptr);

    QLineEdit* tXc() const { return tXc_; }
    QLineEdit* tYc() const { return tYc_; }
    QLineEdit* tSc() const { return tSc_; }
    QLineEdit* tRep() const { return tRep_; }
    QLineEdit* tCol() const { return tCol_; }
    QLineEdit* tXX() const { return tXX_; }
    QLineEdit* tYY() const { return tYY_; }
    QPushButton* cStar() const { return cStar_; }
    QLabel* label(int index) const { return label2_[static_cast<size_t>(index)]; }

    // Takes the keyboard away from every box and button: the window itself
    // holds the focus and drops the keys it gets, until a click or the
    // program puts the focus into a control again. A run does this so that
    // a key pressed while it computes changes nothing.
    void parkKeyboard();

signals:
    void startClicked();
    void colourModeChanged();
    // Raised when the user closes the window; the program ends in the slot.
    void closeRequested();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* makeLabel(int left, int top, int width, int height, const char* caption,
                      Qt::Alignment align);
    QLineEdit* makeBox(int left, int top, int width, Qt::Alignment align);

    QLabel* label1_;                 // "CENTER / SIZE" heading, top left
    std::array<QLabel*, 5> label2_;  // "X", "Y", "S", "X", "Y" left of the five wide boxes
    QLabel* label4_;                 // "POSITION" heading over the pointer read-out
    QLabel* label5_;                 // "COLOR" heading over the colour-mode box
    QLabel* label7_;                 // "REPEAT" heading over the repeat-count box
    QFrame* shape1_;                 // white vertical bar between the two halves
    QLineEdit* tXc_;                 // centre X
    QLineEdit* tYc_;                 // centre Y
    QLineEdit* tSc_;                 // size (half-width)
    QLineEdit* tXX_;                 // pointer read-out X
    QLineEdit* tYY_;                 // pointer read-out Y
    QLineEdit* tRep_;                // repeat count
    QLineEdit* tCol_;                // colour mode
    QPushButton* cStar_;             // START
};

// The controls' font: the face the layout names at 12 pt, as 16 pixels.
QFont controlFont(bool bold = false);

}  // namespace ui
