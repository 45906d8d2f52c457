import os
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def f32(x):
    """The nearest single-precision value to x, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


def run_python(code, env=None):
    """Runs code in a fresh interpreter (for once-per-process and environment behaviour).
    An env value of None removes that variable."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.path.join(ROOT, "python")
    for name, value in (env or {}).items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full_env, timeout=120)


def f32_matrix(array):
    """A tessra CoreArray holding a 2-D numpy array's values as float32."""
    from tessra import CoreArray
    import numpy as np
    a = np.asarray(array, dtype=np.float32)
    return CoreArray(a.ravel().tolist(), list(a.shape))


def to_numpy(core_array):
    """A CoreArray's values as a float32 numpy array of its shape."""
    import numpy as np
    return np.array(core_array.to_list(), dtype=np.float32).reshape(core_array.shape)
