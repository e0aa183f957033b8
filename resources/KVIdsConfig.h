// IDs of the XML documents and configuration files texts.
#pragma once
