import os
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def f32(x):
    """The nearest single-precision value to x, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


def run_python(code, env=None):
    """Runs code in a fresh interpreter (for once-per-process and environment behaviour)."""
    full_env = dict(os.environ)
    # The package this run imported, so a sanitizer build tests itself in children too.
    import tessra
    full_env["PYTHONPATH"] = os.path.dirname(os.path.dirname(os.path.abspath(tessra.__file__)))
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full_env, timeout=120)
