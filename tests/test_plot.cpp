// The measurement plot: its configuration, the live curves, Fix and Clear,
// limit lines (finite only) and the mouse, selection and context-menu
// behaviour, driven on the real QCustomPlot widget.
#include "meterline.h"
#include "testsupport.h"

#include "platform/demorandom.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>

class TestPlot : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

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

    void overloadIsAGapNotASpike()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        QCustomPlot *plot = lw.ui->customPlot;
        lw.meter.send(frameOf(100000, 20000));
        lw.meter.send(frameOf(0xFFFFFF, 20000, 6, 3, true, false, true));  // R overloaded
        lw.meter.send(frameOf(300000, 0xFFFFFF, 6, 3, true, false, false, true)); // V overloaded
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 3u, 3000);
        QCOMPARE(plot->graph(0)->dataCount(), 3); // the sample number still advances
        QCOMPARE(plot->graph(0)->data()->at(0)->value, 10.0);
        QVERIFY(qIsNaN(plot->graph(0)->data()->at(1)->value));
        QCOMPARE(plot->graph(0)->data()->at(2)->value, 30.0);
        QVERIFY(!qIsNaN(plot->graph(1)->data()->at(1)->value));
        QVERIFY(qIsNaN(plot->graph(1)->data()->at(2)->value));
        // Fix scales to the real readings only.
        lw.ui->Fix_Plot_Button->click();
        QVERIFY(plot->yAxis->range().upper < 100);
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
    static QCustomPlot *showPlot(MainWindow &w)
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            return nullptr;
        QCustomPlot *plot = w.findChild<QCustomPlot *>("customPlot");
        plot->replot();
        return plot;
    }

    // Puts n points (1..n, value) on graph i and redraws, so they can be hit.
    static void fill(QCustomPlot *plot, int i, int n, double value)
    {
        QVector<double> keys, values;
        for (int k = 1; k <= n; ++k) {
            keys << k;
            values << value;
        }
        plot->graph(i)->setData(keys, values);
        plot->xAxis->setRange(0, n + 1);
        plot->yAxis->setRange(value - 5, value + 5);
        plot->replot();
    }

    static QPoint pointOf(QCustomPlot *plot, double key, double value)
    {
        return QPoint(int(plot->xAxis->coordToPixel(key)), int(plot->yAxis->coordToPixel(value)));
    }

    static QPoint axisLinePoint(QCPAxis *axis)
    {
        const QRect r = axis->axisRect()->rect();
        switch (axis->axisType()) {
        case QCPAxis::atBottom: return QPoint(r.center().x() + 13, r.bottom() + 1);
        case QCPAxis::atTop: return QPoint(r.center().x() + 13, r.top());
        case QCPAxis::atLeft: return QPoint(r.left(), r.center().y() + 13);
        default: return QPoint(r.right() + 1, r.center().y() + 13);
        }
    }

    static void wheel(QCustomPlot *plot, QPoint at, int delta)
    {
        QWheelEvent event(at, plot->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &event);
    }

    // Opens the plot's context menu at pos and returns its entries.
    static QMenu *openMenu(MainWindow &w, QCustomPlot *plot, QPoint pos)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, plot->mapToGlobal(pos));
        QApplication::sendEvent(plot, &event);
        const QList<QMenu *> menus = w.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
        for (QMenu *menu : menus)
            if (menu->isVisible())
                return menu;
        return nullptr;
    }

    static QStringList entries(QMenu *menu)
    {
        QStringList texts;
        for (QAction *a : menu->actions())
            if (!a->isSeparator())
                texts << a->text();
        return texts;
    }

    static void choose(QMenu *menu, const QString &text)
    {
        for (QAction *a : menu->actions()) {
            if (a->text() == text) {
                QPointer<QMenu> guard(menu); // a nested dialog loop may delete it
                a->trigger();
                if (guard)
                    guard->close();
                QCoreApplication::processEvents();
                return;
            }
        }
        QFAIL(qPrintable("no menu entry " + text));
    }

    static void answerText(const QString &expectedLabel, const QString &prefilled, const QString &text, bool accept)
    {
        testsupport::answerNextModal([=](QWidget *modal) {
            auto *dialog = qobject_cast<QInputDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("QCustomPlot example"));
            QCOMPARE(dialog->labelText(), expectedLabel);
            QCOMPARE(dialog->textValue(), prefilled);
            dialog->setTextValue(text);
            if (accept)
                dialog->accept();
            else
                dialog->reject();
        });
    }

