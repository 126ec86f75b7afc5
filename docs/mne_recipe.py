"""An mbeeg recording in MNE-Python, typed and placed by its sidecar: python3 docs/mne_recipe.py rec.bdf"""
import json, sys
import mne

def load(bdf):
    raw = mne.io.read_raw_bdf(bdf, infer_types=True, preload=True, verbose="error")  # "EEG Fp1" -> eeg Fp1
    side = json.load(open(bdf[:-4] + ".json"))  # rec.json beside rec.bdf: positions in metres, head frame
    pos = {c["label"][4:]: [c["electrode"][k] for k in "xyz"] for c in side["channels"] if c["kind"] == "EEG"}
    raw.set_montage(mne.channels.make_dig_montage(ch_pos=pos, coord_frame="head"))
    return raw, side

if __name__ == "__main__":
    raw, side = load(sys.argv[1])
    print(side["subject"], side["session"], raw.get_channel_types(unique=True), raw.annotations, sep="\n")
