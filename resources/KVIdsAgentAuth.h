// IDs of the agent's authorization and session texts: what the agent logs and shows once
// the sign-on product reports, while it talks to the cart about the user, and when the
// session is locked, unlocked, connected or disconnected.
#pragma once

// Cart status as the agent window receives it (access, status, button).
#define IDS_AUTH_DEVICE_STATUS          217
// Binding the cart to this computer failed (result).
#define IDS_AUTH_BIND_FAILED            223
// The signed-in user has no domain (user).
#define IDS_AUTH_NO_DOMAIN_LOG          231
// The user was refused (user, domain).
#define IDS_AUTH_USER_REFUSED           235
// Drawer access requested without a directory check (user, domain).
#define IDS_AUTH_REQUEST_ACCESS         239
// The user was authorized by the directory (user, domain).
#define IDS_AUTH_USER_AUTHORIZED        242
// Access on the cart was ended directly.
#define IDS_AUTH_ACCESS_ENDED           243
// The sign-in reported no authentication method.
#define IDS_AUTH_NO_METHODS             244
// The cart granted drawer access.
#define IDS_AUTH_ACCESS_GRANTED         249
// Message: only an administrator may bind the cart to this computer.
#define IDS_AUTH_REBIND_NOT_ADMIN       278
// Message and log: ending access on the cart failed.
#define IDS_AUTH_END_ACCESS_FAILED      296
// Message: the user may not open the cart (no group configured).
#define IDS_AUTH_NOT_AUTHORIZED         299
// Message: the user is in none of the configured groups.
#define IDS_AUTH_NOT_IN_GROUP           300
// Message: the sign-in named no domain.
#define IDS_AUTH_NO_DOMAIN              302
// Question: bind the cart, bound to another computer (name), to this one?
#define IDS_AUTH_REBIND_QUESTION        303
// Drawer access failed (result).
#define IDS_AUTH_DRAWER_ACCESS_FAILED   315
// The sign-in ended with a result other than success (result).
#define IDS_AUTH_RESULT_FAILED          544
// The sign-on product reported no user.
#define IDS_AUTH_NO_PRINCIPAL           545
// The signed-in user's principal (principal).
#define IDS_AUTH_PRINCIPAL              546
// Heading of the authentication methods of a sign-in.
#define IDS_AUTH_METHODS                554
// Session back: unlock or connect (event, connected flag).
#define IDS_AUTH_SESSION_BACK           561
// Session away: lock or disconnect (event, connected flag).
#define IDS_AUTH_SESSION_AWAY           562

// Names of the authentication methods, by method value.
#define IDS_AUTH_METHOD_1               587
#define IDS_AUTH_METHOD_10              588
#define IDS_AUTH_METHOD_2               589
#define IDS_AUTH_METHOD_7               590
#define IDS_AUTH_METHOD_8               591
#define IDS_AUTH_METHOD_6               592
#define IDS_AUTH_METHOD_3               593
#define IDS_AUTH_METHOD_0               594
#define IDS_AUTH_METHOD_5               595
#define IDS_AUTH_METHOD_4               599
#define IDS_AUTH_METHOD_9               601

// Sign-in runs: the start (run), the end (run, reason text, end code), a report that
// belongs to no current run (message, run), a prompt the product never answered (run,
// seconds), a computer name that could not be read (user), a request not sent because a
// name was empty (run).
#define IDS_RUN_STARTED                 7000
#define IDS_RUN_ENDED                   7001
#define IDS_RUN_STALE_DROPPED           7002
#define IDS_RUN_PROMPT_UNANSWERED       7003
#define IDS_RUN_NO_ENDPOINT_NAME        7004
#define IDS_RUN_EMPTY_NAME              7005
// Why a run ended, one text per reason.
#define IDS_RUN_END_GRANTED             7010
#define IDS_RUN_END_NOT_SIGNED_IN       7011
#define IDS_RUN_END_FAILED              7012
#define IDS_RUN_END_FAILED_SHOWN        7013
#define IDS_RUN_END_DECLINED            7014
#define IDS_RUN_END_PROMPT_UNANSWERED   7015
#define IDS_RUN_END_SESSION_AWAY        7016
#define IDS_RUN_END_CART_DISCONNECTED   7017
#define IDS_RUN_END_WORKER_RESTARTED    7018
#define IDS_RUN_END_SESSION_ENDING      7019
#define IDS_RUN_END_AGENT_EXIT          7020
#define IDS_RUN_END_REMOTE_SESSION      7021

// Sign-in starts refused and the worker's report of a gone cart.
#define IDS_RUN_END_CART_GONE           7500
#define IDS_RUN_START_REFUSED           7501
