#!/usr/bin/python3
"""Writes geometry/ElectrodeTablesData.inc, the rows of the ten electrode
position templates (included by geometry/ElectrodeTables.cpp).

Run with /usr/bin/python3 from the repository root (or give the output path):

    /usr/bin/python3 scripts/gen_electrode_tables.py [geometry/ElectrodeTablesData.inc]

Sources are the montage files that Debian's python3-mne ships (standard 10-05
positions and the EGI HydroCel nets). Each template lives in its own frame:

  frame A (T1-T4, T6): x to the left, y up (vertex largest), z to the back;
      the 18 anchor rows of T2 are fixed, other names are 10-05 positions
      mapped by the least-squares affine fit of the 10-05 set onto the anchors.
  frame B (T5, T7, T8): sphere of radius 100, x front, y left, z up. T5 and
      T7 take the ideal-sphere angles of the EasyCap 10-10 list (as their
      anchors do); T8 takes the 10-05 head positions, made symmetric, seen
      from a fitted centre and fitted to its midline anchors.
  frame C (T9, T10): the HydroCel frame (x right, y front, z up, about +-11).

Anchor rows (ANCHORS below) are written exactly as given; everything else is
rounded to 5 decimals.
"""
import os
import sys

import numpy as np

MONTAGES = "/usr/lib/python3/dist-packages/mne/channels/data/montages"

# ---------------------------------------------------------------- anchors
# T2 in full; T1 is a subset of it with the same values.
T2_ROWS = [
    ("FP1", "30", "70.84885", "-104.70795"),
    ("FP2", "-30", "71.47003", "-105.19913"),
    ("F3", "56.33652", "111.80359", "-59.12506"),
    ("F4", "-53.79196", "115.24002", "-59.14627"),
    ("F7", "72.69882", "56.2587", "-55.7489"),
    ("F8", "-70.76645", "58.79044", "-58.23456"),
    ("T3", "85.19843", "44.54773", "-22.21771"),
    ("T4", "-83.14825", "44.76944", "-22.4704"),
    ("T5", "80.19843", "44.54773", "22.21771"),
    ("T6", "-80.14825", "44.76944", "22.4704"),
    ("C3", "73.39218", "117.82791", "7.74994"),
    ("C4", "-69.77783", "120.59814", "11.16196"),
    ("P3", "58.04962", "90.87418", "70.72357"),
    ("P4", "-52.92053", "91.36627", "72.34375"),
    ("O1", "26.81717", "36.34674", "96.58279"),
    ("O2", "-26.47095", "38.18619", "96.38092"),
    ("A1", "90.92224", "0.8736", "-33.5347"),
    ("A2", "-90.92224", "0.8736", "-33.5347"),
]
T2_BY_NAME = {r[0]: r[1:] for r in T2_ROWS}

# Fixed rows of the other templates, by table.
ANCHORS = {
    "T5": {"Fp1": ("95", "30.9", "-3.49"), "O2": ("-95", "-30.9", "-3.49")},
    "T8": {"Fpz": ("99.3", "0", "-11.4"), "Nz": ("87.4", "0", "-48.5"), "Cz": ("0.157", "0", "100")},
    "T9": {"FidNz": ("0", "10.3855", "-1.81526"), "E1": ("4.82147", "8.46376", "-0.06398")},
    "T10": {
        "FidNz": ("0", "10.7078", "-2.23364"),
        "E256": ("-5.08583", "0.12101", "-11.0429"),
        "Cz": ("0", "0", "8.95379"),
    },
}

