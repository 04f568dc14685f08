#pragma once

#include <QString>

namespace AppInfo
{
// The maker's web address: a heading of the window and the first line of the banner, which
// must fill the display's 16 columns exactly.
inline const QString WebAddress = QStringLiteral("www.veltorlcd.eu");
inline const QString Copyright = QStringLiteral("Copyright (c) 2026 Veltor Ltd");
inline const QString Heading = QStringLiteral("Serial LCD test utility program");
inline const QString WindowCaption = QStringLiteral("Veltor Serial LCD test utility");
// The title of message boxes.
inline const QString ApplicationTitle = QStringLiteral("KV310 test");
} // namespace AppInfo
