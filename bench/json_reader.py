"""The JSON reader side by side with orjson.loads: documents shaped like the public
twitter, canada and citm corpora, 10,000 ints, and 1 MB / 20 MB record lists.

Run with bench/.venv/bin/python bench/json_reader.py [--quick]; prints a Markdown table
of medians (CPU time) and ratios to orjson.loads, with the collector enabled and disabled.
"""

import gc
import json
import random
import statistics
import sys
import time

import orjson

from kestrome import Validator, anything

WORDS = ["the", "lorem", "ipsum", "data", "東京", "スクール", "café", "naïve", "json", "fast", "rt", "😀", "value"]


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def twitter(rng):
    def user(i):
        return {
            "id": rng.randrange(10**9), "id_str": str(rng.randrange(10**9)), "name": sentence(rng, 2),
            "screen_name": f"user{i}", "location": sentence(rng, 2), "description": sentence(rng, 12),
            "url": None, "entities": {"description": {"urls": []}}, "protected": False,
            "followers_count": rng.randrange(10**5), "friends_count": rng.randrange(10**4),
            "listed_count": rng.randrange(100), "created_at": "Sun Aug 31 00:29:15 +0000 2014",
            "favourites_count": rng.randrange(10**4), "utc_offset": None, "time_zone": None,
            "geo_enabled": rng.random() < 0.5, "verified": False, "statuses_count": rng.randrange(10**5),
            "lang": "ja", "profile_background_color": "C0DEED",
            "profile_image_url": f"http://pbs.twimg.com/profile_images/{i}/normal.jpeg",
            "default_profile": True, "following": False, "notifications": False,
        }

    statuses = []
    for i in range(100):
        statuses.append({
            "metadata": {"result_type": "recent", "iso_language_code": "ja"},
            "created_at": "Sun Aug 31 00:29:15 +0000 2014", "id": 505874924095815681 + i,
            "id_str": str(505874924095815681 + i), "text": sentence(rng, 20), "source": "<a href=\"x\">web</a>",
            "truncated": False, "in_reply_to_status_id": None, "in_reply_to_user_id": rng.choice([None, 1186275104]),
            "user": user(i), "geo": None, "coordinates": None, "place": None, "contributors": None,
            "retweet_count": rng.randrange(100), "favorite_count": rng.randrange(100),
            "entities": {"hashtags": [{"text": sentence(rng, 1), "indices": [0, 5]}], "symbols": [], "urls": [],
                         "user_mentions": [{"screen_name": "a", "name": sentence(rng, 2), "id": 1, "indices": [3, 9]}]},
            "favorited": False, "retweeted": False, "lang": "ja",
        })
    return {"statuses": statuses, "search_metadata": {"completed_in": 0.087, "max_id": 505874924095815681,
                                                      "query": "%E4%B8%80", "count": 100}}


def canada(rng):
    rings = []
    for _ in range(480):
        lon, lat = -65.0 - rng.random() * 70, 45.0 + rng.random() * 30
        ring = []
        for _ in range(120):
            lon += (rng.random() - 0.5) * 0.01
            lat += (rng.random() - 0.5) * 0.01
            ring.append([lon, lat])
        rings.append(ring)
    return {"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {"name": "Canada"},
                                                      "geometry": {"type": "Polygon", "coordinates": rings}}]}


def citm(rng):
    area_names = {str(205705993 + i): sentence(rng, 3) for i in range(40)}
    events = {}
    for i in range(180):
        eid = 138586341 + i * 7
        events[str(eid)] = {"description": None, "id": eid, "logo": rng.choice([None, "/images/UE0AAAAACEKo6QAAAAZDSVRN"]),
                            "name": sentence(rng, 4), "subTopicIds": [337184269, 337184283, 337184263],
                            "subjectCode": None, "subtitle": None, "topicIds": [324846099, 107888604]}
    performances = []
    for i in range(1800):
        performances.append({
            "eventId": 138586341 + (i % 180) * 7, "id": 339887544 + i, "logo": None, "name": None,
            "prices": [{"amount": rng.choice([90250, 66500, 28500]), "audienceSubCategoryId": 337100890,
                        "seatCategoryId": 338937295 + k} for k in range(3)],
            "seatCategories": [{"areas": [{"areaId": 205705999 + a, "blockIds": []} for a in range(4)],
                                "seatCategoryId": 338937295 + k} for k in range(3)],
            "seatMapImage": None, "start": 1372701600000 + i * 86400000, "venueCode": "PLEYEL_PLEYEL",
        })
    return {"areaNames": area_names, "audienceSubCategoryNames": {"337100890": "Abonné"}, "blockNames": {},
            "events": events, "performances": performances, "seatCategoryNames": {"338937295": "1ère catégorie"},
            "subTopicNames": {"337184269": "Concert"}, "subjectNames": {}, "topicNames": {"107888604": "Musique"},
            "topicSubTopics": {"107888604": [337184269]}, "venueNames": {"PLEYEL_PLEYEL": "Salle Pleyel"}}


def records(rng, n):
    return [{"id": i, "name": f"item {i}", "price": round(rng.random() * 100, 2), "tags": ["a", "b"][: i % 3],
             "active": i % 2 == 0, "owner": None if i % 5 else {"name": sentence(rng, 2), "age": i % 90}}
            for i in range(n)]


def documents():
    rng = random.Random(12)
    docs = [
        ("twitter-like", json.dumps(twitter(rng), ensure_ascii=False, indent=1).encode(), None),
        ("canada-like", json.dumps(canada(rng)).encode(), None),
        ("citm-like", json.dumps(citm(rng), ensure_ascii=False, indent=4).encode(), None),
        ("10k ints", json.dumps([rng.randrange(-(10**9), 10**9) for _ in range(10000)]).encode(), None),
    ]
    one = records(rng, 1)
    per_mb = 1_000_000 // len(json.dumps(one * 100)) * 100
    for name, n in (("records 1 MB", per_mb), ("records 20 MB", per_mb * 20)):
        docs.append((name, json.dumps(records(rng, n)).encode(), n))
    return docs


def median_ns(f, doc, budget):
    times = []
    deadline = time.process_time() + budget
    while len(times) < 5 or (time.process_time() < deadline and len(times) < 200):
        t = time.process_time_ns()
        f(doc)
        times.append(time.process_time_ns() - t)
    return statistics.median(times)


def main():
    quick = "--quick" in sys.argv
    budget = 0.2 if quick else 0.6
    v = anything
    roads = [("orjson.loads", orjson.loads), ("load", v.load), ("validate_json", v.validate_json),
             ("is_valid_json", v.is_valid_json)]
    print("| document | size | collector | " + " | ".join(name for name, _ in roads) + " | load / orjson | validate_json / orjson | per record (load) |")
    print("|---|---:|---|" + "---:|" * (len(roads) + 3))
    for name, doc, count in documents():
        assert v.load(doc) == orjson.loads(doc)
        for collector in ("on", "off"):
            (gc.enable if collector == "on" else gc.disable)()
            t = {road: median_ns(f, doc, budget) for road, f in roads}
            gc.enable()
            per = f"{t['load'] / count:.0f} ns" if count else ""
            print(f"| {name} | {len(doc) / 1e6:.2f} MB | {collector} | "
                  + " | ".join(f"{t[r] / 1e3:,.0f} us" for r, _ in roads)
                  + f" | {t['load'] / t['orjson.loads']:.2f} | {t['validate_json'] / t['orjson.loads']:.2f} | {per} |")


if __name__ == "__main__":
    main()
