// IDs of the directory queries texts.
#pragma once

// Attribute names, class names, filters and ADsPath formats: one set for the LDAP and the
// WinNT providers.
#define IDS_DIR_ATTR_DISPLAYNAME        330 // further attribute of the object lookup
#define IDS_DIR_ADMINS_SID              331 // SID of the local group IsLocalGroupMember accepts
#define IDS_DIR_ATTR_IDENTITY           332 // identity of an object in membership filters
#define IDS_DIR_CLASS_GROUP             333 // class name of a group
#define IDS_DIR_FILTER_NESTED_GROUPS    334 // %s: group identity
#define IDS_DIR_FILTER_FIND_GROUP       335 // %s %s: group name twice
#define IDS_DIR_ATTR_NAME               336 // name of an object
#define IDS_DIR_GROUP_SEPARATOR         337 // separator of a configured group list
#define IDS_DIR_PROP_NAMING_CONTEXT     338 // property of the root entry with the naming context
#define IDS_DIR_ATTR_OBJECTCLASS        339 // multi-valued classes of an object
#define IDS_DIR_PATH_ROOTDSE            340 // ADsPath of the root directory-service entry
#define IDS_DIR_CLASS_LOCALGROUP        341 // second class name accepted as a group
#define IDS_DIR_FILTER_FIND_OBJECT      342 // %s %s: a name twice
#define IDS_DIR_FILTER_DIRECT_MEMBER    344 // %s %s: user name, group identity
#define IDS_DIR_ATTR_DESCRIPTION        345 // further attribute of the object lookup
#define IDS_DIR_PATH_LDAP_FORMAT        346 // %s: naming context
#define IDS_DIR_PATH_WINNT_DOMAIN       397 // %s %s: domain, object name
#define IDS_DIR_PATH_WINNT_LOCAL        398 // %s %s %s: domain, computer, object name
#define IDS_DIR_PATH_WINNT_PREFIX       399 // provider prefix of WinNT paths
#define IDS_DIR_ENV_USERDOMAIN          572 // environment variable with the NetBIOS domain name
#define IDS_DIR_ATTR_PRIMARY_GROUP_ID   7300 // a user's primary group, as the group's RID
#define IDS_DIR_ATTR_GROUP_TOKEN        7301 // a group's RID, as its members' primary group names it
#define IDS_DIR_FILTER_USER             7302 // %s: user name
#define IDS_DIR_TRACE_PRIMARY_GROUP     7303

// Messages and trace texts.
#define IDS_DIR_NO_SEARCH_ROOT          347
#define IDS_DIR_TRACE_GROUP_FOUND       348
#define IDS_DIR_TRACE_NOT_A_GROUP       349
#define IDS_DIR_TRACE_NESTED_GROUP      350
#define IDS_DIR_TRACE_OPEN_NESTED       351
#define IDS_DIR_TRACE_COMPUTER          352
#define IDS_DIR_TRACE_DOMAIN_NAMES      353
#define IDS_DIR_TRACE_CANCELLED         354
#define IDS_DIR_TRACE_ALREADY_VISITED   355
#define IDS_DIR_TRACE_BAD_ENTRY         356
#define IDS_DIR_TRACE_NEEDS_ROOT        357
#define IDS_DIR_TRACE_UNKNOWN_ENTRY     358
#define IDS_DIR_TRACE_BAD_USER          359
#define IDS_DIR_TRACE_SEARCH_FAILED     360
#define IDS_DIR_TRACE_ENUM_FAILED       361
#define IDS_DIR_TRACE_MEMBER_FAILED     362
#define IDS_DIR_TRACE_FIND_FAILED       363
#define IDS_DIR_TRACE_AMBIGUOUS_GROUP   364
#define IDS_DIR_TRACE_READ_FAILED       365
#define IDS_DIR_TRACE_OPEN_GROUP_FAILED 366
#define IDS_DIR_TRACE_OPEN_FAILED       367
#define IDS_DIR_TRACE_UNKNOWN_DOMAIN    368
#define IDS_DIR_TRACE_NO_LOCAL_FALLBACK 369
#define IDS_DIR_TRACE_LOOKUP_SID_FAILED 370
#define IDS_DIR_TRACE_MEMBER_MATCH      372
#define IDS_DIR_TIME_FALLBACK           375
#define IDS_DIR_UNREACHABLE             376
#define IDS_DIR_TRACE_OPEN_LOCAL_FAILED 377
#define IDS_DIR_TRACE_GROUP_NOT_FOUND   379
#define IDS_DIR_TRACE_SEARCH_ROOT       380
#define IDS_DIR_TRACE_LOCAL_SKIPS_DOMAIN 381
#define IDS_DIR_TRACE_NESTED_LOCAL      382
#define IDS_DIR_TRACE_NO_MATCH          387
#define IDS_DIR_TRACE_DOMAIN_USER       388
#define IDS_DIR_TRACE_DIRECT_MEMBER     389
#define IDS_DIR_TRACE_LOCAL_MEMBER      390
#define IDS_DIR_TRACE_LOCAL_USER        391
#define IDS_DIR_TRACE_MATCH             393
#define IDS_DIR_TRACE_NOT_LOCAL_MEMBER  394
#define IDS_DIR_TRACE_NOT_DIRECT_MEMBER 395
