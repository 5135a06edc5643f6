#pragma once

#include <string>

namespace picture {

// The text boxes the handlers read and write.
enum class Box {
    tXc,   // centre X of the next picture, under CENTER / SIZE
    tYc,   // centre Y of the next picture
    tSc,   // half-width of the next picture in plane units ("S")
    tRep,  // repeat count, under REPEAT
    tCol,  // colour mode 0-4, under COLOR
    tXX,   // X of the plane point under the pointer, under POSITION
    tYY,   // Y of the plane point under the pointer
};

// What the picture layer sees of the two windows: texts and states, never
// widgets. Setting the text of tCol runs its change handler before
// setText returns.
class Controls {
public:
    virtual ~Controls() = default;

    virtual std::string text(Box box) const = 0;
    virtual void setText(Box box, const std::string& text) = 0;

    virtual bool startEnabled() const = 0;
    virtual void setStartEnabled(bool enabled) = 0;
    virtual void setRepLocked(bool locked) = 0;
    virtual void focusSize() = 0;

    // The display window: shown modeless and brought to the front.
    virtual bool displayVisible() const = 0;
    virtual void showDisplay() = 0;
};

}  // namespace picture
