#include "LineSession.h"

#include "CheckOperator.h"
#include "link/MSComm.h"

#include <QEventLoop>
#include <QTimer>

LineSession::LineSession(MSComm &port, CheckOperator &checkOperator, QObject *parent)
    : QObject(parent), m_port(port), m_operator(checkOperator)
{
    connect(&m_operator, &CheckOperator::woken, this, &LineSession::woken);
}

void LineSession::stop(int signalNumber)
{
    if (m_stopSignal == 0)
        m_stopSignal = signalNumber;
    emit woken();
}

void LineSession::waitFor(qint64 ms)
{
    if (m_stopSignal == 0 && ms > 0) {
        QEventLoop loop;
        connect(&m_port, &MSComm::OnComm, &loop, &QEventLoop::quit);
        connect(this, &LineSession::woken, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (m_stopSignal != 0)
        throw Stopped{};
}

std::optional<QString> LineSession::nextAnswer()
{
    std::optional<QString> answer;
    while (!(answer = m_operator.takeAnswer()) && !m_operator.inputEnded())
        waitFor(60000);
    return answer;
}

bool isYes(const std::optional<QString> &answer)
{
    const QString word = answer.value_or(QString()).toLower();
    return word == QLatin1String("y") || word == QLatin1String("yes");
}