NAMES = {
    "T1": "FP1 FP2 C3 C4 P3 P4 O1 O2 A1 A2",
    "T2": " ".join(r[0] for r in T2_ROWS),
    "T3": "FP1 FP2 F3 F4 F7 F8 T3 T4 T5 T6 C3 C4 P3 P4 O1 O2 FZ CZ PZ A1 A2",
    "T4": "FP1 FP2 F7 F3 FZ F4 F8 C3 CZ C4 T3 T4 T5 T6 P3 PZ P4 O1 O2 A1 A2",
    "T5": "Fp1 Fp2 F9 F7 F3 Fz F4 F8 F10 T9 T7 C3 Cz C4 T8 T10 P9 P7 P3 Pz P4 P8 P10 O1 O2",
    "T6": "FP1 FP2 F7 F3 FZ F4 F8 FT7 FC3 FCZ FC4 FT8 T7 C3 CZ C4 T8 TP7 CP3 CPZ CP4 TP8 "
          "P7 P3 PZ P4 P8 O1 OZ O2 A1 A2",
    "T7": "Fp1 Fp2 F9 F7 F3 Fz F4 F8 F10 FC5 FC1 FC2 FC6 T9 T7 C3 Cz C4 T8 T10 CP5 CP1 CP2 CP6 "
          "P9 P7 P3 Pz P4 P8 P10 O1 O2",
    "T8": "Fpz Fz Cz Pz Oz Iz Fp1 Fp2 AF9 AF5 AF1 AF2 AF6 AF10 F7 F3 F4 F8 FT9 FC5 FC1 FC2 FC6 FT10 "
          "T7 C3 C4 T8 TP9 CP5 CP1 CP2 CP6 TP10 P7 P3 P4 P8 PO9 PO5 PO1 PO2 PO6 PO10 O1 O2 Nz",
    "T9": "FidNz FidT9 FidT10 " + " ".join("E%d" % i for i in range(1, 65)),
    "T10": "FidNz FidT9 FidT10 " + " ".join("E%d" % i for i in range(1, 257)) + " Cz",
}
ROWS = {"T1": 10, "T2": 18, "T3": 21, "T4": 21, "T5": 25, "T6": 32, "T7": 33, "T8": 47, "T9": 67, "T10": 260}
REFERENCE_TABLES = ("T1", "T2", "T3", "T4", "T6")  # their A1 and A2 are reference electrodes


# ---------------------------------------------------------------- sources
def read_elc(path):
    lines = [l.strip() for l in open(path, encoding="latin-1")]
    i, j = lines.index("Positions"), lines.index("Labels")
    pos = [list(map(float, l.split())) for l in lines[i + 1:j] if l]
    labels = [l for l in lines[j + 1:] if l]
    assert len(pos) == len(labels)
    return {n.upper(): np.array(p) for n, p in zip(labels, pos)}


def read_sfp(path):
    out = []
    for line in open(path, encoding="latin-1"):
        parts = line.split()
        if len(parts) == 4:
            out.append((parts[0], np.array(list(map(float, parts[1:])))))
    return out


# ---------------------------------------------------------------- frame A
def frame_a(std):
    """Affine map of 10-05 positions (x right, y front, z up) onto T2's frame."""
    src, dst = [], []
    for name, *vals in T2_ROWS:
        src.append(std[name])
        dst.append([float(v) for v in vals])
    src, dst = np.array(src), np.array(dst)
    ones = np.ones((len(src), 1))
    m, *_ = np.linalg.lstsq(np.hstack([src, ones]), dst, rcond=None)
    residual = np.sqrt(((np.hstack([src, ones]) @ m - dst) ** 2).sum(axis=1))

    def apply(name):
        return np.append(std[name.upper()], 1.0) @ m

    return apply, residual


# ---------------------------------------------------------------- frame B
def read_theta_phi(path):
    """Ideal-sphere positions (theta from the vertex, signed by hemisphere; phi)."""
    out = {}
    for line in open(path, encoding="latin-1"):
        parts = line.split()
        if len(parts) == 3 and parts[0] != "Site":
            out[parts[0]] = (float(parts[1]), float(parts[2]))
    # The 10% ring below the equator holds F9, FT9 ... at theta 115; T9 and
    # T10 sit on it at phi 0 like T7 and T8 on the equator.
    out.setdefault("T9", (-115.0, 0.0))
    out.setdefault("T10", (115.0, 0.0))
    return out


def ideal_sphere(theta_phi):
    """x front, y left, z up on radius 100 from theta/phi (x right, y front)."""
    def apply(name):
        th, ph = np.radians(theta_phi[name])
        right, front, up = np.sin(th) * np.cos(ph), np.sin(th) * np.sin(ph), np.cos(th)
        return 100.0 * np.array([front, -right, up])

    return apply


def fit_sphere(points):
    a = np.hstack([2 * points, np.ones((len(points), 1))])
    b = (points ** 2).sum(axis=1)
    sol, *_ = np.linalg.lstsq(a, b, rcond=None)
    return sol[:3]


