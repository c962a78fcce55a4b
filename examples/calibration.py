"""From spectra to a calibration: 24 samples of known concentration, absorbance
on an even wavelength grid, a PLS model fitted on 16 of them and tried on the
8 it has not seen.

With the simulated module (QUILLONLIB_SIMULATOR=1) every sample is put in
front of the module through QUILLONLIB_SIMULATOR_SAMPLE_FILE: an absorption
band at 1450 nm whose peak absorbance is the concentration (Beer-Lambert: the
band takes 1 - 10^-c of the light), and a second band at 1200 nm of random
depth that the model has to see past. With a real module the
script asks for each sample instead.

    /usr/bin/python3 examples/calibration.py [calibration.png]

Needs Debian's python3-sklearn; the plot of predicted against true
concentration needs python3-matplotlib (without it the plot is skipped).
"""

import os
import sys
import tempfile

import numpy as np

import quillon

SAMPLES = 24
GRID = (950, 2, 1650)  # nm: start, step, end
COMPONENTS = 3


def concentrations(random):
    """Evenly spread over 0.05-0.60 in a random order, so the held-out
    samples span the range too."""
    return random.permutation(np.linspace(0.05, 0.60, SAMPLES))


def present(sample_file, concentration, interferent):
    """Puts a sample in front of the module (simulated), or asks for it."""
    if sample_file is None:
        input(f"Put the sample of concentration {concentration:.3f} in place, then press Enter")
        return
    depth = 1 - 10 ** -concentration
    with open(sample_file, "w") as out:
        out.write(f"1450,25,{depth:.6f}\n1200,30,{interferent:.4f}\n")


def measure(sample_file, truth, interferents):
    with quillon.Spectrometer() as sp:
        sp.set_lamp(False)
        dark = sp.scan(average=4)
        present(sample_file, 0.0, 0.0)
        white = sp.scan(average=4, warmup=0.2)
        rows = []
        for i, (c, other) in enumerate(zip(truth, interferents)):
            present(sample_file, c, other)
            sample = sp.scan(average=2, sample=f"S{i + 1:02d}", comment=f"concentration {c:.4f}")
            rows.append(sample.absorbance(white, dark).resample(*GRID).intensities)
        sp.set_lamp(False)
    return np.array(rows)


def plot(path, true_train, fitted, true_test, predicted, r2, rmsep):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib); no plot")
        return
    fig, ax = plt.subplots(figsize=(5, 5))
    ax.plot([0, 0.65], [0, 0.65], color="0.7", lw=1)
    ax.scatter(true_train, fitted, label="calibration (16)", color="tab:blue", s=20)
    ax.scatter(true_test, predicted, label="held out (8)", color="tab:red", marker="s", s=28)
    ax.set(xlabel="true concentration", ylabel="predicted concentration",
           title=f"PLS, {COMPONENTS} components: R² {r2:.3f}, RMSEP {rmsep:.4f}")
    ax.legend(loc="upper left")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    print(f"plot saved to {path}")


def main():
    from sklearn.cross_decomposition import PLSRegression
    from sklearn.metrics import mean_squared_error, r2_score

    random = np.random.default_rng(7)
    truth = concentrations(random)
    interferents = random.uniform(0.0, 0.4, SAMPLES)
    simulated = os.environ.get("QUILLONLIB_SIMULATOR") == "1"
    with tempfile.TemporaryDirectory() as scratch:
        sample_file = None
        if simulated:
            # The simulated module reads the file before every scan, and its
            # detector gets some noise, as a real one has.
            sample_file = os.environ.setdefault("QUILLONLIB_SIMULATOR_SAMPLE_FILE",
                                                os.path.join(scratch, "sample.txt"))
            os.environ.setdefault("QUILLONLIB_SIMULATOR_NOISE", "5")
        absorbance = measure(sample_file, truth, interferents)

    held_out = np.arange(SAMPLES) % 3 == 2  # every third sample: 8 of 24
    train, test = ~held_out, held_out
    model = PLSRegression(n_components=COMPONENTS).fit(absorbance[train], truth[train])
    predicted = model.predict(absorbance[test]).ravel()
    fitted = model.predict(absorbance[train]).ravel()
    rmsep = float(np.sqrt(mean_squared_error(truth[test], predicted)))
    r2 = float(r2_score(truth[test], predicted))
    print(f"{absorbance.shape[1]} grid points {GRID[0]}-{GRID[2]} nm, {train.sum()} calibration "
          f"samples, {test.sum()} held out")
    for t, p in zip(truth[test], predicted):
        print(f"  true {t:.4f}  predicted {p:.4f}")
    print(f"RMSEP {rmsep:.4f}")
    print(f"R2 {r2:.4f}")
    plot(sys.argv[1] if len(sys.argv) > 1 else "calibration.png", truth[train], fitted,
         truth[test], predicted, r2, rmsep)


if __name__ == "__main__":
    main()
