// The Qt application object of a window test: real widgets on the offscreen platform;
// counting a widget's events, and acting from inside a modal wait.
#pragma once

#include "TestApplication.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace TestApplication {

class TTestWindowApplication : public QApplication {
public:
    TTestWindowApplication() : QApplication(Argc, Argv) {}

private:
    // QApplication keeps references to these for its whole life.
    static inline int Argc = 1;
    static inline char Name[] = "sorvik-test";
    static inline char* Argv[] = {Name, nullptr};
};

// Counts the events of one type that reach the watched object while it lives.
class TEventCounter : public QObject {
public:
    TEventCounter(QObject& watched, QEvent::Type type, int& count) : Type(type), Count(count) {
        watched.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == Type)
            ++Count;
        return false;
    }

private:
    QEvent::Type Type;
    int& Count;
};

// Runs body from the event loop that runs next (a modal wait's), once ready() holds; after
// 20 s it fails the test and runs body all the same, so that what body releases never
// leaves the test hanging.
inline void WhenReady(const std::function<bool()>& ready, const std::function<void()>& body) {
    QTimer::singleShot(0, [=] {
        EXPECT_TRUE(ServeUntil(ready));
        body();
    });
}

} // namespace TestApplication
