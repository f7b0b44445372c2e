// zentrel-match: pack matching from the station's cell records.
//   zentrel-match FILE|FOLDER... --series S --parallel P [--r-spread PCT]
//       [--v-spread MV] [--lot L] [--grades A,B] [--capacity FILE]
//       [--pack-id ID] --plan plan.csv [--json plan.json] [--pdf sheet.pdf]
//       [--png sheet.png] [--journal-dir DIR] [--dry-run]
//   zentrel-match --cancel PACK-ID [--journal-dir DIR]
// Exit status: 0 done, 1 a file could not be read or written (named; the
// rest used), 2 nothing to read or a wrong option, 3 the rules cannot be met.
#include "journal/csvrecords.h"
#include "platform/punctuation.h"
#include "platform/regularfile.h"
#include "match/cellfiles.h"
#include "match/packledger.h"
#include "match/pages/packsheet.h"
#include "match/planfiles.h"
#include "station/cellrecorder.h"
#include "settings/commandline.h"
#include "settings/language.h"
#include "storage/stagedfiles.h"
#include "storage/textfile.h"

#include <cmath>

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <functional>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "zentrel-match: %s\n", qPrintable(text));
}

// The folder of the ledger: named, or the first folder read (or the folder
// of the first file).
QString ledgerFolder(const QString &named, const QStringList &paths)
{
    if (!named.isEmpty())
        return named;
    for (const QString &p : paths)
        if (QFileInfo(p).isDir())
            return p;
    return paths.isEmpty() ? QString() : QFileInfo(paths.first()).absolutePath();
}

// What was printed reached standard output; said when not.
bool outputReached()
{
    QString why;
    if (standardOutputWritten(&why))
        return true;
    say(why);
    return false;
}

