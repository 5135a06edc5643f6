#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

// As root, a file's mode does not stop a read unless these two capabilities
// are out of effect. They stay permitted and are put back when this goes.
// Capabilities belong to a thread: only the test's own thread loses them.
// Dropping an effective capability needs no privilege, so this works in any
// container that runs the tests as root.
class WithoutModeOverride {
public:
    WithoutModeOverride() {
        if (geteuid() != 0 || syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutModeOverride() {
        if (active_) {
            syscall(SYS_capset, &header_, saved_);
        }
    }
    WithoutModeOverride(const WithoutModeOverride&) = delete;
    WithoutModeOverride& operator=(const WithoutModeOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

}  // namespace testsupport
