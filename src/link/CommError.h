#pragma once

#include <QString>

#include <stdexcept>

// Error codes raised by the serial port component. The connection toggle tells the engineer about
// InvalidPortNumber and PortInUse; the others only need to differ from them.
namespace CommErrorCode
{
constexpr int InvalidPropertyValue = 380;
constexpr int InvalidPortNumber = 8002;
constexpr int PortInUse = 8005;
constexpr int CannotSetCommState = 8015;
constexpr int PortNotOpen = 8018;
constexpr int WriteFailed = 8021;
} // namespace CommErrorCode

// A failure of the serial port component: its numeric code and the system's reason.
class CommError : public std::runtime_error
{
public:
    CommError(int code, const QString &reason)
        : std::runtime_error(reason.toStdString()), m_code(code), m_reason(reason)
    {
    }

    int code() const noexcept { return m_code; }
    QString reason() const { return m_reason; }

private:
    int m_code;
    QString m_reason;
};
