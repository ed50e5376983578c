#pragma once
// The window mode's application object. Every handler of ours already runs in a guard;
// notify() is only the last net, so that an exception that escaped one anyway reaches the
// error box instead of unwinding through Qt's frames.
#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
