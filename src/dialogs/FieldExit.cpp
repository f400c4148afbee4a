#include "dialogs/FieldExit.h"

#include <QApplication>
#include <QWidget>

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
    if (Running || !old || !now || old == now || now->window() != old->window())
        return;
    const auto handler = Handlers.find(old);
    if (handler == Handlers.end())
        return;
    Running = true;
    // A copy: the handler may show a box whose event loop changes the watch list.
    const std::function<void()> run = handler->second;
    run();
    Running = false;
}
