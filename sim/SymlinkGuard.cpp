#include "SymlinkGuard.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

SymlinkGuard::~SymlinkGuard()
{
    // Leave it alone if someone else has taken the name over since.
    if (!m_linkPath.isEmpty() && QFile::symLinkTarget(m_linkPath) == m_target)
        ::unlink(QFile::encodeName(m_linkPath).constData());
}

bool SymlinkGuard::create(const QString &linkPath, const QString &target)
{
    const QByteArray encodedLink = QFile::encodeName(linkPath);
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        ::unlink(encodedLink.constData());
    } else if (existing.exists()) {
        m_errorString = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
        return false;
    }
    if (::symlink(QFile::encodeName(target).constData(), encodedLink.constData()) != 0) {
        m_errorString = QStringLiteral("cannot create %1: %2")
                            .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_linkPath = linkPath;
    m_target = QFile::symLinkTarget(linkPath);
    return true;
}
