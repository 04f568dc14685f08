#pragma once

#include <QString>
#include <QStringList>

// Qt's standard options (-platform xcb, -style Fusion, -session id, ...), which QApplication
// takes from the command line itself. A program reads its own options without them, before any
// application object exists, so that its help, version and usage errors need no display.
namespace QtOptions
{

// One line for a program's --help.
inline const QString HelpLine =
    QStringLiteral("Qt's standard options, such as -platform, -style and -session, are accepted.");

// Copies a command line into own without Qt's options and their values. Returns why it cannot
// (an option of Qt's without its value), or an empty text.
QString takeOut(const QStringList &arguments, QStringList &own);

} // namespace QtOptions
