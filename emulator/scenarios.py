#!/usr/bin/env python3
"""The emulated deck's scenarios (scenarios.txt) for the scripts: each row's fields as written,
the successful deck's where a row gives none. Run alone, it prints the scenarios' names.

The emulator reads the same table, and refuses what it cannot read (Scenario.cpp)."""
import os

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenarios.txt")


def scenarios():
    """{name: {field: value as written}}, in the table's order."""
    rows = []
    with open(TABLE) as table:
        for line in table:
            if line.startswith(" "):
                rows[-1] += line
            elif line.strip() and not line.startswith("#"):
                rows.append(line)
    found = {}
    for row in rows:
        name, *fields = row.split()
        found[name] = dict(found.get("success", {}), **dict(f.split("=", 1) for f in fields))
    return found


if __name__ == "__main__":
    print("\n".join(scenarios()))
