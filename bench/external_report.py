#!/usr/bin/env python3
"""Makes the Markdown table of bench/external_links.sh from what each tool
wrote and what the server counted.

    external_report.py WORK --tools "tangler-site linkinator ..." \
        [--tangler-site-note WHY] [--command CMD]

For each tool it reads WORK/TOOL.run ("STATUS SECONDS"), TOOL.time
(/usr/bin/time -v), TOOL.out and TOOL.err (the report), TOOL.stats.json (the
server's counts) and TOOL.version, and compares the URLs the tool called
broken with WORK/plan.json. A URL is taken without its fragment; a redirect
that a tool reports at its target (/moved/...) is not a planted fault.
"""

import argparse
import csv
import io
import json
import os
import re

URL = re.compile(r"https?://127\.[0-9.]+:[0-9]+[^\s\"'<>]*")


def strip_fragment(url):
    return url.split("#", 1)[0]


# --- what each tool reported: (errors, warnings, unparsed), errors and
# warnings as lists of URLs (None for an error that names none)


def parse_tangler_site(out, err):
    try:
        report = json.loads(out)
    except ValueError:
        return None
    errors, warnings = [], []
    for finding in report.get("findings", []):
        ref = finding.get("reference")
        (errors if finding.get("level") == "error" else warnings).append(ref)
    return errors, warnings


def parse_linkinator(out, err):
    try:
        report = json.loads(out)
    except ValueError:
        return None
    errors = [link.get("url") for link in report.get("links", []) if link.get("state") == "BROKEN"]
    return errors, []


def parse_linkchecker(out, err):
    lines = [line for line in out.splitlines() if not line.startswith("#")]
    if not lines:
        return None
    errors, warnings = [], []
    for row in csv.DictReader(io.StringIO("\n".join(lines)), delimiter=";"):
        if row.get("valid") == "False":
            errors.append(row.get("urlname"))
        elif row.get("warningstring"):
            warnings.append(row.get("urlname"))
    return errors, warnings


def parse_htmlproofer(out, err):
    if "Ran on" not in out and "HTML-Proofer" not in err:
        return None
    errors = []
    for line in err.splitlines():
        if line.startswith("  *  "):
            match = re.search(r"External link (\S+) failed", line)
            errors.append(match.group(1) if match else None)
    return errors, []


def parse_hyperlink(out, err):
    if "TAP version" not in out:
        return None
    errors = []
    for line in out.splitlines():
        if line.startswith("not ok "):
            match = URL.search(line)
            errors.append(match.group(0) if match else None)
    return errors, []


def parse_polite(out, err):
    if "Traceback" in err:
        return None
    return [line.split()[0] for line in out.splitlines() if line.strip()], []


PARSERS = {
    "polite": parse_polite,
    "tangler-site": parse_tangler_site,
    "linkinator": parse_linkinator,
    "linkchecker": parse_linkchecker,
    "htmlproofer": parse_htmlproofer,
    "hyperlink": parse_hyperlink,
}
NAMES = {"tangler-site": "tangler-site --external", "polite": "polite_client.py (yardstick), Python", "linkinator": "linkinator",
         "linkchecker": "LinkChecker", "htmlproofer": "html-proofer", "hyperlink": "hyperlink"}


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def measure(work, tool, plan, delay):
    """One tool's row as a dict; None when it was not run."""
    run = read(os.path.join(work, tool + ".run")).split()
    if len(run) != 2:
        return None
    row = {"tool": tool, "status": int(run[0]), "wall": float(run[1])}
    row["version"] = read(os.path.join(work, tool + ".version")).strip() or "?"
    row["load"] = read(os.path.join(work, tool + ".load")).strip()
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)",
                    read(os.path.join(work, tool + ".time")))
    row["mib"] = int(rss.group(1)) / 1024 if rss else None

    try:
        with open(os.path.join(work, tool + ".stats.json")) as f:
            stats = json.load(f)
    except (OSError, ValueError):
        stats = None
    missing, limit, planned = plan
    if stats:
        per_url = {}
        methods = {}
        for key, n in stats["requests"].items():
            method, url = key.split(" ", 1)
            per_url[url] = per_url.get(url, 0) + n
            methods[method] = methods.get(method, 0) + n
        repeats = sum(n - 1 for n in per_url.values())
        excused = sum(1 for url, n in per_url.items() if n >= 2 and "http://" + url in limit)
        # A request to a host less than the Retry-After second after that
        # host was answered 429. The answer left --delay after the request
        # came; a request that comes within 100 ms of it may have been sent
        # before the client read it (a loaded machine delays a client's
        # reading by tens of milliseconds), and is not counted.
        log = stats.get("log", [])
        limited = {}
        for when, host, _, _, status in log:
            if status == 429:
                limited.setdefault(host, []).append(when + delay)
        early = 0
        for when, host, _, _, _ in log:
            if any(answered + 0.1 <= when < answered + 0.99
                   for answered in limited.get(host, ())):
                early += 1
        row.update(
            early=early,
            span=(stats["last"] - stats["first"]) if stats["first"] else 0,
            last_429=max((w for w, _, _, _, st in log if st == 429), default=None),
            requests=sum(per_url.values()),
            methods=methods,
            covered=sum(1 for url in per_url if "http://" + url in planned),
            repeats=repeats - excused,
            retried_limits=excused,
            host_most=max(stats["most_in_flight"].values(), default=0),
            all_most=stats["most_in_flight_all"],
            connections=stats["connections"],
            other_paths=sum(n for url, n in per_url.items()
                            if "http://" + url not in planned and "/moved/" not in url),
        )
    else:
        row.update(requests=None)

    parsed = PARSERS[tool](read(os.path.join(work, tool + ".out")),
                           read(os.path.join(work, tool + ".err")))
    if parsed is None:
        row["report"] = None
        return row
    errors, warnings = parsed
    broken = {strip_fragment(u) for u in errors if u}
    row["report"] = True
    row["found"] = len(broken & missing)
    row["limit_broken"] = len(broken & limit)
    row["other_errors"] = len(broken - missing - limit) + sum(1 for u in errors if not u)
    row["warnings"] = len(warnings)
    row["error_lines"] = len(errors)
    return row


