// zentrel-report: statistics and charts of journal and cell-record files,
// for the quality engineer.
//   zentrel-report [--from DATE] [--to DATE] [--station NAME]... [--lot NAME]...
//                  [--csv FILE] [--json FILE] [--signals FILE] [--pdf FILE] [--png PREFIX]
//                  [--paper a4|letter] [--no-control-charts]
//                  FILE|FOLDER... | --db CONNINFO
#include "report/reportdata.h"
#include "platform/regularfile.h"
#include "plantdb/reportdb.h"
#include "report/pages/reportpages.h"
#include "settings/commandline.h"
#include "settings/language.h"
#include "storage/textfile.h"
#include "storage/xlsx/workbook.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>

#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "zentrel-report: %s\n", qPrintable(text));
}

// The files' groups and charts; 2 when there are none, 1 when one could not
// be read.
// The gap audit: one line per run of missing lines; status 3 when any.
int listGaps(const QString &conninfo, const report::Options &options)
{
    QVector<report::LineGap> gaps;
    QString where, error;
    if (!report::readGaps(conninfo, options, &gaps, &where, &error)) {
        say(error);
        return 1;
    }
    qint64 missing = 0;
    for (const report::LineGap &g : qAsConst(gaps)) {
        missing += g.last - g.first + 1;
        std::printf("%s\t%s\t%s\t%lld-%lld\n", qPrintable(g.station), qPrintable(g.stream), qPrintable(g.day), g.first, g.last);
    }
    std::fprintf(stderr, "%s\n", qPrintable(QCoreApplication::translate("Report", "数据库 %1：缺 %2 行（%3 段）")
                                                  .arg(where).arg(missing).arg(gaps.size())));
    return gaps.isEmpty() ? 0 : 3;
}

// human: where the lines for a person go (standard error when standard
// output carries the JSON).
int readFiles(const report::Options &options, const QStringList &paths, int jobs, report::Summary *summary,
              QVector<report::Group> *groups, report::Charts *charts, FILE *human)
{
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
    for (const QString &file : collector.voidFiles(paths))
        collector.noteVoids(file);
    QStringList errors;
    if (!collector.readAll(files, jobs, &errors, [&](qint64 lines) {
            if (tty && shown.elapsed() > 200) {
                std::fprintf(stderr, "\r%s", qPrintable(QCoreApplication::translate("Report", "读取中：%1 行…").arg(lines)));
                shown.restart();
            }
        })) {
        for (const QString &error : qAsConst(errors))
            say(error);
        summary->unread << errors;
        status = 1;
    }
    if (tty)
        std::fprintf(stderr, "\r%40s\r", "");
    *groups = collector.groups();
    *charts = collector.charts(*groups);
    summary->files = collector.used();
    summary->lines = collector.lines();
    summary->skipped = collector.skipped();
    summary->k = collector.kGroups();
    std::fprintf(human, "%s\n", qPrintable(QCoreApplication::translate("Report", "%n 个文件，%1 行，跳过 %2 行（格式不对或断行）", nullptr,
                                                                           int(summary->files.size()))
                                       .arg(summary->lines).arg(summary->skipped)));
    return status;
}

struct Outputs
{
    QString csv, json, signals_, pdf, png, xlsx; // empty: not asked for
};

