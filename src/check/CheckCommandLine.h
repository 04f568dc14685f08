#pragma once

// Whether the arguments ask for the check of a unit (--check) rather than the window.
bool asksForCheck(int argc, char *argv[]);

// kv310-test --check [options]: checks one unit without a window and returns the exit status:
// 0 passed, 1 failed a step, 2 usage error, 3 port not opened, 128 + the signal when stopped.
int runCheckCommand(int argc, char *argv[]);
