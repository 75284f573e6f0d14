"""A recursive schema over a deep random tree (W3)."""

from __future__ import annotations

import random

from harness import Table, Workload, faster_than, workload
from tools import PEERS, ConfigDict, TypedDict, kestrome, kestrome_cases, peer_cases, with_config

N_NODES = 10_000
MAX_DEPTH = 50


@with_config(ConfigDict(extra="forbid"))
class Node(TypedDict):
    value: int
    children: list["Node"]


# `list["Node"]` keeps a bare string that typeguard skips with a warning when it is
# called from here; give every peer the class itself, so all of them walk the whole tree.
Node.__annotations__["children"] = list[Node]


def make_tree(seed: int, bad: bool) -> tuple[dict, int, int]:
    """A random tree of N_NODES nodes whose root-to-leaf paths are at most MAX_DEPTH long.

    A spine of MAX_DEPTH nodes makes the full depth occur; the other nodes hang from a
    random earlier node that still has room below it. With `bad`, the leaf at the end of
    the spine (the deepest node) holds a float. Returns (root, node count, max depth).
    """
    rng = random.Random(seed)
    nodes = [{"value": rng.randrange(-1000, 1000), "children": []}]
    depth = [1]
    room = [0]  # nodes at depth < MAX_DEPTH
    for d in range(2, MAX_DEPTH + 1):
        nodes.append({"value": rng.randrange(-1000, 1000), "children": []})
        nodes[-2]["children"].append(nodes[-1])
        depth.append(d)
        if d < MAX_DEPTH:
            room.append(len(nodes) - 1)
    deepest = nodes[-1]
    while len(nodes) < N_NODES:
        parent = rng.choice(room)
        nodes.append({"value": rng.randrange(-1000, 1000), "children": []})
        nodes[parent]["children"].append(nodes[-1])
        depth.append(depth[parent] + 1)
        if depth[-1] < MAX_DEPTH:
            room.append(len(nodes) - 1)
    if bad:
        deepest["value"] = 0.5
    return nodes[0], len(nodes), max(depth)


def tree_stats(root: dict) -> tuple[int, int]:
    count, deepest, stack = 0, 0, [(root, 1)]
    while stack:
        node, d = stack.pop()
        count += 1
        deepest = max(deepest, d)
        stack.extend((c, d + 1) for c in node["children"])
    return count, deepest


@workload("W3")
def tree() -> Workload:
    root, n_nodes, depth = make_tree(3, bad=False)
    bad_root, _, _ = make_tree(3, bad=True)
    assert tree_stats(root) == (n_nodes, depth) and depth <= MAX_DEPTH
    tschema = kestrome.recursive(lambda t: {"value": int, "children": list[t]})
    cases = kestrome_cases(tschema, root) + peer_cases(
        root, Node, beartype_note="checks a TypedDict only as a Mapping")
    return Workload(
        "W3", f"recursive tree, {n_nodes:,} nodes",
        f"a tree of {n_nodes:,} nodes {{value: int, children: list[node]}}, deepest "
        f"root-to-leaf path {depth} nodes; kestrome "
        "`recursive(lambda t: {\"value\": int, \"children\": list[t]})`, a recursive "
        "TypedDict for the peers",
        root, bad_root, cases,
        [Table(f"W3 recursive tree ({n_nodes:,} nodes, depth {depth})", "member", cases,
               n_nodes, "node")],
        ["non-member for the verdict check: the deepest leaf's value is 0.5"],
        [faster_than("kestrome is_valid", PEERS, 2.5)])
