#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// One step of the check as the report gives it.
struct CheckStep {
    enum class Result { Pass, Fail, Skipped, NotJudged };

    QString name;
    Result result = Result::Skipped;
    QString detail;
    qint64 ms = 0;
};

// Incomplete: a test that a crash or a power cut ended, found afterwards.
enum class Verdict { Pass, Fail, Aborted, Error, Incomplete };

// Everything one check of one unit found: a line of the report.
struct CheckRecord {
    QString unit;
    QString port;   // as given
    QString device; // as opened
    int rate = 0;
    QDateTime started;
    QDateTime finished;
    QList<CheckStep> steps;
    Verdict verdict = Verdict::Error;
};

// The check's steps, reply, rest, display, key 1 .. key 6, all skipped.
QList<CheckStep> unstartedSteps();

QString resultName(CheckStep::Result result);
QString verdictName(Verdict verdict);

// The record as the report has it.
QJsonObject reportObject(const CheckRecord &record);
// The record as one line of JSON, without its line end.
QByteArray reportLine(const CheckRecord &record);
