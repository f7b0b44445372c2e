// The measurement plot: set-up, the live R and V curves, Fix and Clear, limit
// lines, and the plot's mouse, selection and context-menu behaviour.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "platform/demorandom.h"
#include "storage/textfile.h"

#include <QBuffer>
#include <QColorDialog>
#include <QDir>
#include <QTemporaryFile>
#include <QDebug>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#include <cmath>

namespace {

constexpr int kMaxLivePoints = 6000;
constexpr int kLimitLinePoints = 6000;

double demoUnit()
{
    return DemoRandom::next() / double(DemoRandom::Max);
}

} // namespace

// ---- set-up ---------------------------------------------------------------------

void MainWindow::setupPlot()
{
    QCustomPlot *plot = ui->customPlot;
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectAxes
                          | QCP::iSelectLegend | QCP::iSelectPlottables);
    plot->xAxis->setRange(-8, 8);
    plot->yAxis->setRange(-5, 5);
    plot->axisRect()->setupFullAxesBox(false);
    // Polylines in one call: the 2-pixel curves look the same and draw faster.
    plot->setPlottingHint(QCP::phFastPolylines, true);
    // The curves get a paint buffer of their own: a new reading redraws them
    // alone, not the axes, grid, title and legend (see flushScreen()).
    plot->layer(QStringLiteral("main"))->setMode(QCPLayer::lmBuffered);

    plot->plotLayout()->insertRow(0);
    auto *title = new QCPTextElement(plot, QStringLiteral("Zentrel"),
                                     QFont(QStringLiteral("sans"), 17, QFont::Bold));
    plot->plotLayout()->addElement(0, 0, title);

    plot->xAxis->setLabel(QStringLiteral("Times"));
    plot->yAxis->setLabel(QStringLiteral("R/V"));

    plot->legend->setVisible(true);
    QFont legendFont = font();
    legendFont.setPointSize(10);
    plot->legend->setFont(legendFont);
    plot->legend->setSelectedFont(legendFont);
    plot->legend->setSelectableParts(QCPLegend::spItems);

    plot->rescaleAxes();

    connect(plot, &QCustomPlot::selectionChangedByUser, this, &MainWindow::selectionChanged);
    connect(plot, &QCustomPlot::mousePress, this, &MainWindow::mousePress);
    connect(plot, &QCustomPlot::mouseWheel, this, &MainWindow::mouseWheel);
    connect(plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->xAxis2,
            qOverload<const QCPRange &>(&QCPAxis::setRange));
    connect(plot->yAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->yAxis2,
            qOverload<const QCPRange &>(&QCPAxis::setRange));
    connect(plot, &QCustomPlot::axisDoubleClick, this, &MainWindow::axisLabelDoubleClick);
    connect(plot, &QCustomPlot::legendDoubleClick, this, &MainWindow::legendDoubleClick);
    connect(title, &QCPTextElement::doubleClicked, this, &MainWindow::titleDoubleClick);
    connect(plot, &QCustomPlot::plottableClick, this, &MainWindow::graphClicked);
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plot, &QCustomPlot::customContextMenuRequested, this, &MainWindow::contextMenuRequest);
}

void MainWindow::createLiveGraphs()
{
    QCustomPlot *plot = ui->customPlot;
    struct Curve { const char *name; QColor color; };
    const Curve curves[] = {{"R %1", QColor(170, 0, 0)}, {"V %1", QColor(255, 170, 0)}};
    for (const Curve &curve : curves) {
        QCPGraph *graph = plot->addGraph(plot->xAxis, plot->yAxis);
        graph->setName(QString::fromLatin1(curve.name).arg(plot->graphCount() - 1));
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle,
                                               QPen(curve.color, 1, Qt::SolidLine),
                                               QBrush(curve.color), 6));
        QPen pen(curve.color);
        pen.setWidth(2);
        graph->setPen(pen);
        // Thousands of points on a few hundred pixels: drawn from a sample that
        // keeps each pixel column's extremes.
        graph->setAdaptiveSampling(true);
    }
}

// ---- live feed, Fix and Clear ---------------------------------------------------------

