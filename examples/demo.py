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

print("\n== Tables: read_csv -> groupby -> sum")
import os
import tempfile

from tessra import read_csv

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
