// The measurement plot: its configuration, the live curves, Fix and Clear,
// limit lines and the mouse, selection and context-menu behaviour, driven on
// the real QCustomPlot widget.
#include "meterline.h"
#include "testsupport.h"

#include <QColorDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>

class TestPlot : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void configuration()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QCustomPlot *plot = p.ui()->customPlot;
        QCOMPARE(int(plot->interactions()), 0x3b);
        QCOMPARE(plot->xAxis->range(), QCPRange(-8, 8));
        QCOMPARE(plot->yAxis->range(), QCPRange(-5, 5));
        for (QCPAxis *axis : {plot->xAxis, plot->yAxis, plot->xAxis2, plot->yAxis2})
            QVERIFY(axis->visible());
        QVERIFY(!plot->xAxis2->tickLabels());
        QVERIFY(!plot->yAxis2->tickLabels());
        QCOMPARE(plot->xAxis->label(), QString("Times"));
        QCOMPARE(plot->yAxis->label(), QString("R/V"));
        QVERIFY(plot->xAxis2->label().isEmpty());
        auto *title = qobject_cast<QCPTextElement *>(plot->plotLayout()->element(0, 0));
        QVERIFY(title);
        QCOMPARE(title->text(), QString("Zentrel"));
        QCOMPARE(title->font().family(), QString("sans"));
        QCOMPARE(title->font().pointSize(), 17);
        QCOMPARE(title->font().weight(), 75);
        QVERIFY(!title->font().italic());
        QVERIFY(plot->legend->visible());
        QCOMPARE(plot->legend->font().pointSize(), 10);
        QCOMPARE(plot->legend->selectedFont().pointSize(), 10);
        QCOMPARE(int(plot->legend->selectableParts()), int(QCPLegend::spItems));
        QCOMPARE(plot->contextMenuPolicy(), Qt::CustomContextMenu);

        QCOMPARE(plot->graphCount(), 2);
        const struct { const char *name; QColor color; } curves[] = {
            {"R 0", QColor(170, 0, 0)}, {"V 1", QColor(255, 170, 0)}};
        for (int i = 0; i < 2; ++i) {
            QCPGraph *g = plot->graph(i);
            QCOMPARE(g->name(), QString(curves[i].name));
            QCOMPARE(g->lineStyle(), QCPGraph::lsLine);
            QCOMPARE(g->pen().color(), curves[i].color);
            QCOMPARE(g->pen().width(), 2);
            QCOMPARE(g->scatterStyle().shape(), QCPScatterStyle::ssCircle);
            QCOMPARE(g->scatterStyle().size(), 6.0);
            QCOMPARE(g->scatterStyle().pen().color(), curves[i].color);
            QCOMPARE(g->scatterStyle().brush().color(), curves[i].color);
            QCOMPARE(g->keyAxis(), plot->xAxis);
            QCOMPARE(g->valueAxis(), plot->yAxis);
        }
        // The top and right axes follow the bottom and left ones.
        plot->xAxis->setRange(2, 30);
        plot->yAxis->setRange(-1, 7);
        QCOMPARE(plot->xAxis2->range(), QCPRange(2, 30));
        QCOMPARE(plot->yAxis2->range(), QCPRange(-1, 7));
    }

    void fixAndClear()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        QCustomPlot *plot = lw.ui->customPlot;
        for (quint32 i = 1; i <= 5; ++i)
            lw.meter.send(frameOf(i * 100000, 20000 + i));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 5u, 3000);
        QCOMPARE(plot->xAxis->range(), QCPRange(-8, 8));
        lw.ui->Fix_Plot_Button->click();
        QCOMPARE(plot->xAxis->range(), QCPRange(1, 5));
        QCOMPARE(plot->yAxis->range().upper, 50.0);
        QCOMPARE(plot->xAxis2->range(), QCPRange(1, 5));

        // A limit line counts as data for Fix.
        lw.ui->Line_Edit_Limit_name->setText("上限");
        lw.ui->Line_Edit_Limit_data->setText("70");
        lw.ui->Button_Limit_set->click();
        lw.ui->Fix_Plot_Button->click();
        QCOMPARE(plot->xAxis->range(), QCPRange(0, 5999));
        QCOMPARE(plot->yAxis->range().upper, 70.0);

        // Clear empties every graph but keeps them and their legend items.
        const QCPRange before = plot->xAxis->range();
        lw.ui->Clear_Plot_Button->click();
        QCOMPARE(plot->graphCount(), 3);
        QCOMPARE(plot->legend->itemCount(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(plot->graph(i)->dataCount(), 0);
        QCOMPARE(plot->xAxis->range(), before);
        QCOMPARE(lw.probe.plotSampleCount(), 0u);
        lw.meter.send(frameOf(1, 1));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 6u, 3000);
        QCOMPARE(plot->graph(0)->data()->at(0)->key, 1.0);
        QCOMPARE(plot->graph(2)->dataCount(), 0);
    }

    void feedAfterRemovingAllGraphs()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        QCustomPlot *plot = lw.ui->customPlot;
        QMetaObject::invokeMethod(&lw.window, "removeAllGraphs");
        QCOMPARE(plot->graphCount(), 0);
        lw.meter.send(frameOf(10000, 10000) + frameOf(20000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 2u, 3000);
        QCOMPARE(lw.probe.plotSampleCount(), 2u);
        QCOMPARE(lw.ui->label_R->text(), QString("2.0000mΩ"));

        // A limit line added now is graph 0 and takes the live R points.
        lw.ui->Line_Edit_Limit_data->setText("1.5");
        lw.ui->Button_Limit_set->click();
        QCOMPARE(plot->graphCount(), 1);
        lw.meter.send(frameOf(30000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 3u, 3000);
        QCOMPARE(plot->graph(0)->dataCount(), 6001);
        bool found = false;
        for (auto it = plot->graph(0)->data()->constBegin(); it != plot->graph(0)->data()->constEnd(); ++it)
            found = found || (it->key == 3.0 && it->value == 3.0);
        QVERIFY(found);
    }

    void limitLines()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QCustomPlot *plot = ui->customPlot;
        ui->Line_Edit_Limit_name->setText("R上限");
        ui->Line_Edit_Limit_data->setText("1.1");
        ui->Button_Limit_set->click();
        QCOMPARE(plot->graphCount(), 3);
        QCPGraph *line = plot->graph(2);
        QCOMPARE(line->name(), QString("R上限"));
        QCOMPARE(line->dataCount(), 6000);
        QCOMPARE(line->data()->at(0)->key, 0.0);
        QCOMPARE(line->data()->at(5999)->key, 5999.0);
        // The single-precision value of what was typed.
        QCOMPARE(line->data()->at(1234)->value, 1.10000002384185791015625);
        QCOMPARE(line->pen().color(), QColor(0, 255, 0, 255));
        QCOMPARE(line->pen().width(), 2);
        QCOMPARE(line->scatterStyle().shape(), QCPScatterStyle::ssNone);
        QCOMPARE(line->lineStyle(), QCPGraph::lsLine);
        QVERIFY(plot->legend->itemWithPlottable(line));
        QCOMPARE(plot->xAxis->range(), QCPRange(-8, 8));
        // The fields keep their texts; a second press repeats the line.
        ui->Button_Limit_set->click();
        QCOMPARE(plot->graph(3)->name(), QString("R上限"));
        QCOMPARE(plot->graph(3)->data()->at(0)->value, line->data()->at(0)->value);
        // Letters or nothing give a line at 0, and an empty name.
        ui->Line_Edit_Limit_name->clear();
        ui->Line_Edit_Limit_data->setText("abc");
        ui->Button_Limit_set->click();
        QCOMPARE(plot->graph(4)->data()->at(10)->value, 0.0);
        QVERIFY(plot->graph(4)->name().isEmpty());
    }

    void colourDialog()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        // Cancelling changes nothing.
        testsupport::answerNextModal();
        ui->color_pushButton->click();
        QCOMPARE(p.limitColor(), QColor(Qt::green));
        QCOMPARE(ui->color_pushButton->styleSheet(), QString("background-color:#00ff00"));

        QStringList debug;
        static QStringList *sink = nullptr;
        sink = &debug;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (type == QtDebugMsg && sink)
                    *sink << QString("%1|%2|%3").arg(context.category, context.function, text);
            });
        testsupport::answerNextModal([](QWidget *modal) {
            auto *dialog = qobject_cast<QColorDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->currentColor(), QColor(Qt::green));
            dialog->setCurrentColor(QColor(255, 0, 0));
            dialog->accept();
        });
        ui->color_pushButton->click();
        qInstallMessageHandler(previous);
        sink = nullptr;
        QCOMPARE(p.limitColor(), QColor(255, 0, 0));
        QCOMPARE(ui->color_pushButton->styleSheet(), QString("background-color:#ff0000"));
        QCOMPARE(debug.size(), 1);
        QCOMPARE(debug.first(), QString("default|void MainWindow::on_color_pushButton_clicked()|255 0 0 \n"));

        ui->Button_Limit_set->click();
        QCOMPARE(ui->customPlot->graph(2)->pen().color(), QColor(255, 0, 0));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestPlot)
#include "test_plot.moc"
