#pragma once
// The nine settings in "Morvandel.sav" beside the program (or in the user's
// data folder where the program's folder cannot be written).
#include <cstdint>

#include "text/byte_string.h"
#include "settings/drop_settings.h"

// The settings file's name in its folder.
extern const char kSettingsFileName[];

// Lookups in the file folder + section + ".sav".
ByteString SavGetString(const ByteString& folder, const ByteString& section, const ByteString& key,
                        const ByteString& defaultValue);
int32_t SavGetInt(const ByteString& folder, const ByteString& section, const ByteString& key,
                  int32_t defaultValue);
int32_t SavGetBool(const ByteString& folder, const ByteString& section, const ByteString& key,
                   int32_t defaultValue);

// folder is where the program keeps its files, with its trailing separator
// (ChooseDataFolder(ProgramDir())); without a settings file the destination is
// defaultWhere (DefaultDestinationFor), by default "MovedFiles" in folder.
DropSettings LoadSettings(const ByteString& folder);
DropSettings LoadSettings(const ByteString& folder, const ByteString& defaultWhere);

// Writes the nine lines.  A failed write throws FileError and keeps the old
// settings file intact.
void SaveSettings(const DropSettings& settings, const ByteString& folder);
