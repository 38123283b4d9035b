#pragma once
// Wait cursor for an exchange that runs on the interface thread.

#include <QApplication>

// Shows the wait cursor for its lifetime, however the scope ends.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
