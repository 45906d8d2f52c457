#pragma once
// The four single-precision arithmetic element functions, written once for the element-wise
// methods, the CPU back-end and the software Metal device.

namespace tessra {

struct FloatAdd {
    float operator()(float a, float b) const { return a + b; }
};
struct FloatSub {
    float operator()(float a, float b) const { return a - b; }
};
struct FloatMul {
    float operator()(float a, float b) const { return a * b; }
};
struct FloatDiv {
    float operator()(float a, float b) const { return a / b; }
};

}  // namespace tessra
