#!/usr/bin/env python3
"""Reads a tangler-site report back with independent parsers, for the tests.

  check_report.py sarif FILE   validates FILE against the SARIF 2.1.0 JSON
                               schema (URI formats checked too); prints "valid"
  check_report.py junit FILE   parses FILE with an XML parser, checks that
                               the counts of each suite and of the whole
                               agree with the test cases and that nothing
                               is timed, and prints what it holds as JSON:
                               the total counts, and for each suite its name
                               and each test case's name, failures and
                               system-out

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
    if root.tag != "testsuites" or root.get("name") != "tangler-site":
        print(f"expected <testsuites name=\"tangler-site\">, found {root.tag}")
        return 1
    timed = [element.tag for element in root.iter() if "time" in element.attrib]
    if timed:
        print(f"time attributes on {timed}")
        return 1
    suites = []
    totals = {"tests": 0, "failures": 0}
    for suite in root:
        if suite.tag != "testsuite":
            print(f"expected testsuite, found {suite.tag}")
            return 1
        cases = []
        for case in suite:
            out = case.find("system-out")
            cases.append({
                "name": case.get("name"),
                "failures": [[f.get("type"), f.get("message"), f.text]
                             for f in case.iter("failure")],
                "out": out.text if out is not None else None,
            })
        counted = {"tests": len(cases), "failures": sum(1 for c in cases if c["failures"])}
        stated = {key: int(suite.get(key)) for key in counted}
        if stated != counted:
            print(f"suite {suite.get('name')} says {stated}, holds {counted}")
            return 1
        for key in totals:
            totals[key] += counted[key]
        suites.append({"name": suite.get("name"), "cases": cases})
    stated = {key: int(root.get(key)) for key in totals}
    if stated != totals:
        print(f"testsuites says {stated}, its suites hold {totals}")
        return 1
    print(json.dumps({"counts": totals, "suites": suites}))
    return 0


if __name__ == "__main__":
    mode, file = sys.argv[1:3]
    sys.exit(check_sarif(file) if mode == "sarif" else check_junit(file))
