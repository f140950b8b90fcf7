"""Opens damaged copies of a valid Ozra file and walks each as far as it goes.

Run as a script (so that a crash is seen as a dead process, not a dead test run):

    python walk_damaged.py SOURCE WORKDIR SEED

Every damaged copy may fail only with OzraFormatError. The script prints one line per
copy that raised anything else, and a summary; it exits 1 when there was such a copy.
"""

import random
import resource
import sys

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.exception import OzraFormatError
from ozra_data_access.qual import ChromatogramFilterOption

MARKERS = (b"{JT:", b":JT}", b"{FI:", b":FI}", b"{SI:", b":SI}", b"{SP:", b":SP}")


def walk(path):
    """Everything a caller can do with a file: measurements, analyses, spectra, chromatograms."""
    with OzraFile(path) as f:
        f.get_file_format_version()
        for m_index in range(f.get_measurement_count()):
            m = f.get_measurement(m_index)
            str(m)
            for a_index in range(m.get_qual_analysis_count()):
                a = m.get_qual_analysis(a_index)
                for i in range(a.get_spectra_count()):
                    s = a.get_spectrum(i)
                    str(s)
                    try:
                        s.get_profile_spectrum_points()
                    except Exception as error:  # a spectrum without profile data says so
                        if error.args != ("No profile spectrum",):
                            raise
                requests = [ChromatogramFilterOption(c, ValueRange(100.0, 400.0)) for c in a.unique_acquisition_conditions]
                if requests:
                    a.get_multiple_xic(requests)
                for c in a.unique_acquisition_conditions:
                    a.get_tic(c)
            for d_index in range(m.get_dad_analysis_count()):
                d = m.get_dad_analysis(d_index)
                for i in range(d.get_spectra_count()):
                    d.get_spectrum(i).get_spectrum_points()
                d.get_chromatogram(ValueRange(250.0, 300.0))
                d.get_max_plot(ValueRange(250.0, 300.0), 2.0)
            for q_index in range(m.get_quan_analysis_count()):
                m.get_quan_analysis(q_index)
            for g_index in range(m.get_analog_analysis_count()):
                m.get_analog_analysis(g_index)


def damaged_copies(data, seed):
    """(description, bytes) of every truncation at a block boundary, and random truncations and bit flips."""
    boundaries = {0, len(data) - 1}
    for marker in MARKERS:
        start = data.find(marker)
        while start != -1:
            boundaries.update((start, start + len(marker)))
            start = data.find(marker, start + 1)
    rng = random.Random(seed)
    for cut in sorted(boundaries):
        yield f"truncated at block boundary {cut}", data[:cut]
    for cut in sorted(rng.sample(range(len(data)), min(300, len(data)))):
        yield f"truncated at {cut}", data[:cut]
    for offset in sorted(rng.sample(range(len(data)), min(300, len(data)))):
        flipped = bytearray(data)
        flipped[offset] ^= 1 << rng.randrange(8)
        yield f"bit flipped at {offset}", bytes(flipped)


def main(source, workdir, seed):
    data = open(source, "rb").read()
    walk(source)  # the undamaged file walks cleanly
    baseline = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    copies = failures = format_errors = 0
    for description, damaged in damaged_copies(data, seed):
        path = f"{workdir}/damaged.ozra"
        with open(path, "wb") as out:
            out.write(damaged)
        copies += 1
        try:
            walk(path)
        except OzraFormatError:
            format_errors += 1
        except Exception as error:
            failures += 1
            print(f"{description}: {type(error).__name__}: {error}")
    growth_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - baseline
    print(f"{copies} damaged copies of {len(data)} bytes: {format_errors} OzraFormatError, "
          f"{failures} other errors, peak memory growth {growth_kib} KiB")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3])))
