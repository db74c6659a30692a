#pragma once

// Vorsk.ini lives in the working directory (see settings/DataFolder.h),
// opened by openSettings() in SettingsFile.h; every read carries its default.
#define SETTINGS_FILE "Vorsk.ini"

// Its keys; nothing else names them.
namespace Key {
constexpr const char *AutoStart = "AutoStart";
constexpr const char *Priority = "Priority"; // index in PriorityClasses
constexpr const char *Duration = "Duration"; // index in DurationSeconds
constexpr const char *Shutdown = "Shutdown";
constexpr const char *SuccesSound = "SuccesSound";
constexpr const char *FailedSound = "FailedSound";
constexpr const char *Monitoring = "Monitoring"; // sensor source code
constexpr const char *TempSensor = "TempSensor";
constexpr const char *VoltSensor = "VoltSensor";
constexpr const char *ExportTXT = "ExportTXT"; // write Monitoring.txt
constexpr const char *MaxTemp = "MaxTemp";
constexpr const char *TestMode = "TestMode";
constexpr const char *CoreMinutes = "CoreMinutes";
constexpr const char *CoreThreads = "CoreThreads";
constexpr const char *Load = "Load";
constexpr const char *Style = "Style";
constexpr const char *Palette = "Palette";
constexpr const char *Size = "Size";
constexpr const char *Position = "Position";
constexpr const char *Pseudo = "Pseudo";
constexpr const char *Smtp = "SMTP";
} // namespace Key

constexpr bool DEFAULT_AUTOSTART = false;
constexpr int DEFAULT_PRIORITY = 1;
constexpr int DEFAULT_DURATION = 0;
constexpr bool DEFAULT_SHUTDOWN = false;
#define DEFAULT_SOUND "Aucun"
constexpr int DEFAULT_MONITORING = 0;
constexpr int DEFAULT_MAXTEMP = -70; // no limit, 70 shown in the options
constexpr bool DEFAULT_EXPORTTXT = false;
constexpr int DEFAULT_TESTMODE = 0; // every processor all the time
constexpr int DEFAULT_COREMINUTES = 6;
constexpr bool DEFAULT_CORETHREADS = false; // one worker per core
constexpr int DEFAULT_LOAD = 0;             // every unit of the processor
#define DEFAULT_STYLE "Aucun"
constexpr bool DEFAULT_PALETTE = true;
#define DEFAULT_PSEUDO "Anonyme"
