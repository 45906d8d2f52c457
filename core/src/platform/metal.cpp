#include "platform/metal.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace tessra::mtl {

// Kernel bodies of the software device (metal_kernels.cpp).
KernelBody software_kernel(std::string_view name);

namespace {

std::mutex g_record_mutex;
DispatchRecord g_record;

}  // namespace

std::shared_ptr<Function> Library::new_function_with_name(const std::string& name) const {
    for (const Function& f : functions_)
        if (f.name == name) return std::make_shared<Function>(f);
    return nullptr;
}

void ComputeCommandEncoder::set_buffer(std::shared_ptr<Buffer> buffer, uint64_t, uint64_t index) {
    if (buffers_.size() <= index) buffers_.resize(index + 1);
    buffers_[index] = std::move(buffer);
}

void ComputeCommandEncoder::dispatch_threads(Size grid, Size group) {
    dispatches_.push_back({pipeline_, buffers_, grid, group});
}

std::shared_ptr<ComputeCommandEncoder> CommandBuffer::compute_command_encoder() {
    encoders_.push_back(std::make_shared<ComputeCommandEncoder>());
    return encoders_.back();
}

void CommandBuffer::commit() {
    for (const auto& enc : encoders_) {
        for (const auto& d : enc->dispatches_) {
            {
                std::lock_guard<std::mutex> lock(g_record_mutex);
                g_record = {d.pipeline ? d.pipeline->function->name : "", d.grid, d.group};
            }
            // A GPU drops an invalid dispatch without telling the host; so does this device.
            const uint64_t group_threads = d.group.width * d.group.height * d.group.depth;
            if (!d.pipeline || group_threads == 0 || group_threads > 1024) continue;
            std::vector<Buffer*> bound;
            for (const auto& b : d.buffers) bound.push_back(b.get());
            KernelBody body = d.pipeline->function->body;
            // One position at a time, on the calling thread: the device must not settle or use
            // the general pool, which a GPU never touches.
            for (uint64_t z = 0; z < d.grid.depth; ++z)
                for (uint64_t y = 0; y < d.grid.height; ++y)
                    for (uint64_t x = 0; x < d.grid.width; ++x) body(bound.data(), x, y);
        }
    }
}

std::shared_ptr<Library> Device::new_library_with_source(const std::string& source,
                                                         const CompileOptions&, std::string* error) {
    auto lib = std::make_shared<Library>();
    static constexpr std::string_view kMarker = "kernel void ";
    for (size_t at = source.find(kMarker); at != std::string::npos;
         at = source.find(kMarker, at + 1)) {
        size_t begin = at + kMarker.size();
        size_t paren = source.find('(', begin);
        if (paren == std::string::npos) break;
        std::string name = source.substr(begin, paren - begin);
        KernelBody body = software_kernel(name);
        if (body == nullptr) {
            if (error) *error = "program_source: undeclared kernel '" + name + "'";
            return nullptr;
        }
        lib->functions_.push_back({std::move(name), body});
    }
    return lib;
}

std::shared_ptr<ComputePipelineState> Device::new_compute_pipeline_state(
    std::shared_ptr<Function> function, std::string* error) {
    if (!function) {
        if (error) *error = "no function";
        return nullptr;
    }
    return std::make_shared<ComputePipelineState>(ComputePipelineState{std::move(function)});
}

std::shared_ptr<Buffer> Device::new_buffer_with_bytes(const void* bytes, uint64_t length, uint64_t) {
    std::vector<std::byte> v(length);
    if (length) std::memcpy(v.data(), bytes, length);
    return std::make_shared<Buffer>(std::move(v));
}

std::shared_ptr<Buffer> Device::new_buffer_with_length(uint64_t length, uint64_t) {
    return std::make_shared<Buffer>(std::vector<std::byte>(length));
}

std::shared_ptr<Device> create_system_default_device() {
    const char* env = std::getenv("TESSRA_METAL_EMULATION");
    if (env == nullptr || std::strcmp(env, "1") != 0) return nullptr;
    return std::make_shared<Device>();
}

DispatchRecord last_dispatch_record() {
    std::lock_guard<std::mutex> lock(g_record_mutex);
    return g_record;
}

}  // namespace tessra::mtl
