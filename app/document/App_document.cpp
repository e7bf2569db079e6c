#include "App_document.h"

namespace App_document {

std::string AspectsToString(TScanAspects aspects) {
    return App_common::SetToFlagString(aspects.Bits(), ScanAspectCount);
}

TScanAspects StringToAspects(const std::string& text) {
    return TScanAspects::FromBits(App_common::FlagStringToSet(text, ScanAspectCount));
}

TDocument::TDocument() : FEntries(std::make_unique<App_scanentries::TScanEntries>()) {}

TDocument::~TDocument() = default;

void TDocument::Load(App_common::TMemIniFile& iniFile, const std::string& section) {
    RememberSettings = iniFile.ReadBool(section, "RememberSettings", RememberSettings);
    if (RememberSettings)
        SetAspects(
            StringToAspects(iniFile.ReadString(section, "Aspects", AspectsToString(FAspects))));
    RememberHashes = iniFile.ReadBool(section, "RememberHashes", RememberHashes);
}

void TDocument::Save(App_common::TMemIniFile& iniFile, const std::string& section) {
    if (RememberSettings)
        iniFile.WriteString(section, "Aspects", AspectsToString(FAspects));
    iniFile.WriteBool(section, "RememberSettings", RememberSettings);
    iniFile.WriteBool(section, "RememberHashes", RememberHashes);
}

void TDocument::Changed() {
    OnChange(this);
}

void TDocument::SetAspects(TScanAspects aspects) {
    if (aspects == FAspects)
        return;
    FAspects = aspects;
    Changed();
}

} // namespace App_document