def projected_head(std, anchors):
    """10-05 head positions made left-right symmetric, projected from a fitted
    centre onto radius 100 and fitted to the midline anchor rows."""
    def to_b(p):
        return np.array([p[1], -p[0], p[2]])

    def mirror(name):
        digits = "".join(c for c in name if c.isdigit())
        if not digits:
            return name
        n = int(digits)
        return name.replace(digits, str(n + 1 if n % 2 else n - 1))

    sym = {}
    for name, p in std.items():
        other = std.get(mirror(name))
        q = to_b(p)
        if other is not None:
            o = to_b(other)
            o[1] = -o[1]
            q = (q + o) / 2
        else:
            q[1] = 0.0
        sym[name] = q
    scalp = np.array([q for q in sym.values() if q[2] > -10])  # upper head only
    centre = fit_sphere(scalp)
    centre[1] = 0.0

    def project(name):
        v = sym[name.upper()] - centre
        return 100.0 * v / np.linalg.norm(v)

    # Pitch about the left-right axis puts Cz on top; then one factor on the
    # angle from the vertex stretches the midline onto the anchors.
    cz = project("Cz")
    a = np.arctan2(cz[0], cz[2])
    pitch = np.array([[np.cos(a), 0, -np.sin(a)], [0, 1, 0], [np.sin(a), 0, np.cos(a)]])

    def polar(name):
        v = pitch @ project(name)
        return np.arccos(np.clip(v[2] / 100.0, -1, 1)), np.arctan2(v[1], v[0])

    def given_theta(name):
        v = np.array([float(x) for x in anchors[name]])
        return np.arccos(v[2] / np.linalg.norm(v))

    names = [n for n in anchors if n != "Cz"]
    tp = np.array([polar(n)[0] for n in names])
    tg = np.array([given_theta(n) for n in names])
    k = (tp * tg).sum() / (tp * tp).sum()

    def apply(name):
        th, ph = polar(name)
        th *= k
        return 100.0 * np.array([np.sin(th) * np.cos(ph), np.sin(th) * np.sin(ph), np.cos(th)])

    residual = np.array([np.linalg.norm(apply(n) - np.array([float(x) for x in anchors[n]])) for n in anchors])
    return apply, residual


# ---------------------------------------------------------------- output
def fmt(v):
    s = "%.5f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def build():
    std = read_elc(os.path.join(MONTAGES, "standard_1005.elc"))
    to_a, res_a = frame_a(std)
    to_ideal = ideal_sphere(read_theta_phi(os.path.join(MONTAGES, "easycap-M1.txt")))
    to_head, res_b = projected_head(std, ANCHORS["T8"])
    hc64 = read_sfp(os.path.join(MONTAGES, "GSN-HydroCel-64_1.0.sfp"))
    hc256 = read_sfp(os.path.join(MONTAGES, "GSN-HydroCel-256.sfp"))
    hc257 = dict(read_sfp(os.path.join(MONTAGES, "GSN-HydroCel-257.sfp")))

    tables = {}
    for t in ROWS:
        names = NAMES[t].split()
        assert len(names) == ROWS[t], (t, len(names))
        anchors = ANCHORS.get(t, {})
        if t in ("T9", "T10"):
            src = dict(hc64 if t == "T9" else hc256)
            src["Cz"] = hc257["Cz"]
        rows = []
        for name in names:
            if t in REFERENCE_TABLES and name.upper() in T2_BY_NAME:
                xyz = T2_BY_NAME[name.upper()]
            elif name in anchors:
                xyz = anchors[name]
            elif t in REFERENCE_TABLES:
                xyz = tuple(fmt(v) for v in to_a(name))
            elif t in ("T5", "T7"):
                xyz = tuple(fmt(v) for v in to_ideal(name))
            elif t == "T8":
                xyz = tuple(fmt(v) for v in to_head(name))
            else:
                xyz = tuple(fmt(v) for v in src[name])
            ref = t in REFERENCE_TABLES and name in ("A1", "A2")
            rows.append((name, xyz, 1 if ref else 2, 301 if ref else 302))
        tables[t] = rows
    return tables, res_a, res_b


def write(path, tables, res_a, res_b):
    out = []
    out.append("// Generated by scripts/gen_electrode_tables.py from the python3-mne montage")
    out.append("// files; edit the script, not this file.")
    out.append("// Frame A affine fit residual (mm) max %.1f, T8 fit residual max %.1f."
               % (res_a.max(), res_b.max()))
    out.append("")
    for t, rows in tables.items():
        out.append("const ELCTD_POS_NAME_PXYZ g_elctd%s[ELCTD_%s_ROWS] = {" % (t, t))
        for name, (x, y, z), kind, code in rows:
            out.append('    {L"%s", %s, %s, %s, %d, %d},' % (name, x, y, z, kind, code))
        out.append("};")
        out.append("")
    text = "\n".join(out).rstrip("\n") + "\n"
    with open(path, "w") as f:
        f.write(text)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "geometry", "ElectrodeTablesData.inc")
    tables, res_a, res_b = build()
    write(path, tables, res_a, res_b)
    print("frame A residuals:", np.round(res_a, 1))
    print("T8 residuals:", np.round(res_b, 1))
    print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
