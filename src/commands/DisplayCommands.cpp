#include "DisplayCommands.h"

#include "Pause.h"
#include "common/AppInfo.h"

#include <QVector>

#include <chrono>

namespace
{

constexpr int RipplePassLength = 17;
constexpr std::chrono::milliseconds RipplePause{100};
const QByteArray BannerSecondLine = QByteArrayLiteral("  Test utility");

} // namespace

QByteArray clearCommand()
{
    return QByteArray(1, DeviceCode::Clear);
}

QByteArray homeCommand()
{
    return QByteArray{} + DeviceCode::Prefix + DeviceCode::HomeCode;
}

QByteArray newLineCommand()
{
    return QByteArray(1, DeviceCode::NewLine);
}

QByteArray bannerCommand()
{
    return clearCommand() + AppInfo::WebAddress.toLatin1() + newLineCommand() + BannerSecondLine;
}

namespace
{

// The bytes typed text stands for: each character's code, or '?' where it has no 8-bit code.
QByteArray deviceStringFromText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4())
        bytes += codePoint <= 0xFF ? char(codePoint) : '?';
    return bytes;
}

// One write of the ripple, and whether the ripple pauses after it.
struct RippleStep {
    QByteArray bytes;
    bool pauseAfter = false;
};

// Fills both lines with blocks one position at a time, then blanks them the same way.
QVector<RippleStep> rippleSteps()
{
    QVector<RippleStep> steps;
    const auto pass = [&steps](char character) {
        for (int position = 0; position < RipplePassLength; ++position)
            steps.append({QByteArray(1, character), true});
    };
    steps.append({clearCommand(), false});
    pass(DeviceCode::Block);
    steps.append({newLineCommand(), false});
    pass(DeviceCode::Block);
    steps.append({homeCommand(), false});
    pass(DeviceCode::Space);
    steps.append({newLineCommand(), false});
    pass(DeviceCode::Space);
    steps.append({homeCommand(), false});
    return steps;
}

} // namespace

void sendDisplayCommand(bool &bPolling, const DeviceSender &send, const QByteArray &command)
{
    bPolling = false;
    send(command);
}

void sendText(bool &bPolling, const DeviceSender &send, const QString &text)
{
    bPolling = false;
    if (text.isEmpty())
        return;
    send(deviceStringFromText(text));
}

void ripple(bool &bPolling, const DeviceSender &send, Pause &pause)
{
    bPolling = false;
    for (const RippleStep &step : rippleSteps()) {
        send(step.bytes);
        if (step.pauseAfter && !pause.wait(RipplePause))
            return;
    }
}
