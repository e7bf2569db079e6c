// The real program's start, timed from its launch: sorvik's own RunProgram, which reports
// once the command line is handled and the list painted; then it ends without closing the
// window (so no settings are written).
//   mainform_start LAUNCH_NS [PATH]...
// LAUNCH_NS is the wall clock (date +%s%N) just before this program was started.
#include "App_mainform_program.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: mainform_start LAUNCH_NS [PATH]...\n", stderr);
        return 2;
    }
    const long long launched = std::atoll(argv[1]);
    // The program sees only its own arguments.
    std::vector<char*> arguments{argv[0]};
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    int count = argc - 1;
    return App_mainform::RunProgram(count, arguments.data(), [&](App_mainform::TAppMainForm& form) {
        form.repaint(); // the list as the user sees it
        const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        std::printf("%.4f %d\n", static_cast<double>(now - launched) / 1e9,
                    form.Objects().Entries().Count());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}
