"""The failures of an export, each naming the file and what is wrong."""

#: What to do when a library of the export is missing.
INSTALL_EXPORT = "pip install 'ozra_data_access[export]'"


class ExportError(Exception):
    """A run that cannot be exported as asked."""


class TargetExistsError(ExportError, FileExistsError):
    """The export target exists and replacing it was not asked for."""
