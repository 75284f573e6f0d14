"""Size and depth limits of a finished validator, and the tree metrics behind them."""

import re
from types import SimpleNamespace
from typing import Annotated, Optional

import pytest

from kestrome import (
    MAX_DEFINITIONS,
    MAX_SCHEMA_DEPTH,
    MAX_SCHEMA_NODES,
    Validator,
    complement,
    recursive,
    union,
)

from support import DEFINITIONS_MESSAGE, DEPTH_MESSAGE, NODES_MESSAGE, self_list


def deep(depth):
    """A validator of exactly `depth` levels: int under depth - 1 complements."""
    v = Validator(int)
    for _ in range(depth - 1):
        v = complement(v)
    return v


def nested_lists(levels):
    schema = int
    for _ in range(levels):
        schema = list[schema]
    return schema


def rejected(build, template, number):
    with pytest.raises(ValueError) as info:
        build()
    assert str(info.value) == template.format(number)


def test_limits_match_the_module_constants():
    assert (MAX_SCHEMA_DEPTH, MAX_DEFINITIONS, MAX_SCHEMA_NODES) == (128, 128, 100000)


# ------------------------------------------------------------------ depth


def test_depth_128_is_accepted():
    v = deep(128)
    assert repr(v) == "complement(" * 127 + "int" + ")" * 127
    assert Validator(v) == v  # importing a validator adds no level


@pytest.mark.parametrize(
    "build, depth",
    [
        (lambda v: complement(v), 129),
        (lambda v: union(v), 129),
        (lambda v: v | int, 129),
        (lambda v: None | v, 129),
        (lambda v: Validator({"a": v}), 129),
        (lambda v: Validator([v]), 130),  # a list adds its own level and the repeat's
        (lambda v: Validator([v, int]), 130),
    ],
)
def test_one_level_past_the_limit_is_rejected_with_the_depth_reached(build, depth):
    v = deep(128)
    rejected(lambda: build(v), DEPTH_MESSAGE, depth)
    assert v == deep(128)  # the operand is unchanged


def test_nested_generic_aliases_hit_the_depth_limit_not_the_compile_guard():
    assert repr(Validator(nested_lists(63))) == "list[" * 63 + "int" + "]" * 63  # depth 127
    rejected(lambda: Validator(nested_lists(64)), DEPTH_MESSAGE, 129)


def test_depth_of_a_definition_counts():
    assert repr(recursive(lambda r: {"a": deep(127), "b": r})).startswith("{'a': complement(")
    rejected(lambda: recursive(lambda r: {"a": deep(128), "b": r}), DEPTH_MESSAGE, 129)


# ------------------------------------------------------------ definitions


def test_128_definitions_are_accepted():
    v = union(*[self_list() for _ in range(128)])
    assert repr(v) == " | ".join(["list[...]"] * 128)


@pytest.mark.parametrize(
    "build",
    [
        pytest.param(lambda: union(*[self_list() for _ in range(129)]), id="distinct validators"),
        pytest.param(lambda: union(*[self_list()] * 129), id="one validator used 129 times"),
        pytest.param(lambda: union(*[self_list() for _ in range(128)]) | self_list(), id="or operator"),
        pytest.param(
            lambda: recursive(lambda r: {"next": r, "rest": union(*[self_list() for _ in range(128)])}),
            id="recursive body importing 128",
        ),
    ],
)
def test_129_definitions_are_rejected(build):
    rejected(build, DEFINITIONS_MESSAGE, 129)


def test_recursive_body_importing_127_definitions_is_accepted():
    body = union(*[self_list() for _ in range(127)])
    v = recursive(lambda r: {"next": r, "rest": body})
    assert repr(v).startswith("{'next': ..., 'rest': list[...] | ")


def test_129_definitions_are_rejected_even_with_a_tiny_root():
    many = union(*[self_list() for _ in range(129 - 1)])
    rejected(lambda: recursive(lambda r: [r, many]), DEFINITIONS_MESSAGE, 129)


