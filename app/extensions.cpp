#include "extensions.h"

#include "reconnector.h"

#include "journal/journal.h"
#include "platform/termination.h"
#include "storage/folderlock.h"
#include "journal/journalindicator.h"
#include "mqtt/publisher.h"
#include "mainwindow.h"
#include "settings/configfile.h"
#include "station/station.h"
#include "station/stationdock.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <QHostInfo>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

Extensions::Extensions(MainWindow &window, const StartOptions &options, QObject *parent)
    : QObject(parent), m_window(window)
{
    const ExtraSettings settings = readExtraSettings(QStringLiteral("config.ini"));

    const QString folder = !options.journalDir.isEmpty() ? options.journalDir
                           : !settings.journalFolder.isEmpty() ? settings.journalFolder
                                                               : journalFolder(QStringLiteral("config.ini"));
    for (const QString &refused : settings.refused)
        std::fprintf(stderr, "zentrel: %s\n", qPrintable(refused));
    const QString station = settings.stationName.isEmpty() ? QHostInfo::localHostName() : settings.stationName;
    const bool stationOn = options.station || settings.stationEnabled;
    bool journalOn = !options.noJournal && settings.journalEnabled;
    if (journalOn || stationOn) {
        // One program per journal folder: a second one runs without it.
        m_lock = new FolderLock(folder);
        QString reason;
        if (!m_lock->acquire(&reason)) {
            delete m_lock;
            m_lock = nullptr;
            journalOn = false;
            std::fprintf(stderr, "zentrel: %s\n", qPrintable(reason));
            auto *indicator = new QLabel(QStringLiteral("不记录：%1").arg(reason), window.statusBar());
            indicator->setObjectName(QStringLiteral("journalIndicator"));
            indicator->setStyleSheet(QStringLiteral("QLabel { color: red; }"));
            window.statusBar()->addPermanentWidget(indicator);
            window.setReadingArchive(options.journalDir, {});
        }
    }
    if (journalOn) {
        m_journal = new journal::Journal(folder, station, this);
        window.meterSession()->addSink(m_journal);
        // The indicator is made when there is first something to say, so the
        // window's widgets stay as they are while all is well.
        journal::Journal *forIndicator = m_journal;
        connect(m_journal, &journal::DailyCsv::stateChanged, this, [forIndicator, &window] {
            if (!window.findChild<journal::JournalIndicator *>(QStringLiteral("journalIndicator")))
                new journal::JournalIndicator(forIndicator, window.statusBar());
        });
        journal::Journal *j = m_journal;
        window.setReadingArchive(folder, [j] { return !j->paused() && j->waiting() == 0; });
    } else if (!options.journalDir.isEmpty()) {
        window.setReadingArchive(options.journalDir, {});
    }

    if (stationOn && m_lock) {
        // Station mode: cell records beside the journal, a dock and a menu.
        m_station = new station::Station(folder, station, this);
        station::CaptureSettings capture;
        capture.settleMs = settings.settleMs;
        capture.agree = settings.agreeCount;
        capture.rBandPercent = settings.rBandPercent;
        capture.vBandVolts = settings.vBandVolts;
        m_station->setCaptureSettings(capture);
        m_station->setRequireId(settings.requireId);
        m_station->setOperator(settings.operatorName);
        window.meterSession()->addSink(m_station);
        (new journal::JournalIndicator(m_station->file(), window.statusBar()))->setObjectName(QStringLiteral("cellsIndicator"));
        m_dock = new station::StationDock(m_station, &window);
        window.setReadingSounds(false); // the records' sounds are the only ones
        // The set in force is remembered for the next start, in station mode only.
        m_station->selectRemembered(settings.stationSet);
        if (!settings.refused.isEmpty())
            emit m_station->note(settings.refused.join(QLatin1Char('\n')));
        station::Station *st = m_station;
        connect(m_station, &station::Station::setSelected, this, [st](const QString &name) {
            QString error;
            if (!writeExtraSetting(QStringLiteral("config.ini"), QStringLiteral("Station/Set"), name, &error))
                emit st->note(tr("限值组未能记入 config.ini：%1").arg(error));
        });
    }

    const QString mqttHost = !options.mqttHost.isEmpty() ? options.mqttHost : settings.mqttHost;
    if (!mqttHost.isEmpty()) {
        // The journal files are the outbox: the cursor beside them says how far the broker has them.
        auto *indicator = new QLabel(window.statusBar());
        indicator->setObjectName(QStringLiteral("mqttIndicator"));
        window.statusBar()->addPermanentWidget(indicator);
        const bool stationIsTopic = settings.mqttPrefix.isEmpty()
                                    && (station.contains(QLatin1Char('/')) || station.contains(QLatin1Char('+'))
                                        || station.contains(QLatin1Char('#')));
        if (!m_journal) {
            indicator->setText(tr("MQTT 未启用：发布需要开着记录（journal）"));
        } else if (stationIsTopic) {
            // A "/" would change the topic's depth, "+" and "#" make none.
            indicator->setText(QStringLiteral("MQTT 未启用：站名“%1”含 /、+ 或 #，不能作主题的一层；请设 [MQTT] Prefix")
                                   .arg(station));
        } else {
            mqtt::PublisherSettings p;
            p.client.host = mqttHost;
            p.client.port = options.mqttPort > 0 ? options.mqttPort : settings.mqttPort;
            p.client.clientId = settings.mqttClientId.isEmpty() ? QStringLiteral("zentrel-") + station : settings.mqttClientId;
            p.client.keepAlive = settings.mqttKeepAlive;
            p.client.caFile = settings.mqttCaFile;
            p.client.certFile = settings.mqttCertFile;
            p.client.keyFile = settings.mqttKeyFile;
            p.client.user = settings.mqttUser;
            p.passwordFile = settings.mqttPasswordFile;
            p.allowPlainPassword = settings.mqttAllowPlainPassword;
            p.topicPrefix = settings.mqttPrefix.isEmpty() ? QStringLiteral("zentrel/") + station : settings.mqttPrefix;
            m_publisher = new mqtt::Publisher(folder, p, this);
            connect(m_publisher, &mqtt::Publisher::statusChanged, indicator,
                    [this, indicator] { indicator->setText(m_publisher->status()); });
            QString error;
            if (!m_publisher->start(&error))
                indicator->setText(QStringLiteral("MQTT 未连接：%1").arg(error));
        }
    }

    auto *open = window.findChild<QPushButton *>(QStringLiteral("Open_Serial_Button"));
    auto *close = window.findChild<QPushButton *>(QStringLiteral("Close_Serial_Button"));
    if (settings.autoReconnect) {
        m_reconnector = new Reconnector(
            [&window](const QString &port, int baud, QString *error) { return window.reopenLink(port, baud, error); },
            this);
        connect(m_reconnector, &Reconnector::waitingChanged, this, [this](bool waiting) {
            if (!m_waiting) { // made on first need
                m_waiting = new QLabel(m_window.statusBar());
                m_waiting->setObjectName(QStringLiteral("reconnectIndicator"));
                m_window.statusBar()->addPermanentWidget(m_waiting);
            }
            m_waiting->setText(QStringLiteral("正在等待串口 %1 重新连接…").arg(m_reconnector->port()));
            m_waiting->setVisible(waiting);
        });
        connect(m_reconnector, &Reconnector::reconnected, this, [this](const QString &port) {
            m_window.statusBar()->showMessage(QStringLiteral("串口 %1 已重新连接").arg(port), 10000);
        });
        Reconnector *r = m_reconnector;
        window.setLinkLostHandler([r](const QString &port, int baud) { r->wait(port, baud); });
        // The operator's own open or close ends the wait.
        for (QPushButton *button : {open, close})
            if (button)
                connect(button, &QPushButton::clicked, r, &Reconnector::stop);
    }

    // Ending by a signal goes the way a close does; so does closing the window.
    auto *watcher = new TerminationWatcher(this);
    connect(watcher, &TerminationWatcher::terminationRequested, this, &Extensions::endOnSignal);
    window.installEventFilter(this);

    if (!options.port.isEmpty()) {
        int baud = options.baud;
        if (baud == 0)
            if (auto *box = window.findChild<QComboBox *>(QStringLiteral("BaudBox")))
                baud = box->currentText().toInt();
        if (baud <= 0)
            baud = 9600;
        const QString port = options.port;
        QTimer::singleShot(0, this, [this, port, baud] { openFromCommandLine(port, baud); });
    }
}

