#include "Simulator.h"

#include "PtyEndpoint.h"

Simulator::Simulator(PtyEndpoint &endpoint, QObject *parent) : QObject(parent), m_endpoint(endpoint)
{
    connect(&m_endpoint, &PtyEndpoint::received, this, &Simulator::onReceived);
    connect(&m_endpoint, &PtyEndpoint::sent, this, [this](const QByteArray &bytes) {
        for (const char byte : bytes)
            emit replySent(static_cast<quint8>(byte));
    });
}

void Simulator::setKeys(quint8 keys)
{
    const quint8 before = m_model.keys();
    m_model.setKeys(keys);
    if (m_model.keys() != before)
        emit keysChanged(m_model.keys());
}

void Simulator::onReceived(const QByteArray &bytes)
{
    for (const DeviceEvent &event : m_model.feed(bytes)) {
        emit eventHandled(event);
        m_endpoint.send(event.reply);
    }
}
