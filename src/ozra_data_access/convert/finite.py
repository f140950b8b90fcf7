"""The converters store numbers the reader accepts: an axis or intensity holding NaN or an infinity
is refused, naming where it is, rather than written into a file that cannot be read back."""

from __future__ import annotations

import numpy as np

from ozra_data_access.convert.errors import ConversionError


def require_finite(values: np.ndarray, what: str, where: str, error: type = ConversionError) -> np.ndarray:
    """`values` itself when every one is finite; else `error` naming `what` (e.g. "m/z array") and `where`."""
    finite = np.isfinite(values)
    if not finite.all():
        bad = int(np.argmin(finite))
        raise error(f"{where}: its {what} holds {float(values[bad])} at position {bad} (only finite numbers are stored)")
    return values
