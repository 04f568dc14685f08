#include "CheckReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString resultName(CheckStep::Result result)
{
    switch (result) {
    case CheckStep::Result::Pass:
        return QStringLiteral("pass");
    case CheckStep::Result::Fail:
        return QStringLiteral("fail");
    case CheckStep::Result::NotJudged:
        return QStringLiteral("not judged");
    case CheckStep::Result::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

QString verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("pass");
    case Verdict::Fail:
        return QStringLiteral("fail");
    case Verdict::Aborted:
        return QStringLiteral("aborted");
    case Verdict::Incomplete:
        return QStringLiteral("incomplete");
    case Verdict::Error:
        break;
    }
    return QStringLiteral("error");
}

QJsonObject reportObject(const CheckRecord &record)
{
    QJsonArray steps;
    for (const CheckStep &step : record.steps)
        steps.append(QJsonObject{{QStringLiteral("name"), step.name},
                                 {QStringLiteral("result"), resultName(step.result)},
                                 {QStringLiteral("detail"), step.detail},
                                 {QStringLiteral("ms"), step.ms}});
    const QJsonObject line{
        {QStringLiteral("tool"), QStringLiteral("kv310-test")},
        {QStringLiteral("version"), QStringLiteral(KV310_VERSION)},
        {QStringLiteral("unit"), record.unit},
        {QStringLiteral("port"), record.port},
        {QStringLiteral("device"), record.device},
        {QStringLiteral("rate"), record.rate},
        {QStringLiteral("started"), record.started.toString(Qt::ISODateWithMs)},
        {QStringLiteral("finished"), record.finished.toString(Qt::ISODateWithMs)},
        {QStringLiteral("steps"), steps},
        {QStringLiteral("verdict"), verdictName(record.verdict)},
    };
    return line;
}

QByteArray reportLine(const CheckRecord &record)
{
    return QJsonDocument(reportObject(record)).toJson(QJsonDocument::Compact);
}
