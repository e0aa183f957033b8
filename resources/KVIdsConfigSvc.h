// IDs of the configuration service texts.
#pragma once
