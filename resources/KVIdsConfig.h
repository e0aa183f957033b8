// IDs of the XML documents and configuration files texts.
#pragma once

// Saving: SAX reader properties and writer settings.
#define IDS_SAX_LEXICAL_HANDLER     455
#define IDS_XML_OUTPUT_ENCODING     456
#define IDS_SAX_DECL_HANDLER        457
#define IDS_XML_OUTPUT_VERSION      458

// Layout of a configuration file: names and XPath expressions.
#define IDS_CFG_ENTRY_ELEMENT       460
#define IDS_CFG_ALL_ENTRIES_XPATH   466
#define IDS_CFG_RANGE_HIGH_ELEMENT  473
#define IDS_CFG_RANGE_LOW_ELEMENT   474
#define IDS_CFG_KEY_ATTRIBUTE       476
#define IDS_CFG_SECTION_ENTRY_XPATH 477
#define IDS_CFG_ENTRY_XPATH         479
#define IDS_CFG_VALUE_ELEMENT       482
#define IDS_CFG_SECTION_XPATH       512
#define IDS_CFG_TEMPLATE            534

// Log messages.
#define IDS_CFG_FILE_NOT_FOUND      519
#define IDS_CFG_LOAD_FAILED         520
#define IDS_CFG_SAVE_FAILED         513
#define IDS_CFG_WRITER_CHANGED_CONTENT 514
#define IDS_CFG_NO_SECTION          515
#define IDS_CFG_WRITE_FAILED        528
#define IDS_XML_CREATE_FAILED       576
#define IDS_XML_LOAD_FAILED         577
#define IDS_XML_PARSE_ERROR         579
#define IDS_XML_DOCTYPE_REFUSED     7150 // %s: the file or "(text)"
