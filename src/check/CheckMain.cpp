// kv310-check: the check of a unit as a console program, for Windows consoles, which neither
// wait for the windowed kv310-test.exe nor give it their input.

#include "check/CheckCommandLine.h"

int main(int argc, char *argv[])
{
    const CommandMode mode = commandMode(argc, argv);
    return runConsoleCommand(mode == CommandMode::Window ? CommandMode::Check : mode, argc, argv);
}
