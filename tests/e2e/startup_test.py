"""The real vardelo.exe under Wine gets through its start-up (processor check, calibration, test
buffer, threads) to its window without an error box, shows the cache page first, and closing the
window ends it with exit code 0."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import EXE, TARGET, Program, check, lag, probe, wait_for  # noqa: E402


def main():
    if not os.path.exists(EXE):
        print("missing %s" % EXE)
        return 1
    lag("start")
    program = Program(os.path.join(TARGET, "e2e-startup"))
    try:
        if check.ok("the main window appears", program.window):
            # The monitor started before the window: the first tab it saw.
            tabs = wait_for(lambda: program.monitor.events("tab")[:1], 30)
            check.eq("the cache page is shown first", "0", tabs[0][2] if tabs else None)
            lag("close")
            probe("close")
            check.eq("closing ends the process with exit code 0", 0, program.wait_exit(60))
    finally:
        program.stop()
    print("startup test: %s" % ("passed" if check.failures == 0 else
                                "%d failures" % check.failures))
    return 0 if check.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