private slots:
    void axisSelectionIsPaired()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        const QCPAxis::SelectableParts lineAndTicks = QCPAxis::spAxis | QCPAxis::spTickLabels;
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, axisLinePoint(plot->xAxis2));
        QCOMPARE(plot->xAxis->selectedParts(), lineAndTicks);
        QCOMPARE(plot->xAxis2->selectedParts(), lineAndTicks);
        QCOMPARE(plot->yAxis->selectedParts(), QCPAxis::SelectableParts(QCPAxis::spNone));

        // A drag now moves only the horizontal range.
        const QCPRange y = plot->yAxis->range();
        const QCPRange x = plot->xAxis->range();
        const QPoint from = plot->axisRect()->rect().center();
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, from);
        QCOMPARE(plot->axisRect()->rangeDrag(), Qt::Orientations(Qt::Horizontal));
        QMouseEvent move(QEvent::MouseMove, from + QPoint(40, 30), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, from + QPoint(40, 30));
        QVERIFY(plot->xAxis->range() != x);
        QCOMPARE(plot->yAxis->range(), y);
        QCOMPARE(plot->xAxis2->range(), plot->xAxis->range());

        // The right axis selects the left one too, and the wheel zooms only vertically.
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, axisLinePoint(plot->yAxis2));
        QCOMPARE(plot->yAxis->selectedParts(), lineAndTicks);
        QCOMPARE(plot->yAxis2->selectedParts(), lineAndTicks);
        QCOMPARE(plot->xAxis->selectedParts(), QCPAxis::SelectableParts(QCPAxis::spNone));
        const QCPRange x2 = plot->xAxis->range();
        const QCPRange y2 = plot->yAxis->range();
        wheel(plot, plot->axisRect()->rect().center(), 120);
        QCOMPARE(plot->axisRect()->rangeZoom(), Qt::Orientations(Qt::Vertical));
        QCOMPARE(plot->xAxis->range(), x2);
        QVERIFY(plot->yAxis->range().size() < y2.size());

        // Nothing selected: both directions.
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, plot->axisRect()->rect().center());
        const QCPRange x3 = plot->xAxis->range();
        const QCPRange y3 = plot->yAxis->range();
        wheel(plot, plot->axisRect()->rect().center(), 120);
        QCOMPARE(plot->axisRect()->rangeZoom(), Qt::Horizontal | Qt::Vertical);
        QVERIFY(plot->xAxis->range().size() < x3.size());
        QVERIFY(plot->yAxis->range().size() < y3.size());
    }

    void graphAndLegendSelectionArePaired()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        fill(plot, 0, 10, 20.0);
        fill(plot, 1, 10, 20.0 + 3);
        plot->yAxis->setRange(10, 30);
        plot->replot();
        // Clicking a legend item selects the whole curve.
        const QPoint legendItem = plot->legend->item(1)->outerRect().center();
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, legendItem);
        QVERIFY(plot->legend->item(1)->selected());
        QCOMPARE(plot->graph(1)->selection().span(), QCPDataRange(0, 10));
        QVERIFY(!plot->graph(0)->selected());
        // Clicking a point of the other curve selects it and its legend item.
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, pointOf(plot, 4, 20.0));
        QVERIFY(plot->graph(0)->selected());
        QCOMPARE(plot->graph(0)->selection().span(), QCPDataRange(0, 10));
        QVERIFY(plot->legend->itemWithPlottable(plot->graph(0))->selected());
        QVERIFY(!plot->graph(1)->selected());
    }

    void graphClickShowsThePoint()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        fill(plot, 0, 6, 12.5);
        plot->graph(1)->data()->clear();
        plot->replot();
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, pointOf(plot, 4, 12.5));
        QCOMPARE(w.statusBar()->currentMessage(),
                 QString("Clicked on graph 'R 0' at data point #3 with value 12.5."));
        QTRY_VERIFY_WITH_TIMEOUT(w.statusBar()->currentMessage().isEmpty(), 5000);
    }

    void contextMenuEntries()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        // Inside the legend: only the five placements.
        QMenu *menu = openMenu(w, plot, plot->legend->outerRect().center());
        QVERIFY(menu);
        QCOMPARE(entries(menu), QStringList({"Move to top left", "Move to top center", "Move to top right",
                                             "Move to bottom right", "Move to bottom left"}));
        const int data[] = {33, 36, 34, 66, 65};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(menu->actions().at(i)->data().toInt(), data[i]);
            QVERIFY(menu->actions().at(i)->shortcut().isEmpty());
        }
        QVERIFY(menu->testAttribute(Qt::WA_DeleteOnClose));
        choose(menu, "Move to bottom left");
        QCOMPARE(plot->axisRect()->insetLayout()->insetAlignment(0), Qt::AlignBottom | Qt::AlignLeft);
        plot->replot();
        menu = openMenu(w, plot, plot->legend->outerRect().center());
        QVERIFY(menu);
        choose(menu, "Move to top center");
        QCOMPARE(plot->axisRect()->insetLayout()->insetAlignment(0), Qt::AlignTop | Qt::AlignHCenter);
        plot->replot();

        // Elsewhere: add, remove selected (only with a selection), remove all, export.
        const QPoint empty = plot->axisRect()->rect().center() + QPoint(0, 60);
        menu = openMenu(w, plot, empty);
        QVERIFY(menu);
        QCOMPARE(entries(menu), QStringList({"Add random graph", "Remove all graphs", "Save as PNG...", "Save as PDF..."}));
        menu->close();
        fill(plot, 0, 10, 1.0);
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, pointOf(plot, 5, 1.0));
        QVERIFY(plot->graph(0)->selected());
        menu = openMenu(w, plot, empty + QPoint(0, 30));
        QVERIFY(menu);
        QCOMPARE(entries(menu).mid(0, 3), QStringList({"Add random graph", "Remove selected graph", "Remove all graphs"}));
        choose(menu, "Remove selected graph");
        QCOMPARE(plot->graphCount(), 1);
        QCOMPARE(plot->graph(0)->name(), QString("V 1"));
        QCOMPARE(plot->legend->itemCount(), 1);

        menu = openMenu(w, plot, empty);
        choose(menu, "Remove all graphs");
        QCOMPARE(plot->graphCount(), 0);
        menu = openMenu(w, plot, empty);
        QCOMPARE(entries(menu), QStringList({"Add random graph", "Save as PNG...", "Save as PDF..."}));
        choose(menu, "Add random graph");
        QCOMPARE(plot->graphCount(), 1);
        QCPGraph *demo = plot->graph(0);
        QCOMPARE(demo->name(), QString("New graph 0"));
        QCOMPARE(demo->dataCount(), 50);
        QVERIFY(demo->lineStyle() >= QCPGraph::lsLine && demo->lineStyle() <= QCPGraph::lsImpulse);
        const QColor c = demo->pen().color();
        QCOMPARE(c.alpha(), 255);
        for (int component : {c.red(), c.green(), c.blue()})
            QVERIFY(component >= 10 && component <= 254);
        QVERIFY(demo->pen().widthF() >= 1.0 && demo->pen().widthF() <= 3.0);
        // With nothing selected, "Remove selected graph" changes nothing.
        QMetaObject::invokeMethod(&w, "removeSelectedGraph");
        QCOMPARE(plot->graphCount(), 1);

        // A limit line added after removing everything but the demo curve.
        menu = openMenu(w, plot, empty);
        choose(menu, "Remove all graphs");
        MainWindowProbe(w).ui()->Button_Limit_set->click();
        QCOMPARE(plot->graphCount(), 1);
        QCOMPARE(plot->graph(0)->dataCount(), 6000);
    }

    void demoCurvesRepeatForASeed()
    {
        MainWindow a, b;
        DemoRandom::seed(1234);
        QMetaObject::invokeMethod(&a, "addRandomGraph");
        DemoRandom::seed(1234);
        QMetaObject::invokeMethod(&b, "addRandomGraph");
        QCPGraph *ga = a.findChild<QCustomPlot *>("customPlot")->graph(2);
        QCPGraph *gb = b.findChild<QCustomPlot *>("customPlot")->graph(2);
        QCOMPARE(ga->name(), QString("New graph 2"));
        QCOMPARE(ga->pen(), gb->pen());
        QCOMPARE(ga->lineStyle(), gb->lineStyle());
        QCOMPARE(ga->scatterStyle().shape(), gb->scatterStyle().shape());
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(ga->data()->at(i)->key, gb->data()->at(i)->key);
            QCOMPARE(ga->data()->at(i)->value, gb->data()->at(i)->value);
        }
    }

    void renamingByDoubleClick()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        auto *title = qobject_cast<QCPTextElement *>(plot->plotLayout()->element(0, 0));
        const QPoint titleAt = title->outerRect().center();

        answerText("New plot title:", "Zentrel", "电池内阻", false);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, titleAt);
        QCOMPARE(title->text(), QString("Zentrel"));
        answerText("New plot title:", "Zentrel", "电池内阻", true);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, titleAt);
        QCOMPARE(title->text(), QString("电池内阻"));

        // The bottom axis label; an empty text is applied.
        plot->replot();
        QPoint labelAt;
        for (int y = plot->axisRect()->rect().bottom(); y < plot->height() && labelAt.isNull(); ++y) {
            const QPoint at(plot->axisRect()->rect().center().x(), y);
            if (plot->xAxis->getPartAt(at) == QCPAxis::spAxisLabel)
                labelAt = at;
        }
        QVERIFY(!labelAt.isNull());
        answerText("New axis label:", "Times", "", true);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, labelAt);
        QCOMPARE(plot->xAxis->label(), QString());
        // Double-clicking the axis line itself edits nothing.
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, axisLinePoint(plot->yAxis));
        QCoreApplication::processEvents();
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(plot->yAxis->label(), QString("R/V"));

        // A legend item names its graph.
        plot->replot();
        answerText("New graph name:", "V 1", "电压", true);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, plot->legend->item(1)->outerRect().center());
        QCOMPARE(plot->graph(1)->name(), QString("电压"));
        answerText("New graph name:", "R 0", "x", false);
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, plot->legend->item(0)->outerRect().center());
        QCOMPARE(plot->graph(0)->name(), QString("R 0"));
    }

    void exportAsPngAndPdf()
    {
        MainWindow w;
        QCustomPlot *plot = showPlot(w);
        QVERIFY(plot);
        fill(plot, 0, 20, 3.0);
        const QPoint empty = plot->axisRect()->rect().center() + QPoint(0, 60);
        for (const QString &format : {QString("png"), QString("pdf")}) {
            const QString path = m_work->file("plot-export");
            testsupport::answerNextModal([&](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                QVERIFY(dialog);
                dialog->findChild<QLineEdit *>("fileNameEdit")->setText(path);
                static_cast<QDialog *>(dialog)->accept();
            });
            QMenu *menu = openMenu(w, plot, empty);
            QVERIFY(menu);
            choose(menu, format == "png" ? "Save as PNG..." : "Save as PDF...");
            const QString written = path + "." + format;
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(written).size() > 0, 5000);
            QFile f(written);
            QVERIFY(f.open(QIODevice::ReadOnly));
            if (format == "png") {
                QImage image(written);
                QVERIFY(!image.isNull());
                QCOMPARE(image.size(), plot->size());
            } else {
                QVERIFY(f.read(5) == "%PDF-");
            }
        }
    }


    // ---- limit line and clicks -------------------------------------------------

    void limitLineMustBeFinite()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        const int graphs = ui->customPlot->graphCount();
        for (const char *typed : {"1e39", "nan", "-inf"}) {
            ui->Line_Edit_Limit_data->setText(typed);
            ui->Button_Limit_set->click();
            QCOMPARE(ui->customPlot->graphCount(), graphs);
            QVERIFY(ui->Line_Edit_Limit_data->property("invalidLimit").toBool());
        }
        ui->Line_Edit_Limit_data->setText("3.5");
        ui->Button_Limit_set->click();
        QCOMPARE(ui->customPlot->graphCount(), graphs + 1);
        QVERIFY(!ui->Line_Edit_Limit_data->property("invalidLimit").toBool());
        ui->Fix_Plot_Button->click();
        QVERIFY(std::isfinite(ui->customPlot->yAxis->range().upper));
    }

    void graphClickSurvivesAFullPlot()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.probe.setPlotSampleCount(6000);
        QVERIFY(lw.meter.send(frameOf(10000, 10000)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        QVERIFY(!lw.probe.plotFullNotice().isEmpty());

        QCustomPlot *plot = lw.ui->customPlot;
        plot->graph(0)->setData({1, 2, 3}, {1, 2, 3});
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        emit plot->plottableClick(plot->graph(0), 2, &click);
        const QString message = lw.ui->statusBar->currentMessage();
        QVERIFY2(message.startsWith("Clicked on graph"), qPrintable(message));

        // Frames keep coming on the full plot; the message stays its time.
        QElapsedTimer clock;
        clock.start();
        quint32 sent = 1;
        while (clock.elapsed() < 2000) {
            QVERIFY(lw.meter.send(frameOf(10000, 10000)));
            ++sent;
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), sent, 3000);
            if (clock.elapsed() < 2300)
                QCOMPARE(lw.ui->statusBar->currentMessage(), message);
            QTest::qWait(100);
        }
        QTRY_VERIFY_WITH_TIMEOUT(lw.ui->statusBar->currentMessage().isEmpty(), 3000);
        QVERIFY(!lw.probe.plotFullNotice().isEmpty());

        // Clear removes the full state and nothing else.
        lw.ui->statusBar->showMessage("another message");
        lw.ui->Clear_Plot_Button->click();
        QVERIFY(lw.probe.plotFullNotice().isEmpty());
        QCOMPARE(lw.ui->statusBar->currentMessage(), QString("another message"));
    }

    void graphNameWithPlaceholders()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QCustomPlot *plot = p.ui()->customPlot;
        plot->graph(0)->setName("R%1x %2");
        plot->graph(0)->setData({1, 2, 3, 4}, {10, 11, 12.5, 13});
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        emit plot->plottableClick(plot->graph(0), 2, &click);
        QCOMPARE(p.ui()->statusBar->currentMessage(),
                 QString("Clicked on graph 'R%1x %2' at data point #2 with value 12.5."));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestPlot)
#include "test_plot.moc"
