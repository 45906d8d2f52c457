#include "util/panic.hpp"

#include <pthread.h>

#include <cstdio>

namespace tessra {

void panic(const std::string& message, std::source_location where) {
    char name[64] = "<unnamed>";
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::fprintf(stderr, "thread '%s' panicked at %s:%u:%u:\n%s\n", name, where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 message.c_str());
    std::fflush(stderr);
    throw Panic(message);
}

}  // namespace tessra
