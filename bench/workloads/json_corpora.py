"""Documents shaped like the public JSON benchmark corpora, generated here from fixed seeds
(nothing is downloaded): twitter-like (W24), canada-like (W25), citm-like (W26)."""

from __future__ import annotations

import json
import random
from typing import Literal, Optional

from harness import Table, Workload, with_value, workload
from tools import (ConfigDict, TypedDict, json_peer_cases, kestrome_json_cases, orjson,
                   with_config)
from workloads.json_docs import json_targets

closed = with_config(ConfigDict(extra="forbid"))

# Words with some non-ASCII text, as the corpora have (raw UTF-8 in the documents).
WORDS = ["the", "a", "json", "parser", "fast", "value", "schema", "record", "état",
         "größe", "日本語", "テスト", "東京", "😀", "🚀", "data", "http", "line\nbreak",
         "quote\"d"]


def text(rng: random.Random, lo: int, hi: int) -> str:
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(lo, hi)))


# --- twitter -----------------------------------------------------------------------------

@closed
class Hashtag(TypedDict):
    text: str
    indices: list[int]


@closed
class Url(TypedDict):
    url: str
    expanded_url: str
    display_url: str
    indices: list[int]


@closed
class Mention(TypedDict):
    screen_name: str
    name: str
    id: int
    id_str: str
    indices: list[int]


@closed
class Entities(TypedDict):
    hashtags: list[Hashtag]
    symbols: list[str]
    urls: list[Url]
    user_mentions: list[Mention]


@closed
class StatusMetadata(TypedDict):
    result_type: str
    iso_language_code: str


@closed
class User(TypedDict):
    id: int
    id_str: str
    name: str
    screen_name: str
    location: str
    description: str
    url: Optional[str]
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
    profile_background_color: str
    profile_image_url: str
    profile_image_url_https: str
    default_profile: bool
    following: bool
    follow_request_sent: bool
    notifications: bool


@closed
class Status(TypedDict):
    metadata: StatusMetadata
    created_at: str
    id: int
    id_str: str
    text: str
    source: str
    truncated: bool
    in_reply_to_status_id: Optional[int]
    in_reply_to_user_id: Optional[int]
    in_reply_to_screen_name: Optional[str]
    user: User
    geo: None
    coordinates: None
    place: None
    contributors: None
    retweet_count: int
    favorite_count: int
    entities: Entities
    favorited: bool
    retweeted: bool
    lang: str


@closed
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


@closed
class Twitter(TypedDict):
    statuses: list[Status]
    search_metadata: SearchMetadata


def twitter(seed: int, n: int = 140) -> dict:
    rng = random.Random(seed)

    def big() -> int:
        return rng.randrange(10**17, 10**18)

    def indices() -> list[int]:
        a = rng.randrange(140)
        return [a, a + rng.randrange(1, 20)]

    def user() -> dict:
        uid = rng.randrange(10**9)
        return {
            "id": uid, "id_str": str(uid), "name": text(rng, 1, 3),
            "screen_name": f"user_{uid % 100000}", "location": text(rng, 0, 2),
            "description": text(rng, 0, 20),
            "url": None if rng.random() < 0.5 else f"http://t.co/{uid:x}",
            "protected": False, "followers_count": rng.randrange(10**5),
            "friends_count": rng.randrange(10**4), "listed_count": rng.randrange(100),
            "created_at": "Sun Aug 31 00:29:15 +0000 2014",
            "favourites_count": rng.randrange(10**4),
            "utc_offset": None if rng.random() < 0.3 else rng.randrange(-12, 13) * 3600,
            "time_zone": None if rng.random() < 0.3 else "Tokyo",
            "geo_enabled": rng.random() < 0.5, "verified": rng.random() < 0.05,
            "statuses_count": rng.randrange(10**5), "lang": rng.choice(["ja", "en", "es"]),
            "profile_background_color": "C0DEED",
            "profile_image_url": f"http://pbs.twimg.com/profile_images/{uid}/a_normal.jpeg",
            "profile_image_url_https":
                f"https://pbs.twimg.com/profile_images/{uid}/a_normal.jpeg",
            "default_profile": rng.random() < 0.5, "following": False,
            "follow_request_sent": False, "notifications": False,
        }

    statuses = []
    for _ in range(n):
        sid = big()
        reply = rng.random() < 0.2
        statuses.append({
            "metadata": {"result_type": "recent", "iso_language_code": "ja"},
            "created_at": "Sun Aug 31 00:29:15 +0000 2014", "id": sid, "id_str": str(sid),
            "text": text(rng, 3, 25),
            "source": "<a href=\"http://twitter.com\" rel=\"nofollow\">Twitter</a>",
            "truncated": False,
            "in_reply_to_status_id": big() if reply else None,
            "in_reply_to_user_id": rng.randrange(10**9) if reply else None,
            "in_reply_to_screen_name": "someone" if reply else None,
            "user": user(), "geo": None, "coordinates": None, "place": None,
            "contributors": None, "retweet_count": rng.randrange(1000),
            "favorite_count": rng.randrange(1000),
            "entities": {
                "hashtags": [{"text": rng.choice(WORDS), "indices": indices()}
                             for _ in range(rng.randrange(3))],
                "symbols": [],
                "urls": [{"url": "http://t.co/abc", "expanded_url": "http://example.com/x",
                          "display_url": "example.com/x", "indices": indices()}
                         for _ in range(rng.randrange(2))],
                "user_mentions": [{"screen_name": "friend", "name": text(rng, 1, 2),
                                   "id": (m := rng.randrange(10**9)), "id_str": str(m),
                                   "indices": indices()}
                                  for _ in range(rng.randrange(3))],
            },
            "favorited": False, "retweeted": False, "lang": "ja",
        })
    top = big()
    return {"statuses": statuses, "search_metadata": {
        "completed_in": 0.087, "max_id": top, "max_id_str": str(top),
        "next_results": "?max_id=505874847260352512&q=%E4%B8%80&count=100",
        "query": "%E4%B8%80", "refresh_url": "?since_id=505874924095815681&q=%E4%B8%80",
        "count": n, "since_id": 0, "since_id_str": "0"}}


