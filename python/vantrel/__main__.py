import sys

from vantrel.cli import main

sys.exit(main())
