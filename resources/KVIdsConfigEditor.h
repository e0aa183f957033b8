// IDs of the configuration editor's main window: its template, menu, icon, accelerators,
// controls, commands and texts.
#pragma once

// Resources of the main window. The menu shares the template's number (another type).
#define IDD_CONFIG_EDITOR                   116
#define IDR_CONFIG_EDITOR_MENU              116
#define IDI_CONFIG_EDITOR                   107
#define IDR_CONFIG_EDITOR_ACCELERATORS      109

// Controls of the main window; Save and Close are IDOK and IDCANCEL.
#define IDC_CONFIG_EDITOR_NOTICE            1020
#define IDC_CONFIG_EDITOR_LIST              1034
#define IDC_CONFIG_EDITOR_DESCRIPTION       1042 // the selected setting's caption, note and key
#define IDC_CONFIG_EDITOR_STATUS            1043 // the application and file shown, the fall-back

// Menu commands.
#define ID_CONFIG_EDITOR_OPEN               32771
#define ID_CONFIG_EDITOR_SAVE               32772
#define ID_CONFIG_EDITOR_VIEW_XML           32773
#define ID_CONFIG_EDITOR_RELOAD             32774

// The caption of the editor's window and message boxes, IDS_EDITOR_CAPTION (209), is with
// the texts of the settings model.

// Messages of the main window.
#define IDS_EDITOR_CONFIGSEC_INIT_FAILED    280 // the picker library refused to start (code)
#define IDS_EDITOR_NOT_CONSOLE_SESSION      305 // cart access edited outside the console session
#define IDS_EDITOR_NO_APPLICATION           521 // an opened file belongs to no known application
#define IDS_EDITOR_NOT_ADMIN                522 // notice: a local account is not counted as an administrator
#define IDS_EDITOR_SAVE_FAILED              529 // the save failed (%s why, %s path, %08X code)
#define IDS_EDITOR_DISCARD_CHANGES          530 // %s: the file; save unsaved changes first? (Yes/No/Cancel)
#define IDS_EDITOR_SERVICE_NOTIFY_FAILED    533 // the service could not be told of its new file
#define IDS_EDITOR_XML_EMPTY                580 // the document has no XML text to show

// What the main window says about the settings and the file it shows.
#define IDS_EDITOR_COLUMN_SETTING           7200 // heading of the caption column
#define IDS_EDITOR_COLUMN_VALUE             7201 // heading of the value column
#define IDS_EDITOR_STATUS_FILE              7203 // %s %s: the application, the file's path
#define IDS_EDITOR_FALLBACK_UNREADABLE      7204 // %s %s %s %s: the first application, its file, the one shown, its file
#define IDS_EDITOR_FALLBACK_MISSING         7205 // %s %s %s %s: as 7204, for a file that does not exist
#define IDS_EDITOR_STATUS_NO_FILE           7206 // no application's file was found
#define IDS_EDITOR_RELOAD_DISCARD           7207 // unsaved changes at a reload (Yes/No)
#define IDS_EDITOR_DESCRIPTION_KEY          7208 // %s: the setting's key in the file
#define IDS_EDITOR_STATUS_NO_DOCUMENT       7210 // %s %s: the application, the file a reload could not read

// The notice: what a save of the shown file does, and why the user is no administrator.
#define IDS_EDITOR_NOTICE_DIRECT            7400 // this account may write the file
#define IDS_EDITOR_NOTICE_SERVICE           7401 // an administrator's save goes through the service
#define IDS_EDITOR_NOTICE_READ_ONLY         7402 // nobody will write the file for this account
#define IDS_EDITOR_NOT_ADMIN_MEMBER         7403 // a domain account outside the Administrators group

// The list's state column: heading, and the words for a changed setting and for a required
// entry the file lacks.
#define IDS_EDITOR_COLUMN_STATE             7404
#define IDS_EDITOR_STATE_CHANGED            7405
#define IDS_EDITOR_STATE_MISSING            7406

// Why a save failed and what to do, the first part of IDS_EDITOR_SAVE_FAILED.
#define IDS_EDITOR_SAVE_NO_SECTION          7407 // the document has no settings section
#define IDS_EDITOR_SAVE_IN_USE              7408 // another program holds the file
#define IDS_EDITOR_SAVE_READ_ONLY           7409 // refused, and no service road for this account
#define IDS_EDITOR_SAVE_NO_SERVICE          7410 // refused, and the service is missing
#define IDS_EDITOR_SAVE_SERVICE_REFUSED     7411 // refused by the file and by the service
#define IDS_EDITOR_SAVE_SERVICE_FAILED      7412 // the service failed otherwise
#define IDS_EDITOR_SAVE_OTHER               7413 // any other failure

// The window's title: %s %s %s the caption, the application, the file; with a fall-back
// %s %s %s %s the caption, the application shown, the one whose file could not be read, the file.
#define IDS_EDITOR_TITLE_FILE               7419
#define IDS_EDITOR_TITLE_FALLBACK           7422

// Open and save dialogs: the default extension and the filter ("|" separates its parts).
#define IDS_EDITOR_FILE_EXTENSION           447
#define IDS_EDITOR_FILE_FILTER              448

// Log lines.
#define IDS_EDITOR_RELOAD_POST_FAILED       552 // a running program could not be told to reload (error)

// Texts the editor shares with the other programs (start and end of the log, COM and
// window failures at start). Their texts live with the agent's and the service's.
#define IDS_EDITOR_LOG_FAILED_EVENT         553
#define IDS_EDITOR_LOG_STARTED              557
#define IDS_EDITOR_LOG_STOPPED              558
#define IDS_EDITOR_COM_INIT_FAILED          573
#define IDS_EDITOR_DIALOG_FAILED            574
