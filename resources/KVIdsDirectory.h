// IDs of the directory queries texts.
#pragma once
