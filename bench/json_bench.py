#!/usr/bin/env python3
"""Reads and writes a ~10 MB session-file-shaped JSON document with the core's
JSON layer (bench/json_bench.cc) and with CPython's json module in the same
run, and prints the times side by side with their ratios.

    python3 bench/json_bench.py [--binary build/cpp/bench/json_bench] [--mb 10]
"""

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
import time

# Turns are mostly English prose with typographic punctuation and names, some
# in other languages, as a multilingual session's would be.
ENGLISH = (
    "the orchestrator asks about plans and the participants answer with care while "
    "each round brings another view on the question of cars in cities so that we "
    "weigh costs benefits evidence and trade-offs before agreeing on a summary"
).split() + ["Zoë", "Bjørn", "café", "naïve", "“quoted”", "it’s", "—", "…", "\"plain\"",
             "line\nbreak", "tab\there", "C:\\path", "😀"]
LANGUAGES = [
    (0.75, ENGLISH),
    (0.10, "la ville doit réduire les émissions et améliorer la qualité de l’air pour "
           "tous les habitants même si les commerçants s’inquiètent à propos des coûts "
           "für Fußgänger ist die Straße schöner".split()),
    (0.10, "город должен сократить выбросы и улучшить качество воздуха для всех жителей "
           "даже если торговцы беспокоятся о расходах".split()),
    (0.05, "都市は排出量を削減し すべての住民のために空気の質を改善すべきです 費用について "
           "商店主が心配していても".split()),
]


def prose(rng, words):
    roll = rng.random()
    for share, vocabulary in LANGUAGES:
        roll -= share
        if roll < 0:
            break
    return " ".join(rng.choice(vocabulary) for _ in range(words))


def build_document(target_bytes):
    """A session file: identity, turns and transcript of long prose."""
    rng = random.Random(20261210)
    speakers = ["Orchestrator", "Ann", "Bjørn", "Chloé"]
    turns, transcript = [], []
    size = 0
    i = 0
    while size < target_bytes:
        speaker = speakers[i % len(speakers)]
        text = prose(rng, rng.randint(120, 700))
        round_idx = i // len(speakers)
        msg_type = "orchestrator" if speaker == "Orchestrator" else "turn"
        turns.append({"role": "assistant", "speaker": speaker, "content": text,
                      "round_idx": round_idx, "msg_type": msg_type})
        transcript.append({"sender": speaker, "content": text,
                           "round_idx": round_idx, "msg_type": msg_type})
        size += 2 * (len(text.encode("utf-8")) + 120)
        i += 1
    return {
        "version": 2,
        "identity": {"gameplan": "debate", "topic": "Should cities ban cars? — un débat",
                     "orchestrator": "Orchestrator", "participants": speakers[1:],
                     "started": 1765400000.25},
        "turns": turns,
        "transcript": transcript,
        "loop": {"turn_count": len(turns), "phases": {"index": 2, "exhausted": False}},
        "compactions": 0,
    }


def best_time(fn, min_seconds=1.0, min_runs=3):
    """Best wall time of fn() over at least min_runs runs and min_seconds."""
    best = float("inf")
    runs = 0
    start = time.perf_counter()
    while runs < min_runs or time.perf_counter() - start < min_seconds:
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
        runs += 1
    return best


def run_native(binary, doc_path):
    env = dict(os.environ, VOSTREL_JSON_BENCH_DOC=doc_path)
    out = subprocess.run(
        [binary, "--benchmark_format=json", "--benchmark_min_time=0.5"],
        env=env, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b["name"].split("/")[0]
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        seconds = b["real_time"] * scale
        times[name] = min(times.get(name, float("inf")), seconds)
    return times


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", default=os.path.join(here, "..", "build", "cpp", "bench", "json_bench"))
    parser.add_argument("--mb", type=float, default=10.0, help="document size in MB")
    parser.add_argument("--rounds", type=int, default=3, help="alternating rounds per side")
    args = parser.parse_args()

    doc = build_document(int(args.mb * 1_000_000))
    text = json.dumps(doc, ensure_ascii=False, indent=2)
    raw = text.encode("utf-8")
    with tempfile.NamedTemporaryFile("wb", suffix=".json", delete=False) as f:
        f.write(raw)
        path = f.name
    python_runs = {
        # json.loads of the file's text (decoding the bytes included, as a
        # reader of the file would).
        "BM_Read": lambda: json.loads(raw.decode("utf-8")),
        "BM_WriteCompact": lambda: json.dumps(
            doc, ensure_ascii=False, separators=(",", ":")).encode("utf-8"),
        "BM_WritePretty": lambda: json.dumps(doc, ensure_ascii=False, indent=2).encode("utf-8"),
        "BM_WritePython": lambda: json.dumps(doc).encode("utf-8"),
    }
    # Rounds alternate between the two sides so that a busy machine slows
    # both alike; each side keeps its best time.
    native, python = {}, {}
    try:
        for _ in range(args.rounds):
            for key, seconds in run_native(args.binary, path).items():
                native[key] = min(native.get(key, float("inf")), seconds)
            for key, fn in python_runs.items():
                python[key] = min(python.get(key, float("inf")), best_time(fn, min_seconds=0.5))
    finally:
        os.unlink(path)

    labels = {
        "BM_Read": "read (json.loads)",
        "BM_WriteCompact": "write compact (dumps separators=(',',':'), ensure_ascii=False)",
        "BM_WritePretty": "write pretty (dumps indent=2, ensure_ascii=False)",
        "BM_WritePython": "write Python style (dumps defaults)",
    }
    non_ascii = sum(1 for b in raw if b >= 0x80) / len(raw)
    print(f"document: {len(raw) / 1e6:.1f} MB, {len(doc['turns'])} turns, "
          f"{non_ascii:.0%} non-ASCII bytes; "
          f"CPython {sys.version.split()[0]}, json C accelerator: "
          f"{json.decoder.c_scanstring is not None}")
    print(f"{'operation':<66} {'C++ ms':>9} {'CPython ms':>11} {'speed-up':>9}")
    for key, label in labels.items():
        cpp = native[key]
        py = python[key]
        print(f"{label:<66} {cpp * 1e3:>9.1f} {py * 1e3:>11.1f} {py / cpp:>8.1f}x")


if __name__ == "__main__":
    main()
