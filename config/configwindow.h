#pragma once

#include <QWidget>

// The configuration window: reads the instrument's 53 parameters every second
// and writes the one the operator changed.
class ConfigWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ConfigWindow(QWidget *parent = nullptr);

signals:
    // The operator left through " Esc 返回"; the window is being unloaded and
    // the overview should be shown again.
    void returned();
};

// The single instance, created and loaded on first use; a fresh one after each unload.
ConfigWindow *CONFIG1();
