// IDs of the configuration editor's settings model, value editors and XML view.
#pragma once

// The editor's caption, on every message box of the editor.
#define IDS_EDITOR_CAPTION              209

// Layout of the editor's own configuration file: application entries and setting definitions.
#define IDS_EDT_APPLICATIONS_XPATH      445
#define IDS_EDT_COMMON_SETTINGS_XPATH   446
#define IDS_EDT_DEF_DEFAULT             463
#define IDS_EDT_DEF_CAPTION             464
#define IDS_EDT_CAPTION_WITH_NOTE       465
#define IDS_EDT_DEF_FILTER_XPATH        467
#define IDS_EDT_DEF_NOTE                468
#define IDS_EDT_DEF_NAMED_VALUE_XPATH   472
#define IDS_EDT_DEF_REQUIRED            478
#define IDS_EDT_DEF_TYPE                481
#define IDS_EDT_APP_SECTION             511

// Type names of setting definitions, compared without regard to case.
#define IDS_EDT_TYPE_BOOLEAN            461
#define IDS_EDT_TYPE_FILE               469
#define IDS_EDT_TYPE_NUMBER             470
#define IDS_EDT_TYPE_KEY                471
#define IDS_EDT_TYPE_LIST               475
#define IDS_EDT_TYPE_RANGE              535
#define IDS_EDT_TYPE_CART_ACCESS        540

// Boolean values as stored and as shown.
#define IDS_EDT_BOOL_NO_VALUE           483
#define IDS_EDT_BOOL_NO_TEXT            484
#define IDS_EDT_BOOL_YES_VALUE          485
#define IDS_EDT_BOOL_YES_TEXT           486

// A range as shown: low and high.
#define IDS_EDT_RANGE_TEXT              536

// Names of keys and modifiers.
#define IDS_KEY_ALT                     459
#define IDS_KEY_CTRL                    462
#define IDS_KEY_SHIFT                   480
#define IDS_KEY_NONE                    488
#define IDS_KEY_FUNCTION                498
#define IDS_KEY_UNKNOWN                 510
#define IDS_KEY_QUOTE                   487
#define IDS_KEY_BACKSPACE               489
#define IDS_KEY_BACKSLASH               490
#define IDS_KEY_COMMA                   491
#define IDS_KEY_MINUS                   492
#define IDS_KEY_DELETE                  493
#define IDS_KEY_END                     494
#define IDS_KEY_ENTER                   495
#define IDS_KEY_PLUS                    496
#define IDS_KEY_ESCAPE                  497
#define IDS_KEY_SLASH                   499
#define IDS_KEY_HOME                    500
#define IDS_KEY_INSERT                  501
#define IDS_KEY_OPEN_BRACKET            502
#define IDS_KEY_PERIOD                  503
#define IDS_KEY_PAGE_DOWN               504
#define IDS_KEY_PAGE_UP                 505
#define IDS_KEY_CLOSE_BRACKET           506
#define IDS_KEY_SEMICOLON               507
#define IDS_KEY_TAB                     508
#define IDS_KEY_BACKQUOTE               509

// Messages of the value editors.
#define IDS_EDT_VALUE_IN_LIST           523
#define IDS_EDT_FILE_REQUIRED           524
#define IDS_EDT_NUMBER_DIGITS           525
#define IDS_EDT_NUMBER_LIMITS           526
#define IDS_EDT_VALUE_REQUIRED          527
#define IDS_EDT_BROWSE_TITLE            531
#define IDS_EDT_CHOOSE_VALUE            532
#define IDS_EDT_RANGE_HIGH_LIMIT        537
#define IDS_EDT_RANGE_HIGH_BELOW_LOW    538
#define IDS_EDT_RANGE_LOW_LIMIT         539
#define IDS_EDT_LIST_TEXT_NOT_ADDED     7209 // %s: text typed in the list editor and not added (Yes/No/Cancel)
#define IDS_EDT_KEY_NOT_LISTED          7211 // %s %X: the unknown key's name and its code
#define IDS_EDT_NOTE_WITH_LIMITS        7414 // %s %d %d: a Number's note and its limits, shown before any refusal

// Dialog templates.
#define IDD_EDIT_VALUE                  118
#define IDD_EDIT_MULTISZ_VALUE          119
#define IDD_VIEW_XML                    120

// Controls of the value editor (118).
#define IDC_EV_KEY_ALT                  1003
#define IDC_EV_NAMED_VALUES             1006
#define IDC_EV_KEY_CTRL                 1010
#define IDC_EV_CAPTION                  1011
#define IDC_EV_BROWSE                   1012
#define IDC_EV_NOTE                     1014
#define IDC_EV_KEY_CODE                 1016
#define IDC_EV_RANGE_SEPARATOR          1017
#define IDC_EV_NUMBER                   1029
#define IDC_EV_RANGE_HIGH               1030
#define IDC_EV_NO                       1031
#define IDC_EV_YES                      1032
#define IDC_EV_KEY_SHIFT                1035
#define IDC_EV_TEXT                     1037

// Controls of the list editor (119).
#define IDC_ML_ADD                      1021
#define IDC_ML_DELETE                   1022
#define IDC_ML_REPLACE                  1023
#define IDC_ML_ENTRY                    1024
#define IDC_ML_VALUES                   1025
#define IDC_ML_NOTE                     7420 // the setting's note: what a value looks like

// Control of the XML view (120).
#define IDC_XML_TEXT                    1039
