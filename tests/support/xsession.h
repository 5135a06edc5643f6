#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A private X server (Xvfb) with or without a window manager (openbox), for
// what only a real display shows: activation, focus, where a key goes, the
// cost of painting through the server. Everything stops with the object.
class XSession {
public:
    // screen: Xvfb's WIDTHxHEIGHTxDEPTH.
    explicit XSession(bool windowManager, const std::string& screen = "1280x1024x24");
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    const std::string& display() const { return display_; }
    bool windowManager() const { return wmPid_ > 0; }

    // Runs a tool on this display and returns what it printed (trimmed).
    std::string run(const std::vector<std::string>& argv) const;
    // Starts a program on this display; extra holds added environment.
    pid_t spawn(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& extra = {}) const;

    // The window that has the keyboard: the window manager's active window,
    // or without one the X input focus.
    std::string activeWindow() const;
    // Makes a window active as the user does through the window manager, or
    // without one gives it the X input focus; returns once it is.
    void activate(const std::string& window) const;

private:
    pid_t xPid_ = -1;
    pid_t wmPid_ = -1;
    std::string display_;
};

// The real program, copied with its palette into a scratch program folder
// and started on a session's display, driven through xdotool as a user
// drives it. Positions are pixels in a window's client area.
class ProgramUnderX {
public:
    ProgramUnderX(const XSession& x, const std::string& executable,
                  const std::vector<std::string>& args = {},
                  const std::map<std::string, std::string>& env = {});
    ~ProgramUnderX();
    ProgramUnderX(const ProgramUnderX&) = delete;
    ProgramUnderX& operator=(const ProgramUnderX&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    pid_t pid() const { return pid_; }
    const std::string& controlWindow() const { return kest_; }

    // The centre of each control of the control window.
    enum class Control { tXc, tYc, tSc, tRep, tCol, tXX, tYY, cStar };
    void click(Control c) const;
    // Clicks into the box, selects all and types the text.
    void setBox(Control c, const std::string& text) const;
    // The box's text, read back through the clipboard.
    std::string box(Control c) const;
    // A click on the picture at (x, y) of the display window.
    void clickPicture(int x, int y) const;
    void moveToPicture(int x, int y) const;
    // The pointer on device pixel (x, y) of the display window, whatever
    // the program's scale.
    void moveToDisplayPixel(int x, int y) const;
    // Keys as xdotool names them, between blanks: "Tab Tab space".
    void key(const std::string& keys) const;
    // Waits until the run that made the newest picture has ended: the
    // program handles no input until then, and a read of a box needs it.
    // Leaves the keyboard in tYc, which must not be empty.
    void waitForIdle() const;
    // Waits for the program to end; the time it took, or nothing after the
    // timeout.
    std::optional<std::chrono::milliseconds> waitForExit(std::chrono::milliseconds timeout);
    // Keys to whichever window has the keyboard, as xdotool types them.
    void type(const std::string& text) const;

    // Waits until Bmp/<name> exists; false after the timeout.
    bool waitForPicture(const std::string& name,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    std::vector<std::string> pictures() const;  // names in Bmp, sorted

private:
    const XSession& x_;
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::string kest_;  // X window id of the control window
    double scale_ = 1;  // device pixels to one of the program's pixels
};

// Polls cond until it holds; false after the timeout.
bool eventually(const std::function<bool()>& cond,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testsupport
