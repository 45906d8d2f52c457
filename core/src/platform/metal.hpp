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

namespace tessra::platform {

struct MetalSize {
    uint64_t width = 1, height = 1, depth = 1;
};

class MetalBuffer {
public:
    explicit MetalBuffer(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}
    void* contents() { return bytes_.data(); }
    uint64_t length() const { return bytes_.size(); }

private:
    std::vector<std::byte> bytes_;
};

// Body of one kernel, run once per grid position with the bound buffers.
using MetalKernelBody = void (*)(MetalBuffer* const* buffers, uint64_t x, uint64_t y);

struct MetalFunction {
    std::string name;
    MetalKernelBody body;
};

class MetalLibrary {
public:
    // Null when the source has no kernel of that name.
    std::shared_ptr<MetalFunction> new_function_with_name(const std::string& name) const;

private:
    friend class MetalDevice;
    std::vector<MetalFunction> functions_;
};

struct MetalPipelineState {
    std::shared_ptr<MetalFunction> function;
};

// What the last dispatch asked for; the software device keeps it so tests can see the
// grid and threadgroup sizes a runner chose.
struct MetalDispatchRecord {
    std::string kernel;
    MetalSize grid, threads_per_group;
};

class MetalComputeEncoder {
public:
    void set_compute_pipeline_state(std::shared_ptr<MetalPipelineState> p) {
        pipeline_ = std::move(p);
    }
    void set_buffer(std::shared_ptr<MetalBuffer> buffer, uint64_t offset, uint64_t index);
    void dispatch_threads(MetalSize grid, MetalSize threads_per_group);
    void end_encoding() {}

private:
    friend class MetalCommandBuffer;
    struct Dispatch {
        std::shared_ptr<MetalPipelineState> pipeline;
        std::vector<std::shared_ptr<MetalBuffer>> buffers;
        MetalSize grid, group;
    };
    std::shared_ptr<MetalPipelineState> pipeline_;
    std::vector<std::shared_ptr<MetalBuffer>> buffers_;
    std::vector<Dispatch> dispatches_;
};

class MetalCommandBuffer {
public:
    std::shared_ptr<MetalComputeEncoder> compute_command_encoder();
    void commit();
    void wait_until_completed() {}

private:
    std::vector<std::shared_ptr<MetalComputeEncoder>> encoders_;
};

class MetalCommandQueue {
public:
    std::shared_ptr<MetalCommandBuffer> command_buffer() {
        return std::make_shared<MetalCommandBuffer>();
    }
};

struct MetalCompileOptions {};

class MetalDevice {
public:
    std::string name() const { return "Tessra Software GPU"; }
    std::shared_ptr<MetalCommandQueue> new_command_queue() {
        return std::make_shared<MetalCommandQueue>();
    }
    // Null and `error` filled when the source names a kernel this device cannot run.
    std::shared_ptr<MetalLibrary> new_library_with_source(const std::string& source,
                                                          const MetalCompileOptions& options,
                                                          std::string* error);
    std::shared_ptr<MetalPipelineState> new_compute_pipeline_state(
        std::shared_ptr<MetalFunction> function, std::string* error);
    // Resource options 0: shared storage.
    std::shared_ptr<MetalBuffer> new_buffer_with_bytes(const void* bytes, uint64_t length,
                                                       uint64_t options);
    std::shared_ptr<MetalBuffer> new_buffer_with_length(uint64_t length, uint64_t options);
};

// A new device each call (null without emulation), as MTLCreateSystemDefaultDevice.
std::shared_ptr<MetalDevice> create_system_default_metal_device();

// The process's device and queue: one-time cells, null when there is no device (or the device
// gives no queue). The environment is read when the device cell is first forced.
const std::shared_ptr<MetalDevice>& metal_device();
const std::shared_ptr<MetalCommandQueue>& metal_command_queue();

// The grid and threadgroup sizes of the last dispatch run by any software device.
MetalDispatchRecord last_metal_dispatch();

}  // namespace tessra::platform
