#!/usr/bin/env python3
"""The built game where it really runs, one tier a file; run a group by its class name:
  window_test.py --game ... --source ... RealWindow
The tiers: x11_tests (RealWindow, TakenAway, Screens, Installed, NoDisplay), wayland_tests
(Wayland), debian_tests (Packaged), wine_tests (Wine, WineScreens, WineNarrow),
windows_packages_tests (WinePackages); what they share is in harness.py."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from debian_tests import *  # noqa: E402,F401,F403
from wayland_tests import *  # noqa: E402,F401,F403
from windows_packages_tests import *  # noqa: E402,F401,F403
from wine_tests import *  # noqa: E402,F401,F403
from x11_tests import *  # noqa: E402,F401,F403

if __name__ == "__main__":
    harness.run()
