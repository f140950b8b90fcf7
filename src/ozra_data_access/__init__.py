"""Fast, read-only access to LC-MS and DAD measurements stored in Ozra files.

Open a file with :class:`ozra_data_access.access.OzraFile` and walk it::

    from ozra_data_access.access import OzraFile

    with OzraFile("run.ozra") as f:
        m = f.get_measurement(0)
        a = m.get_qual_analysis(0)
        tic = a.get_tic(a.unique_acquisition_conditions[0])
"""

__version__ = "0.1.0"
