from ._kestrome import *
from ._kestrome import ErrorEntry as ErrorEntry, JSONValue as JSONValue, __all__ as __all__

__version__: str
