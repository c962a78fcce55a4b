#!/usr/bin/python3
"""scan_plot: open the module, scan once with the lamp on and save the
spectrum as a PNG plot (matplotlib, Debian's python3-matplotlib). Without
matplotlib it says so, prints the spectrum's range and skips the plot.

    PYTHONPATH=python QUILLONLIB_LIBRARY=build/libquillonlib.so.1 \\
    QUILLONLIB_SIMULATOR=1 examples/scan_plot.py spectrum.png
"""
import sys

import quillon


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "spectrum.png"
    with quillon.Spectrometer() as sp:
        sp.set_lamp(True)
        try:
            spectrum = sp.scan()
        finally:
            sp.set_lamp(False)
    print(f"{spectrum}: {spectrum.wavelengths.min():.1f} to {spectrum.wavelengths.max():.1f} nm")
    try:
        import matplotlib
        matplotlib.use("Agg")  # files only, no display needed
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed (apt-get install python3-matplotlib): no plot")
        return 0
    figure, axes = plt.subplots(figsize=(8, 4.5))
    # Sections are drawn as measured; points are not sorted across sections.
    axes.plot(spectrum.wavelengths, spectrum.intensities, ".", markersize=3)
    axes.set_xlabel("Wavelength (nm)")
    axes.set_ylabel("Intensity (counts)")
    axes.set_title(spectrum.title)
    figure.tight_layout()
    figure.savefig(path, dpi=120)
    print(f"plot saved to {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
