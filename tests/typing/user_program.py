"""A user's program, checked by mypy --strict and pyright against the installed stubs."""

from __future__ import annotations

import copy
from typing import TYPE_CHECKING, Annotated, Literal, TypedDict, assert_type

import kestrome
from kestrome import (
    MAX_DEFINITIONS,
    MAX_SCHEMA_DEPTH,
    MAX_SCHEMA_NODES,
    ValidationError,
    Validator,
    anything,
    complement,
    intersection,
    nothing,
    recursive,
    union,
)

if TYPE_CHECKING:
    from kestrome import ErrorEntry, JSONValue


class Movie(TypedDict):
    title: str
    year: Annotated[int, lambda y: y > 1887]


movies = Validator(list[Movie])
assert_type(movies, Validator)

ids: list[int] = [1, 2]
assert_type(Validator(list[int]).ensure(ids), list[int])
assert_type(movies.is_valid([]), bool)
assert_type([] in movies, bool)
assert_type(movies.validate([], fail_fast=True), None)

data: JSONValue = movies.load(b'[{"title": "Metropolis", "year": 1927}]')
assert isinstance(data, list) and isinstance(data[0], dict)
title: JSONValue = data[0]["title"]
assert_type(movies.validate_json('[]'), None)
assert_type(movies.is_valid_json(b"[]"), bool)


def report(error: ValidationError) -> list[str]:
    entries: tuple[ErrorEntry, ...] = error.errors
    lines = [f"{'.'.join(map(str, e['path'])) or '(top)'}: {e['message']}" for e in entries]
    assert_type(error.code, str)
    assert_type(error.path, tuple[int | str, ...])
    assert_type(error.expected + error.value + error.message, str)
    return lines


try:
    movies.validate([{"title": "Metropolis", "year": "1927"}])
except ValidationError as e:
    print("\n".join(report(e)))

tree = recursive(lambda t: {"value": int, "children": [t]})
either = union(int, str) | None
both = intersection(int, complement(Literal[0]))
assert_type(either, Validator)
assert_type(None | both, Validator)
assert_type(both.is_subtype_of(int) and tree.is_equivalent(tree) and nothing.is_empty(), bool)
assert_type(tree.open().close().simplify(), Validator)
assert_type(copy.copy(tree), Validator)
assert_type(copy.deepcopy(anything), Validator)
assert_type(hash(tree) == hash(copy.copy(tree)) and tree != either, bool)
limits: tuple[int, int, int] = (MAX_SCHEMA_DEPTH, MAX_DEFINITIONS, MAX_SCHEMA_NODES)
assert_type(kestrome.__version__, str)
print(title, tree, either, both, limits)
