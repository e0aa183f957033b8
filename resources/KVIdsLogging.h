// IDs of the logging and resource loading texts.
#pragma once

// Configuration keys the programs read their logging settings with.
#define IDS_CFG_LOG_RETENTION_DAYS      541
#define IDS_CFG_LOG_LEVEL               542

// Log folder: below a known folder, the three program-data levels and then the log level.
#define IDS_LOG_FOLDER_NAME             543
#define IDS_DATA_FOLDER_COMPANY         564
#define IDS_DATA_FOLDER_PRODUCT         565
#define IDS_DATA_FOLDER_PROGRAM         566

// Line prefix used when the locale's date or time format cannot be applied:
// month, day, year, hour, minute, second, milliseconds.
#define IDS_LOG_FALLBACK_TIMESTAMP      555
