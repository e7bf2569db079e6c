// The Qt application object of a window test: real widgets on the offscreen platform.
#pragma once

#include <QApplication>

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

} // namespace TestApplication
