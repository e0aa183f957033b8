// IDs of the configuration editor texts.
#pragma once
