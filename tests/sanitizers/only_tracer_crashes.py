#!/usr/bin/env python3
"""Reads a ctest JUnit report and tells whether every failed test failed only because the leak
checker's own thread stopper crashed ("Tracer caught signal 11"). LeakSanitizer of this
toolchain sometimes reads the thread-local blocks of a web engine thread that is ending during
the check; such a run says nothing about our code and is repeated. Any other finding (a
sanitizer report, a leak, a failed expectation) is a real failure.

Prints the failed tests; exit status 0: only tracer crashes, 1: anything else or no failure."""
import sys
import xml.etree.ElementTree as ET

TRACER = "LeakSanitizer has encountered a fatal error"
REAL = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer: detected memory leaks", "runtime error:",
        "[  FAILED  ]", "Failure\n")


def main(path):
    failed = [case for case in ET.parse(path).getroot().iter("testcase") if case.get("status") == "fail"]
    tracer_only = True
    for case in failed:
        out = case.findtext("system-out") or ""
        only = TRACER in out and not any(mark in out for mark in REAL)
        tracer_only = tracer_only and only
        print(("tracer crash: " if only else "failed: ") + case.get("name", "?"))
    return 0 if failed and tracer_only else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