bool MainWindow::appendLivePoint(double r, double v)
{
    if (plotSampleCount > quint32(kMaxLivePoints))
        return false;
    QCustomPlot *plot = ui->customPlot;
    const double key = plotSampleCount;
    if (plot->graphCount() >= 1) {
        const QCPGraphDataContainer &data = *plot->graph(0)->data();
        pendingScreen.plottedFrom = qMin(pendingScreen.plottedFrom, data.isEmpty() ? key : (data.constEnd() - 1)->key);
        plot->graph(0)->addData(key, r);
    }
    if (plot->graphCount() >= 2)
        plot->graph(1)->addData(key, v);
    return true;
}

void MainWindow::on_Fix_Plot_Button_clicked()
{
    ui->customPlot->rescaleAxes(false);
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void MainWindow::on_Clear_Plot_Button_clicked()
{
    flushScreen(); // a full plot before the press is not shown after it
    QCustomPlot *plot = ui->customPlot;
    for (int i = 0; i < plot->graphCount(); ++i)
        plot->graph(i)->data()->clear();
    plotSampleCount = 0;
    session->restartNumbering();
    hidePlotFullNotice();
    plot->replot(QCustomPlot::rpRefreshHint);
}

// ---- limit lines ------------------------------------------------------------------------

void MainWindow::setLimitColor(const QColor &color)
{
    limitColor = color;
    ui->color_pushButton->setStyleSheet(QStringLiteral("background-color:%1").arg(limitColor.name()));
    limitRed = limitColor.red();
    limitGreen = limitColor.green();
    limitBlue = limitColor.blue();
}

void MainWindow::on_color_pushButton_clicked()
{
    const QColor chosen = QColorDialog::getColor(limitColor);
    if (!chosen.isValid())
        return;
    setLimitColor(chosen);
    qDebug().noquote().nospace()
        << QStringLiteral("%1 %2 %3 \n").arg(limitRed).arg(limitGreen).arg(limitBlue);
}

void MainWindow::on_Button_Limit_set_clicked()
{
    // Read in single precision: the line lies where the typed value's float is.
    // An infinite or NaN line ("1e39", "nan") would stop "Fix" from ever
    // rescaling the axis again, so it is refused and the field marked.
    const float typed = ui->Line_Edit_Limit_data->text().toFloat();
    const bool finite = std::isfinite(typed);
    markField(ui->Line_Edit_Limit_data, !finite, tr("不是有限的数：未画限值线"));
    if (!finite)
        return;
    const double value = double(typed);
    QVector<double> keys(kLimitLinePoints);
    QVector<double> values(kLimitLinePoints, value);
    for (int i = 0; i < kLimitLinePoints; ++i)
        keys[i] = i;

    QCustomPlot *plot = ui->customPlot;
    QCPGraph *line = plot->addGraph(plot->xAxis, plot->yAxis);
    line->setName(ui->Line_Edit_Limit_name->text());
    QPen pen(QColor(limitRed, limitGreen, limitBlue, 255));
    pen.setWidth(2);
    line->setPen(pen);
    line->setData(keys, values, true);
    plot->replot(QCustomPlot::rpRefreshHint);
}

// ---- interactions ---------------------------------------------------------------------------

void MainWindow::titleDoubleClick(QMouseEvent *event)
{
    Q_UNUSED(event)
    auto *title = qobject_cast<QCPTextElement *>(sender());
    if (!title)
        return;
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("QCustomPlot example"),
                                               QStringLiteral("New plot title:"), QLineEdit::Normal,
                                               title->text(), &ok);
    if (ok) {
        title->setText(text);
        ui->customPlot->replot(QCustomPlot::rpRefreshHint);
    }
}

void MainWindow::axisLabelDoubleClick(QCPAxis *axis, QCPAxis::SelectablePart part)
{
    if (part != QCPAxis::spAxisLabel || !axis)
        return;
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("QCustomPlot example"),
                                               QStringLiteral("New axis label:"), QLineEdit::Normal,
                                               axis->label(), &ok);
    if (ok) {
        axis->setLabel(text);
        ui->customPlot->replot(QCustomPlot::rpRefreshHint);
    }
}

void MainWindow::legendDoubleClick(QCPLegend *legend, QCPAbstractLegendItem *item)
{
    Q_UNUSED(legend)
    auto *plItem = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!plItem)
        return;
    // The graph may be gone by the time the dialog closes (frames and menus
    // keep running meanwhile), so it is held weakly.
    QPointer<QCPAbstractPlottable> plottable(plItem->plottable());
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("QCustomPlot example"),
                                               QStringLiteral("New graph name:"), QLineEdit::Normal,
                                               plottable->name(), &ok);
    if (ok && plottable) {
        plottable->setName(text);
        ui->customPlot->replot(QCustomPlot::rpRefreshHint);
    }
}

