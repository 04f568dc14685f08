#include "SimWindow.h"

#include "EventLogView.h"
#include "KeyPanel.h"
#include "LcdPanel.h"
#include "PtyEndpoint.h"
#include "Simulator.h"

#include <QLabel>
#include <QTime>
#include <QVBoxLayout>

namespace
{

// The log stays readable during a flood of text; the full bytes are not needed there.
constexpr qsizetype MaxLoggedBytes = 24;
constexpr qsizetype MaxLoggedDescription = 80;

QString logLine(const QString &direction, const QByteArray &bytes, const QString &description)
{
    QString hex = hexBytes(bytes.left(MaxLoggedBytes));
    if (bytes.size() > MaxLoggedBytes)
        hex += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    QString line =
        QStringLiteral("%1  %2 %3")
            .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), direction, hex);
    if (!description.isEmpty()) {
        line += QStringLiteral("  ") + description.left(MaxLoggedDescription);
        if (description.size() > MaxLoggedDescription)
            line += QStringLiteral("...");
    }
    return line;
}

} // namespace

SimWindow::SimWindow(Simulator &simulator, const PtyEndpoint &endpoint, const QString &linkPath,
                     QWidget *parent)
    : QWidget(parent), m_simulator(simulator), m_endpoint(endpoint), m_linkPath(linkPath)
{
    setWindowTitle(tr("KV310 simulator"));

    m_lcd = new LcdPanel(this);
    auto *keys = new KeyPanel(this);
    m_portLabel = new QLabel(this);
    m_portLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_keysLabel = new QLabel(this);
    m_log = new EventLogView(this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lcd);
    layout->addWidget(keys);
    layout->addWidget(m_portLabel);
    layout->addWidget(m_keysLabel);
    layout->addWidget(m_log, 1);

    connect(keys, &KeyPanel::keysChanged, &m_simulator, &Simulator::setKeys);
    connect(&m_simulator, &Simulator::keysChanged, this, &SimWindow::showKeys);
    connect(&m_simulator, &Simulator::eventHandled, this, &SimWindow::onEvent);
    connect(&m_simulator, &Simulator::replySent, this, &SimWindow::onReplySent);
    connect(&m_endpoint, &PtyEndpoint::lineSpeedChanged, this, &SimWindow::showLineSpeed);

    showLineSpeed(m_endpoint.lineSpeed());
    showKeys(m_simulator.model().keys());
    refreshDisplay();
    resize(720, 560);
}

void SimWindow::onEvent(const DeviceEvent &event)
{
    m_log->appendLine(logLine(QStringLiteral("rx"), event.bytes, event.description()));
    // The cursor may have moved even when no character did.
    refreshDisplay();
}

void SimWindow::onReplySent(quint8 byte)
{
    m_log->appendLine(logLine(QStringLiteral("tx"), QByteArray(1, static_cast<char>(byte)),
                              QStringLiteral("key status")));
}

void SimWindow::showLineSpeed(int baud)
{
    QString text = tr("Port: %1").arg(m_endpoint.slavePath());
    if (!m_linkPath.isEmpty())
        text += tr(" (link %1)").arg(m_linkPath);
    text += baud > 0 ? tr("    Line: %1 baud, 8N1").arg(baud) : tr("    Line: speed not set");
    if (m_endpoint.pacing() == PtyEndpoint::Pacing::Off)
        text += tr(", not paced");
    m_portLabel->setText(text);
}

void SimWindow::showKeys(quint8 keys)
{
    m_keysLabel->setText(tr("Key status byte: %1").arg(hexBytes(QByteArray(1, char(keys)))));
}

void SimWindow::refreshDisplay()
{
    const DeviceModel &model = m_simulator.model();
    m_lcd->setContent(model.lines(), model.cursorLine(), model.cursorColumn());
}
