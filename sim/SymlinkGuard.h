#pragma once

#include <QString>

// A symbolic link that exists for as long as this object does.
class SymlinkGuard
{
public:
    SymlinkGuard() = default;
    ~SymlinkGuard();
    SymlinkGuard(const SymlinkGuard &) = delete;
    SymlinkGuard &operator=(const SymlinkGuard &) = delete;

    // Replaces a symbolic link left at linkPath by an earlier run, but nothing else.
    bool create(const QString &linkPath, const QString &target);
    QString errorString() const { return m_errorString; }

private:
    QString m_linkPath;
    QString m_target;
    QString m_errorString;
};
