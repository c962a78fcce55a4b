"""A measured spectrum, and reflectance and absorbance against a reference."""

import numpy as np

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
    None when unknown (a spectrum read from a file that does not say)."""

    def __init__(self, wavelengths, intensities, *, quantity="intensity", position=None,
                 started=None, configuration=None, versions=None):
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

    def __len__(self):
        return self.wavelengths.size

    def __repr__(self):
        where = (repr(self.configuration) if self.configuration is not None
                 else f"position {self.position}" if self.position is not None else "unknown")
        when = self.started.strftime(" at %Y-%m-%d %H:%M:%S UTC") if self.started else ""
        return f"<quillon.Spectrum {self.quantity}, {len(self)} points, {where}{when}>"

    @property
    def title(self):
        """The configuration's name, or its position when the name is unknown."""
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
        return Spectrum(self.wavelengths.copy(), values, quantity=quantity,
                        position=self.position, started=self.started,
                        configuration=self.configuration, versions=self.versions)

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
        from .files import write_csv
        write_csv(self, path)

    def to_json(self, path):
        """Writes the spectrum in the JSON form of ``quillon scan --json``."""
        from .files import write_json
        write_json(self, path)

    def to_jcamp(self, path, owner=None):
        """Writes a JCAMP-DX 4.24 file of this spectrum as (X, Y) pairs;
        ``owner`` is the login name unless given."""
        from .files import write_jcamp
        write_jcamp(self, path, owner=owner)
