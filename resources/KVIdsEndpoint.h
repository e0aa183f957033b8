// IDs of the endpoint sessions and Citrix channel texts.
#pragma once

// Name of the Citrix virtual channel to the endpoint's channel driver (at most 7 characters).
#define IDS_VC_CHANNEL_NAME 570
