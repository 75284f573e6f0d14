"""kestrome: strict, never-coercing membership checks of Python values against
schemas written as type annotations, and sound reasoning about schemas as sets."""

import copyreg
from collections.abc import Callable
from importlib.metadata import version

from ._kestrome import *  # noqa: F401,F403
from ._kestrome import ValidationError, __all__  # noqa: F401

__version__: str = version("kestrome")


# The native exception class is named `_kestrome.ValidationError`, a module
# pickle cannot import, so errors travel through a rebuilder that lives here.
def _validation_error(*args: object) -> ValidationError:
    return ValidationError(*args)


def _reduce_validation_error(
    error: ValidationError,
) -> tuple[Callable[..., ValidationError], tuple[object, ...], dict[str, object]]:
    return _validation_error, error.args, error.__dict__


copyreg.pickle(ValidationError, _reduce_validation_error)
