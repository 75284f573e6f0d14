"""Shapes of real payloads as Python values: dataclass instances (W12), records of Optional
fields (W13), enum members (W14), records nested 5 deep (W15)."""

from __future__ import annotations

import dataclasses
import enum
import random
from typing import Optional

from harness import Table, Workload, faster_than, workload
from tools import (PEERS, ConfigDict, TypeAdapter, TypedDict, kestrome_cases, peer_cases,
                   with_config)

N = 1_000


def shape_workload(key: str, title: str, description: str, hint, x, bad, n: int,
                   element: str, notes: list[str], peers: list[str] = PEERS,
                   **peer_args) -> Workload:
    cases = kestrome_cases(hint, x) + peer_cases(x, hint, only=PEERS, **peer_args)
    return Workload(key, title, description, x, bad, cases,
                    [Table(f"{key} {title}", "member", cases, n, element)], notes,
                    [faster_than("kestrome is_valid", peers, 2.5)])


@dataclasses.dataclass
class Item:
    id: int
    name: str
    score: float
    active: bool
    tags: list[str]


@workload("W12")
def dataclass_instances() -> Workload:
    rng = random.Random(12)
    xs = [Item(i, f"user{i:05d}", rng.random() * 100, i % 3 == 0,
               [f"t{rng.randrange(8)}" for _ in range(rng.randrange(4))]) for i in range(N)]
    bad = list(xs)
    bad[N // 2] = Item("7", "x", 1.0, True, [])
    limited = "msgspec.convert hands dataclass instances back unchecked"
    return shape_workload(
        "W12", "1,000 dataclass instances",
        "a list of 1,000 instances of a dataclass {id: int, name: str, score: float, "
        "active: bool, tags: list[str]}", list[Item], xs, bad, N, "instance",
        ["pydantic is set to `revalidate_instances=\"always\"`: by default it takes an "
         "instance of the class as it is, and so does msgspec.convert (it answers 'yes' on "
         "the non-member, so it does not check and is no peer here; its row shows what "
         "handing the list back costs)",
         "non-member for the verdict check: the middle instance's id is the str '7'"],
        peers=["pydantic"],
        adapter=TypeAdapter(list[Item], config=ConfigDict(revalidate_instances="always")),
        pydantic_note="; `revalidate_instances=\"always\"`",
        msgspec_note="; **does not check instances**", msgspec_limited=limited)


OPT_TYPES = [int, str, float, bool]
Optionals = with_config(ConfigDict(extra="forbid"))(TypedDict(
    "Optionals", {f"f{i:02d}": Optional[OPT_TYPES[i % 4]] for i in range(20)}))


@workload("W13")
def optional_fields() -> Workload:
    rng = random.Random(13)
    make = [lambda: rng.randrange(-1000, 1000), lambda: f"s{rng.randrange(1000)}",
            lambda: rng.random(), lambda: rng.random() < 0.5]
    xs = [{f"f{i:02d}": None if rng.random() < 0.5 else make[i % 4]() for i in range(20)}
          for _ in range(N)]
    bad = [dict(r) for r in xs]
    bad[N // 2]["f03"] = "yes"
    return shape_workload(
        "W13", "1,000 records with 20 Optional fields",
        "a list of 1,000 records of 20 fields `Optional[int]`, `Optional[str]`, "
        "`Optional[float]`, `Optional[bool]` in turn (a TypedDict), about half of them None",
        list[Optionals], xs, bad, N, "record",
        ["non-member for the verdict check: the middle record's f03 (Optional[bool]) is "
         "the str 'yes'"])


class Color(enum.Enum):
    RED = "red"
    GREEN = "green"
    BLUE = "blue"
    CYAN = "cyan"
    MAGENTA = "magenta"
    YELLOW = "yellow"
    BLACK = "black"
    WHITE = "white"


@workload("W14")
def enum_members() -> Workload:
    rng = random.Random(14)
    members = list(Color)
    xs = [rng.choice(members) for _ in range(10_000)]
    bad = list(xs)
    bad[len(xs) // 2] = 7
    return shape_workload(
        "W14", "list[Enum], 10,000 members",
        "a list of 10,000 members of an 8-member Enum with str values", list[Color], xs,
        bad, len(xs), "member",
        ["non-member for the verdict check: the middle item is the int 7 (not a value of "
         "the enum: msgspec.convert would take a value for its member)"])


def nested_types(depth: int) -> type:
    inner: type | None = None
    for d in range(depth, 0, -1):
        fields = {"id": int, "name": str} | ({"child": inner} if inner else {})
        inner = with_config(ConfigDict(extra="forbid"))(TypedDict(f"Level{d}", fields))
    return inner


Level1 = nested_types(5)


@workload("W15")
def nested_records() -> Workload:
    def make(i: int, d: int) -> dict:
        r = {"id": i * 10 + d, "name": f"n{i}.{d}"}
        if d < 5:
            r["child"] = make(i, d + 1)
        return r
    xs = [make(i, 1) for i in range(N)]
    bad = [make(i, 1) for i in range(N)]
    deepest = bad[N // 2]
    while "child" in deepest:
        deepest = deepest["child"]
    deepest["id"] = "7"
    return shape_workload(
        "W15", "1,000 records nested 5 deep",
        "a list of 1,000 records {id: int, name: str, child: ...} nested 5 levels deep "
        "(5 TypedDicts, the innermost without child)", list[Level1], xs, bad, N, "record",
        ["non-member for the verdict check: the innermost id of the middle record is the "
         "str '7'"])
