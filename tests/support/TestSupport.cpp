#include "TestSupport.h"

#include "link/MSComm.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::check);
    m_timer.start(5);
}

void ModalWatcher::check()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenMessage seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton *button : box->buttons())
        seen.buttons.append(button->text());
    messages.append(seen);
    box->done(QMessageBox::Ok);
}

WindowHarness::WindowHarness() : m_line(std::make_unique<PtyPair>())
{
    m_hadCom1 = qEnvironmentVariableIsSet("KV310_COM1");
    m_previousCom1 = qgetenv("KV310_COM1");
    qputenv("KV310_COM1", m_line->slavePath().toLocal8Bit());
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

WindowHarness::~WindowHarness()
{
    m_window.reset();
    if (m_hadCom1)
        qputenv("KV310_COM1", m_previousCom1);
    else
        qunsetenv("KV310_COM1");
}

MSComm &WindowHarness::port() const
{
    return *m_window->findChild<MSComm *>(QStringLiteral("MSComm1"));
}

QPlainTextEdit &WindowHarness::log() const
{
    return *m_window->findChild<QPlainTextEdit *>(QStringLiteral("txtSent"));
}

QString WindowHarness::logText() const
{
    return log().toPlainText();
}

bool WindowHarness::click(const QString &name)
{
    auto *button = control<QAbstractButton>(name);
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

bool WindowHarness::openPort()
{
    click(QStringLiteral("cmdCom"));
    return port().PortOpen() && control<QPushButton>(QStringLiteral("cmdCom"))->text() ==
                                    QLatin1String("Close com port");
}

void WindowHarness::runEvents(int ms)
{
    QTest::qWait(ms);
}

QByteArray WindowHarness::wire(int quietMs)
{
    QByteArray bytes;
    QElapsedTimer quiet;
    quiet.start();
    QElapsedTimer total;
    total.start();
    while (quiet.elapsed() < quietMs && total.elapsed() < 60000) {
        QTest::qWait(2);
        const QByteArray more = m_line->readWaiting();
        if (!more.isEmpty()) {
            bytes += more;
            quiet.restart();
        }
    }
    return bytes;
}
