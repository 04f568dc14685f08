// Gathers the benchmarks' JSON documents and the machine's data into one document, and prints
// the figures as a table:
//   kv310-bench-report OUTPUT [KEY=VALUE]... -- BENCHMARK-FILE...
// A KEY starting "machine." goes into the document's "machine" object; KEY:=VALUE writes VALUE
// as a number. A benchmark file that is empty or no JSON document could not measure.
// Exit status 1 when a goal was missed or a benchmark could not measure.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

namespace
{

void print(const QString &line)
{
    std::puts(qUtf8Printable(line));
}

QString valueText(const QJsonObject &figure)
{
    return QString::number(figure["value"].toDouble(), 'f', figure["decimals"].toInt()) + ' ' +
           figure["unit"].toString();
}

void printTable(const QJsonArray &figures)
{
    QList<QStringList> rows{{"Section", "Figure", "Value", "Goal", "Result"}};
    for (const QJsonValue &value : figures) {
        const QJsonObject figure = value.toObject();
        const QJsonValue pass = figure["pass"];
        rows.append({figure["section"].toString(), figure["name"].toString(), valueText(figure),
                     figure["goal"].toString(),
                     pass.isNull()   ? QString()
                     : pass.toBool() ? "pass"
                                     : "FAIL"});
    }
    QList<int> widths(5, 0);
    for (const QStringList &row : rows) {
        for (int column = 0; column < 5; ++column)
            widths[column] = qMax(widths[column], int(row[column].size()));
    }
    const auto line = [&widths](const QStringList &cells) {
        QString text = "|";
        for (int column = 0; column < 5; ++column) {
            const int width = widths[column];
            text += ' ' +
                    (column == 2 ? cells[column].rightJustified(width)
                                 : cells[column].leftJustified(width)) +
                    " |";
        }
        return text;
    };
    print(line(rows[0]));
    QString rule = "|";
    for (int column = 0; column < 5; ++column)
        rule += QString(widths[column] + 1, '-') + (column == 2 ? ':' : '-') + '|';
    print(rule);
    for (qsizetype row = 1; row < rows.size(); ++row)
        print(line(rows[row]));
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    const qsizetype files = arguments.indexOf("--");
    if (arguments.size() < 2 || files < 1) {
        std::fprintf(stderr, "usage: kv310-bench-report OUTPUT [KEY=VALUE]... -- FILE...\n");
        return 2;
    }
    QJsonObject document;
    QJsonObject machine;
    for (const QString &setting : arguments.mid(1, files - 1)) {
        QString key = setting.section('=', 0, 0);
        const QString text = setting.section('=', 1);
        const bool number = key.endsWith(':');
        if (number)
            key.chop(1);
        const QJsonValue value = number ? QJsonValue(text.toDouble()) : QJsonValue(text);
        if (key.startsWith("machine."))
            machine[key.mid(8)] = value;
        else
            document[key] = value;
    }
    document["machine"] = machine;

    QJsonArray figures;
    QJsonArray series;
    QJsonArray couldNotMeasure;
    bool allMet = true;
    for (const QString &path : arguments.mid(files + 1)) {
        QFile file(path);
        const QJsonDocument results =
            QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : "");
        if (!results.isObject()) {
            couldNotMeasure.append(QFileInfo(path).completeBaseName());
            continue;
        }
        for (const QJsonValue figure : results["figures"].toArray()) {
            figures.append(figure);
            allMet = allMet && figure["pass"].toBool(true);
        }
        for (const QJsonValue one : results["series"].toArray())
            series.append(one);
    }
    document["figures"] = figures;
    document["series"] = series;
    document["could_not_measure"] = couldNotMeasure;
    document["all_goals_met"] = allMet && couldNotMeasure.isEmpty();

    QFile output(arguments[0]);
    if (!output.open(QIODevice::WriteOnly) || output.write(QJsonDocument(document).toJson()) < 0) {
        std::fprintf(stderr, "kv310-bench-report: cannot write %s\n", qPrintable(arguments[0]));
        return 2;
    }

    print(
        QStringLiteral("KV310 benchmarks, %1, %2 cores (%3), load average %4 before and %5 after\n")
            .arg(document["date"].toString())
            .arg(machine["cores"].toInt())
            .arg(machine["cpu"].toString(), machine["load_before"].toString(),
                 machine["load_after"].toString()));
    printTable(figures);
    print(QString());
    for (const QJsonValue value : series) {
        QStringList values;
        for (const QJsonValue number : value["values"].toArray())
            values << QString::number(number.toDouble(), 'f', value["decimals"].toInt());
        print(QStringLiteral("%1, %2 (%3): %4")
                  .arg(value["section"].toString(), value["name"].toString(),
                       value["unit"].toString(), values.join(' ')));
    }
    for (const QJsonValue name : couldNotMeasure)
        print(name.toString() + " could not measure: its figures are missing");
    print(document["all_goals_met"].toBool() ? "Every goal was met." : "Some goals were missed.");
    return document["all_goals_met"].toBool() ? 0 : 1;
}
