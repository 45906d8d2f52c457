"""tessra: Float32-first n-dimensional arrays and small tables, computed in C++."""

from . import _tessra_rust
from ._tessra_rust import *  # noqa: F401,F403

__all__ = list(_tessra_rust.__all__)
