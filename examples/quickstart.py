"""A first look at kestrome: the example of the README."""
from typing import Annotated, Optional
from dataclasses import dataclass
import kestrome
from kestrome import Validator, ValidationError, recursive

class Ge:                      # any object with the attribute `ge` works
    def __init__(self, ge: int) -> None:
        self.ge = ge

User = Validator({"id": Annotated[int, Ge(1)], "name": str, "email?": Optional[str]})
assert User.is_valid({"id": 7, "name": "Ada"})
assert {"id": 7, "name": "Ada", "admin": True} not in User   # closed record

try:
    User.validate({"id": 0, "name": 3})
except ValidationError as e:
    print(e)
    # 2 validation errors:
    # at id: expected >= 1, got 0 [greater_than_equal]
    # at name: expected str, got 3 [string_type]
    print(e.errors[0]["path"], e.errors[0]["code"])   # ('id',) greater_than_equal

Tree = recursive(lambda t: {"value": int, "children": [t]})
print(Tree)                    # {'value': int, 'children': list[...]}
assert Tree.is_valid({"value": 1, "children": [{"value": 2, "children": []}]})

@dataclass
class Point:
    x: int
    y: int

print(Validator(list[Point]) | None)   # list[Point] | None
