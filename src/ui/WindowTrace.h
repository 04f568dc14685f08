#pragma once

#include <QString>

class MainWindow;

// Traces the window's line to the file of the --trace option (optionFile), else of KV310_TRACE.
// A file that cannot be opened is told on standard error and the window runs on without a trace:
// the window has no box for it, and the engineer still wants to test the unit.
void traceWindowLine(MainWindow &window, const QString &optionFile);
