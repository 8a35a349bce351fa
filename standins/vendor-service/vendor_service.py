#!/usr/bin/env python3
"""Stand-in vendor service: python3 vendor_service.py --data DIR [--port N] (see run.sh)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from vendorsvc.server import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
