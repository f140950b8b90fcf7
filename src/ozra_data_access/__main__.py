"""`python -m ozra_data_access`: the `ozra` command."""

from ozra_data_access.cli import main

raise SystemExit(main())
