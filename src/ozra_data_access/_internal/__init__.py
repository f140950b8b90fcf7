"""The storage layer: the Ozra file reader and the records it produces."""
