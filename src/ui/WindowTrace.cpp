#include "WindowTrace.h"

#include "MainWindow.h"
#include "link/LineTrace.h"
#include "link/MSComm.h"

#include <cstdio>

void traceWindowLine(MainWindow &window, const QString &optionFile)
{
    const QString file = LineTrace::chosenFile(optionFile);
    if (file.isEmpty())
        return;
    QString error;
    std::shared_ptr<LineTrace> trace = LineTrace::open(file, error);
    if (!trace) {
        std::fprintf(stderr, "kv310-test: %s; running without a trace\n", qPrintable(error));
        return;
    }
    window.findChild<MSComm *>(QStringLiteral("MSComm1"))->setTrace(std::move(trace));
}
