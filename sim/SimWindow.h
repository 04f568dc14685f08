#pragma once

#include <QWidget>

class EventLogView;
class LcdPanel;
class PtyEndpoint;
class QLabel;
class Simulator;
struct DeviceEvent;

// The simulated unit on screen: its display, its keys, the line it is attached to and a log of
// the traffic.
class SimWindow : public QWidget
{
    Q_OBJECT

public:
    SimWindow(Simulator &simulator, const PtyEndpoint &endpoint, const QString &linkPath,
              QWidget *parent = nullptr);

private:
    void onEvent(const DeviceEvent &event);
    void onReplySent(quint8 byte);
    void showLineSpeed(int baud);
    void showKeys(quint8 keys);
    void refreshDisplay();

    Simulator &m_simulator;
    const PtyEndpoint &m_endpoint;
    const QString m_linkPath;
    LcdPanel *m_lcd = nullptr;
    QLabel *m_portLabel = nullptr;
    QLabel *m_keysLabel = nullptr;
    EventLogView *m_log = nullptr;
};
