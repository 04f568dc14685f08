#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// Qt's standard options (-platform xcb, -style Fusion, -session id, ...), which QApplication
// takes from the command line itself. A program reads its own options without them, before any
// application object exists, so that its help, version and usage errors need no display.
namespace QtOptions
{

// One line for a program's --help.
inline const QString HelpLine =
    QStringLiteral("Qt's standard options, such as -platform, -style and -session, are accepted.");

// Parses a command line (the program's name first) for the program's own options, with Qt's
// options and their values taken out. Positional arguments are refused. A refused command line
// is told on standard error with the program's name, and false returned.
bool parseOwnOptions(QCommandLineParser &parser, const QStringList &arguments, const char *program);

} // namespace QtOptions
