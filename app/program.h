#pragma once

#include <memory>

#include "compute/count_source.h"
#include "compute/threaded_count_source.h"
#include "core/platform.h"
#include "picture/controls.h"
#include "picture/handlers.h"
#include "picture/program_state.h"
#include "picture/surface.h"
#include "ui/control_window.h"
#include "ui/display_window.h"

namespace app {

// The running program: the shared state, both windows and the picture
// surface, wired to the handlers.
class Program : public picture::Controls {
public:
    // counts: where START takes its escape counts from; a pool of worker
    // threads running the vector kernel when none is given.
    explicit Program(core::Platform& platform, compute::CountSource* counts = nullptr);

    // Places and shows the windows, then runs the handlers' start-up.
    void start();

    picture::LibW& libw() { return w_; }
    picture::Surface& img() { return img_; }
    ui::Kest& kest() { return kest_; }
    ui::Disp& disp() { return disp_; }
    picture::Handlers& handlers() { return handlers_; }

    // picture::Controls
    std::string text(picture::Box box) const override;
    void setText(picture::Box box, const std::string& text) override;
    bool startEnabled() const override;
    void setStartEnabled(bool enabled) override;
    void setRepLocked(bool locked) override;
    void focusSize() override;
    bool displayVisible() const override;
    void showDisplay() override;

private:
    QLineEdit* box(picture::Box box) const;

    core::Platform& platform_;
    picture::LibW w_;
    picture::Surface img_;
    ui::Disp disp_;
    ui::Kest kest_;
    // The pool, made only when no count source is given; before handlers_,
    // which holds a reference to it.
    std::unique_ptr<compute::ThreadedCountSource> ownCounts_;
    picture::Handlers handlers_;
};

}  // namespace app
