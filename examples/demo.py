"""A short tour of tessra."""

from tessra import CoreArray, DType

print("== Arrays")
a = CoreArray([1, 2, 3, 4, 5, 6], [2, 3])
print(a)
print("shape", a.shape, "strides", a.strides, "dtype", a.dtype, "aligned", a.data_ptr % 64 == 0)
print("as a list:", a.to_list())

print("\n== Construction")
print(CoreArray.zeros([2, 2], DType.Int32))
print(CoreArray.full([3], 0.1))
print(CoreArray.arange(0, 1, 0.25))
print(CoreArray.linspace(0, 1, 5))
print(CoreArray.concatenate([a, CoreArray.ones([1, 3])]))
print(CoreArray.arange(0, 100))

print("\n== Sorting and seeded random fills")
import tessra  # noqa: E402
r = tessra.random_uniform_f32([6], 42)
print(r)
print("sorted:", r.sort().to_list())
print("argsort, descending:", r.argsort(descending=True).to_list())
print(tessra.random_normal_f32([2, 3], 7, tessra.RngAlgorithm.Xoshiro256PP))
