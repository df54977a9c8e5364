#!/usr/bin/env python3
"""Runs the profiler probe's export scenario in a scratch folder and checks
what both profilers wrote: each speedscope file validates against the viewer's
own schema, every file is strict UTF-8 (no lone surrogate, not even escaped),
the samples point at frames, and the odd names come out whole.

usage: check_profile_exports.py SCHEMA PROBE"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema


def strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, list):
        for item in value:
            yield from strings(item)
    elif isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from strings(item)


def main(schema_path, probe):
    with open(schema_path, encoding="utf-8") as f:
        validator = jsonschema.Draft7Validator(json.load(f))
    with tempfile.TemporaryDirectory() as work:
        exe = os.path.join(work, "probe")
        shutil.copy(probe, exe)
        run = subprocess.run([exe, "export"], cwd=work, capture_output=True)
        assert run.returncode == 0 and run.stderr == b"written=1\n", run.stderr
        for stem, odd in (("calltree", 'q"b\\t\tn\n;s \ufffd'), ("frames", 'q"b\\c\x01n\n;s \ufffd \U0010ffff \ufffd')):
            with open(os.path.join(work, stem + ".speedscope.json"), "rb") as f:
                doc = json.loads(f.read().decode("utf-8"))  # strict: fails on invalid UTF-8
            validator.validate(doc)
            for text in strings(doc):
                text.encode("utf-8")  # fails on a lone surrogate escape
            frames = doc["shared"]["frames"]
            names = [frame["name"] for frame in frames]
            assert any(name.startswith(odd) for name in names), (stem, names[:8])
            assert any(len(name) == 100000 for name in names), stem
            profile = doc["profiles"][0]
            assert profile["type"] == "sampled" and len(profile["samples"]) == len(profile["weights"]) > 0
            assert all(0 <= i < len(frames) for sample in profile["samples"] for i in sample)
            assert profile["endValue"] == sum(profile["weights"])
            with open(os.path.join(work, stem + ".collapsed"), "rb") as f:
                lines = f.read().decode("utf-8").split("\n")
            assert lines.pop() == "" and len(lines) == len(profile["samples"]), stem
            for line in lines:
                assert re.fullmatch(r"[^\x00-\x1f\x7f]+ [0-9]+", line), line[:80]
    print("speedscope and collapsed exports are valid")


if __name__ == "__main__":
    main(*sys.argv[1:])
