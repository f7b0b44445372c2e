#ifndef PACKDIALOG_H
#define PACKDIALOG_H

#include "match/planfiles.h"

#include <QDialog>

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace match {

// Station mode's "配组…": matches the current lot's cells (from the cell
// records in the journal folder, as zentrel-match reads them), shows the
// sheet with its groups coloured by R_g, saves or prints it and adds the
// plan to the pack ledger.
class PackDialog : public QDialog
{
    Q_OBJECT

public:
    PackDialog(const QString &folder, const QString &lot, QWidget *parent = nullptr);

private:
    void matchNow();
    void showSheet();
    void saveSheet();
    void printSheet();
    void addToLedger();

    QString m_folder;
    QString m_lot;
    QSpinBox *m_series;
    QSpinBox *m_parallel;
    QDoubleSpinBox *m_rSpread;
    QDoubleSpinBox *m_vSpread;
    QDoubleSpinBox *m_kSpread;
    QDoubleSpinBox *m_kMax;
    QLineEdit *m_grades;
    QLabel *m_summary;
    QVBoxLayout *m_pages;
    QPushButton *m_save;
    QPushButton *m_print;
    QPushButton *m_ledger;
    PlanView m_view;
    QDateTime m_made;
};

} // namespace match

#endif // PACKDIALOG_H
