"""Real JSON documents: the three files of the standard parser corpus, twitter (W60), citm
(W61) and canada (W62), a JSON-lines file of products made here (W63), and Japanese text
against ASCII text of the same size (W64).

The corpus is read, never changed, from `../shared/data/json/` beside the repository, or
from the folder that KESTROME_BENCH_JSON_DIR names; when a file is missing its workload
says so and times nothing. Every tool gets the schema a careful user writes: closed
TypedDicts for kestrome, the same records as msgspec Structs that forbid unknown fields
(msgspec's TypedDicts ignore extra keys). The faulty copies are made in memory.
"""

import json
import os
import random
import textwrap
import types
import typing
from dataclasses import replace
from pathlib import Path
from typing import Annotated, Literal, Optional

from harness import (ROOT, Case, Table, Target, Workload, faster_than, flat, with_value,
                     within, workload)
from tools import TypedDict, json_peer_cases, kestrome_json_cases, msgspec, orjson
# the generated corpora's records that the real documents have field for field
from workloads.json_corpora import Catalog, Hashtag, Mention, Properties, Url
from typing_extensions import NotRequired, Required, get_type_hints, is_typeddict

try:  # bench/.venv only; without it the bare-parse rows are left out
    import simdjson
except ImportError:  # pragma: no cover - depends on the wheel for this Python
    simdjson = None

DATA_ENV = "KESTROME_BENCH_JSON_DIR"
SIMDJSON = "simdjson parse"


def data_dir() -> Path:
    return Path(os.environ.get(DATA_ENV) or ROOT.parent / "shared" / "data" / "json")


# --- msgspec's form of a schema ------------------------------------------------------------

def msgspec_form(hint, made: dict | None = None):
    """The same schema for msgspec: each TypedDict becomes a Struct that forbids unknown
    fields, its NotRequired keys defaulting to UNSET (absent stays absent). `made` maps
    the parts that msgspec writes its own way to its form."""
    made = {} if made is None else made
    if isinstance(hint, list):  # kestrome's fixed list: msgspec decodes it as a tuple
        return tuple[tuple(msgspec_form(a, made) for a in hint)]
    if is_typeddict(hint):
        if hint not in made:
            # with the extras, so that an Annotated part can be found in `made`
            hints = {k: t.__args__[0] if typing.get_origin(t) in (NotRequired, Required) else t
                     for k, t in get_type_hints(hint, include_extras=True).items()}
            fields = [(k, msgspec_form(t, made)) if k in hint.__required_keys__ else
                      (k, msgspec_form(t, made) | msgspec.UnsetType, msgspec.UNSET)
                      for k, t in hints.items()]
            made[hint] = msgspec.defstruct(hint.__name__, fields, kw_only=True,
                                           forbid_unknown_fields=True)
        return made[hint]
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if origin in (typing.Union, types.UnionType):
        return typing.Union[tuple(msgspec_form(a, made) for a in args)]
    if origin in (list, dict, tuple):
        return origin[tuple(msgspec_form(a, made) for a in args)]
    return hint  # a scalar, None or a Literal


# --- the cases ------------------------------------------------------------------------------

def simdjson_cases() -> list[Case]:
    if simdjson is None:
        return []
    parser = simdjson.Parser()  # reused, its fastest form; the result is dropped at once
    return [Case(SIMDJSON, "f(x)", {"f": parser.parse, "x": None}, None,
                 "pysimdjson Parser().parse: a bare parse to a lazy proxy, no schema, no "
                 "Python objects: the limit")]


def real_cases(schema, msgspec_parts: dict | None = None) -> list[Case]:
    """kestrome's three JSON entry points, msgspec typed decoding, orjson and simdjson."""
    return (kestrome_json_cases(schema)
            + json_peer_cases(schema, msgspec_hint=msgspec_form(schema, msgspec_parts),
                              only=["orjson.loads", "msgspec"],
                              msgspec_note="; Structs that forbid unknown fields")
            + simdjson_cases())