bool Extensions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::Close && !readyToLeave(true)) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool Extensions::readyToLeave(bool interactive)
{
    QVector<journal::DailyCsv *> files;
    if (m_journal) {
        m_journal->flush();
        files << m_journal;
    }
    if (m_station)
        files << m_station->file();
    int waiting = 0;
    QString reason;
    for (journal::DailyCsv *f : files) {
        if (!f->writeWaitingNow()) {
            waiting += f->waiting();
            reason = f->reason();
        }
    }
    if (waiting == 0)
        return true;
    auto writeTo = [&files](const QString &folder, QString *why) {
        bool all = true;
        for (journal::DailyCsv *f : files)
            all = f->writeWaitingTo(folder, why) && all;
        return all;
    };
    if (!interactive) {
        // No one to ask: a rescue folder, named where a service's log shows it.
        const QStringList rescue = {
            QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("zentrel/rescue")),
            QDir(QDir::tempPath()).filePath(QStringLiteral("zentrel-rescue"))};
        for (const QString &folder : rescue) {
            QString why;
            if (writeTo(folder, &why)) {
                std::fprintf(stderr, "zentrel: %d readings could not be written (%s); they are in %s\n", waiting,
                             qPrintable(reason), qPrintable(QDir::toNativeSeparators(folder)));
                return true;
            }
        }
        std::fprintf(stderr, "zentrel: %d readings could not be written anywhere (%s); they are lost\n", waiting,
                     qPrintable(reason));
        return true;
    }
    for (;;) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("记录未写完"),
                        QStringLiteral("%1 条读数还在内存中，无法写入：%2").arg(waiting).arg(reason), QMessageBox::NoButton,
                        &m_window);
        QPushButton *keep = box.addButton(QStringLiteral("继续尝试"), QMessageBox::RejectRole);
        QPushButton *elsewhere = box.addButton(QStringLiteral("写到其他文件夹…"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("退出并丢弃 %1 条读数").arg(waiting), QMessageBox::DestructiveRole);
        box.setDefaultButton(keep);
        box.exec();
        if (box.clickedButton() == keep || !box.clickedButton())
            return false;
        if (box.clickedButton() != elsewhere)
            return true;
        const QString folder = QFileDialog::getExistingDirectory(&m_window, QStringLiteral("把读数写到"));
        if (folder.isEmpty())
            continue;
        QString why;
        if (writeTo(folder, &why))
            return true;
        reason = why;
    }
}

