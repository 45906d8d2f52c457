#include "platform/metal.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace tessra::platform {

// Kernel bodies of the software device (metal_kernels.cpp).
MetalKernelBody software_metal_kernel(std::string_view name);

namespace {

std::mutex g_record_mutex;
MetalDispatchRecord g_record;

}  // namespace

std::shared_ptr<MetalFunction> MetalLibrary::new_function_with_name(const std::string& name) const {
    for (const MetalFunction& f : functions_)
        if (f.name == name) return std::make_shared<MetalFunction>(f);
    return nullptr;
}

void MetalComputeEncoder::set_buffer(std::shared_ptr<MetalBuffer> buffer, uint64_t,
                                     uint64_t index) {
    if (buffers_.size() <= index) buffers_.resize(index + 1);
    buffers_[index] = std::move(buffer);
}

void MetalComputeEncoder::dispatch_threads(MetalSize grid, MetalSize group) {
    dispatches_.push_back({pipeline_, buffers_, grid, group});
}

std::shared_ptr<MetalComputeEncoder> MetalCommandBuffer::compute_command_encoder() {
    encoders_.push_back(std::make_shared<MetalComputeEncoder>());
    return encoders_.back();
}

void MetalCommandBuffer::commit() {
    for (const auto& enc : encoders_) {
        for (const auto& d : enc->dispatches_) {
            {
                std::lock_guard<std::mutex> lock(g_record_mutex);
                g_record = {d.pipeline ? d.pipeline->function->name : "", d.grid, d.group};
            }
            // A GPU drops an invalid dispatch without telling the host; so does this device.
            const uint64_t group_threads = d.group.width * d.group.height * d.group.depth;
            if (!d.pipeline || group_threads == 0 || group_threads > 1024) continue;
            std::vector<MetalBuffer*> bound;
            for (const auto& b : d.buffers) bound.push_back(b.get());
            MetalKernelBody body = d.pipeline->function->body;
            // One position at a time, on the calling thread: the device must not settle or use
            // the general pool, which a GPU never touches.
            for (uint64_t z = 0; z < d.grid.depth; ++z)
                for (uint64_t y = 0; y < d.grid.height; ++y)
                    for (uint64_t x = 0; x < d.grid.width; ++x) body(bound.data(), x, y);
        }
    }
}

std::shared_ptr<MetalLibrary> MetalDevice::new_library_with_source(const std::string& source,
                                                                   const MetalCompileOptions&,
                                                                   std::string* error) {
    auto lib = std::make_shared<MetalLibrary>();
    static constexpr std::string_view kMarker = "kernel void ";
    for (size_t at = source.find(kMarker); at != std::string::npos;
         at = source.find(kMarker, at + 1)) {
        size_t begin = at + kMarker.size();
        size_t paren = source.find('(', begin);
        if (paren == std::string::npos) break;
        std::string name = source.substr(begin, paren - begin);
        MetalKernelBody body = software_metal_kernel(name);
        if (body == nullptr) {
            if (error) *error = "program_source: undeclared kernel '" + name + "'";
            return nullptr;
        }
        lib->functions_.push_back({std::move(name), body});
    }
    return lib;
}

std::shared_ptr<MetalPipelineState> MetalDevice::new_compute_pipeline_state(
    std::shared_ptr<MetalFunction> function, std::string* error) {
    if (!function) {
        if (error) *error = "no function";
        return nullptr;
    }
    return std::make_shared<MetalPipelineState>(MetalPipelineState{std::move(function)});
}

std::shared_ptr<MetalBuffer> MetalDevice::new_buffer_with_bytes(const void* bytes, uint64_t length,
                                                                uint64_t) {
    std::vector<std::byte> v(length);
    if (length) std::memcpy(v.data(), bytes, length);
    return std::make_shared<MetalBuffer>(std::move(v));
}

std::shared_ptr<MetalBuffer> MetalDevice::new_buffer_with_length(uint64_t length, uint64_t) {
    return std::make_shared<MetalBuffer>(std::vector<std::byte>(length));
}

std::shared_ptr<MetalDevice> create_system_default_metal_device() {
    const char* env = std::getenv("TESSRA_METAL_EMULATION");
    if (env == nullptr || std::strcmp(env, "1") != 0) return nullptr;
    return std::make_shared<MetalDevice>();
}

const std::shared_ptr<MetalDevice>& metal_device() {
    static const std::shared_ptr<MetalDevice> d = create_system_default_metal_device();
    return d;
}

const std::shared_ptr<MetalCommandQueue>& metal_command_queue() {
    static const std::shared_ptr<MetalCommandQueue> q =
        metal_device() ? metal_device()->new_command_queue() : nullptr;
    return q;
}

MetalDispatchRecord last_metal_dispatch() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    return g_record;
}

}  // namespace tessra::platform
