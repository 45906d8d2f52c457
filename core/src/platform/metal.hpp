#pragma once
// A software Metal device for hosts without the framework. It offers the calls the Metal
// back-end makes and nothing more. A device exists only when TESSRA_METAL_EMULATION is "1";
// otherwise, as on a machine without a GPU, there is none. Objects are reference counted by
// shared_ptr: copying one is a retain, dropping it a release.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessra::mtl {

struct Size {
    uint64_t width = 1, height = 1, depth = 1;
};

class Buffer {
public:
    explicit Buffer(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}
    void* contents() { return bytes_.data(); }
    uint64_t length() const { return bytes_.size(); }

private:
    std::vector<std::byte> bytes_;
};

// Body of one kernel, run once per grid position with the bound buffers.
using KernelBody = void (*)(Buffer* const* buffers, uint64_t x, uint64_t y);

struct Function {
    std::string name;
    KernelBody body;
};

class Library {
public:
    // Null when the source has no kernel of that name.
    std::shared_ptr<Function> new_function_with_name(const std::string& name) const;

private:
    friend class Device;
    std::vector<Function> functions_;
};

struct ComputePipelineState {
    std::shared_ptr<Function> function;
};

// What the last dispatch asked for; the software device keeps it so tests can see the
// grid and threadgroup sizes a runner chose.
struct DispatchRecord {
    std::string kernel;
    Size grid, threads_per_group;
};

class ComputeCommandEncoder {
public:
    void set_compute_pipeline_state(std::shared_ptr<ComputePipelineState> p) { pipeline_ = std::move(p); }
    void set_buffer(std::shared_ptr<Buffer> buffer, uint64_t offset, uint64_t index);
    void dispatch_threads(Size grid, Size threads_per_group);
    void end_encoding() {}

private:
    friend class CommandBuffer;
    struct Dispatch {
        std::shared_ptr<ComputePipelineState> pipeline;
        std::vector<std::shared_ptr<Buffer>> buffers;
        Size grid, group;
    };
    std::shared_ptr<ComputePipelineState> pipeline_;
    std::vector<std::shared_ptr<Buffer>> buffers_;
    std::vector<Dispatch> dispatches_;
};

class CommandBuffer {
public:
    std::shared_ptr<ComputeCommandEncoder> compute_command_encoder();
    void commit();
    void wait_until_completed() {}

private:
    std::vector<std::shared_ptr<ComputeCommandEncoder>> encoders_;
};

class CommandQueue {
public:
    std::shared_ptr<CommandBuffer> command_buffer() { return std::make_shared<CommandBuffer>(); }
};

struct CompileOptions {};

class Device {
public:
    std::string name() const { return "Tessra Software GPU"; }
    std::shared_ptr<CommandQueue> new_command_queue() { return std::make_shared<CommandQueue>(); }
    // Null and `error` filled when the source names a kernel this device cannot run.
    std::shared_ptr<Library> new_library_with_source(const std::string& source,
                                                     const CompileOptions& options,
                                                     std::string* error);
    std::shared_ptr<ComputePipelineState> new_compute_pipeline_state(
        std::shared_ptr<Function> function, std::string* error);
    // Resource options 0: shared storage.
    std::shared_ptr<Buffer> new_buffer_with_bytes(const void* bytes, uint64_t length, uint64_t options);
    std::shared_ptr<Buffer> new_buffer_with_length(uint64_t length, uint64_t options);
};

std::shared_ptr<Device> create_system_default_device();

// The grid and threadgroup sizes of the last dispatch run by any software device.
DispatchRecord last_dispatch_record();

}  // namespace tessra::mtl