bool write(const Outputs &to, const report::Summary &summary, const QVector<report::Group> &groups, const report::Charts &charts)
{
    // The text files on a thread of their own while the pages are drawn
    // (drawing needs this one); what failed said after, in this order.
    QStringList failures;
    auto failed = [](QStringList &into, const QString &path, const QString &error) {
        into << (error.contains(path) ? error : QStringLiteral("%1: %2").arg(path, error)); // the path once
    };
    QStringList textFailures;
    std::thread texts([&] {
        QString error;
        if (!to.csv.isEmpty() && !saveUtf8TextFile(to.csv, report::tableCsv(groups), &error))
            failed(textFailures, to.csv, error);
        if (!to.signals_.isEmpty() && !saveUtf8TextFile(to.signals_, report::signalsCsv(groups), &error))
            failed(textFailures, to.signals_, error);
        if (!to.xlsx.isEmpty() && !writeWorkbook(to.xlsx, QStringLiteral("zentrel"), report::tableColumns(), report::tableRows(groups), &error))
            failed(textFailures, to.xlsx, error);
        if (!to.json.isEmpty()) {
            const QByteArray json =
                report::tableJson(groups, summary.lines, summary.skipped, summary.asked.controlCharts, summary.k, summary.until);
            if (to.json == QLatin1String("-"))
                print(stdout, json);
            else if (!saveFileAtomically(to.json, json, &error))
                failed(textFailures, to.json, error);
        }
    });
    QString error;
    if (!to.pdf.isEmpty() || !to.png.isEmpty()) {
        const report::Pages pages(summary, groups, charts);
        if (!to.pdf.isEmpty() && !pages.writePdf(to.pdf, &error))
            failed(failures, to.pdf, error);
        if (!to.png.isEmpty() && !pages.writePngs(to.png, &error))
            failed(failures, to.png, error);
    }
    texts.join();
    for (const QString &f : textFailures + failures)
        say(f);
    return textFailures.isEmpty() && failures.isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    // Charts are drawn offscreen: no window, no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentrel-report"));
    QApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Statistics and charts of Zentrel's readings-*.csv and cells-*.csv files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption fromOpt("from", "First day to read (YYYY-MM-DD).", "date");
    const QCommandLineOption toOpt("to", "Last day to read (YYYY-MM-DD).", "date");
    const QCommandLineOption tzOpt("tz", "The time zone --from and --to are days of (an IANA name such as Asia/Shanghai, "
                                         "or UTC+08:00); the report machine's own when not given.", "zone");
    const QCommandLineOption csvOpt("csv", "Write the table as CSV to this file.", "file");
    const QCommandLineOption jsonOpt("json", "Write the table as JSON to this file (- for standard output).", "file");
    const QCommandLineOption signalsOpt("signals", "Write the control charts' signals as CSV to this file.", "file");
    const QCommandLineOption xlsxOpt("xlsx", "Write the table as an Excel workbook (.xlsx) to this file.", "file");
    const QCommandLineOption noChartsOpt("no-control-charts",
                                         "No control charts: the table and the other charts only (the database report then "
                                         "reads only its sums, not every reading).");
    const QCommandLineOption pdfOpt("pdf", "Write the report as a PDF.", "file");
    const QCommandLineOption paperOpt("paper", "The pages' paper: a4 (default) or letter.", "a4|letter", "a4");
    const QCommandLineOption pngOpt("png", "Write the report's pages as PREFIX-1.png, PREFIX-2.png, ...", "prefix");
    const QCommandLineOption stationOpt("station", "Only this station (may be given more than once).", "name");
    const QCommandLineOption lotOpt("lot", "Only cell records of this lot (may be given more than once).", "name");
    const QCommandLineOption dbOpt("db", "Read the plant database that zentrel-ingest fills instead of files "
                                         "(libpq's connection string, e.g. postgresql://user@host:5432/plant).", "conninfo");
    const QCommandLineOption gapsOpt("gaps", "With --db: list the lines of the stations' files the database lacks "
                                             "(per station, stream and day; --station, --from and --to narrow it) and exit "
                                             "(status 3 when there are any).");
    parser.addOptions({fromOpt, toOpt, tzOpt, stationOpt, lotOpt, csvOpt, xlsxOpt, jsonOpt, signalsOpt, noChartsOpt, pdfOpt, pngOpt, paperOpt, dbOpt, gapsOpt});
    const QCommandLineOption langOpt("lang", "The language of the output: zh_CN (default) or en.", "en|zh_CN", "zh_CN");
    parser.addOption(langOpt);
    const QCommandLineOption jobsOpt("jobs", "Files read on this many threads at once (default: one per core).", "n", "0");
    parser.addOption(jobsOpt);
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
    if (parser.isSet(tzOpt)) {
        options.zone = QTimeZone(parser.value(tzOpt).toUtf8());
        if (!options.zone.isValid()) {
            say(QStringLiteral("--tz %1 is no time zone (an IANA name such as Asia/Shanghai, or UTC+08:00)").arg(parser.value(tzOpt)));
            return 2;
        }
    }
    if (options.from.isValid() && options.to.isValid() && options.from > options.to) {
        say(QStringLiteral("--from %1 is after --to %2: the range is empty")
                .arg(options.from.toString(Qt::ISODate), options.to.toString(Qt::ISODate)));
        return 2;
    }
    options.stations = parser.values(stationOpt);
    options.lots = parser.values(lotOpt);
    options.controlCharts = !parser.isSet(noChartsOpt);
    bool jobsOk = false;
    const int jobs = parser.value(jobsOpt).toInt(&jobsOk);
    if (!jobsOk || jobs < 0) {
        say(QStringLiteral("--jobs %1: say how many threads (1 or more; 0: one per core)").arg(parser.value(jobsOpt)));
        return 2;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty() == !parser.isSet(dbOpt)) {
        say(paths.isEmpty() ? QStringLiteral("name files or folders to read, or --db (--help)")
                            : QStringLiteral("--db reads the database: name no files with it"));
        return 2;
    }
    if (parser.isSet(gapsOpt)) {
        if (!parser.isSet(dbOpt)) {
            say(QStringLiteral("--gaps reads the database: give --db"));
            return 2;
        }
        return listGaps(parser.value(dbOpt), options);
    }
    // --json -: standard output is the JSON alone, a person's lines go to standard error.
    FILE *human = parser.value(jsonOpt) == QLatin1String("-") ? stderr : stdout;
    report::Summary summary;
    summary.asked = options;
    const QString paper = parser.value(paperOpt).toLower();
    if (paper != QLatin1String("a4") && paper != QLatin1String("letter")) {
        say(QStringLiteral("--paper %1: say a4 or letter").arg(parser.value(paperOpt)));
        return 2;
    }
    summary.paper = paper == QLatin1String("letter") ? QPageSize::Letter : QPageSize::A4;
    QVector<report::Group> groups;
    report::Charts charts;
    int status = 0;
    if (parser.isSet(dbOpt)) {
        report::DatabaseReport data;
        QString error;
        if (!report::readDatabase(parser.value(dbOpt), options, &data, &error)) {
            say(error);
            return 1;
        }
        summary.database = data.where;
        summary.until = data.until;
        summary.lines = data.lines;
        summary.skipped = data.skipped;
        groups = data.groups;
        charts = data.charts;
        summary.k = data.k;
        std::fprintf(human, "%s\n", qPrintable(QCoreApplication::translate("Report", "数据库 %1，%2 行，跳过 %3 行（超出量程）")
                                           .arg(data.where).arg(summary.lines).arg(summary.skipped)));
        if (data.until.isValid()) // a standby may lag behind the plant
            std::fprintf(human, "%s\n", qPrintable(QCoreApplication::translate("Report", "数据截至 %1（采集程序最后一次提交）")
                                                       .arg(data.until.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))));
    } else {
        const int read = readFiles(options, paths, jobs, &summary, &groups, &charts, human);
        if (read == 2)
            return 2;
        status = read;
    }
    summary.limitsChanged = report::limitsChanged(groups);
    if (summary.limitsChanged)
        std::fprintf(human, "%s\n", qPrintable(QCoreApplication::translate("Report", "限值在数据中改变过：每段限值单独统计。")));
    print(human, report::yieldsText(report::yields(groups)).toLocal8Bit());
    print(human, report::tableText(groups).toLocal8Bit());
    print(human, report::kText(summary.k).toLocal8Bit());
    const Outputs to{parser.value(csvOpt),   parser.value(jsonOpt), parser.value(signalsOpt),
                     parser.value(pdfOpt),   parser.value(pngOpt),  parser.value(xlsxOpt)};
    bool ok = write(to, summary, groups, charts);
    QString why;
    if (!standardOutputWritten(&why)) {
        say(why);
        ok = false;
    }
    return ok ? status : 1;
}

