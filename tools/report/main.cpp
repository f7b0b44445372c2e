// zentrel-report: statistics and charts of journal and cell-record files,
// for the quality engineer.
//   zentrel-report [--from DATE] [--to DATE] [--csv FILE] [--json FILE]
//                  [--pdf FILE] [--png PREFIX] FILE|FOLDER...
#include "report/reportdata.h"
#include "report/reportpages.h"
#include "settings/language.h"
#include "storage/textfile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "zentrel-report: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char *argv[])
{
    // Charts are drawn offscreen: no window, no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentrel-report"));
    QApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Statistics and charts of Zentrel's readings-*.csv and cells-*.csv files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption fromOpt("from", "First day to read (YYYY-MM-DD).", "date");
    const QCommandLineOption toOpt("to", "Last day to read (YYYY-MM-DD).", "date");
    const QCommandLineOption csvOpt("csv", "Write the table as CSV to this file.", "file");
    const QCommandLineOption jsonOpt("json", "Write the table as JSON to this file (- for standard output).", "file");
    const QCommandLineOption pdfOpt("pdf", "Write the report as a PDF (A4).", "file");
    const QCommandLineOption pngOpt("png", "Write the report's pages as PREFIX-1.png, PREFIX-2.png, ...", "prefix");
    parser.addOptions({fromOpt, toOpt, csvOpt, jsonOpt, pdfOpt, pngOpt});
    const QCommandLineOption langOpt("lang", "The language of the output: zh_CN (default) or en.", "en|zh_CN", "zh_CN");
    parser.addOption(langOpt);
    parser.addPositionalArgument("paths", "Files or folders (searched for readings-*.csv and cells-*.csv).", "FILE|FOLDER...");
    parser.process(app);
    if (!language::installFromOption(QStringLiteral("zentrel-report"), parser.value(langOpt)))
        return 2;

    report::Options options;
    for (const auto &[opt, date] : {std::pair<const QCommandLineOption &, QDate *>(fromOpt, &options.from),
                                    std::pair<const QCommandLineOption &, QDate *>(toOpt, &options.to)}) {
        if (!parser.isSet(opt))
            continue;
        *date = QDate::fromString(parser.value(opt), Qt::ISODate);
        if (!date->isValid()) {
            say(QStringLiteral("--%1 %2 is not a date (YYYY-MM-DD)").arg(opt.names().first(), parser.value(opt)));
            return 2;
        }
    }
    if (options.from.isValid() && options.to.isValid() && options.from > options.to) {
        say(QStringLiteral("--from %1 is after --to %2: the range is empty")
                .arg(options.from.toString(Qt::ISODate), options.to.toString(Qt::ISODate)));
        return 2;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        say(QStringLiteral("name files or folders to read (--help)"));
        return 2;
    }

    report::Collector collector(options);
    QStringList problems;
    const QStringList files = collector.findFiles(paths, &problems);
    for (const QString &p : problems)
        say(p);
    if (files.isEmpty()) {
        say(QStringLiteral("no readings-*.csv or cells-*.csv in %1").arg(paths.join(QStringLiteral(", "))));
        return 2;
    }
    int status = 0;
    // One progress line that updates, on a terminal only.
    const bool tty = isatty(2);
    QElapsedTimer shown;
    shown.start();
    for (const QString &file : files) {
        QString error;
        const bool ok = collector.read(file, &error, [&](qint64 lines) {
            if (tty && shown.elapsed() > 200) {
                std::fprintf(stderr, "\r%s", qPrintable(QCoreApplication::translate("Report", "读取中：%1 行…").arg(lines)));
                shown.restart();
            }
        });
        if (!ok) {
            say(error);
            status = 1;
        }
    }
    if (tty)
        std::fprintf(stderr, "\r%40s\r", "");
    collector.finish();
    const QVector<report::Group> groups = collector.groups();

    report::Summary summary;
    summary.files = files;
    summary.lines = collector.lines();
    summary.skipped = collector.skipped();
    summary.limitsChanged = collector.limitsChanged();
    std::printf("%s\n", qPrintable(QCoreApplication::translate("Report", "%1 个文件，%2 行，跳过 %3 行（格式不对或断行）")
                                       .arg(files.size()).arg(summary.lines).arg(summary.skipped)));
    if (summary.limitsChanged)
        std::printf("%s\n", qPrintable(QCoreApplication::translate("Report", "限值在数据中改变过：每段限值单独统计。")));
    std::printf("%s", qPrintable(report::tableText(groups)));

    QString error;
    if (parser.isSet(csvOpt) && !saveUtf8TextFile(parser.value(csvOpt), report::tableCsv(groups), &error)) {
        say(QStringLiteral("%1: %2").arg(parser.value(csvOpt), error));
        status = 1;
    }
    if (parser.isSet(jsonOpt)) {
        const QByteArray json = report::tableJson(groups, summary.lines, summary.skipped);
        if (parser.value(jsonOpt) == QLatin1String("-"))
            std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        else if (!saveFileAtomically(parser.value(jsonOpt), json, &error)) {
            say(QStringLiteral("%1: %2").arg(parser.value(jsonOpt), error));
            status = 1;
        }
    }
    const report::Pages pages(summary, groups, collector.charts());
    if (parser.isSet(pdfOpt) && !pages.writePdf(parser.value(pdfOpt), &error)) {
        say(QStringLiteral("%1: %2").arg(parser.value(pdfOpt), error));
        status = 1;
    }
    if (parser.isSet(pngOpt) && !pages.writePngs(parser.value(pngOpt), &error)) {
        say(QStringLiteral("%1: %2").arg(parser.value(pngOpt), error));
        status = 1;
    }
    return status;
}