def per_line(cases: list[Case]) -> list[Case]:
    """The same cases on a JSON-lines file: one call per line, the split timed for all."""
    def verdict(v):
        return None if v is None else lambda doc: all(v(line) for line in doc.splitlines())
    return [replace(c, stmt="for x in _doc.splitlines():\n" + textwrap.indent(c.stmt, "    "),
                    env={**c.env, "_doc": None}, verdict=verdict(c.verdict))
            for c in cases]


def with_doc(cases: list[Case], doc: bytes) -> list[Case]:
    return [replace(c, env={**c.env, "_doc": doc}) if "_doc" in c.env else c
            for c in with_value(cases, doc)]


def real_targets(table: int = 0) -> list[Target]:
    out = [faster_than("kestrome load", ["msgspec"], 1.25, table),
           within("kestrome load", "orjson.loads", 1.0, table),
           faster_than("kestrome is_valid_json", ["msgspec"], 2.5, table)]
    if simdjson is not None:
        out.append(within("kestrome is_valid_json", SIMDJSON, 2.0, table))
    return out


NOTES = ["orjson.loads and simdjson have no schema and are not checked for verdicts: they "
         "show what parsing alone costs (orjson builds the whole value as Python objects, "
         "simdjson builds none)",
         "msgspec gets the same records as Structs with `forbid_unknown_fields=True`, "
         "NotRequired keys as `T | UnsetType = UNSET`; it builds Structs, not dicts",
         "pydantic is left out of these workloads"]
if simdjson is None:
    NOTES.append("pysimdjson does not install on this Python: its rows are left out")


def document_workload(key: str, name: str, schema, doc: bytes | None, bad_doc: bytes | None,
                      describe: str, fault: str, *, lines: bool = False,
                      msgspec_parts: dict | None = None) -> Workload:
    """One real document timed under every JSON tool, after the verdict check."""
    if doc is None:
        return Workload(key, f"{name} (skipped: no data)",
                        f"{describe}; not found in {data_dir()} (set {DATA_ENV} to the "
                        "folder holding it): nothing timed", None, None, [], [])
    if not lines:
        assert orjson.loads(doc) == json.loads(doc)
    cases = real_cases(schema, msgspec_parts)
    cases = with_doc(per_line(cases), doc) if lines else with_value(cases, doc)
    table = Table(f"{key} {name} ({len(doc):,} bytes)", "member", cases, None,
                  ratio_to=["kestrome is_valid_json", "orjson.loads"], collector_too=True)
    return Workload(key, name, f"{describe}; {len(doc):,} bytes", doc, bad_doc, cases,
                    [table], NOTES + [f"non-member for the verdict check: {fault}"],
                    real_targets())


def read_corpus(file: str) -> tuple[bytes, dict] | None:
    path = data_dir() / file
    if not path.is_file():
        return None
    doc = path.read_bytes()
    return doc, json.loads(doc)


def corpus_workload(key: str, file: str, schema, plant, describe: str, fault: str,
                    **kw) -> Workload:
    """A file of the corpus, and a copy of its value with the fault `plant` makes."""
    got = read_corpus(file)
    bad_doc = None
    if got is not None:
        plant(got[1])
        bad_doc = json.dumps(got[1], ensure_ascii=False).encode()
    return document_workload(key, file, schema, got and got[0], bad_doc, describe, fault, **kw)


# --- twitter.json -------------------------------------------------------------------------

class Size(TypedDict):
    w: int
    h: int
    resize: Literal["fit", "crop"]


class Sizes(TypedDict):
    medium: Size
    small: Size
    thumb: Size
    large: Size


class Media(TypedDict):
    id: int
    id_str: str
    indices: list[int]
    media_url: str
    media_url_https: str
    url: str
    display_url: str
    expanded_url: str
    type: Literal["photo"]
    sizes: Sizes
    source_status_id: NotRequired[int]
    source_status_id_str: NotRequired[str]


