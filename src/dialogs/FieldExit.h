#pragma once

#include <QObject>

#include <functional>
#include <map>

class QWidget;

// Runs a handler when the focus leaves a field for another control of the same
// window, the moment a field's "exit" happens. A window or a menu taking over
// the focus (a message box, a popup) does not count. The handler may put the
// focus back into its field; that does not run it again.
class TFieldExit : public QObject
{
    Q_OBJECT

public:
    explicit TFieldExit(QObject *parent);

    void Watch(QWidget *field, std::function<void()> handler);

private:
    void FocusChanged(QWidget *old, QWidget *now);

    std::map<QWidget *, std::function<void()>> Handlers;
    bool Running = false;
};
