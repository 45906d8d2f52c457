#include "backend/metal_runners.hpp"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "backend/metal_shader.hpp"
#include "platform/metal.hpp"

namespace tessra::backend {

namespace {

using platform::MetalSize;

struct Input {
    const void* bytes;
    uint64_t length;
};

// Steps shared by the runners: compile, look the kernel up, bind the inputs then a result
// buffer of `result_bytes`, dispatch, wait, and copy the result into `out`.
bool run(const char* kernel, std::initializer_list<Input> inputs_before_result,
         uint64_t result_bytes, std::initializer_list<Input> inputs_after_result, MetalSize grid,
         MetalSize group, void* out) {
    const auto& dev = platform::metal_device();
    if (!dev) return false;
    const auto& queue = platform::metal_command_queue();
    if (!queue) return false;

    platform::MetalCompileOptions options;
    std::string error;  // compilation and pipeline messages are dropped
    auto library = dev->new_library_with_source(kShaderSource, options, &error);
    if (!library) return false;
    auto function = library->new_function_with_name(kernel);
    if (!function) return false;
    auto pipeline = dev->new_compute_pipeline_state(function, &error);
    if (!pipeline) return false;

    std::vector<std::shared_ptr<platform::MetalBuffer>> buffers;
    for (const Input& in : inputs_before_result)
        buffers.push_back(dev->new_buffer_with_bytes(in.bytes, in.length, 0));
    auto result = dev->new_buffer_with_length(result_bytes, 0);
    buffers.push_back(result);
    for (const Input& in : inputs_after_result)
        buffers.push_back(dev->new_buffer_with_bytes(in.bytes, in.length, 0));

    auto command_buffer = queue->command_buffer();
    auto encoder = command_buffer->compute_command_encoder();
    encoder->set_compute_pipeline_state(pipeline);
    for (size_t i = 0; i < buffers.size(); ++i) encoder->set_buffer(buffers[i], 0, i);
    encoder->dispatch_threads(grid, group);
    encoder->end_encoding();
    command_buffer->commit();
    command_buffer->wait_until_completed();
    if (result_bytes) std::memcpy(out, result->contents(), result_bytes);
    return true;
}

}  // namespace

// A count (or m, k, n) of 0 makes zero-length buffers, which copy no byte, and a grid
// with no thread, so no element is read or written.
bool run_metal_binary_kernel(const char* kernel, const float* a, const float* b, float* out,
                             uint64_t count) {
    const uint64_t bytes = count * sizeof(float);
    return run(kernel, {{a, bytes}, {b, bytes}}, bytes, {}, {count, 1, 1},
               {count < 256 ? count : 256, 1, 1}, out);
}

// The kernels read their sizes as 32-bit words; a larger one is refused, never cut.
bool run_metal_reduce_kernel(const char* kernel, const float* data, uint64_t count, float* result) {
    if (count > UINT32_MAX) return false;
    const uint32_t count32 = static_cast<uint32_t>(count);
    return run(kernel, {{data, count * sizeof(float)}}, sizeof(float),
               {{&count32, sizeof count32}}, {1, 1, 1}, {1, 1, 1}, result);
}

bool run_metal_matmul_kernel(const float* a, const float* b, float* c, uint64_t m, uint64_t k,
                             uint64_t n) {
    if (m > UINT32_MAX || k > UINT32_MAX || n > UINT32_MAX) return false;
    const uint32_t dims[3] = {static_cast<uint32_t>(m), static_cast<uint32_t>(k),
                              static_cast<uint32_t>(n)};
    return run("matmul_f32", {{a, m * k * sizeof(float)}, {b, k * n * sizeof(float)}},
               m * n * sizeof(float), {{dims, sizeof dims}}, {n, m, 1}, {8, 8, 1}, c);
}

}  // namespace tessra::backend
