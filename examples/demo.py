"""A short tour of tessra."""

import os
import tempfile

import tessra
from tessra import CoreArray, DataFrame, DType, Series, read_csv

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

print("\n== Shape, indexing and reductions")
m = CoreArray([1, 2, 3, 4, 5, 6], [2, 3])
print("transpose", m.transpose().to_list(), "row -1", m.getitem(-1).to_list())
print("take", m.take(CoreArray([5, 0], [2])).to_list(),
      "mask", m.boolean_index(CoreArray([1, 0, 1, 0, 1, 0], [6])).to_list())
print("sum", m.sum(), "mean", m.mean(), "var", m.var(), "argmax", m.argmax())
print("cumsum", m.cumsum())

print("\n== Sorting and seeded random fills")
r = tessra.random_uniform_f32([6], 42)
print(r)
print("sorted:", r.sort().to_list())
print("argsort, descending:", r.argsort(descending=True).to_list())
print(tessra.random_normal_f32([2, 3], 7, tessra.RngAlgorithm.Xoshiro256PP))

print("\n== Element-wise math")
x = CoreArray([0.5, 1.5, 2.5, -0.5], [4])
y = CoreArray([2.0, 0.5, -1.0, 4.0], [4])
print("x + y     ", x.add(y).to_list())
print("x > y     ", x.gt(y).to_list())
print("x mod y   ", x.mod_op(y).to_list())
print("clip(0, 2)", x.clip(0.0, 2.0).to_list())
print("rint      ", x.rint().to_list())
print("sqrt      ", CoreArray([4.0, 2.0], [2]).sqrt().to_list())

print("\n== Matrix products")
m = CoreArray([1, 2, 3, 4, 5, 6], [2, 3])
print("m @ m.T", m.matmul(m.transpose()).to_list(), "->", tessra.explain_last_dispatch())
big = CoreArray.ones([256, 256])
print("256^3:", big.matmul(big).get_scalar(0), "->", tessra.explain_last_dispatch())
print(tessra.get_capabilities_summary())
print("advice for 512^3:", tessra.recommend_backend(2 * 512**3, 3 * 4 * 512**2, False))
print(tessra.analyse_workload(2048, 64, 1024))

print("\n== Tables: read_csv -> groupby -> sum")
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "sales.csv")
    with open(path, "w") as f:
        f.write("store,units,price\n1,3,2.5\n2,1,4.0\n1,2,2.5\n3,5,1.0\n2,4,4.0\n")
    sales = read_csv(path)
print(sales, "columns", list(sales.columns))
totals = sales.groupby("store").sum()
print("per store:", {k: s.data.to_list() for k, s in totals.columns.items()})
print("mean units:", sales.groupby("store").mean().get_column("units").data.to_list())
print("store 2 rows:", sales.filter_eq("store", 2).get_column("units").data.to_list())
print("by units, descending:", sales.sort_values("units", False).get_column("units").index)

print("\n== Tables: join and pivot")
stores = DataFrame()
stores.insert("id", Series("id", CoreArray([1, 2, 4], [3])))
stores.insert("rent", Series("rent", CoreArray([100, 250, 80], [3])))
joined = sales.join(stores, "store", "id", "left")
print("left join on store:", {k: s.data.to_list() for k, s in joined.columns.items()})
sales.insert("month", Series("month", CoreArray([1, 1, 2, 2, 2], [5])))
wide = sales.pivot("store", "month", "units")
print("units by store and month:", {k: s.data.to_list() for k, s in wide.columns.items()})
print("\n== Cholesky factorisation")
spd = CoreArray([4.0, 2.0, 0.4, 2.0, 3.0, 0.5, 0.4, 0.5, 2.0], [3, 3])
low = spd.cholesky()
rows = [low.to_list()[i * 3:i * 3 + 3] for i in range(3)]
print("L:", [[round(v, 5) for v in row] for row in rows])
print("L·Lᵀ:", [[round(sum(rows[i][k] * rows[j][k] for k in range(3)), 5) for j in range(3)]
               for i in range(3)])
try:
    CoreArray([1.0, 2.0, 2.0, 1.0], [2, 2]).cholesky()
except ValueError as e:
    print("indefinite:", e)

print("\n== Raw addresses and the profiler")
# The array_* functions work on memory another object owns, given by its address.
buf = CoreArray.arange(0, 8)
other = CoreArray.full([8], 0.5)
out = CoreArray.zeros([8])
tessra.enable_profiling()
tessra.set_profile_context("demo")
tessra.array_add_f32(buf.data_ptr, other.data_ptr, out.data_ptr, 8)
print("a + b in place of out:", out.to_list())
print("sum", tessra.array_sum_f32(out.data_ptr, 8),
      "dot", tessra.array_dot_product_f32(buf.data_ptr, other.data_ptr, 8))
print("sum over the 2x4 values walked as their 4x2 transpose:",
      tessra.array_sum_f32_strided(buf.data_ptr, [4, 2], [4, 16]))
tessra.metal_transpose_f32(buf.data_ptr, out.data_ptr, 2, 4)
print("transpose 2x4 -> 4x2:", out.to_list())
print("metal device:", tessra.metal_is_available(), "cuda:", tessra.cuda_is_available())
tessra.disable_profiling()
print(tessra.get_profile_report("demo"))
tessra.clear_profile()
