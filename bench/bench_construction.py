import numpy as np

from harness import compare
from tessra import CoreArray


def run():
    data = [float(i) * 0.5 for i in range(1_000_000)]
    compare("CoreArray(list, shape) 1M", lambda: CoreArray(data, [len(data)]),
            lambda: np.array(data, dtype=np.float32))
    compare("zeros 10M", lambda: CoreArray.zeros([10_000_000]),
            lambda: np.zeros(10_000_000, np.float32))
    a = CoreArray(data, [len(data)])
    n = np.array(data, dtype=np.float32)
    compare("to_list 1M", a.to_list, n.tolist)
    compare("zeros([8]) per call", lambda: CoreArray.zeros([8]), lambda: np.zeros(8, np.float32))
