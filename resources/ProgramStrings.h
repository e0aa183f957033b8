// IDs of the start-up messages every program carries in its own string table: they are
// needed before (or instead of) the satellite resource library.
#pragma once

#define IDS_PROG_NO_RESOURCE_FILE       101
#define IDS_PROG_LOAD_EXACT_LOCALE      102
#define IDS_PROG_LOAD_US_ENGLISH        103
#define IDS_PROG_RESOURCE_FILE_OLDER    104
