#include "platform/sysctl.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

extern char** environ;

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

std::optional<std::string> sysctl_command_output(const char* key) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    char prog[] = "sysctl", flag[] = "-n";
    std::string k(key);
    char* argv[] = {prog, flag, k.data(), nullptr};
    pid_t pid;
    int rc = posix_spawnp(&pid, "sysctl", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        return std::nullopt;
    }
    // Drain both pipes so a chatty child never blocks on a full one.
    std::string text;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[4096];
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                if (i == 0) text.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return text;
}

}  // namespace tessra::platform
