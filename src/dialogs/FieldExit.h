#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>

class QWidget;

// Runs a handler when the focus leaves a field for another control or another
// window of the program, the moment a field's "exit" happens. The menu bar and
// its menus do not count: they hold the focus only while a command is picked
// and give it back (the field is left only if the focus then goes on to
// another control). Nor does a modal dialog or message box that a command
// opens, a window that is closing, a field disabled by the command that runs,
// or another program (until the focus comes back elsewhere than to the field).
// The handler may put the focus back into its field; that does not run it again.
class TFieldExit : public QObject
{
    Q_OBJECT

public:
    explicit TFieldExit(QObject *parent);

    void Watch(QWidget *field, std::function<void()> handler);

private:
    void FocusChanged(QWidget *old, QWidget *now);

    std::map<QWidget *, std::function<void()>> Handlers;
    // The field that gave the focus to the menu bar, a menu or no widget.
    QPointer<QWidget> Pending;
    bool Running = false;
};
