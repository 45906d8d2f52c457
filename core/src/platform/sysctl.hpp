#pragma once
// sysctl, two ways. sysctlbyname for the one key the system asks for, "hw.physicalcpu" (an
// int32 count of physical cores), answered from the sysfs CPU topology; other keys fail with
// ENOENT. And the `sysctl` program itself, run for real.
#include <cstddef>
#include <optional>
#include <string>

namespace tessra::platform {

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);

// Runs `sysctl -n key` with empty input; its standard output, or nothing when it cannot start.
std::optional<std::string> sysctl_command_output(const char* key);

}  // namespace tessra::platform
