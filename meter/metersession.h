#ifndef METERSESSION_H
#define METERSESSION_H

#include "frameassembler.h"
#include "limitsinforce.h"
#include "meterreading.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace meter {

// The bytes-in path of one meter link, without widgets: framing, the
// receive counter, the range codes it reports, the sampling gate, the
// numbering, decoding and judging. Each read of the port goes in through
// feed(); each burst of readings goes out to the sinks.
class MeterSession : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Record, Display };
    using Clock = std::function<QDateTime()>;

    explicit MeterSession(QObject *parent = nullptr);
    ~MeterSession() override;

    // The sink is not owned; remove it before it goes.
    void addSink(ReadingSink *sink, Phase phase = Phase::Record);
    void removeSink(ReadingSink *sink);

    // A new link: nothing of the old one's bytes is carried over.
    void linkOpened(const QString &portName);
    // The link ended: a frame the framer still holds becomes a reading first.
    void linkClosed();
    QString portName() const { return m_portName; }
    // The station this meter serves, carried by every burst (a logger of
    // several meters names one per meter).
    void setStation(const QString &name) { m_station = name; }
    QString station() const { return m_station; }

    // The bytes one read of the port returned.
    void feed(const QByteArray &bytes);
    // Before the screen shows readings: every record sink hands over what it took.
    void flushRecords();

    // What is known of each reading before any sink takes it (station mode:
    // where the probes were); none by default.
    using Annotator = std::function<void(MeterReading &)>;
    void setAnnotator(Annotator annotate) { m_annotate = std::move(annotate); }

    // The limits readings are judged by: one object, changed by whoever owns them.
    LimitsInForce *limitsInForce() { return &m_limits; }
    void setLimits(const Limits &limits) { m_limits.set(limits); }
    const Limits &limits() const { return m_limits.limits(); }
    // Every divisor-th frame is taken (at least 1).
    void setDivisor(quint32 divisor);
    quint32 divisor() const { return m_divisor; }
    // The plot was cleared: numbering starts again at 1.
    void restartNumbering() { m_seq = 0; }
    // Numbering goes on after seq (a resumed run, or a test of a full plot).
    void continueNumberingAfter(quint32 seq) { m_seq = seq; }
    void clearReceiveCount() { m_receiveCount = 0; }
    // Time stamps come from here (tests set a clock of their own).
    void setClock(Clock clock) { m_clock = std::move(clock); }

    quint32 receiveCount() const { return m_receiveCount; }
    quint32 sequence() const { return m_seq; }
    qint8 rRangeCode() const { return m_rRange; }
    qint8 vRangeCode() const { return m_vRange; }
    const FrameAssembler &framer() const { return m_framer; }

signals:
    // After every sink took the burst.
    void burstHandled(const meter::ReadingBurst &burst);
    // Bytes that were no frame of a meter were dropped; total since the start.
    void bytesDropped(quint64 total);

private:
    void collectHeld();
    void handle(const QByteArray &frames);
    void tellDropped();

    FrameAssembler m_framer;
    QElapsedTimer m_linkClock;
    QTimer m_holdTimer; // collects a frame the framer held back for lack of evidence
    QString m_portName;
    QString m_station;
    LimitsInForce m_limits;
    quint64 m_toldDropped = 0;
    quint32 m_receiveCount = 0;
    quint32 m_seq = 0;
    quint32 m_divisor = 1;
    qint8 m_rRange = 0;
    qint8 m_vRange = 0;
    QString m_rRangeText = QStringLiteral("AUTO");
    QString m_vRangeText = QStringLiteral("AUTO");
    QVector<ReadingSink *> m_recordSinks;
    QVector<ReadingSink *> m_displaySinks;
    Clock m_clock;
    Annotator m_annotate;
};

} // namespace meter

#endif // METERSESSION_H
