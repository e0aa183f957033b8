// IDs of the directory picker texts, dialog templates, controls and icons.
#pragma once

// Dialog templates.
#define IDD_CONFIGSEC_CART_ACCESS       110
#define IDD_CONFIGSEC_SELECT            111
#define IDD_CONFIGSEC_SELECT_ADVANCED   112
#define IDD_CONFIGSEC_SELECT_CORRECT    113
#define IDD_CONFIGSEC_SELECT_RESOLVE    114
#define IDD_CONFIGSEC_COMMON_QUERIES    117

// Icons of the list views: a user (or other account) and a group, 16 and 32 pixels each.
#define IDI_CONFIGSEC_USER              121
#define IDI_CONFIGSEC_GROUP             122

// Controls.
#define IDC_CONFIGSEC_ADD               1001
#define IDC_CONFIGSEC_ADVANCED          1002
#define IDC_CONFIGSEC_CHECK_NAMES       1007
#define IDC_CONFIGSEC_TABS              1008
#define IDC_CONFIGSEC_CORRECT_HINT      1009
#define IDC_CONFIGSEC_FIND_NOW          1013
#define IDC_CONFIGSEC_LOCATION          1018
#define IDC_CONFIGSEC_PROMPT            1019
#define IDC_CONFIGSEC_NAME_EDIT         1026
#define IDC_CONFIGSEC_NAMES             1027 // names box of the selection dialog; results list elsewhere
#define IDC_CONFIGSEC_MATCH_MODE        1028
#define IDC_CONFIGSEC_REMOVE            1033 // Remove of the cart-access dialog; location text of the correction dialog
#define IDC_CONFIGSEC_STOP              1036
#define IDC_CONFIGSEC_ACCOUNTS          1038
#define IDC_CONFIGSEC_CART_SUMMARY      7421 // below the cart-access list: entries with a problem

// Texts.
#define IDS_CONFIGSEC_COLUMN_ACCOUNT    252 // heading of the cart-access list
#define IDS_CONFIGSEC_STILL_NOT_FOUND   255 // the corrected name matches nothing either
#define IDS_CONFIGSEC_NO_NAMES          256 // OK or Check Names with an empty names box
#define IDS_CONFIGSEC_CHOOSE_ONE        257 // OK of the resolve dialog without a chosen row
#define IDS_CONFIGSEC_NO_MATCH_MODE     258 // Find Now without a match mode
#define IDS_CONFIGSEC_NO_SEARCH_NAME    259 // Find Now without a name
#define IDS_CONFIGSEC_NOTHING_SELECTED  260 // Remove without a selected entry
#define IDS_CONFIGSEC_SEARCH_FAILED     276 // %s %08X %s: caption, error code, location
#define IDS_CONFIGSEC_NO_LOCATION       306 // no location selected
#define IDS_CONFIGSEC_LOCATION_UNKNOWN  322 // listed when neither the computer nor a domain is known

// Searches among this computer's accounts through WMI.
#define IDS_CONFIGSEC_WMI_NAMESPACE     400
#define IDS_CONFIGSEC_WMI_LANGUAGE      401
#define IDS_CONFIGSEC_WMI_ACCOUNTS      402 // %s: the name condition
#define IDS_CONFIGSEC_WMI_NAME_EXACT    403 // %s: the name, escaped for a double-quoted literal
#define IDS_CONFIGSEC_WMI_NAME_PREFIX   404 // %s: the name, escaped for a LIKE pattern
#define IDS_CONFIGSEC_WMI_CLASS_GROUP   405 // WMI class of a group

// Match modes of the advanced search.
#define IDS_CONFIGSEC_MATCH_EXACT       410
#define IDS_CONFIGSEC_MATCH_PREFIX      411

// Search texts and column headings of the picker's own.
#define IDS_CONFIGSEC_LDAP_NAME_EXACT   6201 // %s %s %s: the name three times, escaped for an LDAP filter
#define IDS_CONFIGSEC_LDAP_NAME_PREFIX  6202 // %s %s: the name twice, escaped for an LDAP filter
#define IDS_CONFIGSEC_WMI_PROP_NAME     6203
#define IDS_CONFIGSEC_WMI_PROP_FULLNAME 6204
#define IDS_CONFIGSEC_WMI_PROP_DESCRIPTION 6205
#define IDS_CONFIGSEC_WMI_PROP_CLASS    6206
#define IDS_CONFIGSEC_COLUMN_NAME       6207
#define IDS_CONFIGSEC_COLUMN_DISPLAY    6208
#define IDS_CONFIGSEC_COLUMN_DESCRIPTION 6209
#define IDS_CONFIGSEC_TAB_COMMON        6210
#define IDS_CONFIGSEC_NO_RICHEDIT       6211

// What the cart-access dialog says of entries the directory does not know or the agent refuses.
#define IDS_CONFIGSEC_COLUMN_PROBLEM    7415
#define IDS_CONFIGSEC_ENTRY_NOT_FOUND   7416
#define IDS_CONFIGSEC_ENTRY_NO_DOMAIN   7417
#define IDS_CONFIGSEC_ENTRIES_SUMMARY   7418 // %d %d: entries not found, entries without a domain
