// IDs of the single sign-on texts.
#pragma once

#define IDS_SIGNON_START_FAILED 547   // log: the product refused to start the prompt (result)
#define IDS_SIGNON_CREATE_FAILED 548  // log: the product's authentication object is unavailable (result)
#define IDS_SIGNON_PROMPT_CAPTION 567 // prompt texts: caption and headings
#define IDS_SIGNON_FAILED 604         // message: the sign-on could not be started
#define IDS_SIGNON_PROMPT_TEXT 605    // prompt text: what the user is asked to do
