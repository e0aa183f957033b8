// IDs of the agent window and authorization texts.
#pragma once

// The agent window: its template, its three status fields and its icons.
#define IDD_AGENT                       115
#define IDC_AGENT_CONNECTED             1015  // "%d": the window shows the cart as connected
#define IDC_AGENT_CART_READY            1005  // "%d": the cart is ready for a user
#define IDC_AGENT_CART_FAULT            1004  // "%d": the cart is in fault
#define IDI_AGENT_APP                   101   // application icon
#define IDI_AGENT_CONNECTED_DARK        102   // cart connected, dark taskbar
#define IDI_AGENT_DISCONNECTED_DARK     103   // cart not connected, dark taskbar
#define IDI_AGENT_CONNECTED_LIGHT       104   // cart connected, light taskbar
#define IDI_AGENT_DISCONNECTED_LIGHT    105   // cart not connected, light taskbar

// Command-line switches, after their "-" or "/".
#define IDS_AGENT_SWITCH_NO_AUTO_AUTH   204
#define IDS_AGENT_SWITCH_STOP           205

// Notification-area menu items.
#define IDS_AGENT_MENU_EXIT             253
#define IDS_AGENT_MENU_RECONNECT        254
#define IDS_AGENT_MENU_END_ACCESS       452   // default when key 451 is empty
#define IDS_AGENT_MENU_START_AUTH       517   // default when key 516 is empty

// Messages of the window.
#define IDS_AGENT_CART_UNREACHABLE      264   // reconnect failed; end access without a cart
#define IDS_AGENT_ASK_END_ACCESS        268
#define IDS_AGENT_CART_BUSY             293
#define IDS_AGENT_CART_NOT_CONNECTED    301

// Tooltips of the notification icon.
#define IDS_AGENT_TIP_CONNECTED         318
#define IDS_AGENT_TIP_DISCONNECTED      319

// Configuration keys of the window.
#define IDS_CFG_SHOW_EXIT_ITEM          444
#define IDS_CFG_PROMPT_TIMEOUT          449
#define IDS_CFG_END_ACCESS_ON_LOCK      450
#define IDS_CFG_END_ACCESS_ITEM_TEXT    451
#define IDS_CFG_RETRY_AUTH_START        453
#define IDS_CFG_START_AUTH_ITEM_TEXT    516
#define IDS_CFG_GRANT_WITHOUT_CHECK     640
#define IDS_CFG_AUTH_GROUPS             641

// Log lines of the settings and the start.
#define IDS_AGENT_CONFIG_VALUE          454   // one configuration value (key, value)
#define IDS_AGENT_CONFIG_VALUES         518   // heading of the configuration values
#define IDS_AGENT_FILTER_FAILED         556   // message filter change failed (error, message)
#define IDS_AGENT_LOG_STARTED           557   // logging on (level, file)
#define IDS_AGENT_LOG_STOPPED           558

// Application title and start failures.
#define IDS_AGENT_TITLE                 568
#define IDS_AGENT_COM_FAILED            573   // (result)
#define IDS_AGENT_WINDOW_FAILED         574
