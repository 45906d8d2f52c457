#pragma once
// The Metal Shading Language source of every kernel, compiled whole at each runner call.

namespace tessra::backend {

inline constexpr const char kShaderSource[] = R"MSL(
#include <metal_stdlib>
using namespace metal;

// Element-wise kernels: the grid has exactly one thread per element, so no bounds test.
kernel void add_f32(device const float* a [[buffer(0)]],
                    device const float* b [[buffer(1)]],
                    device float* result [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    result[id] = a[id] + b[id];
}

kernel void sub_f32(device const float* a [[buffer(0)]],
                    device const float* b [[buffer(1)]],
                    device float* result [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    result[id] = a[id] - b[id];
}

kernel void mul_f32(device const float* a [[buffer(0)]],
                    device const float* b [[buffer(1)]],
                    device float* result [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    result[id] = a[id] * b[id];
}

kernel void div_f32(device const float* a [[buffer(0)]],
                    device const float* b [[buffer(1)]],
                    device float* result [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    result[id] = a[id] / b[id];
}

// C = A * B, one thread per element of C; threads past the edges do nothing.
kernel void matmul_f32(device const float* a [[buffer(0)]],
                       device const float* b [[buffer(1)]],
                       device float* result [[buffer(2)]],
                       constant uint3& dims [[buffer(3)]],
                       uint2 id [[thread_position_in_grid]]) {
    uint M = dims.x;
    uint K = dims.y;
    uint N = dims.z;
    uint row = id.y;
    uint col = id.x;
    if (row < M && col < N) {
        float sum = 0.0;
        for (uint i = 0; i < K; i++) {
            sum += a[row * K + i] * b[i * N + col];
        }
        result[row * N + col] = sum;
    }
}

// Reductions run on one thread, in index order.
kernel void sum_f32(device const float* data [[buffer(0)]],
                    device float* result [[buffer(1)]],
                    constant uint& count [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    if (id == 0) {
        float sum = 0.0;
        for (uint i = 0; i < count; i++) {
            sum += data[i];
        }
        result[0] = sum;
    }
}

kernel void max_f32(device const float* data [[buffer(0)]],
                    device float* result [[buffer(1)]],
                    constant uint& count [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    if (id == 0) {
        float m = count > 0 ? data[0] : 0.0;
        for (uint i = 1; i < count; i++) {
            if (data[i] > m) {
                m = data[i];
            }
        }
        result[0] = m;
    }
}

kernel void min_f32(device const float* data [[buffer(0)]],
                    device float* result [[buffer(1)]],
                    constant uint& count [[buffer(2)]],
                    uint id [[thread_position_in_grid]]) {
    if (id == 0) {
        float m = count > 0 ? data[0] : 0.0;
        for (uint i = 1; i < count; i++) {
            if (data[i] < m) {
                m = data[i];
            }
        }
        result[0] = m;
    }
}

kernel void transpose_f32(device const float* a [[buffer(0)]],
                          device float* result [[buffer(1)]],
                          constant uint2& dims [[buffer(2)]],
                          uint2 id [[thread_position_in_grid]]) {
    uint M = dims.x;
    uint N = dims.y;
    uint row = id.y;
    uint col = id.x;
    if (row < M && col < N) {
        result[col * M + row] = a[row * N + col];
    }
}
)MSL";

}  // namespace tessra::backend