void MainWindow::selectionChanged()
{
    QCustomPlot *plot = ui->customPlot;
    const QCPAxis::SelectableParts lineAndTicks = QCPAxis::spAxis | QCPAxis::spTickLabels;
    auto pairSelection = [&](QCPAxis *main, QCPAxis *partner) {
        if (main->selectedParts() & lineAndTicks || partner->selectedParts() & lineAndTicks) {
            partner->setSelectedParts(lineAndTicks);
            main->setSelectedParts(lineAndTicks);
        }
    };
    pairSelection(plot->xAxis, plot->xAxis2);
    pairSelection(plot->yAxis, plot->yAxis2);

    for (int i = 0; i < plot->graphCount(); ++i) {
        QCPGraph *graph = plot->graph(i);
        QCPPlottableLegendItem *item = plot->legend->itemWithPlottable(graph);
        if ((item && item->selected()) || graph->selected()) {
            if (item)
                item->setSelected(true);
            graph->setSelection(QCPDataSelection(graph->data()->dataRange()));
        }
    }
}

void MainWindow::mousePress()
{
    QCustomPlot *plot = ui->customPlot;
    if (plot->xAxis->selectedParts().testFlag(QCPAxis::spAxis))
        plot->axisRect()->setRangeDrag(plot->xAxis->orientation());
    else if (plot->yAxis->selectedParts().testFlag(QCPAxis::spAxis))
        plot->axisRect()->setRangeDrag(plot->yAxis->orientation());
    else
        plot->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
}

void MainWindow::mouseWheel()
{
    QCustomPlot *plot = ui->customPlot;
    if (plot->xAxis->selectedParts().testFlag(QCPAxis::spAxis))
        plot->axisRect()->setRangeZoom(plot->xAxis->orientation());
    else if (plot->yAxis->selectedParts().testFlag(QCPAxis::spAxis))
        plot->axisRect()->setRangeZoom(plot->yAxis->orientation());
    else
        plot->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
}

void MainWindow::addRandomGraph()
{
    // Eight draws in this order; each a value in 0..1.
    const double xScale = (demoUnit() + 0.5) * 2;
    const double yScale = (demoUnit() + 0.5) * 2;
    const double xOffset = (demoUnit() - 0.5) * 4;
    const double yOffset = (demoUnit() - 0.5) * 10;
    const double a = (demoUnit() - 0.5) * 2;
    const double b = (demoUnit() - 0.5) * 2;
    const double c = (demoUnit() - 0.5) * 2;
    const double d = (demoUnit() - 0.5) * 2;
    constexpr int n = 50;
    QVector<double> x(n), y(n);
    for (int i = 0; i < n; ++i) {
        x[i] = (i / double(n) - 0.5) * 10.0 * xScale + xOffset;
        y[i] = (std::sin(5 * a * x[i]) * std::sin(3 * d * std::cos(b * x[i]))
                + c * std::cos(2 * d * std::sin(x[i])))
                   * yScale
               + yOffset;
    }

    QCustomPlot *plot = ui->customPlot;
    QCPGraph *graph = plot->addGraph(plot->xAxis, plot->yAxis);
    graph->setName(QStringLiteral("New graph %1").arg(plot->graphCount() - 1));
    graph->setData(x, y);
    graph->setLineStyle(QCPGraph::LineStyle(DemoRandom::next() % 5 + 1));
    if (DemoRandom::next() % 100 > 50)
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ScatterShape(DemoRandom::next() % 14 + 1)));
    const int blue = DemoRandom::next() % 245 + 10;
    const int green = DemoRandom::next() % 245 + 10;
    const int red = DemoRandom::next() % 245 + 10;
    QPen pen(QColor(red, green, blue, 255));
    pen.setWidthF(DemoRandom::next() / double(DemoRandom::Max) * 2 + 1);
    graph->setPen(pen);
    plot->replot(QCustomPlot::rpRefreshHint);
}

void MainWindow::removeSelectedGraph()
{
    QCustomPlot *plot = ui->customPlot;
    const QList<QCPGraph *> selected = plot->selectedGraphs();
    if (selected.isEmpty())
        return;
    plot->removeGraph(selected.first());
    plot->replot(QCustomPlot::rpRefreshHint);
}

