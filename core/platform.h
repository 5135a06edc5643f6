#pragma once

#include <functional>
#include <string>

namespace core {

// What the program relies on from its platform, and nothing more. The Qt
// implementation lives in ui/; tests hand a scripted one.
class Platform {
public:
    virtual ~Platform() = default;

    // Where the pictures (M000.Bmp ...) go, and the palette file read at
    // start-up: absolute paths, the folder without a trailing separator.
    // Both are fixed for the whole run.
    virtual std::string pictureFolder() const = 0;
    virtual std::string palettePath() const = 0;

    // Seconds since local midnight, in single precision as the run keeps it.
    virtual float secondsSinceMidnight() const = 0;

    // Today's date as "yyyy/MM/dd" and the time of day as "H:mm:ss".
    virtual std::string dateText() const = 0;
    virtual std::string timeText() const = 0;

    // Runs every pending event handler to its end, nested in the caller.
    virtual void processEvents() = 0;

    // Handles events as they arrive, nested in the caller, until done()
    // holds; done() may block for a few milliseconds. A caller waiting for
    // work to finish stays open to a close this way. This one handles no
    // events and only waits.
    virtual void processEventsUntil(const std::function<bool()>& done);

    // Modal box with one OK button and the caption "Quarlo"; returns once
    // the user has closed it.
    virtual void messageBox(const std::string& text) = 0;

    // Ends the program at once: no further handler runs.
    [[noreturn]] virtual void endProgram() = 0;
};

// The designed failure report: the error number with "####", the fixed
// text (and for file failures the path), then the end of the program.
[[noreturn]] void reportAndEnd(Platform& platform, int err, const std::string& fixedText);

}  // namespace core
