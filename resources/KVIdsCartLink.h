// IDs of the cart transport, comm thread and agent worker texts.
#pragma once

// Configuration key of the agent: the hardware-ID strings that name the supported carts.
#define IDS_CFG_CART_HARDWARE_IDS       210

// Agent worker: a polled cart byte changed (command, result, byte).
#define IDS_CART_POLL_VALUE_CHANGED     245

// Tokens that mark the product and vendor IDs inside a configured hardware-ID string.
#define IDS_CART_PRODUCT_ID_TOKEN       412
#define IDS_CART_VENDOR_ID_TOKEN        413

// Device search and identity.
#define IDS_CART_DEVICE_FOUND           414
#define IDS_CART_DEVICE_IDENTITY        416
#define IDS_CART_NO_DEVICE_FOUND        417
#define IDS_CART_DEVICE_IDS             418
#define IDS_CART_DEVICE_ARRIVED         419
#define IDS_CART_DEVICE_REMOVED         421
#define IDS_CART_NOT_CONNECTED          422
#define IDS_CART_QUERY_REMOVE_FAILED    423
#define IDS_CART_LIST_FAILED            425
#define IDS_CART_LIST_SIZE_FAILED       426
#define IDS_CART_LIST_EMPTY             427
#define IDS_CART_NO_DEVICES_CONFIGURED  432
#define IDS_CART_LIST_NO_MEMORY         437

// One exchange: the hex dump label and the read failures.
#define IDS_CART_ANSWER_DUMP_LABEL      441
#define IDS_CART_READ_FAILED            442
#define IDS_CART_READ_TIMED_OUT         443
