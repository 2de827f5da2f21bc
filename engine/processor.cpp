#include "engine/processor.h"

#include "config/SettingsStore.h"

processor::processor()
{
    loadsettings();
}

void processor::loadsettings()
{
    folderFormat_ = SettingsStore::read(Setting::FileFormat);
}
