#pragma once

#include "DeviceModel.h"

#include <QObject>

class PtyEndpoint;

// Runs the unit on a line: what arrives is fed to the model, and its replies go back out.
class Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Simulator(PtyEndpoint &endpoint, QObject *parent = nullptr);

    const DeviceModel &model() const { return m_model; }
    void setKeys(quint8 keys);
    void setMuted(bool muted) { m_model.setMuted(muted); }
    void setStuckKeys(quint8 keys) { m_model.setStuckKeys(keys); }

signals:
    void eventHandled(const DeviceEvent &event);
    void replySent(quint8 byte);
    void keysChanged(quint8 keys);

private:
    void onReceived(const QByteArray &bytes);

    PtyEndpoint &m_endpoint;
    DeviceModel m_model;
};