class Entities(TypedDict):
    hashtags: list[Hashtag]
    symbols: list[Hashtag]  # empty here; the API gives cashtags the shape of hashtags
    urls: list[Url]
    user_mentions: list[Mention]
    media: NotRequired[list[Media]]


class UrlList(TypedDict):
    urls: list[Url]


class UserEntities(TypedDict):
    description: UrlList
    url: NotRequired[UrlList]


class User(TypedDict):
    id: int
    id_str: str
    name: str
    screen_name: str
    location: str
    description: str
    url: Optional[str]
    entities: UserEntities
    protected: bool
    followers_count: int
    friends_count: int
    listed_count: int
    created_at: str
    favourites_count: int
    utc_offset: Optional[int]
    time_zone: Optional[str]
    geo_enabled: bool
    verified: bool
    statuses_count: int
    lang: str
    contributors_enabled: bool
    is_translator: bool
    is_translation_enabled: bool
    profile_background_color: str
    profile_background_image_url: str
    profile_background_image_url_https: str
    profile_background_tile: bool
    profile_image_url: str
    profile_image_url_https: str
    profile_banner_url: NotRequired[str]
    profile_link_color: str
    profile_sidebar_border_color: str
    profile_sidebar_fill_color: str
    profile_text_color: str
    profile_use_background_image: bool
    default_profile: bool
    default_profile_image: bool
    following: bool
    follow_request_sent: bool
    notifications: bool


class StatusMetadata(TypedDict):
    result_type: Literal["recent", "popular"]
    iso_language_code: str


class Retweeted(TypedDict):
    metadata: StatusMetadata
    created_at: str
    id: int
    id_str: str
    text: str
    source: str
    truncated: bool
    in_reply_to_status_id: Optional[int]
    in_reply_to_status_id_str: Optional[str]
    in_reply_to_user_id: Optional[int]
    in_reply_to_user_id_str: Optional[str]
    in_reply_to_screen_name: Optional[str]
    user: User
    geo: None  # always null in this search result
    coordinates: None
    place: None
    contributors: None
    retweet_count: int
    favorite_count: int
    entities: Entities
    favorited: bool
    retweeted: bool
    possibly_sensitive: NotRequired[bool]
    lang: str


class Status(Retweeted):
    retweeted_status: NotRequired[Retweeted]


class SearchMetadata(TypedDict):
    completed_in: float
    max_id: int
    max_id_str: str
    next_results: str
    query: str
    refresh_url: str
    count: int
    since_id: int
    since_id_str: str


class Twitter(TypedDict):
    statuses: list[Status]
    search_metadata: SearchMetadata


def break_twitter(doc: dict) -> None:
    retweets = [s["retweeted_status"] for s in doc["statuses"] if "retweeted_status" in s]
    retweets[-1]["user"]["followers_count"] = "1,024"


@workload("W60")
def twitter_real() -> Workload:
    return corpus_workload(
        "W60", "twitter.json", Twitter, break_twitter,
        "twitter.json of the standard corpus: 100 statuses of a search, 73 with the status "
        "they retweet, each with its user (40 fields) and entities; many nulls, optional "
        "keys, much Japanese text; schema: closed TypedDicts, Optional where there are nulls, "
        "NotRequired for keys some records lack, Literal for the enums",
        "the last retweeted status's user has followers_count \"1,024\" (a string)")


# --- citm_catalog.json ----------------------------------------------------------------------
# The schema is the generated catalog's (W26): it has every key of the real file.

