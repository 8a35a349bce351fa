#!/usr/bin/env python3
"""Stand-in vendor service: python3 vendor_service.py --data DIR [--port N] (see run.sh), or
python3 vendor_service.py publish DATA_DIR x86|x64 VERSION_TEXT to publish a new build."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from vendorsvc.server import main  # noqa: E402
from vendorsvc.updates import publish_main  # noqa: E402

if __name__ == "__main__":
    if sys.argv[1:2] == ["publish"]:
        sys.exit(publish_main(sys.argv[2:]))
    sys.exit(main())
