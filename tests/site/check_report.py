#!/usr/bin/env python3
"""Reads a tangler-site report back with independent parsers, for the tests.

  check_report.py sarif FILE   validates FILE against the SARIF 2.1.0 JSON
                               schema (URI formats checked too); prints "valid"
  check_report.py junit FILE   parses FILE with an XML parser and prints what
                               it holds as JSON: the suite's counts and each
                               test case's name, failures and system-out

Exits 1 when the file does not pass, 2 when a tool is missing. The schema is
read from $TANGLER_SARIF_SCHEMA or from the npm package @microsoft/jest-sarif,
installed globally by scripts/install-deps.sh sarif-schema.
"""
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SCHEMA_IN_PACKAGE = "@microsoft/jest-sarif/lib/schemas/sarif-2.1.0-rtm.5.json"


def schema_path():
    path = os.environ.get("TANGLER_SARIF_SCHEMA")
    if path:
        return path
    try:
        root = subprocess.run(["npm", "root", "-g"], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    return os.path.join(root, SCHEMA_IN_PACKAGE)


def check_sarif(file):
    try:
        import jsonschema
        import rfc3987  # noqa: F401  makes the format checker test uri and uri-reference
    except ImportError as missing:
        print(f"missing {missing.name}: run scripts/install-deps.sh sarif-schema")
        return 2
    path = schema_path()
    if not path or not os.path.isfile(path):
        print(f"no SARIF schema at {path}: run scripts/install-deps.sh sarif-schema")
        return 2
    with open(path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(file, encoding="utf-8") as f:
        log = json.load(f)
    validator = jsonschema.Draft4Validator(schema, format_checker=jsonschema.FormatChecker())
    errors = sorted(validator.iter_errors(log), key=lambda e: list(e.absolute_path))
    for error in errors:
        print("/".join(map(str, error.absolute_path)) + ": " + error.message)
    if errors:
        return 1
    print("valid")
    return 0


def check_junit(file):
    root = ElementTree.parse(file).getroot()
    if root.tag != "testsuites" or len(root) != 1 or root[0].tag != "testsuite":
        print(f"expected testsuites holding one testsuite, found {root.tag}")
        return 1
    suite = root[0]
    cases = []
    for case in suite:
        out = case.find("system-out")
        cases.append({
            "name": case.get("name"),
            "failures": [[f.get("type"), f.get("message"), f.text] for f in case.iter("failure")],
            "out": out.text if out is not None else None,
        })
    counts = {key: suite.get(key) for key in ("tests", "failures", "errors")}
    if counts != {key: root.get(key) for key in counts}:
        print("testsuites and testsuite disagree")
        return 1
    print(json.dumps({"counts": counts, "cases": cases}))
    return 0


if __name__ == "__main__":
    mode, file = sys.argv[1:3]
    sys.exit(check_sarif(file) if mode == "sarif" else check_junit(file))
