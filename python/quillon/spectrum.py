"""A measured spectrum, and reflectance and absorbance against a reference."""

import math

import numpy as np

from .writers import write_csv, write_jcamp, write_json

QUANTITIES = ("intensity", "reflectance", "absorbance")

# Wavelengths read back from a file carry six decimals; closer than this
# they are the same wavelength.
WAVELENGTH_TOLERANCE_NM = 1e-5


class Spectrum:
    """One spectrum: ``wavelengths`` (nm, float64) and ``intensities`` (counts
    as integers for one scan; float64 for an average or a derived quantity).

    ``quantity`` says what the values are ("intensity", "reflectance" or
    "absorbance"); ``position`` is the module's configuration position it was
    scanned with, ``started`` the UTC time the scan started, ``configuration``
    the configuration's name and ``versions`` the module's version words, each
    None when unknown (a spectrum read from a file that does not say).
    ``sample`` and ``comment`` name what was measured; ``grid`` is (start,
    step, end) in nm for a spectrum on an even grid (see :meth:`resample`)."""

    def __init__(self, wavelengths, intensities, *, quantity="intensity", position=None,
                 started=None, configuration=None, versions=None, sample=None, comment=None,
                 grid=None):
        self.wavelengths = np.asarray(wavelengths, dtype=np.float64)
        self.intensities = np.asarray(intensities)
        if self.wavelengths.ndim != 1 or self.wavelengths.shape != self.intensities.shape:
            raise ValueError(f"{self.wavelengths.size} wavelengths but "
                             f"{self.intensities.size} values")
        if quantity not in QUANTITIES:
            raise ValueError(f"unknown quantity {quantity!r} (one of {', '.join(QUANTITIES)})")
        self.quantity = quantity
        self.position = position
        self.started = started
        self.configuration = configuration
        self.versions = versions
        self.sample = sample
        self.comment = comment
        self.grid = grid

    def _like(self, wavelengths, values, **changes):
        """A spectrum that says what this one says, with other values."""
        fields = dict(quantity=self.quantity, position=self.position, started=self.started,
                      configuration=self.configuration, versions=self.versions,
                      sample=self.sample, comment=self.comment, grid=self.grid)
        fields.update(changes)
        return Spectrum(wavelengths, values, **fields)

    def __len__(self):
        return self.wavelengths.size

    def __repr__(self):
        where = (repr(self.configuration) if self.configuration is not None
                 else f"position {self.position}" if self.position is not None else "unknown")
        when = self.started.strftime(" at %Y-%m-%d %H:%M:%S UTC") if self.started else ""
        return f"<quillon.Spectrum {self.quantity}, {len(self)} points, {where}{when}>"

    @property
    def title(self):
        """The sample's name; else the configuration's name, or its position
        when the name is unknown."""
        if self.sample:
            return self.sample
        if self.configuration:
            return self.configuration
        return f"position {self.position}" if self.position is not None else "spectrum"

    def reflectance(self, reference, dark=None):
        """(S - D) / (W - D) with this spectrum as S, ``reference`` as W and
        ``dark`` as D (0 without one); NaN where W - D <= 0 or S - D <= 0."""
        return self._derived("reflectance", reference, dark)

    def absorbance(self, reference, dark=None):
        """-log10 of the reflectance; NaN where the reflectance has no value."""
        return self._derived("absorbance", reference, dark)

    def _derived(self, quantity, reference, dark):
        self._check_counterpart("this spectrum", self)
        self._check_counterpart("the reference", reference)
        sample = self.intensities.astype(np.float64)
        white = reference.intensities.astype(np.float64)
        if dark is None:
            black = np.zeros_like(sample)
        else:
            self._check_counterpart("the dark spectrum", dark)
            black = dark.intensities.astype(np.float64)
        signal, span = sample - black, white - black
        defined = (signal > 0) & (span > 0)
        with np.errstate(divide="ignore", invalid="ignore"):
            values = np.where(defined, signal / np.where(defined, span, 1.0), np.nan)
            if quantity == "absorbance":
                values = -np.log10(values) + 0.0  # no -0.0 where R is 1
        return self._like(self.wavelengths.copy(), values, quantity=quantity)

    def resample(self, start, step, end):
        """This spectrum on the even grid start, start + step, ... end (nm),
        linearly interpolated between the two measured points around each
        grid point. ValueError when the grid reaches outside the measured
        range or its end is not a whole number of steps from its start."""
        grid = even_grid(start, step, end)
        measured = self.wavelengths
        if measured.size < 2 or not np.all(np.diff(measured) > 0):
            raise ValueError("resampling needs at least two points at ascending wavelengths")
        low, high = measured[0], measured[-1]
        # A grid end written with six decimals may lie a rounding off the range.
        slack = 5e-7
        if grid[0] < low - slack or grid[-1] > high + slack:
            raise ValueError(f"the grid {grid[0]:.6f}-{grid[-1]:.6f} nm reaches outside the "
                             f"measured range {low:.6f}-{high:.6f} nm")
        values = np.interp(np.clip(grid, low, high), measured,
                           self.intensities.astype(np.float64))
        return self._like(grid, values, grid=(float(start), float(step), float(end)))

    def _check_counterpart(self, what, other):
        if not isinstance(other, Spectrum):
            raise ValueError(f"{what} is a {type(other).__name__}, not a quillon.Spectrum")
        if other.quantity != "intensity":
            raise ValueError(f"{what} holds {other.quantity}, not intensities")
        mine, theirs = self.wavelengths, other.wavelengths
        if mine.size != theirs.size:
            raise ValueError(f"the wavelengths differ: {what} has {theirs.size} points, "
                             f"the spectrum {mine.size}")
        differs = np.flatnonzero(~(np.abs(mine - theirs) <= WAVELENGTH_TOLERANCE_NM))
        if differs.size:
            i = differs[0]
            raise ValueError(f"the wavelengths differ: point {i + 1} is at {theirs[i]:.6f} nm "
                             f"in {what}, at {mine[i]:.6f} nm in the spectrum")

    def to_csv(self, path):
        """Writes "wavelength_nm,<quantity>" and one line per point."""
        write_csv(self, path)

    def to_json(self, path):
        """Writes the spectrum in the JSON form of ``quillon scan --json``."""
        write_json(self, path)

    def to_jcamp(self, path, owner=None):
        """Writes a JCAMP-DX 4.24 file of this spectrum: (X, Y) pairs, or on
        an even grid the standard (X++(Y..Y)) form with ##DELTAX; ``owner`` is
        the login name unless given."""
        write_jcamp(self, path, owner=owner)


def even_grid(start, step, end):
    """The wavelengths start, start + step, ... end; ValueError unless end
    lies on the grid."""
    values = [float(v) for v in (start, step, end)]
    if not all(math.isfinite(v) for v in values):
        raise ValueError("the grid's start, step and end must be finite numbers")
    start, step, end = values
    if step <= 0 or end <= start:
        raise ValueError(f"grid {start:g}:{step:g}:{end:g}: the step must be above 0 and the "
                         f"end above the start")
    intervals = (end - start) / step
    count = round(intervals)
    if abs(intervals - count) > 1e-6:
        raise ValueError(f"grid {start:g}:{step:g}:{end:g}: the end is not a whole number of "
                         f"steps from the start")
    return start + step * np.arange(count + 1, dtype=np.float64)
