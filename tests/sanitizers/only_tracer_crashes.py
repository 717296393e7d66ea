#!/usr/bin/env python3
"""Reads a ctest JUnit report and tells whether every failed test failed only in the sanitizer
runtime at the end of its process: either the leak checker's own thread stopper crashed
("Tracer caught signal 11"; LeakSanitizer of this toolchain sometimes reads the thread-local
blocks of a web engine thread that is ending during the check), or the test had passed and its
process then never ended (seen once in about a thousand runs, at the web engine's shut-down
under the sanitizers). Such a run says nothing about our code and is repeated; a hang during a
test, or one in the build without sanitizers, stays a failure. Any other finding (a sanitizer
report, a leak, a failed expectation) is a real failure.

Prints the failed tests; exit status 0: only such ends, 1: anything else or no failure."""
import sys
import xml.etree.ElementTree as ET

TRACER = "LeakSanitizer has encountered a fatal error"
PASSED = "[  PASSED  ] 1 test."
REAL = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer: detected memory leaks", "runtime error:",
        "[  FAILED  ]", "Failure\n")


def main(path):
    failed = [case for case in ET.parse(path).getroot().iter("testcase") if case.get("status") == "fail"]
    tracer_only = True
    for case in failed:
        out = case.findtext("system-out") or ""
        only = (TRACER in out or PASSED in out) and not any(mark in out for mark in REAL)
        tracer_only = tracer_only and only
        print(("failed only at the process end: " if only else "failed: ") + case.get("name", "?"))
    return 0 if failed and tracer_only else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