void MainWindow::removeAllGraphs()
{
    ui->customPlot->clearGraphs();
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void MainWindow::contextMenuRequest(QPoint pos)
{
    QCustomPlot *plot = ui->customPlot;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);

    if (plot->legend->selectTest(pos, false) >= 0) {
        struct Place { const char *text; int alignment; };
        const Place places[] = {{"Move to top left", int(Qt::AlignTop | Qt::AlignLeft)},
                                {"Move to top center", int(Qt::AlignTop | Qt::AlignHCenter)},
                                {"Move to top right", int(Qt::AlignTop | Qt::AlignRight)},
                                {"Move to bottom right", int(Qt::AlignBottom | Qt::AlignRight)},
                                {"Move to bottom left", int(Qt::AlignBottom | Qt::AlignLeft)}};
        for (const Place &place : places)
            menu->addAction(QString::fromLatin1(place.text), this, &MainWindow::moveLegend)
                ->setData(place.alignment);
    } else {
        menu->addAction(QStringLiteral("Add random graph"), this, &MainWindow::addRandomGraph);
        if (!plot->selectedGraphs().isEmpty())
            menu->addAction(QStringLiteral("Remove selected graph"), this, &MainWindow::removeSelectedGraph);
        if (plot->graphCount() > 0)
            menu->addAction(QStringLiteral("Remove all graphs"), this, &MainWindow::removeAllGraphs);
        menu->addSeparator();
        menu->addAction(QStringLiteral("Save as PNG..."), this, [this] { exportPlot(QStringLiteral("png")); });
        menu->addAction(QStringLiteral("Save as PDF..."), this, [this] { exportPlot(QStringLiteral("pdf")); });
    }
    menu->popup(plot->mapToGlobal(pos));
}

void MainWindow::moveLegend()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    bool ok = false;
    const int alignment = action->data().toInt(&ok);
    if (!ok)
        return;
    ui->customPlot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::Alignment(alignment));
    ui->customPlot->replot(QCustomPlot::rpRefreshHint);
}

void MainWindow::graphClicked(QCPAbstractPlottable *plottable, int dataIndex)
{
    if (!plottable || !plottable->interface1D())
        return;
    const double value = plottable->interface1D()->dataMainValue(dataIndex);
    // One multi-argument arg(): a graph name holding "%1" stays as typed.
    const QString message = QStringLiteral("Clicked on graph '%1' at data point #%2 with value %3.")
                                .arg(plottable->name(), QString::number(dataIndex), QString::number(value));
    statusBar()->showMessage(message, 2500);
}

void MainWindow::exportPlot(const QString &format)
{
    const bool pdf = format == QLatin1String("pdf");
    const QString filter = pdf ? QStringLiteral("PDF (*.pdf)") : QStringLiteral("PNG (*.png)");
    QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Save plot"),
                                                    QString(), filter);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(QLatin1Char('.') + format, Qt::CaseInsensitive))
        fileName += QLatin1Char('.') + format;
    // Rendered aside first, then put in place whole: a full disk never
    // leaves a truncated picture or a destroyed older one behind.
    QCustomPlot *plot = ui->customPlot;
    QByteArray bytes;
    QString reason;
    if (fileKind(fileName) == FileKind::Other) {
        reason = notRegularFileReason(fileName);
    } else if (pdf) {
        QTemporaryFile scratch(QDir::temp().filePath(QStringLiteral("zentrel-plot-XXXXXX.pdf")));
        if (!scratch.open()) {
            reason = scratch.errorString();
        } else {
            scratch.close();
            if (plot->savePdf(scratch.fileName()) && scratch.open())
                bytes = scratch.readAll();
            if (bytes.isEmpty())
                reason = QStringLiteral("the PDF could not be rendered in %1").arg(QDir::tempPath());
        }
    } else {
        QImage image = plot->toPixmap(0, 0, 1.0).toImage();
        const int dotsPerMeter = qRound(96 / 0.0254); // as QCustomPlot::savePng marks it
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            reason = QStringLiteral("the PNG could not be rendered");
    }
    if (reason.isEmpty() && !saveFileAtomically(fileName, bytes, &reason) && reason.isEmpty())
        reason = QStringLiteral("unknown error");
    if (!reason.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Save plot"),
                             QStringLiteral("Could not write %1: %2.").arg(fileName, reason));
}
