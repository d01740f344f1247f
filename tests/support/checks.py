"""One way for the Python checks to report, which ctest's output reads the same everywhere: "ok" or
"FAIL" and what was found, then a count, and the exit status (done()).
"""
import sys


class Checks:
    def __init__(self):
        self.held = 0
        self.failed = []

    def expect(self, what, condition, found=""):
        if condition:
            self.held += 1
            print(f"ok   {what}", flush=True)
        else:
            self.failed.append(what)
            print(f"FAIL {what}" + (f"\n     {found}" if found else ""), flush=True)
        return bool(condition)

    def equal(self, what, actual, expected):
        return self.expect(what, actual == expected, f"expected {expected!r}, found {actual!r}")

    def done(self):
        total = self.held + len(self.failed)
        print(f"{len(self.failed)} of {total} checks failed" if self.failed else f"all {total} checks held")
        sys.exit(1 if self.failed else 0)