def break_citm(doc: dict) -> None:
    perf = doc["performances"][len(doc["performances"]) // 2]
    perf["seatCategories"][-1]["seatCategoryId"] = str(perf["seatCategories"][-1]
                                                       ["seatCategoryId"])


@workload("W61")
def citm_real() -> Workload:
    return corpus_workload(
        "W61", "citm_catalog.json", Catalog, break_citm,
        "citm_catalog.json of the standard corpus: 184 events in a map keyed by numeric "
        "strings, 243 performances with their prices and seat categories, name tables; "
        "indented; schema: closed TypedDicts, `dict[str, ...]` for the maps, `None` for the "
        "fields that are always null, Optional for the logos",
        "the middle performance's last seat category has its id as a string")


# --- canada.json ----------------------------------------------------------------------------

# 46 of the 111,126 numbers are written without a fraction, so a number is `float | int`.
# Every point is a pair: a JSON array is a list, so for kestrome the fixed list of two
# numbers, for msgspec (which decodes an array into a tuple) the fixed pair.
Point = [float | int, float | int]


class Polygon(TypedDict):
    type: Literal["Polygon"]
    coordinates: list[list[Point]]


class Feature(TypedDict):
    type: Literal["Feature"]
    properties: Properties
    geometry: Polygon


class FeatureCollection(TypedDict):
    type: Literal["FeatureCollection"]
    features: list[Feature]


def break_canada(doc: dict) -> None:
    rings = doc["features"][0]["geometry"]["coordinates"]
    ring = rings[len(rings) // 2]
    ring[len(ring) // 2].append(0.0)


@workload("W62")
def canada_real() -> Workload:
    return corpus_workload(
        "W62", "canada.json", FeatureCollection, break_canada,
        "canada.json of the standard corpus: a GeoJSON outline, one Polygon of 480 rings, "
        "55,563 points, 111,126 numbers; schema: closed TypedDicts, Literal types, a point "
        "as the fixed list `[float | int, float | int]` for kestrome (a JSON array is a "
        "list, never a tuple) and the fixed pair `tuple[float | int, float | int]` for "
        "msgspec",
        "a point in the middle ring has a third number")


# --- a JSON-lines file of products ------------------------------------------------------------

N_PRODUCTS = 792


class Dimensions(TypedDict):
    width_cm: float
    height_cm: float
    depth_cm: float
    weight_kg: Optional[float]


class Product(TypedDict):
    id: int
    sku: str
    name: str
    price: float
    currency: Literal["EUR", "USD", "GBP", "JPY", "CHF"]
    tags: list[str]
    description: Optional[str]
    discount: Optional[float]
    stock: int
    active: bool
    rating: Optional[float]
    dimensions: Dimensions


ADJECTIVES = ["Classic", "Compact", "Deluxe", "Leichte", "Grand", "Petite", "Nordic",
              "Édition", "Smart", "Ultra", "Große", "Café"]
THINGS = ["Lamp", "Chair", "Kettle", "Backpack", "Jacket", "Mug", "Notebook", "Speaker",
          "Teekanne", "Sac à dos", "急須", "ランプ", "Bol en céramique", "Çanta"]
TAGS = ["home", "kitchen", "outdoor", "office", "gift", "eco", "sale", "new", "bestseller",
        "handmade", "cadeau", "日本製"]


def products(seed: int, n: int = N_PRODUCTS) -> list[dict]:
    rng = random.Random(seed)
    rows = []
    for i in range(n):
        name = f"{rng.choice(ADJECTIVES)} {rng.choice(THINGS)} {rng.randrange(100, 999)}"
        rows.append({
            "id": 100_000 + i,
            "sku": f"SKU-{rng.randrange(16**6):06X}",
            "name": name,
            "price": round(rng.uniform(1, 500), 2),
            "currency": rng.choice(["EUR", "EUR", "USD", "GBP", "JPY", "CHF"]),
            "tags": rng.sample(TAGS, rng.randint(0, 4)),
            "description": None if rng.random() < 0.3 else
                f"{name}: {rng.choice(['robust', 'léger', 'durable', '軽量'])}, "
                f"{rng.randrange(1, 5)} year warranty",
            "discount": None if rng.random() < 0.7 else round(rng.uniform(0.05, 0.5), 2),
            "stock": rng.randrange(0, 1000),
            "active": rng.random() < 0.9,
            "rating": None if rng.random() < 0.2 else round(rng.uniform(1, 5), 1),
            "dimensions": {"width_cm": round(rng.uniform(1, 120), 1),
                           "height_cm": round(rng.uniform(1, 120), 1),
                           "depth_cm": round(rng.uniform(1, 80), 1),
                           "weight_kg": None if rng.random() < 0.1 else
                               round(rng.uniform(0.1, 30), 3)},
        })
    return rows


def json_lines(rows: list[dict]) -> bytes:
    return "\n".join(json.dumps(r, ensure_ascii=False) for r in rows).encode() + b"\n"


@workload("W63")
def products_lines() -> Workload:
    rows = products(53)
    doc = json_lines(rows)
    assert [orjson.loads(line) for line in doc.splitlines()] == rows
    rows[N_PRODUCTS // 2]["currency"] = "SEK"
    return document_workload(
        "W63", f"a JSON-lines file of {N_PRODUCTS} products", Product, doc, json_lines(rows),
        f"{N_PRODUCTS} product rows made here from a fixed seed, one JSON document a line "
        "(id, sku, a name with some non-ASCII text, price, currency, tags, nullable "
        "description, discount and rating, a nested dimensions record); every tool is "
        "called once a line, `for x in doc.splitlines()`, the split timed for all; schema: "
        "closed TypedDicts, Literal currency, Optional for the nullable fields",
        "the middle row's currency is \"SEK\", not one of the Literal's",
        lines=True)


# --- non-ASCII text per byte ---------------------------------------------------------------

N_TEXTS = 20_000
JAPANESE = ("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
            "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモ"
            "日本語東京大阪京都天気今日明日時間電車駅新聞学校先生友達写真映画音楽")
ASCII = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 "


def texts(seed: int) -> tuple[list[str], list[str]]:
    """Japanese strings and ASCII strings of the same UTF-8 sizes, one for one."""
    rng = random.Random(seed)
    ja, en = [], []
    for _ in range(N_TEXTS):
        n = rng.randint(5, 40)
        ja.append("".join(rng.choice(JAPANESE) for _ in range(n)))
        en.append("".join(rng.choice(ASCII) for _ in range(len(ja[-1].encode()))))
    return ja, en


@workload("W64")
def text_per_byte() -> Workload:
    tables = []
    for label, values in zip(["Japanese", "ASCII"], texts(54)):
        doc = json.dumps(values, ensure_ascii=False).encode()
        bad = list(values)
        bad[N_TEXTS // 2] = 7
        assert orjson.loads(doc) == values
        cases = with_value(real_cases(list[str]), doc)
        tables.append(Table(f"W64 {N_TEXTS:,} {label} strings, JSON bytes ({len(doc):,} bytes)",
                            "member", cases, len(doc) / 1000, "kB",
                            ["kestrome is_valid_json", "orjson.loads"], collector_too=True,
                            values=(doc, json.dumps(bad, ensure_ascii=False).encode()),
                            label=label))
    return Workload(
        "W64", "Japanese text against ASCII text of the same size, per byte",
        f"{N_TEXTS:,} strings of 5 to 40 Japanese characters (raw UTF-8, 3 bytes each) as a "
        f"JSON array against {N_TEXTS:,} ASCII strings of the same byte sizes, one for one, "
        "against list[str]: the cost per byte of non-ASCII text should stay close to ASCII's",
        None, None, [], tables,
        ["the two documents have the same size in bytes; the ASCII one holds three times the "
         "characters", "non-member for the verdict check: the middle string is the int 7"],
        [flat(tool, [0, 1], 1.5, "cost per byte")
         for tool in ("kestrome load", "kestrome validate_json", "kestrome is_valid_json")])
