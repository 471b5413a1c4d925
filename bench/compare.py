#!/usr/bin/env python3
"""Runs the benchmarks of a Release build and puts the control beside the bare limit and the
peers: one table of medians and ratios, printed and written as JSON and Markdown, a PNG chart of
the ratios, and the host's peak memory with full lists against an empty control.

    compare.py --build BUILD --peer-build PEER_BUILD --out OUT [--repetitions N] [--quick]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

ROWS = 32767

SHORT = {'load': 'load 32,767', 'add_all': '">>" 16,000', 'remove_all': '"<<" 16,000 back', 'click': 'click, 16,000 selected', 'find_by_name': 'find by name', 'sort_by_name': 're-sort by name', 'commit': 'commit + reload', 'move_2000_of_4000': '">>" 2,000 of 4,000', 'server_get': 'server GET', 'server_post': 'server POST', 'undo_add_all': 'undo of ">>"', 'load_tls_login': 'load, TLS + login'}

# (key, operation, time target in ms or None, control ÷ limit at most, or None)
OPERATIONS = [
    ("load", "Load of 32,767 rows (setServerName)", 60, 1.3),
    ("add_all", '">>" of 16,000 selected rows', 30, 2),
    ("remove_all", '"<<" of the 16,000 back', 30, 1.3),
    ("click", "Click with 16,000 rows selected", 5, None),
    ("find_by_name", "Find by name, match on the last row", 5, None),
    ("sort_by_name", "Header click: re-sort 32,767 rows by name", 40, None),
    ("commit", "Commit 16,000 inserts + 16,000-ID delete, reload", 400, 1.1),
    ("move_2000_of_4000", '">>" of 2,000 of 4,000 rows', None, None),
    ("server_get", "Server alone: GET of the 32,767-row document", None, None),
    ("server_post", "Server alone: POST of 32,767 inserts", None, None),
    ("undo_add_all", 'Undo (Ctrl+Z) of the ">>" of 16,000', None, None),
    ("load_tls_login", "Load of 32,767 rows over https with a login", None, None),
]
# Rows set beside another of the control's own: (key, label of the other, the key of the other,
# this ÷ that at most, or None)
BESIDE = {
    "undo_add_all": ('">>"', "add_all", 2),
    "load_tls_login": ("plain load", "load", None),
}
PEER_TARGET = 10  # each peer at least this many times slower than the control
MEMORY_TARGET_MB = 15

OTHER_BENCHMARKS = ["bench_listview", "bench_editing", "bench_load", "bench_save"]


def log(text):
    print(text, file=sys.stderr, flush=True)


def run_benchmark(program, out_json, repetitions, bench_filter=None, env=None):
    args = [program, "--benchmark_repetitions=%d" % repetitions,
            "--benchmark_report_aggregates_only=true",
            "--benchmark_out_format=json", "--benchmark_out=" + out_json]
    if bench_filter:
        args.append("--benchmark_filter=" + bench_filter)
    log("compare: " + " ".join(os.path.basename(a) if i == 0 else a for i, a in enumerate(args)))
    subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL)
    with open(out_json) as f:
        return json.load(f)


def to_ms(value, unit):
    return value * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[unit]


def medians(report):
    """{benchmark name without the time suffix: entry of its median}"""
    out = {}
    for b in report.get("benchmarks", []):
        if b.get("aggregate_name") != "median":
            continue
        if b.get("error_occurred"):
            raise SystemExit("compare: %s failed: %s" % (b["run_name"], b.get("error_message")))
        name = b["run_name"]
        for suffix in ("/real_time", "/manual_time"):
            if name.endswith(suffix):
                name = name[: -len(suffix)]
        out[name] = b
    return out


def start_server(program, directory, seed):
    proc = subprocess.Popen(
        [program, "--listen", "127.0.0.1:0", "--database",
         "sqlite:" + os.path.join(directory, "seed-%d.db" % seed), "--seed", str(seed)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    url = proc.stdout.readline().strip()
    if not url.startswith("http://127.0.0.1:"):
        proc.kill()
        raise SystemExit("compare: vendoremp-server did not start")
    return proc, url


def peak_rss_mb(args, env):
    proc = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        raise SystemExit("compare: %s failed (status %d)" % (" ".join(args), status))
    return usage.ru_maxrss / 1024.0


def measure_memory(build, repetitions):
    host = os.path.join(build, "host", "vendoremp-host")
    server = os.path.join(build, "server", "vendoremp-server")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    # A load is refused past 32,767 rows in all, so that is the fullest both lists get.
    cases = [("empty control", None), ("32,767 rows over both lists (16,384 + 16,383)", ROWS)]
    results = []
    with tempfile.TemporaryDirectory(prefix="kve-bench-") as directory:
        shot = os.path.join(directory, "shot.png")
        for label, seed in cases:
            proc = None
            args = [host, "--screenshot", shot]
            if seed:
                proc, url = start_server(server, directory, seed)
                args += ["--vendor-id", "2", "--server", url]
            try:
                samples = sorted(peak_rss_mb(args, env) for _ in range(repetitions))
            finally:
                if proc:
                    proc.terminate()
                    proc.wait()
            results.append({"case": label, "peak_rss_mb": samples[len(samples) // 2]})
            log("compare: peak RSS, %s: %.1f MB" % (label, results[-1]["peak_rss_mb"]))
    empty = results[0]["peak_rss_mb"]
    for r in results[1:]:
        r["more_than_empty_mb"] = r["peak_rss_mb"] - empty
        r["target_met"] = r["more_than_empty_mb"] < MEMORY_TARGET_MB
    return results


def fmt_ms(value):
    if value is None:
        return "—"
    if value >= 100:
        return "%.0f" % value
    if value >= 10:
        return "%.1f" % value
    if value >= 0.1:
        return "%.2f" % value
    return "%.4f" % value


def fmt_ratio(value):
    if value is None:
        return "—"
    return ("%.0f×" if value >= 100 else "%.1f×" if value >= 10 else "%.2f×") % value


def build_table(compare, peer):
    rows = []
    for key, operation, time_target, limit_target in OPERATIONS:
        impl = "server" if key.startswith("server_") else "control"
        control = compare.get(key + "/" + impl)
        if control is None:
            continue
        row = {"key": key, "operation": operation, "short": SHORT[key],
               "control_ms": to_ms(control["real_time"], control["time_unit"])}
        limit = compare.get(key + "/limit")
        row["limit_ms"] = to_ms(limit["real_time"], limit["time_unit"]) if limit else None
        tree = compare.get(key + "/qtreewidget")
        if tree is None and key in ("add_all", "remove_all"):
            both = compare.get("add_all_remove_all/qtreewidget")
            if both:
                tree_ms = (to_ms(both["real_time"], both["time_unit"]) if key == "add_all"
                           else both["remove_all_ms"])
                tree = {"real_time": tree_ms, "time_unit": "ms"}
        row["qtreewidget_ms"] = to_ms(tree["real_time"], tree["time_unit"]) if tree else None
        kas = peer.get(key + "/kactionselector")
        row["kactionselector_ms"] = to_ms(kas["real_time"], kas["time_unit"]) if kas else None

        c = row["control_ms"]
        row["control_per_limit"] = c / row["limit_ms"] if row["limit_ms"] else None
        row["qtreewidget_per_control"] = row["qtreewidget_ms"] / c if row["qtreewidget_ms"] else None
        row["kactionselector_per_control"] = (row["kactionselector_ms"] / c
                                              if row["kactionselector_ms"] else None)
        checks = []
        if time_target is not None:
            checks.append(("< %g ms" % time_target, c < time_target))
        if limit_target is not None and row["control_per_limit"] is not None:
            checks.append(("≤ %g× limit" % limit_target, row["control_per_limit"] <= limit_target))
        if row["qtreewidget_per_control"] is not None:
            checks.append(("≥ %d× QTreeWidget" % PEER_TARGET,
                           row["qtreewidget_per_control"] >= PEER_TARGET))
        beside = BESIDE.get(key)
        row["beside"] = None
        if beside and compare.get(beside[1] + "/control"):
            other = compare[beside[1] + "/control"]
            ratio = c / to_ms(other["real_time"], other["time_unit"])
            row["beside"] = {"label": beside[0], "ratio": ratio, "target": beside[2]}
            if beside[2] is not None:
                checks.append(("≤ %g× %s (%s)" % (beside[2], beside[0], fmt_ratio(ratio)),
                               ratio <= beside[2]))
        row["targets"] = [{"target": t, "met": m} for t, m in checks]

        ratios = []
        if row["control_per_limit"] is not None:
            ratios.append({"label": "control ÷ bare limit (target marked on the bar)",
                           "value": row["control_per_limit"], "target": limit_target or 0,
                           "better": "lower"})
        if row["qtreewidget_per_control"] is not None:
            ratios.append({"label": "QTreeWidget peer ÷ control (target ≥ 10×)",
                           "value": row["qtreewidget_per_control"], "target": PEER_TARGET,
                           "better": "higher"})
        if row["kactionselector_per_control"] is not None:
            ratios.append({"label": "KActionSelector peer ÷ control",
                           "value": row["kactionselector_per_control"], "target": 0,
                           "better": "higher"})
        if row["beside"] is not None:
            b = row["beside"]
            ratios.append({"label": 'undo ÷ ">>" (≤ 2×), TLS ÷ plain load',
                           "value": b["ratio"], "target": b["target"] or 0, "better": "lower"})
        row["ratios"] = ratios
        rows.append(row)
    return rows


def markdown(rows, memory, load, repetitions):
    out = ["| Work | Control ms | Bare limit ms | QTreeWidget ms | KActionSelector ms | "
           "Control ÷ limit | QTreeWidget ÷ control | KActionSelector ÷ control | Targets |",
           "|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    for r in rows:
        targets = ", ".join(("%s ✓" if t["met"] else "%s ✗ missed") % t["target"]
                            for t in r["targets"])
        b = r.get("beside")
        if b is not None and b["target"] is None:
            targets += (", " if targets else "") + "%s the %s" % (fmt_ratio(b["ratio"]), b["label"])
        targets = targets or "reported"
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r["operation"], fmt_ms(r["control_ms"]), fmt_ms(r["limit_ms"]),
            fmt_ms(r["qtreewidget_ms"]), fmt_ms(r["kactionselector_ms"]),
            fmt_ratio(r["control_per_limit"]), fmt_ratio(r["qtreewidget_per_control"]),
            fmt_ratio(r["kactionselector_per_control"]), targets))
    if memory:
        out += ["", "| Host peak RSS | MB | More than the empty control | Target (< %d MB more) |"
                % MEMORY_TARGET_MB, "|---|---:|---:|---|"]
        for m in memory:
            more = m.get("more_than_empty_mb")
            out.append("| %s | %.1f | %s | %s |" % (
                m["case"], m["peak_rss_mb"], "—" if more is None else "%.1f" % more,
                "—" if more is None else ("✓" if m["target_met"] else "✗ missed")))
    out += ["", "Medians of %d repetitions (the QTreeWidget moves and KActionSelector: 3). "
            "Load average at the start: %s." % (repetitions, load)]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--peer-build")
    parser.add_argument("--out", required=True)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--rows", type=int, help="a trial at another size (the table's labels stay)")
    parser.add_argument("--quick", action="store_true",
                        help="skip the other benchmarks and the slow peer moves")
    a = parser.parse_args()

    raw = os.path.join(a.out, "raw")
    os.makedirs(raw, exist_ok=True)
    load = ", ".join("%.2f" % v for v in os.getloadavg())
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QT_LOGGING_RULES="qt.qpa.*=false")
    env.pop("KVE_BENCH_ROWS", None)
    if a.rows:
        env["KVE_BENCH_ROWS"] = str(a.rows)
    started = time.time()

    bench = os.path.join(a.build, "bench")
    compare = medians(run_benchmark(os.path.join(bench, "bench_compare"),
                                    os.path.join(raw, "bench_compare.json"), a.repetitions,
                                    "-add_all_remove_all/qtreewidget", env))
    if not a.quick:
        compare.update(medians(run_benchmark(os.path.join(bench, "bench_compare"),
                                             os.path.join(raw, "bench_compare_peer_moves.json"),
                                             3, "add_all_remove_all/qtreewidget", env)))
    peer = {}
    if a.peer_build:
        peer = medians(run_benchmark(os.path.join(a.peer_build, "bench_kactionselector"),
                                     os.path.join(raw, "bench_kactionselector.json"), 3, None, env))
    others = {}
    if not a.quick:
        for name in OTHER_BENCHMARKS:
            program = os.path.join(bench, name)
            if os.path.exists(program):
                for k, v in medians(run_benchmark(program, os.path.join(raw, name + ".json"),
                                                  a.repetitions, None, env)).items():
                    others[name + ": " + k] = to_ms(v["real_time"], v["time_unit"])
    memory = measure_memory(a.build, 3)

    rows = build_table(compare, peer)
    md = markdown(rows, memory, load, a.repetitions)
    title = "Control against the bare limit and the peers, 32,767 rows (medians)"
    with open(os.path.join(a.out, "comparison.json"), "w") as f:
        json.dump({"title": title, "load_average": load, "repetitions": a.repetitions,
                   "rows": rows, "memory": memory, "other_benchmarks_ms": others}, f, indent=2,
                  ensure_ascii=False)
    with open(os.path.join(a.out, "comparison.md"), "w") as f:
        f.write(md)
        if others:
            f.write("\nThe other benchmarks (medians, ms):\n\n| Benchmark | ms |\n|---|---:|\n")
            for k, v in others.items():
                f.write("| %s | %s |\n" % (k, fmt_ms(v)))
    subprocess.run([os.path.join(bench, "kve_bench_chart"), os.path.join(a.out, "comparison.json"),
                    os.path.join(a.out, "comparison.png")], check=True, env=env)
    print(md)
    log("compare: %.0f s; written %s/comparison.{json,md,png}" % (time.time() - started, a.out))


if __name__ == "__main__":
    main()
