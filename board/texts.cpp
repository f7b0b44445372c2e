#include "board/texts.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTranslator>

namespace board {

namespace {

struct Text
{
    const char *key, *context, *source;
};

// Keys are the page's; the sources are read by lupdate (QT_TRANSLATE_NOOP).
const Text kTexts[] = {
    {"title", "Board", QT_TRANSLATE_NOOP("Board", "产线看板")},
    {"measuring", "Board", QT_TRANSLATE_NOOP("Board", "测量中")},
    {"idle", "Board", QT_TRANSLATE_NOOP("Board", "空闲")},
    {"away", "Board", QT_TRANSLATE_NOOP("Board", "离线")},
    {"behind", "Board", QT_TRANSLATE_NOOP("Board", "补传中，落后 %1")},
    {"stations", "Board", QT_TRANSLATE_NOOP("Board", "工位")},
    {"cells_today", "Board", QT_TRANSLATE_NOOP("Board", "今日电芯")},
    {"yield_today", "Board", QT_TRANSLATE_NOOP("Board", "今日良率")},
    {"ng_hour", "Board", QT_TRANSLATE_NOOP("Board", "近一小时 NG")},
    {"per_minute", "Board", QT_TRANSLATE_NOOP("Board", "读数/分钟")},
    {"lot", "Board", QT_TRANSLATE_NOOP("Board", "批次")},
    {"set", "Board", QT_TRANSLATE_NOOP("Board", "限值组")},
    {"last_reading", "Board", QT_TRANSLATE_NOOP("Board", "最近读数")},
    {"no_reading", "Board", QT_TRANSLATE_NOOP("Board", "一天内无读数")},
    {"last_ng", "Board", QT_TRANSLATE_NOOP("Board", "最近 NG")},
    {"signals", "Board", QT_TRANSLATE_NOOP("Board", "控制图信号")},
    {"acknowledge", "Board", QT_TRANSLATE_NOOP("Board", "确认")},
    {"none", "Board", QT_TRANSLATE_NOOP("Board", "无")},
    {"no_stations", "Board", QT_TRANSLATE_NOOP("Board", "还没有工位的数据")},
    {"connection_lost", "Board", QT_TRANSLATE_NOOP("Board", "与看板服务的连接已断开，正在重连……")},
    {"db_trouble", "Board", QT_TRANSLATE_NOOP("Board", "看板服务读不到数据库：%1")},
    {"back", "Board", QT_TRANSLATE_NOOP("Board", "返回看板")},
    {"last_hour", "Board", QT_TRANSLATE_NOOP("Board", "近一小时的 R 与 V")},
    {"histogram", "Board", QT_TRANSLATE_NOOP("Board", "当前批次 R 的分布")},
    {"control_r", "Board", QT_TRANSLATE_NOOP("Board", "当前批次 R 的控制图")},
    {"control_v", "Board", QT_TRANSLATE_NOOP("Board", "当前批次 V 的控制图")},
    {"baseline", "Board", QT_TRANSLATE_NOOP("Board", "还需 %1 条合格记录才有控制限")},
    {"k_chart", "Board", QT_TRANSLATE_NOOP("Board", "自放电 K（mV/天）")},
    {"records", "Board", QT_TRANSLATE_NOOP("Board", "记录")},
    {"no_records", "Board", QT_TRANSLATE_NOOP("Board", "今天还没有电芯记录")},
    {"time", "Board", QT_TRANSLATE_NOOP("Board", "时间")},
    {"record", "Board", QT_TRANSLATE_NOOP("Board", "记录号")},
    {"cell", "Board", QT_TRANSLATE_NOOP("Board", "电芯编号")},
    {"verdict", "Board", QT_TRANSLATE_NOOP("Board", "判定")},
    {"grade", "Board", QT_TRANSLATE_NOOP("Board", "档位")},
    {"rules", "Board", QT_TRANSLATE_NOOP("Board", "控制图规则")},
    {"stage", "Board", QT_TRANSLATE_NOOP("Board", "工序")},
    {"k", "Board", QT_TRANSLATE_NOOP("Board", "K（mV/天）")},
    {"reason", "Board", QT_TRANSLATE_NOOP("Board", "原因")},
    {"count", "Board", QT_TRANSLATE_NOOP("Board", "个数")},
    {"centre", "Board", QT_TRANSLATE_NOOP("Board", "中心线")},
    {"ucl", "Board", QT_TRANSLATE_NOOP("Board", "上控制限")},
    {"lcl", "Board", QT_TRANSLATE_NOOP("Board", "下控制限")},
    {"signal", "Board", QT_TRANSLATE_NOOP("Board", "信号")},
    {"switch", "Board", QT_TRANSLATE_NOOP("Board", "English")},
    {"rule_r", "Board", QT_TRANSLATE_NOOP("Board", "R：%1")},
    {"rule_v", "Board", QT_TRANSLATE_NOOP("Board", "V：%1")},
    {"rule1", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "一个点超出 3σ 控制限")},
    {"rule2", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 9 个点在中心线同一侧")},
    {"rule3", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 6 个点持续上升或下降")},
    {"rule4", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 14 个点上下交替")},
    {"rule5", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 3 个点中有 2 个在同侧 2σ 以外")},
    {"rule6", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 5 个点中有 4 个在同侧 1σ 以外")},
    {"rule7", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 15 个点都在 1σ 以内")},
    {"rule8", "ControlChart", QT_TRANSLATE_NOOP("ControlChart", "连续 8 个点都在 1σ 以外（两侧都有）")},
};

} // namespace

QByteArray textsJson()
{
    QTranslator english;
    english.load(QStringLiteral(":/i18n/zentrel_en.qm"));
    QJsonObject zh, en;
    for (const Text &t : kTexts) {
        zh.insert(t.key, QString::fromUtf8(t.source));
        const QString translated = english.translate(t.context, t.source);
        en.insert(t.key, translated.isEmpty() ? QString::fromUtf8(t.source) : translated);
    }
    return QJsonDocument(QJsonObject {{"zh_CN", zh}, {"en", en}}).toJson(QJsonDocument::Compact);
}

} // namespace board
