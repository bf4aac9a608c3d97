#!/usr/bin/env python3
"""The legacy migration written plainly in Python (json + plistlib), as a peer to measure
`quorin migrate` against: the same files read, the same five outputs written."""
import json
import os
import plistlib
import sys

ANALYTICS = ["analytics", "impressionAnalytics", "adsImpressionAnalytics",
             "sessionEventAnalytics", "verifyReceiptAnalytics"]
CONTEXT = [("campaigns", "campaigns"), ("limits", "limits"), ("features", "app_features"),
           ("content", "content"), ("defaultProducts", "product_ids")]


def load(path):
    try:
        with open(path, "rb") as file:
            return json.loads(file.read())
    except (OSError, ValueError):
        return None


def write(directory, name, value):
    with open(os.path.join(directory, name), "w", encoding="utf-8") as file:
        json.dump(value, file, separators=(",", ":"), ensure_ascii=False)
        file.flush()
        os.fsync(file.fileno())


def main(container):
    library = os.path.join(container, "Library")
    campaigns = os.path.join(library, "campaigns")
    out = os.path.join(library, "campings_legacy_py")
    os.makedirs(out, exist_ok=True)
    context = {member: value for file, member in CONTEXT
               if (value := load(os.path.join(campaigns, file))) is not None}
    write(out, "context", context)
    analytics = {}
    for name in ANALYTICS:
        value = load(os.path.join(campaigns, name))
        if isinstance(value, dict):
            analytics.update(value)
        elif value:
            analytics[name] = value
    write(out, "cachedAnalytics", analytics)
    with open(os.path.join(library, "Preferences", "com.corvasta.morvent.plist"), "rb") as file:
        suite = plistlib.load(file)
    write(out, "generalInfo", {k: v for k, v in suite.items() if isinstance(v, (str, int, float))
                               and not k.startswith("lto_actiovation_counter_")})
    write(out, "counters", {k: v for k, v in suite.items() if k.endswith("Counter")
                            or k.startswith("lto_actiovation_counter_")})
    offers = load(os.path.join(campaigns, "lto_campaigns")) or []
    write(out, "ltoInfo", [{"spot": o.get("spot"), "startTime": o.get("startTime"),
                            "endTime": o.get("startTime", 0) + 60 * o.get("durationMinutes", 0)}
                           for o in offers])


if __name__ == "__main__":
    main(sys.argv[1])
