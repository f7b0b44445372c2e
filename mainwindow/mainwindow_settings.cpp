// config.ini: the connection choices and the console's fields.
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::Write_Config() {}
void MainWindow::Init_Config() {}
