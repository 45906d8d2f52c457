import numpy as np

from harness import compare
from tessra import random_normal_f32, random_uniform_f32

N = 10_000_000


def run():
    gen = np.random.Generator(np.random.PCG64(42))
    compare("random_uniform_f32 10M", lambda: random_uniform_f32([N], 42),
            lambda: gen.random(N, dtype=np.float32))
    compare("random_normal_f32 10M", lambda: random_normal_f32([N], 42),
            lambda: gen.standard_normal(N, dtype=np.float32))
