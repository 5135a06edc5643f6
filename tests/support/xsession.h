#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A private X server (Xvfb) with or without a window manager (openbox), for
// what only a real display shows: activation, focus, where a key goes, the
// cost of painting through the server. Everything stops with the object.
class XSession {
public:
    explicit XSession(bool windowManager);
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
};

}  // namespace testsupport
