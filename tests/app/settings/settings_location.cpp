// Not a test: a program that keeps one value in its settings file, the way the real
// program keeps all of them, and tells where its help and its settings are.
//   settings_location save VALUE   writes VALUE and prints the paths
//   settings_location load         reads it back and prints the paths and the value
#include "App_common_settings.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

class TProbe : public App_common::TSettingsHandler {
public:
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override {
        Value = iniFile.ReadString(section, "Value", Value);
    }
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override {
        iniFile.WriteString(section, "Value", Value);
    }
    std::string Value = "(none)";
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool save = argc == 3 && std::strcmp(argv[1], "save") == 0;
    if (!save && !(argc == 2 && std::strcmp(argv[1], "load") == 0)) {
        std::fprintf(stderr, "usage: settings_location save VALUE | load\n");
        return 2;
    }
    try {
        TProbe probe;
        App_common::TSettingsHandlers handlers(App_common::SettingsFilePath());
        handlers.Add(&probe, "Probe");
        if (save) {
            probe.Value = argv[2];
            handlers.SaveAll();
        } else {
            handlers.LoadAll();
        }
        std::printf("%s\n%s\n%s\n", App_common::HelpFilePath().c_str(),
                    App_common::SettingsFilePath().c_str(), probe.Value.c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
