"""kestrome: strict, never-coercing membership checks of Python values against
schemas written as type annotations, and sound reasoning about schemas as sets."""

from ._kestrome import *  # noqa: F401,F403
from ._kestrome import __all__  # noqa: F401
