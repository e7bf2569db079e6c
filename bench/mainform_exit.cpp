// The real program's end with a long list: sorvik's own RunProgram with the tree on its
// command line; once the list is shown every entry is marked unique (so closing asks
// nothing) and the window is closed through its close box. The wall clock of that moment
// goes to standard output; the caller times the process's end against it.
//   mainform_exit [PATH]...
#include "App_mainform_program.h"

#include <QTimer>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    return App_mainform::RunProgram(argc, argv, [](App_mainform::TAppMainForm& form) {
        App_scanentries::TScanEntries& entries = form.Objects().Entries();
        for (int i = 0; i < entries.Count(); ++i)
            entries.Item(i).SetGroup(0);
        QTimer::singleShot(0, &form, [&form, count = entries.Count()] {
            const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
            std::printf("%lld %d\n", now, count);
            std::fflush(stdout);
            form.close();
        });
    });
}
