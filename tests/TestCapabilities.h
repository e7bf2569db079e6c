// Tests of refused access that must hold also when they run as root: while a
// TWithoutFileOverride lives, the calling thread (and the threads it starts) lose the
// capabilities that pass over file permissions, so a folder without write or read
// permission refuses them as it refuses any user. Nothing happens for a user who has
// none of them.
#pragma once

#include <linux/capability.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

namespace TestCapabilities {

class TWithoutFileOverride {
public:
    TWithoutFileOverride() {
        Header.version = _LINUX_CAPABILITY_VERSION_3;
        Header.pid = 0;
        if (::syscall(SYS_capget, &Header, Saved) != 0)
            throw std::runtime_error("capget failed");
        __user_cap_data_struct reduced[2] = {Saved[0], Saved[1]};
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[capability / 32].effective &= ~(1u << (capability % 32));
        if (::syscall(SYS_capset, &Header, reduced) != 0)
            throw std::runtime_error("capset failed");
    }
    ~TWithoutFileOverride() { ::syscall(SYS_capset, &Header, Saved); }
    TWithoutFileOverride(const TWithoutFileOverride&) = delete;
    TWithoutFileOverride& operator=(const TWithoutFileOverride&) = delete;

private:
    __user_cap_header_struct Header{};
    __user_cap_data_struct Saved[2]{};
};

} // namespace TestCapabilities