def verdict(row, n_missing):
    if row["status"] == 124:
        return "timed out"
    if row.get("requests") == 0 or row.get("covered") == 0:
        return "checked no external link"
    if not row.get("report"):
        return "no report read"
    right = (row["found"] == n_missing and row["limit_broken"] == 0 and row["other_errors"] == 0)
    return "right" if right else "wrong"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("work")
    parser.add_argument("--tools", required=True)
    parser.add_argument("--tangler-site-note", default="")
    parser.add_argument("--command", default="bench/external_links.sh")
    parser.add_argument("--delay", type=float, default=5)
    args = parser.parse_args()

    with open(os.path.join(args.work, "plan.json")) as f:
        plan = json.load(f)
    port = plan["port"]
    planned = {"http://%s:%d%s" % (h, port, p) for h, p, _ in plan["urls"]}
    missing = {"http://%s:%d%s" % (h, port, p) for h, p, k in plan["urls"] if k == "missing"}
    limit = {"http://%s:%d%s" % (h, port, p) for h, p, k in plan["urls"] if k == "limit"}
    redirects = sum(1 for _, _, k in plan["urls"] if k == "redirect")
    pages = len(os.listdir(os.path.join(args.work, "site", "p")))

    rows = []
    for tool in args.tools.split():
        row = measure(args.work, tool, (missing, limit, planned), args.delay / 1000.0)
        if row is None:
            note = args.tangler_site_note if tool == "tangler-site" else "not run"
            rows.append({"tool": tool, "absent": note or "not run"})
            continue
        row["verdict"] = verdict(row, len(missing))
        rows.append(row)

    print("%d pages, %d distinct external URLs on %d hosts (127.0.20.1-%d, one port), each "
          "mentioned on %d pages; %d answer 404, %d a 302 to a working URL, %d a 429 with "
          "Retry-After: 1 once; every answer %s." % (
              pages, len(planned), len(plan["hosts"]), len(plan["hosts"]),
              plan.get("mentions", 0), len(missing), redirects, len(limit),
              "held %g ms" % args.delay))
    per_host = {}
    for h, _, k in plan["urls"]:
        if k == "limit":
            per_host[h] = per_host.get(h, 0) + 1
    if per_host:
        low, high = min(per_host.values()), max(per_host.values())
        print("Each host has %s of the 429 URLs: a client that holds a host for the "
              "Retry-After second of each 429 it meets there, as politeness asks, waits up "
              "to that many seconds on it, fewer only where two 429s of a host come within "
              "the same second." % (("%d" % low) if low == high else "%d to %d" % (low, high)))
    print()
    print("| tool | wall s | peak MiB | requests (HEAD/GET) | URLs asked (of %d) | repeats | "
          "most in flight per host (in all) | asked < 1 s after a 429 | 404s found (of %d) | 429s called broken | "
          "other errors | warnings | findings |" % (len(planned), len(missing)))
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for row in rows:
        name = NAMES[row["tool"]]
        if "absent" in row:
            print("| %s | - | - | - | - | - | - | - | - | - | - | - | %s |" % (name, row["absent"]))
            continue
        name += " " + row["version"]
        wall = ("> %.0f (timed out)" % row["wall"]) if row["status"] == 124 else "%.2f" % row["wall"]
        mib = "%.0f" % row["mib"] if row["mib"] is not None else "-"
        if row.get("requests") is None:
            served = ["-"] * 5
        else:
            m = row["methods"]
            served = ["%d (%d/%d)" % (row["requests"], m.get("HEAD", 0), m.get("GET", 0)),
                      "%d" % row["covered"], "%d" % row["repeats"],
                      "%d (%d)" % (row["host_most"], row["all_most"]), "%d" % row["early"]]
        if row.get("report"):
            found = ["%d" % row["found"], "%d" % row["limit_broken"], "%d" % row["other_errors"],
                     "%d" % row["warnings"]]
        else:
            found = ["-"] * 4
        print("| %s | %s | %s | %s | %s |" % (name, wall, mib, " | ".join(served),
                                              " | ".join(found + [row["verdict"]])))
    print()
    print("Repeats: requests for a URL after its first, less one per 429 URL asked again. "
          "Other errors: URLs called broken that answer 200 or redirect, and errors naming "
          "no URL. Asked < 1 s after a 429: requests to a host from 0.1 s to 1 s after "
          "its 429 was answered. Load average (1 min) as each started: %s. Reproduce with `%s`." % (
              ", ".join("%s %s" % (NAMES[r["tool"]].split()[0], r["load"])
                        for r in rows if r.get("load")) or "not recorded", args.command))

    ts = next((r for r in rows if r["tool"] == "tangler-site" and "absent" not in r), None)
    right_peers = [r for r in rows if r["tool"] not in ("tangler-site", "polite")
                   and r.get("verdict") == "right"]
    if ts is None:
        return
    print()
    print("tangler-site against its targets:")
    fastest = min(right_peers, key=lambda r: r["wall"]) if right_peers else None
    checks = []
    if ts.get("requests") is not None:
        checks.append(("each distinct URL asked once", ts["repeats"] == 0 and
                       ts["covered"] == len(planned),
                       "%d repeats, %d of %d URLs asked" % (ts["repeats"], ts["covered"],
                                                           len(planned))))
        checks.append(("no host above 4 in flight", ts["host_most"] <= 4,
                       "most %d" % ts["host_most"]))
    if ts.get("report"):
        checks.append(("every planted 404 found", ts["found"] == len(missing),
                       "%d of %d" % (ts["found"], len(missing))))
        checks.append(("nothing else reported", ts["other_errors"] == 0 and ts["warnings"] == 0,
                       "%d other errors, %d warnings" % (ts["other_errors"], ts["warnings"])))
        checks.append(("no 429 called broken", ts["limit_broken"] == 0,
                       "%d" % ts["limit_broken"]))
    if fastest:
        ratio = fastest["wall"] / ts["wall"] if ts["wall"] > 0 else 0
        checks.append(("5x faster than the fastest right peer", ratio >= 5,
                       "%.1fx (%s %.2f s)" % (ratio, NAMES[fastest["tool"]], fastest["wall"])))
    else:
        checks.append(("5x faster than the fastest right peer", None, "no peer was right"))
    if ts.get("requests") is not None:
        checks.append(("Retry-After kept", ts["early"] == 0,
                       "%d requests to a host 0.1 s to 1 s after its 429" % ts["early"]))
    checks.append(("at most 3 s wall", ts["wall"] <= 3, "%.2f s" % ts["wall"]))
    if ts["mib"] is not None:
        checks.append(("peak under 64 MiB", ts["mib"] < 64, "%.1f MiB" % ts["mib"]))
    for what, ok, numbers in checks:
        mark = "met" if ok else ("n/a" if ok is None else "MISSED")
        print("- %s: %s (%s)" % (what, mark, numbers))
    if ts.get("requests") is not None:
        print("- the server saw requests for %.2f s of the %.2f s; the last 429 came at %s s" % (
            ts["span"], ts["wall"],
            "%.2f" % ts["last_429"] if ts["last_429"] is not None else "-"))


if __name__ == "__main__":
    main()
