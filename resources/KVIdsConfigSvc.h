// IDs of the configuration service texts.
#pragma once

// The service's name: service, event source, log file prefix and AppID LocalService.
#define IDS_SVC_SERVICE_NAME            212

// Log and event texts of the service host.
#define IDS_SVC_NOT_A_SERVICE           550 // started outside the Service Control Manager
#define IDS_SVC_LOG_FAILED              553 // %d: error of the first log line after a set-up
#define IDS_SVC_LOGGING_STARTED         557 // %d %s: level, program version
#define IDS_SVC_STOPPING                558

// Message boxes of registration (the English texts are also built in).
#define IDS_SVC_CANNOT_OPEN_SCM         55306
#define IDS_SVC_CANNOT_CREATE_SERVICE   55307
#define IDS_SVC_CANNOT_OPEN_SERVICE     55308
#define IDS_SVC_CANNOT_DELETE_SERVICE   55309
#define IDS_SVC_CANNOT_STOP_SERVICE     55310

// Log texts of the AgentConfig and ServiceConfig objects and the host.
#define IDS_SVC_CALLER_UNKNOWN          21201 // %s 0x%08X: call, why the caller could not be identified
#define IDS_SVC_CALLER_NOT_ADMIN        21202 // %s %s %s %d %d %d %d %d 0x%X: call, caller's domain and name, token facts
#define IDS_SVC_CALLER_OTHER_NAME       21203 // %s %s %s %s: call, caller's domain and name, name asked for
#define IDS_SVC_NAMES_NOT_ADMIN         21204 // %s %s: domain and name asked for
#define IDS_SVC_PATH_REFUSED            21205 // %s: path
#define IDS_SVC_XML_REFUSED             21206 // %s: path
#define IDS_SVC_SAVE_FAILED             21207 // %s 0x%08X: path, result
#define IDS_SVC_SAVED                   21208 // %s %s %s: path, domain, name
#define IDS_SVC_GRANTED                 21209 // %s %s %s: path, caller's account, its SID
#define IDS_SVC_GRANT_FAILED            21210 // %s %s %s %u: path, caller's account, its SID, error
#define IDS_SVC_SETTINGS_CHANGED        21212
#define IDS_SVC_CALLER_IDENTIFIED       21213 // %s %s %s %s 0x%08X %d: call, caller's domain, name and SID, impersonation result, administrator

// Refusals of the texts, paths and folders a save names.
#define IDS_SVC_ARGUMENT_HAS_NUL        7100 // %s %u %u: parameter, position of the NUL, length
#define IDS_SVC_ARGUMENT_TOO_LONG       7101 // %s %u %u: parameter, length, limit
#define IDS_SVC_PRODUCT_FOLDERS_MISSING 7102 // %s: path
#define IDS_SVC_PATH_NOT_PRODUCT_FOLDER 7103 // %s %s %s: path, configuration folder, install folder
#define IDS_SVC_FOLDER_UNTRUSTED        7104 // %s %d %s: path, folder is a link, folder's owner

// Refusals of callers, folders and files decided through handles.
#define IDS_SVC_NO_CALLER               7350 // %s 0x%08X %u: call, COM's answer, RPC's answer
#define IDS_SVC_CALLER_OTHER_DOMAIN     7351 // %s %s %s %s: call, caller's domain and name, domain asked for
#define IDS_SVC_CALLER_WRITE_RESTRICTED 7352 // %s %s %s: call, caller's domain and name
#define IDS_SVC_FOLDER_NOT_HELD         7353 // %s %s %u: path, folder, error
#define IDS_SVC_FOLDER_NOT_RECORDED     7354 // %s %s %d %s: path, folder, is a link or no folder, final path
#define IDS_SVC_TARGET_REFUSED          7355 // %s %u %d %u: path, error opening it, plain file, names
#define IDS_SVC_FILE_ELSEWHERE          7356 // %s %s %s: path, temporary name, final path
#define IDS_SVC_DESCRIPTOR_FAILED       7357 // %s %u: path, error
#define IDS_SVC_TEMPORARY_LEFT          7358 // %s %u: temporary file, error
#define IDS_SVC_PROCESS_STANDS_IN       7359 // %s 0x%08X %u: call, COM's answer, RPC's answer
#define IDS_SVC_FOLDER_MOVED            7360 // %s %s: path, folder
#define IDS_SVC_FOLDER_HELD             7361 // %s %s: path, folder
