// IDs of the logging and resource loading texts.
#pragma once
