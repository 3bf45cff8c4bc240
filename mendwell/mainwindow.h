#pragma once

#include <QMainWindow>

// The window players will use; for now it says what is coming and points to the command line.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
};
