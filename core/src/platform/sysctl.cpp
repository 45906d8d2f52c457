#include "platform/sysctl.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

namespace tessra::platform {

namespace {

// Distinct (package, core) pairs over the listed CPUs; 0 when the topology cannot be read.
int32_t physical_cpu_count() {
    namespace fs = std::filesystem;
    std::set<std::pair<long, long>> cores;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/devices/system/cpu", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
            name.find_first_not_of("0123456789", 3) != std::string::npos)
            continue;
        long package = -1, core = -1;
        std::ifstream(entry.path() / "topology/physical_package_id") >> package;
        std::ifstream(entry.path() / "topology/core_id") >> core;
        if (package < 0 && core < 0) continue;
        cores.insert({package, core});
    }
    return static_cast<int32_t>(cores.size());
}

}  // namespace

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t) {
    if (name == nullptr || std::strcmp(name, "hw.physicalcpu") != 0 || newp != nullptr) {
        errno = ENOENT;
        return -1;
    }
    const int32_t count = physical_cpu_count();
    if (count <= 0) {
        errno = ENOENT;
        return -1;
    }
    if (oldlenp == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (oldp != nullptr) {
        if (*oldlenp < sizeof(count)) {
            errno = ENOMEM;
            return -1;
        }
        std::memcpy(oldp, &count, sizeof(count));
    }
    *oldlenp = sizeof(count);
    return 0;
}

}  // namespace tessra::platform
