#include "support/xsession.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (extra.count(name) == 0) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : extra) {
        env.push_back(name + "=" + value);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// Starts argv with the given environment; its standard output goes to
// outFd (or nowhere), its errors nowhere, and fd 3 is keepFd when given.
pid_t start(std::vector<std::string> argv, const std::map<std::string, std::string>& extra,
            int outFd = -1, int keepFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (keepFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
    }
    std::vector<std::string> env = environmentWith(extra);
    std::vector<char*> args = pointers(argv);
    std::vector<char*> envp = pointers(env);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    return pid;
}

std::string readAll(int fd) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

struct Spot {
    int x, y;
};

// Centres of the controls in the control window's client area, in pixels.
Spot spotOf(ProgramUnderX::Control c) {
    switch (c) {
        case ProgramUnderX::Control::tXc:
            return {92, 29};
        case ProgramUnderX::Control::tYc:
            return {92, 49};
        case ProgramUnderX::Control::tSc:
            return {92, 69};
        case ProgramUnderX::Control::tXX:
            return {92, 109};
        case ProgramUnderX::Control::tYY:
            return {92, 129};
        case ProgramUnderX::Control::tRep:
            return {220, 29};
        case ProgramUnderX::Control::tCol:
            return {220, 109};
        case ProgramUnderX::Control::cStar:
            return {220, 56};
    }
    return {0, 0};
}

}  // namespace

bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

XSession::XSession(bool windowManager, const std::string& screen) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    xPid_ = start(
        {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
        {}, -1, fds[1]);
    ::close(fds[1]);
    // The server writes its number and a newline once it listens, and keeps
    // the pipe open.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        stop(xPid_);
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number;
    if (windowManager) {
        wmPid_ = spawn({"openbox", "--sm-disable"});
        for (int i = 0; i < 200; ++i) {
            if (run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                std::string::npos) {
                return;
            }
            std::this_thread::sleep_for(25ms);
        }
        throw std::runtime_error("openbox did not start");
    }
}

XSession::~XSession() {
    stop(wmPid_);
    stop(xPid_);
}

std::string XSession::run(const std::vector<std::string>& argv) const {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t pid = start(argv, {{"DISPLAY", display_}}, fds[1]);
    ::close(fds[1]);
    const std::string out = readAll(fds[0]);
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return trimmed(out);
}

pid_t XSession::spawn(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& extra) const {
    std::map<std::string, std::string> env = extra;
    env["DISPLAY"] = display_;
    return start(argv, env);
}

std::string XSession::activeWindow() const {
    return windowManager() ? run({"xdotool", "getactivewindow"})
                           : run({"xdotool", "getwindowfocus"});
}

void XSession::activate(const std::string& window) const {
    run({"xdotool", windowManager() ? "windowactivate" : "windowfocus", "--sync", window});
}

ProgramUnderX::ProgramUnderX(const XSession& x, const std::string& executable,
                             const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env)
    : x_(x) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarlo-x-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    folder_ = pattern;
    const std::filesystem::path exe(executable);
    std::filesystem::copy_file(exe, folder_ / "quarlo");
    std::filesystem::copy_file(exe.parent_path() / "Color.Ini", folder_ / "Color.Ini");
    std::vector<std::string> argv{(folder_ / "quarlo").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (const auto scale = env.find("QT_SCALE_FACTOR"); scale != env.end()) {
        scale_ = std::stod(scale->second);
    }
    std::map<std::string, std::string> fullEnv = env;
    fullEnv.emplace("QT_QPA_PLATFORM", "xcb");
    pid_ = x_.spawn(argv, fullEnv);
    for (int i = 0; i < 400 && kest_.empty(); ++i) {
        std::this_thread::sleep_for(25ms);
        const std::string found =
            x_.run({"xdotool", "search", "--onlyvisible", "--name", "^QUARLOVINE SET   V4610A$"});
        kest_ = found.substr(0, found.find('\n'));
    }
    if (kest_.empty()) {
        throw std::runtime_error("the control window did not appear");
    }
    std::this_thread::sleep_for(300ms);  // mapped and, under a window manager, activated
}

ProgramUnderX::~ProgramUnderX() {
    stop(pid_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void ProgramUnderX::click(Control c) const {
    const Spot s = spotOf(c);
    x_.run({"xdotool", "mousemove", "--window", kest_, std::to_string(int(s.x * scale_)),
            std::to_string(int(s.y * scale_)), "click", "1"});
}

void ProgramUnderX::setBox(Control c, const std::string& text) const {
    click(c);
    x_.run({"xdotool", "key", "ctrl+a", "BackSpace", "type", "--delay", "1", "--", text});
}

std::string ProgramUnderX::box(Control c) const {
    // A marker in the clipboard first: the copy has arrived once it is gone,
    // however long a busy machine takes to handle the keys.
    const std::string marker = "quarlo-clipboard-marker";
    x_.run({"sh", "-c", "printf %s " + marker + " | xclip -selection clipboard >/dev/null 2>&1"});
    click(c);
    x_.run({"xdotool", "key", "ctrl+a", "ctrl+c"});
    std::string text = marker;
    for (int i = 0; i < 100 && text == marker; ++i) {
        std::this_thread::sleep_for(20ms);
        text = x_.run({"timeout", "5", "xclip", "-o", "-selection", "clipboard"});
    }
    return text == marker ? std::string() : text;
}

void ProgramUnderX::clickPicture(int x, int y) const {
    moveToPicture(x, y);
    x_.run({"xdotool", "click", "1"});
}

void ProgramUnderX::moveToPicture(int x, int y) const {
    moveToDisplayPixel(int(x * scale_), int(y * scale_));
}

void ProgramUnderX::moveToDisplayPixel(int x, int y) const {
    const std::string found = x_.run({"xdotool", "search", "--onlyvisible", "--name", "^Form1$"});
    const std::string disp = found.substr(0, found.find('\n'));
    if (disp.empty()) {
        throw std::runtime_error("the display window is not shown");
    }
    x_.run({"xdotool", "mousemove", "--window", disp, std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(50ms);
}

void ProgramUnderX::type(const std::string& text) const {
    x_.run({"xdotool", "type", "--delay", "1", "--", text});
}

void ProgramUnderX::key(const std::string& keys) const {
    std::vector<std::string> argv{"xdotool", "key", "--delay", "20"};
    for (size_t from = 0; from < keys.size();) {
        const size_t to = std::min(keys.find(' ', from), keys.size());
        argv.push_back(keys.substr(from, to - from));
        from = to + 1;
    }
    x_.run(argv);
}

void ProgramUnderX::waitForIdle() const {
    // A copy out of a box is served by the event loop, which the run holds
    // until it has saved, loaded back and enabled START. An empty box
    // would copy nothing, and the read would wait for its timeout.
    if (box(Control::tYc).empty()) {
        throw std::runtime_error("the program does not answer");
    }
}

std::optional<std::chrono::milliseconds> ProgramUnderX::waitForExit(
    std::chrono::milliseconds timeout) {
    const auto start = std::chrono::steady_clock::now();
    while (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() - start > timeout) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(1ms);
    }
    pid_ = -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
}

bool ProgramUnderX::waitForPicture(const std::string& name,
                                   std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(folder_ / "Bmp" / name)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<std::string> ProgramUnderX::pictures() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ / "Bmp")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testsupport