def break_twitter(doc: dict) -> dict:
    doc["statuses"][len(doc["statuses"]) // 2]["user"]["followers_count"] = "many"
    return doc


# --- canada ------------------------------------------------------------------------------

@closed
class Geometry(TypedDict):
    type: Literal["Polygon"]
    coordinates: list[list[list[float]]]


@closed
class Properties(TypedDict):
    name: str


@closed
class Feature(TypedDict):
    type: Literal["Feature"]
    properties: Properties
    geometry: Geometry


@closed
class FeatureCollection(TypedDict):
    type: Literal["FeatureCollection"]
    features: list[Feature]


def canada(seed: int, rings: int = 480, points: int = 56_000) -> dict:
    rng = random.Random(seed)
    coords = []
    lon, lat = -65.0, 45.0
    for r in range(rings):
        ring = []
        for _ in range(points // rings):
            lon += rng.uniform(-0.01, 0.01)
            lat += rng.uniform(-0.01, 0.01)
            ring.append([lon, lat])
        coords.append(ring)
    return {"type": "FeatureCollection", "features": [{
        "type": "Feature", "properties": {"name": "Canada"},
        "geometry": {"type": "Polygon", "coordinates": coords}}]}


def break_canada(doc: dict) -> dict:
    coords = doc["features"][0]["geometry"]["coordinates"]
    coords[len(coords) // 2][0][1] = "45.0"
    return doc


# --- citm --------------------------------------------------------------------------------

@closed
class Event(TypedDict):
    description: None
    id: int
    logo: Optional[str]
    name: str
    subTopicIds: list[int]
    subjectCode: None
    subtitle: None
    topicIds: list[int]


@closed
class Price(TypedDict):
    amount: int
    audienceSubCategoryId: int
    seatCategoryId: int


@closed
class Area(TypedDict):
    areaId: int
    blockIds: list[int]


@closed
class SeatCategory(TypedDict):
    areas: list[Area]
    seatCategoryId: int


@closed
class Performance(TypedDict):
    eventId: int
    id: int
    logo: Optional[str]
    name: None
    prices: list[Price]
    seatCategories: list[SeatCategory]
    seatMapImage: None
    start: int
    venueCode: str


@closed
class Catalog(TypedDict):
    areaNames: dict[str, str]
    audienceSubCategoryNames: dict[str, str]
    blockNames: dict[str, str]
    events: dict[str, Event]
    performances: list[Performance]
    seatCategoryNames: dict[str, str]
    subTopicNames: dict[str, str]
    subjectNames: dict[str, str]
    topicNames: dict[str, str]
    topicSubTopics: dict[str, list[int]]
    venueNames: dict[str, str]


def citm(seed: int, events: int = 184, performances: int = 243) -> dict:
    rng = random.Random(seed)
    area_ids = [205705993 + i for i in range(17)]
    seat_ids = [338937295 + i for i in range(64)]
    sub_topics = [337184262 + i for i in range(19)]
    event_ids = [138586341 + 4 * i for i in range(events)]
    evs = {str(e): {"description": None, "id": e,
                    "logo": None if rng.random() < 0.5 else f"/images/UE0AAAAACEKo6QAAAAZDSVRN",
                    "name": text(rng, 1, 6), "subTopicIds": rng.sample(sub_topics, 3),
                    "subjectCode": None, "subtitle": None, "topicIds": [324846099, 107888604]}
           for e in event_ids}
    perfs = []
    for p in range(performances):
        cats = rng.sample(seat_ids, rng.randint(2, 12))
        perfs.append({
            "eventId": rng.choice(event_ids), "id": 339887544 + p,
            "logo": None if rng.random() < 0.5 else "/images/UE0AAAAACEKo6QAAAAZDSVRN",
            "name": None,
            "prices": [{"amount": rng.randrange(5, 200) * 500, "audienceSubCategoryId":
                        337100890, "seatCategoryId": c} for c in cats],
            "seatCategories": [{"areas": [{"areaId": a, "blockIds": []}
                                          for a in rng.sample(area_ids, rng.randint(3, 17))],
                                "seatCategoryId": c} for c in cats],
            "seatMapImage": None, "start": 1372701600000 + p * 86_400_000,
            "venueCode": "PLEYEL_PLEYEL"})
    return {
        "areaNames": {str(a): text(rng, 1, 4) for a in area_ids},
        "audienceSubCategoryNames": {"337100890": "Abonné"},
        "blockNames": {},
        "events": evs,
        "performances": perfs,
        "seatCategoryNames": {str(s): text(rng, 1, 3) for s in seat_ids},
        "subTopicNames": {str(s): text(rng, 1, 2) for s in sub_topics},
        "subjectNames": {},
        "topicNames": {"107888604": "Activité", "324846098": "Type de public",
                       "324846099": "Genre", "324846100": "Salle"},
        "topicSubTopics": {"107888604": sub_topics[:2], "324846099": sub_topics[2:10]},
        "venueNames": {"PLEYEL_PLEYEL": "Salle Pleyel"},
    }


def break_citm(doc: dict) -> dict:
    perf = doc["performances"][len(doc["performances"]) // 2]
    perf["prices"][0]["amount"] = 12.5
    return doc


# --------------------------------------------------------------------------------------

def corpus(key: str, name: str, make, breaker, schema, indent: int | None, describe: str,
           bad_note: str) -> Workload:
    value = make()
    doc = json.dumps(value, ensure_ascii=False, indent=indent).encode()
    bad_doc = json.dumps(breaker(make()), ensure_ascii=False, indent=indent).encode()
    assert orjson.loads(doc) == value
    cases = with_value(kestrome_json_cases(schema) + json_peer_cases(schema), doc)
    return Workload(
        key, f"{name}-shaped document", f"{describe}; {len(doc):,} bytes", doc, bad_doc,
        cases,
        [Table(f"{key} {name}-shaped document ({len(doc):,} bytes)", "member", cases, None,
               ratio_to=["kestrome is_valid_json", "orjson.loads"], collector_too=True)],
        ["generated by the bench from a fixed seed in the shape of the public corpus of "
         "that name (no download); strings hold some non-ASCII text as raw UTF-8 and some "
         "escapes", "every tool gets the same closed TypedDicts", bad_note],
        json_targets())


@workload("W24")
def twitter_doc() -> Workload:
    return corpus("W24", "twitter", lambda: twitter(24), break_twitter, Twitter, None,
                  "a search result of 140 statuses, each with its user, entities and "
                  "metadata (about 40 fields, big ints, many nulls)",
                  "non-member for the verdict check: one user's followers_count is a string")


@workload("W25")
def canada_doc() -> Workload:
    return corpus("W25", "canada", lambda: canada(25), break_canada, FeatureCollection, None,
                  "a GeoJSON FeatureCollection with one Polygon of 480 rings, 56,000 "
                  "[lon, lat] points: floats at full precision",
                  "non-member for the verdict check: one latitude is a string")


@workload("W26")
def citm_doc() -> Workload:
    return corpus("W26", "citm", lambda: citm(26), break_citm, Catalog, 1,
                  "a ticketing catalog: 184 events keyed by id, 243 performances with "
                  "their prices and seat categories, name tables; indented by one space as "
                  "the corpus is",
                  "non-member for the verdict check: one price's amount is the float 12.5")
