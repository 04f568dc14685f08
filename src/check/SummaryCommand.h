#pragma once

// kv310-test --summary FILE [--json]: prints the figures of every record in the file, as text or
// as one JSON object. Returns 0, 2 for a usage error, 4 when the file cannot be read.
int runSummaryCommand(int argc, char *argv[]);
