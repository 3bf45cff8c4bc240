// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "messagebox.h"
#include "runerror.h"

#include <QGuiApplication>
#include <QObject>
#include <QWidget>

#include <exception>

// Runs an action that entered the program from the user. A failure it does not trap itself is shown
// in an error box here, and the program keeps running: nothing is thrown through Qt's event loop.
template <typename Action> void runGuarded(QWidget* window, Action&& action)
{
    try {
        action();
    } catch (const RunError& error) {
        showRunError(window, error);
    } catch (const std::bad_alloc&) {
        showRunError(window, RunError(7, QObject::tr("There is not enough memory to finish this.")));
    } catch (const std::exception& error) {
        showRunError(window, RunError(51, QString::fromLocal8Bit(error.what())));
    }
}

// Connects a signal to a handler of the window, guarded as above.
template <typename Sender, typename Signal, typename Window>
void connectHandler(Sender* sender, Signal signal, Window* window, void (Window::*handler)())
{
    QObject::connect(sender, signal, window,
        [window, handler] { runGuarded(window, [window, handler] { (window->*handler)(); }); });
}

// The busy cursor, for as long as a long piece of work runs. End it before a message box opens.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
