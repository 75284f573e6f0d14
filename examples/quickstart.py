"""A first look at kestrome."""
from typing import Optional

import kestrome
from kestrome import Validator, union, recursive

User = Validator({"id": int, "name": str, "email?": Optional[str], "tags": list[str]})
print(User)

Tree = recursive(lambda t: {"value": int, "children": list[t]})
print(Tree)
print(union(int, str) | None)
print(kestrome.anything, kestrome.nothing)