// The command line and what it asks: cancel a pack, or plan one (and write it).
class MatchCommand
{
public:
    explicit MatchCommand(QCoreApplication &app)
    {
        parser.setApplicationDescription(QStringLiteral("Pack matching (配组) from Zentrel's cells-*.csv records."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({seriesOpt, parallelOpt, rSpreadOpt, vSpreadOpt, lotOpt, gradesOpt, anyVerdictOpt, capacityOpt, kSpreadOpt, kMaxOpt,
                           packOpt, planOpt, jsonOpt, pdfOpt, pngOpt, dirOpt, dryOpt, cancelOpt, langOpt});
        parser.addPositionalArgument("paths", "Files or folders (searched for cells-*.csv).", "FILE|FOLDER...");
        parser.process(app);
        paths = parser.positionalArguments();
    }
    QString language() const { return parser.value(langOpt); }
    bool cancelling() const { return parser.isSet(cancelOpt); }
    int cancel();
    int plan();

private:
    // The rules and the pack's ID from the options; an exit status, 0 when fine.
    int readRules(match::Rules *rules, QString *pack);
    // The cell records of the paths; an exit status, 0 when fine (status: 1 when a file was unreadable).
    int readRecords(match::CellRecords *records, QStringList *files, int *status);
    // The plan's files (staged), the ledger's line, then the files put in place.
    int write(const match::PlanView &view, match::PackLedger &ledger, const QString &folder, const QDateTime &now, int status);

    QCommandLineParser parser;
    const QCommandLineOption seriesOpt {"series", "Groups in series (S).", "S"};
    const QCommandLineOption parallelOpt {"parallel", "Cells in parallel per group (P).", "P"};
    const QCommandLineOption rSpreadOpt {"r-spread", "Largest ΔR within a group, % of its mean R (default 5).", "pct", "5"};
    const QCommandLineOption vSpreadOpt {"v-spread", "Largest ΔV within a group in mV (default 20).", "mv", "20"};
    const QCommandLineOption lotOpt {"lot", "Only cells of this lot.", "lot"};
    const QCommandLineOption gradesOpt {"grades", "Only cells of these grades (comma-separated).", "list"};
    const QCommandLineOption anyVerdictOpt {"any-verdict", "Use NG cells too (default: PASS only)."};
    const QCommandLineOption capacityOpt {"capacity", "CSV of cell_id,capacity (mAh): equal group capacities too.", "file"};
    const QCommandLineOption kSpreadOpt {"k-spread", "Largest ΔK (self-discharge) within a group in mV/day; cells without a K are left out.", "mv_day"};
    const QCommandLineOption kMaxOpt {"k-max", "Leave out cells whose K is above this (mV/day); cells without a K too.", "mv_day"};
    const QCommandLineOption packOpt {"pack-id", "The pack's ID (default PACK-YYYYMMDD-N).", "id"};
    const QCommandLineOption planOpt {"plan", "Write the plan as CSV to this file.", "file"};
    const QCommandLineOption jsonOpt {"json", "Write the plan as JSON to this file.", "file"};
    const QCommandLineOption pdfOpt {"pdf", "Write the assembly sheet as a PDF (A4).", "file"};
    const QCommandLineOption pngOpt {"png", "Write the assembly sheet as PNG (further pages as NAME-2.png, ...).", "file"};
    const QCommandLineOption dirOpt {"journal-dir", "The folder of the pack ledger (default: the first folder read).", "dir"};
    const QCommandLineOption dryOpt {"dry-run", "Show the plan only: no files, no ledger line."};
    const QCommandLineOption cancelOpt {"cancel", "Cancel a pack in the ledger: its cells are free again.", "pack-id"};
    const QCommandLineOption langOpt {"lang", "The language of the output: zh_CN (default) or en.", "en|zh_CN", "zh_CN"};
    QStringList paths;
};

int MatchCommand::cancel()
{
    const QString folder = ledgerFolder(parser.value(dirOpt), paths);
    if (folder.isEmpty()) {
        say(QStringLiteral("--cancel needs --journal-dir (the folder of packs-*.csv)"));
        return 2;
    }
    match::PackLedger ledger(folder);
    QString error;
    if (!ledger.cancel(parser.value(cancelOpt), QDateTime::currentDateTime(), &error)) {
        say(error + punctuation::aside(folder));
        return 1;
    }
    std::printf("%s\n", qPrintable(QCoreApplication::translate("Match", "已取消电池包 %1，其电芯可再配组。").arg(parser.value(cancelOpt))));
    return 0;
}

int MatchCommand::readRules(match::Rules *rules, QString *pack)
{
    bool okS = false, okP = false, okR = false, okV = false;
    rules->series = parser.value(seriesOpt).toInt(&okS);
    rules->parallel = parser.value(parallelOpt).toInt(&okP);
    rules->rSpreadPct = parser.value(rSpreadOpt).toDouble(&okR);
    rules->vSpreadMv = parser.value(vSpreadOpt).toDouble(&okV);
    if (!okS || !okP || rules->series < 1 || rules->parallel < 1 || rules->series * qint64(rules->parallel) > 100000) {
        say(QStringLiteral("--series and --parallel take whole numbers of at least 1 (--help)"));
        return 2;
    }
    if (!okR || !okV || !(rules->rSpreadPct >= 0) || !(rules->vSpreadMv >= 0) || rules->rSpreadPct >= 100) {
        say(QStringLiteral("--r-spread takes a percentage below 100 and --v-spread millivolts, both at least 0"));
        return 2;
    }
    for (const auto &[opt, into] : {std::pair<const QCommandLineOption *, double *>(&kSpreadOpt, &rules->kSpreadMvDay), {&kMaxOpt, &rules->kMax}}) {
        if (!parser.isSet(*opt))
            continue;
        bool ok = false;
        *into = parser.value(*opt).toDouble(&ok);
        if (!ok || !std::isfinite(*into) || (opt == &kSpreadOpt && *into < 0)) {
            say(QStringLiteral("--%1 takes mV/day (a number; --k-spread at least 0)").arg(opt->names().first()));
            return 2;
        }
    }
    rules->passOnly = !parser.isSet(anyVerdictOpt);
    rules->lot = parser.value(lotOpt);
    if (parser.isSet(gradesOpt))
        rules->grades = parser.value(gradesOpt).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!parser.isSet(dryOpt) && !parser.isSet(planOpt)) {
        say(QStringLiteral("name the plan's file with --plan (or look first with --dry-run)"));
        return 2;
    }
    if (paths.isEmpty()) {
        say(QStringLiteral("name files or folders to read (--help)"));
        return 2;
    }
    *pack = parser.value(packOpt).trimmed();
    if (parser.isSet(packOpt)) {
        const QString problem = station::enteredTextProblem(*pack);
        if (pack->isEmpty() || !problem.isEmpty()) {
            say(QStringLiteral("--pack-id: %1").arg(pack->isEmpty() ? QStringLiteral("empty") : problem));
            return 2;
        }
    }
    return 0;
}

int MatchCommand::readRecords(match::CellRecords *records, QStringList *files, int *status)
{
    QStringList problems;
    *files = journal::findDailyFiles(paths, {QLatin1String(journal::kCellsPrefix)}, {}, &problems);
    for (const QString &p : qAsConst(problems))
        say(p);
    if (files->isEmpty()) {
        say(QStringLiteral("no cells-*.csv in %1").arg(paths.join(QStringLiteral(", "))));
        return 2;
    }
    QStringList unread;
    if (!match::readCellRecords(*files, records, &unread)) {
        for (const QString &why : qAsConst(unread))
            say(why);
        *status = 1;
    }
    if (records->records.isEmpty()) {
        say(QStringLiteral("no cell records in %1").arg(files->join(QStringLiteral(", "))));
        return 2;
    }
    return 0;
}

int MatchCommand::plan()
{
    match::Rules rules;
    QString pack;
    if (const int wrong = readRules(&rules, &pack))
        return wrong;
    int status = 0;
    match::CellRecords records;
    QStringList files;
    if (const int none = readRecords(&records, &files, &status))
        return none;
    if (parser.isSet(capacityOpt)) {
        QHash<QString, double> capacities;
        QString error;
        if (!match::readCapacities(parser.value(capacityOpt), &capacities, &error)) {
            say(error);
            return 1;
        }
        rules.useCapacity = true;
        for (match::Cell &c : records.records)
            c.capacity = capacities.value(c.id, NAN);
    }

    const QString folder = ledgerFolder(parser.value(dirOpt), paths);
    match::PackLedger ledger(folder);
    QString error;
    if (!ledger.load(&error)) {
        say(error);
        return 1;
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (pack.isEmpty())
        pack = ledger.nextPackId(now.date());
    int superseded = 0;
    const match::PlanView view = match::planPack(pack, rules, records, ledger.placed(), &superseded);
    std::printf("%s\n", qPrintable(QCoreApplication::translate("Match", "%n 个文件，%1 条记录（重测覆盖 %2 条，作废 %3 条，跳过 %4 行）；可用电芯 %5 个",
                                                                           nullptr, int(files.size()))
                                       .arg(records.records.size()).arg(superseded)
                                       .arg(records.voided.size()).arg(records.skipped).arg(view.cells.size())));
    if (!view.plan.ok) {
        say(view.plan.problem);
        std::printf("%s\n", qPrintable(QCoreApplication::translate("Match", "没有方案：%1").arg(view.plan.problem)));
        return 3;
    }
    std::printf("%s", qPrintable(match::planSummary(view)));
    if (parser.isSet(dryOpt))
        return outputReached() ? status : 1;
    return write(view, ledger, folder, now, status);
}

int MatchCommand::write(const match::PlanView &view, match::PackLedger &ledger, const QString &folder, const QDateTime &now, int status)
{
    // Written under staged names first, moved into place once the ledger took
    // the plan: a plan the ledger refuses changes nothing at those paths.
    StagedFiles staged;
    QString error;
    auto stage = [&](const QCommandLineOption &option, const std::function<bool(const QString &)> &writer) {
        if (!parser.isSet(option))
            return true;
        const QString target = parser.value(option);
        const QString path = staged.stage(target, &error);
        if (!path.isEmpty() && writer(path))
            return true;
        // The reason names the file once, by the name the user gave.
        if (!path.isEmpty())
            error.replace(path, target);
        say(error.contains(target) ? error : punctuation::reason(target, error));
        return false;
    };
    const match::PackSheet sheet(view.pack, view.rules, view.cells, view.plan, now);
    const bool ok = stage(planOpt, [&](const QString &p) { return saveUtf8TextFile(p, match::planCsv(view), &error); })
                    && stage(jsonOpt, [&](const QString &p) { return saveFileAtomically(p, match::planJson(view), &error); })
                    && stage(pdfOpt, [&](const QString &p) { return sheet.writePdf(p, &error); })
                    && stage(pngOpt, [&](const QString &p) { return sheet.writePngs(p, &error); });
    if (!ok)
        return 1;
    if (!ledger.addPlan(view.pack, view.cells, view.plan, now, &error)) {
        say(QCoreApplication::translate("Match", "配组账 %1：%2").arg(folder, error));
        return 1;
    }
    QStringList written;
    if (!staged.commit(&written, &error)) {
        say(QCoreApplication::translate("Match", "电池包 %1 已记入配组账，但文件未能放到位：%2").arg(view.pack, error));
        return 1;
    }
    std::printf("%s\n", qPrintable(QCoreApplication::translate("Match", "已写入 %1 与配组账 %2")
                                       .arg(written.join(QCoreApplication::translate("Match", "、")),
                                            QDir(folder).filePath(journal::dailyFileName(QLatin1String(journal::kPacksPrefix), now.date())))));
    return outputReached() ? status : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Sheets are drawn offscreen: no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("zentrel-match"));
    QGuiApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));
    MatchCommand command(app);
    if (!language::installFromOption(QStringLiteral("zentrel-match"), command.language()))
        return 2;
    return command.cancelling() ? command.cancel() : command.plan();
}
