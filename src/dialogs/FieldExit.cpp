#include "dialogs/FieldExit.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace {

bool IsMenu(const QWidget *widget)
{
    return widget
        && (qobject_cast<const QMenuBar *>(widget) || qobject_cast<const QMenu *>(widget->window()));
}

} // namespace

TFieldExit::TFieldExit(QObject *parent) : QObject(parent)
{
    connect(qApp, &QApplication::focusChanged, this, &TFieldExit::FocusChanged);
}

void TFieldExit::Watch(QWidget *field, std::function<void()> handler)
{
    Handlers[field] = std::move(handler);
    connect(field, &QObject::destroyed, this, [this, field] { Handlers.erase(field); });
}

void TFieldExit::FocusChanged(QWidget *old, QWidget *now)
{
    if (Running)
        return;
    // Between two windows the focus passes through nothing; through the menu
    // bar while a command is picked. The field waits there to be left.
    QWidget *left = (!old || IsMenu(old)) && Pending ? Pending.data() : old;
    if (!now || IsMenu(now)) {
        Pending = left && Handlers.count(left) ? left : nullptr;
        return;
    }
    Pending = nullptr;
    // Not a leave: back to the field, a field that is closing or disabled by
    // the command that runs, or a modal dialog that will hand the focus back.
    if (!left || left == now || !left->isVisible() || !left->isEnabled())
        return;
    if (now->window() != left->window() && now->window()->isModal())
        return;
    const auto handler = Handlers.find(left);
    if (handler == Handlers.end())
        return;
    Running = true;
    // A copy: the handler may show a box whose event loop changes the watch list.
    const std::function<void()> run = handler->second;
    run();
    Running = false;
}
