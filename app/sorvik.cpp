// The program a user starts: the main window with the paths of the command line in its
// list. sorvik [--help | --version] [--] [PATH]...
#include "App_mainform_program.h"

int main(int argc, char** argv) {
    return App_mainform::RunProgram(argc, argv);
}