void Extensions::endOnSignal(int signal)
{
    std::fprintf(stderr, "zentrel: signal %d: ending\n", signal);
    readyToLeave(false);
    if (m_publisher)
        m_publisher->stop(); // saves the cursor
    QCoreApplication::quit();
}

Extensions::~Extensions()
{
    m_window.setLinkLostHandler({});
    m_window.setReadingArchive(QString(), {});
    if (m_journal) {
        m_window.meterSession()->removeSink(m_journal);
        m_journal->close();
    }
    if (m_publisher)
        m_publisher->stop();
    if (m_station) {
        m_window.meterSession()->removeSink(m_station);
        m_station->file()->close();
    }
    delete m_lock;
}

void Extensions::openFromCommandLine(const QString &port, int baud)
{
    // Shown in the boxes as if chosen there; nothing is written to config.ini.
    if (auto *box = m_window.findChild<QComboBox *>(QStringLiteral("PortBox"))) {
        if (box->findText(port) < 0)
            box->addItem(port);
        box->setCurrentIndex(box->findText(port));
    }
    if (auto *box = m_window.findChild<QComboBox *>(QStringLiteral("BaudBox"))) {
        const int index = box->findText(QString::number(baud));
        if (index >= 0)
            box->setCurrentIndex(index);
    }
    QString error;
    if (m_window.reopenLink(port, baud, &error)) {
        m_window.statusBar()->showMessage(QStringLiteral("串口 %1 已打开（%2 波特）").arg(port).arg(baud), 5000);
        return;
    }
    m_window.statusBar()->showMessage(QStringLiteral("串口 %1 打开失败：%2").arg(port, error), 10000);
    // Unattended: wait for the meter as for one that vanished.
    if (m_reconnector)
        m_reconnector->wait(port, baud);
}
