#!/usr/bin/python3
"""check_bdf.py RECORDING.bdf EXPECTED.json: opens the recording with MNE-Python
and prints what differs from EXPECTED ("ch_names", "sfreq", "n_times", "values"
as {"ch", "sample", "value", "tol"} in volts for uV channels, "annotations" as
[onset, text]); with "recipe" it loads the file through docs/mne_recipe.py and
also compares "types" (one per channel) and wants every EEG channel placed.
Exits 1 on any difference."""
import json
import sys


def main():
    import mne
    import numpy as np

    with open(sys.argv[2]) as f:
        exp = json.load(f)
    path = sys.argv[1]
    problems = []
    if exp.get("recipe"):
        sys.path.insert(0, __file__.rsplit("/", 3)[0] + "/docs")
        import mne_recipe

        raw, _ = mne_recipe.load(path)
        if raw.get_channel_types() != exp["types"]:
            problems.append(f"types {raw.get_channel_types()} != {exp['types']}")
        unplaced = [c["ch_name"] for c in raw.info["chs"] if c["kind"] == 2 and not np.isfinite(c["loc"][:3]).all()]
        if unplaced:
            problems.append(f"EEG channels without a position: {unplaced}")
    else:
        raw = mne.io.read_raw_bdf(path, preload=True, verbose="error")
    if raw.ch_names != exp["ch_names"]:
        problems.append(f"channel names {raw.ch_names} != {exp['ch_names']}")
    if abs(raw.info["sfreq"] - exp["sfreq"]) > 1e-9:
        problems.append(f"sfreq {raw.info['sfreq']} != {exp['sfreq']}")
    if raw.n_times != exp["n_times"]:
        problems.append(f"n_times {raw.n_times} != {exp['n_times']}")
    data = raw.get_data()
    for v in exp.get("values", []):
        got = data[raw.ch_names.index(v["ch"]), v["sample"]]
        if abs(got - v["value"]) > v["tol"]:
            problems.append(f"{v['ch']}[{v['sample']}] = {got!r}, expected {v['value']!r} +- {v['tol']}")
    # Notes at one onset have no order of their own.
    got_ann = sorted((round(float(a["onset"]), 4), a["description"]) for a in raw.annotations)
    want_ann = sorted((round(float(o), 4), d) for o, d in exp.get("annotations", []))
    if got_ann != want_ann:
        problems.append(f"annotations {got_ann} != {want_ann}")
    for p in problems:
        print(p)
    print("check_bdf: ok" if not problems else f"check_bdf: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
