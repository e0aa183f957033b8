// IDs of the endpoint sessions and Citrix channel texts.
#pragma once
