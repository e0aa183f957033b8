// IDs of the directory picker texts.
#pragma once
