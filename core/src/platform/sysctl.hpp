#pragma once
// sysctlbyname for the one key the system asks for, "hw.physicalcpu" (an int32 count of
// physical cores), answered from the sysfs CPU topology. Other keys fail with ENOENT.
#include <cstddef>

namespace tessra::platform {

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);

}  // namespace tessra::platform