# ------------------------------------------------------------------ nodes


@pytest.mark.parametrize(
    "prefix, prefix_nodes",
    [
        pytest.param([], 0, id="plain members"),
        pytest.param([self_list()], 3, id="back edge and its definition"),
        pytest.param([Annotated[int, SimpleNamespace(ge=0, le=9, max_length=5)]], 5, id="refinement"),
    ],
)
def test_node_total_boundary(prefix, prefix_nodes):
    fill = MAX_SCHEMA_NODES - 1 - prefix_nodes  # the union node itself is one
    v = union(*prefix, *[int] * fill)
    assert repr(v).endswith(" | int")
    rejected(lambda: union(*prefix, *[int] * (fill + 1)), NODES_MESSAGE, 100001)


def test_doubling_a_validator_stops_at_the_node_limit():
    v = Validator(int)
    with pytest.raises(ValueError) as info:
        for _ in range(20):
            v = union(v, v)
    # 2**15 leaves under 2**15 - 1 unions fit; the next doubling spans 2 * 65535 + 1 nodes
    assert str(info.value) == NODES_MESSAGE.format(131071)


# ------------------------------------------------------------ check order


@pytest.mark.parametrize(
    "build, template, number",
    [
        pytest.param(lambda: union(deep(128), *[int] * 100000), DEPTH_MESSAGE, 129, id="depth before nodes"),
        pytest.param(
            lambda: union(deep(128), *[self_list()] * 129), DEPTH_MESSAGE, 129, id="depth before definitions"
        ),
        pytest.param(
            lambda: union(*[self_list()] * 129, *[int] * 100000),
            DEFINITIONS_MESSAGE,
            129,
            id="definitions before nodes",
        ),
    ],
)
def test_only_the_first_broken_limit_is_reported(build, template, number):
    rejected(build, template, number)


# --------------------------------------------------------------- metrics


def node_count(schema):
    with pytest.raises(ValueError) as info:
        union(schema, *[int] * MAX_SCHEMA_NODES)
    total = int(re.search(r"spans (\d+) nodes", str(info.value)).group(1))
    return total - 1 - MAX_SCHEMA_NODES


def depth_of(schema):
    v = Validator(schema)
    levels_added = 0
    while True:
        try:
            v = complement(v)
        except ValueError as e:
            assert str(e) == DEPTH_MESSAGE.format(129)
            return MAX_SCHEMA_DEPTH - levels_added
        levels_added += 1


@pytest.mark.parametrize(
    "schema, depth, nodes",
    [
        (int, 1, 1),
        (5, 1, 1),
        ({}, 1, 1),
        (list[int], 3, 2),
        ([int], 3, 2),
        ([int, str], 3, 3),
        ([int, str, ...], 4, 3),
        (tuple[()], 2, 1),
        (tuple[int, ...], 3, 2),
        (list[list[int]], 5, 3),
        ({"a": int, "b?": str}, 2, 3),
        (dict[str, int], 2, 3),
        ({str: int}, 2, 3),
        (Annotated[int, SimpleNamespace(ge=0), SimpleNamespace(le=9)], 2, 4),
        (Annotated[int, SimpleNamespace(ge=0, le=9, max_length=5)], 2, 5),
        (Optional[int], 2, 3),
        (set[int], 2, 2),
        (complement(int), 2, 2),
        (union(), 1, 1),
    ],
)
def test_depth_and_node_count(schema, depth, nodes):
    assert depth_of(schema) == depth
    assert node_count(schema) == nodes


def test_a_back_edge_counts_one_node_and_the_definition_is_counted_once():
    r = self_list()  # root BackEdge (1) + definition list[BackEdge] (2)
    assert node_count(r) == 3
    # each occurrence of r brings its definition and its back edge again
    assert node_count(union(r, r)) == 1 + 2 * 3
