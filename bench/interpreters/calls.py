"""One workload run N times, for counting instructions per call under callgrind:
`python calls.py WORKLOAD N K`, where K >= N is how many inputs are prepared. Run it with
N = 0 and N = K; the difference of the two totals divided by K is the cost of one call,
whatever the interpreter's start-up and the preparation cost.
Needs only kestrome, so that it runs on any interpreter the package builds on."""


import dataclasses
import random
import sys
from typing import Literal, TypedDict

from kestrome import Validator, recursive, union

RECORD = {"id": int, "name": str, "score": float, "active": bool, "tags": list[str]}
TAGS = ["red", "green", "blue", "admin", "beta", "new", "old", "vip"]


def records(k):
    rng = random.Random(2)
    value = [{"id": i, "name": f"user{i:05d}", "score": rng.random() * 100.0, "active": i % 3 == 0,
              "tags": [rng.choice(TAGS) for _ in range(rng.randrange(0, 5))]} for i in range(1_000)]
    v = Validator(list[RECORD])
    return lambda: v.is_valid(value)


def tagged(k):
    members = [{"kind": Literal[f"k{k:02d}"], "id": int, f"x{k}": [int, str, float, bool][k % 4]}
               for k in range(20)]
    samples = {int: 1, str: "s", float: 0.5, bool: True}
    rng = random.Random(3)
    value = []
    for i in range(10_000):
        k = rng.randrange(20)
        value.append({"kind": f"k{k:02d}", "id": i, f"x{k}": samples[[int, str, float, bool][k % 4]]})
    v = Validator(list[union(*members)])
    return lambda: v.is_valid(value)


def nested(k):
    tree = recursive(lambda t: {"value": int, "children": [t]})

    def make(depth):
        return {"value": depth, "children": [make(depth - 1) for _ in range(3)] if depth else []}

    value = make(7)  # 3,280 nodes
    return lambda: tree.is_valid(value)


@dataclasses.dataclass
class Point:
    x: int
    y: int
    label: str
    tags: list[str]
    weight: float | None = None


def compile_dataclass(k):
    return lambda: Validator(Point)


def compile_typed_dict(k):
    # A fresh class for each call, made beforehand.
    fields = {f"f{i:03d}": [int, str, float, bool, list[int]][i % 5] for i in range(200)}
    classes = iter([TypedDict("Wide", fields) for _ in range(k + 1)])
    return lambda: Validator(next(classes))


WORKLOADS = {f.__name__: f for f in (records, tagged, nested, compile_dataclass, compile_typed_dict)}

if __name__ == "__main__":
    name, n, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    call = WORKLOADS[name](k)
    call()  # what a first call makes once (caches, annotations) is not counted
    for _ in range(n):
        call()
